#include "platform/append.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace plat {

struct append_file {
  HANDLE handle;
};

namespace {

// Makes path with first_bytes already in it, or finds it made by someone else: the file is
// written under a name of our own and moved into place without replacing, so it appears
// only whole. 1 made here, 0 exists already, -1 failure.
int create_with(const std::wstring& path, std::string_view first_bytes) {
  std::wstring own = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(GetCurrentThreadId()) + L".new";
  {
    win::handle_guard h(CreateFileW(own.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) return -1;
    DWORD written = 0;
    bool ok = WriteFile(h.h, first_bytes.data(), static_cast<DWORD>(first_bytes.size()), &written,
                        nullptr) &&
              written == first_bytes.size();
    if (!h.close_now() || !ok) {
      DeleteFileW(own.c_str());
      return -1;
    }
  }
  if (MoveFileExW(own.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return 1;
  DWORD err = GetLastError();
  DeleteFileW(own.c_str());
  return err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS ? 0 : -1;
}

}  // namespace

append_file* append_open(const std::string& path, std::string_view first_bytes, bool* created) {
  auto wide = win::widen_strict(path);
  if (!wide || wide->empty()) return nullptr;
  bool made = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    // Other instances append to the same day's file at the same time.
    HANDLE h = CreateFileW(wide->c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *created = made;
      return new append_file{h};
    }
    DWORD err = GetLastError();
    if (err != ERROR_FILE_NOT_FOUND) return nullptr;
    int rc = create_with(*wide, first_bytes);  // removed again in between: try once more
    if (rc < 0) return nullptr;
    made = rc == 1;
  }
  return nullptr;
}

bool append_write(append_file* file, const char* data, size_t size) {
  if (!file) return false;
  DWORD written = 0;
  if (!WriteFile(file->handle, data, static_cast<DWORD>(size), &written, nullptr)) return false;
  return written == size;
}

void append_close(append_file* file) {
  if (!file) return;
  CloseHandle(file->handle);
  delete file;
}

}  // namespace plat
