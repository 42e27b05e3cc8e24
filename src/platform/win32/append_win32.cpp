#include "platform/append.h"

#include <windows.h>

namespace plat {

struct append_file {
  HANDLE handle;
};

append_file* append_open(const std::string& path, bool* created) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                              static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return nullptr;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                      wide.data(), n);
  // Other instances append to the same day's file at the same time.
  HANDLE h = CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  *created = GetLastError() != ERROR_ALREADY_EXISTS;
  return new append_file{h};
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
