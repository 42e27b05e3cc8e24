// Files and folders on Windows: wide-character calls only, paths converted from UTF-8 here.
#include "platform/fs.h"

#include "platform/wildcard.h"
#include "platform/win32/wide.h"

namespace plat {

const char path_sep = '\\';

using win::handle_guard;
using win::narrow;
using win::widen;

namespace {

// ReadFile/WriteFile take 32-bit counts; stay well below that per call.
constexpr DWORD kChunk = 1u << 30;
constexpr int kRenameRetries = 10;
constexpr DWORD kRenameRetryMs = 20;

bool write_all(HANDLE h, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    DWORD want = left > kChunk ? kChunk : static_cast<DWORD>(left), done = 0;
    if (!::WriteFile(h, p, want, &done, nullptr) || done != want) return false;
    p += done;
    left -= done;
  }
  return true;
}

int64_t from_filetime(const FILETIME& ft) {
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

std::wstring join_pattern(const std::string& folder, std::string_view pattern) {
  std::wstring w = widen(folder);
  if (!w.empty() && w.back() != L'\\' && w.back() != L'/') w += L'\\';
  return w + widen(pattern);
}

bool remove_tree(const std::wstring& dir) {
  bool ok = true;
  WIN32_FIND_DATAW fd;
  HANDLE f = ::FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &fd,
                                FindExSearchNameMatch, nullptr, 0);
  if (f != INVALID_HANDLE_VALUE) {
    do {
      std::wstring_view name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = dir + L"\\" + fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(child.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or folder link is removed itself; what it points to is left alone.
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !remove_tree(child))
          ok = false;
        else if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT &&
                 !::RemoveDirectoryW(child.c_str()))
          ok = false;
      } else if (!::DeleteFileW(child.c_str())) {
        ok = false;
      }
    } while (::FindNextFileW(f, &fd));
    ::FindClose(f);
  }
  if (!::RemoveDirectoryW(dir.c_str())) ok = false;
  return ok;
}

}  // namespace

std::optional<std::string> file_read_all(const std::string& path, uint64_t limit) {
  // Others may read alongside; a file open for writing elsewhere fails to open.
  handle_guard h(::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return std::nullopt;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(h.h, &size) || size.QuadPart < 0) return std::nullopt;
  if (static_cast<uint64_t>(size.QuadPart) > limit) return std::nullopt;
  std::string out;
  out.resize(static_cast<size_t>(size.QuadPart));
  size_t got = 0;
  while (got < out.size()) {
    size_t left = out.size() - got;
    DWORD want = left > kChunk ? kChunk : static_cast<DWORD>(left), done = 0;
    if (!::ReadFile(h.h, out.data() + got, want, &done, nullptr) || done == 0)
      return std::nullopt;  // failed or short read
    got += done;
  }
  return out;
}

// Files here live under the user's own profile or program folder; their ACLs already keep other
// users out, so a private file needs nothing extra on Windows.
bool file_replace_atomic(const std::string& path, std::string_view bytes, bool) {
  const std::wstring target = widen(path);
  const std::wstring tmp = target + L".tmp";
  handle_guard h(::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;  // includes another writer holding it: not ours to delete
  auto fail = [&] {
    h.close_now();
    ::DeleteFileW(tmp.c_str());
    return false;
  };
  if (!write_all(h.h, bytes)) return fail();
  bool flushed = ::FlushFileBuffers(h.h) != 0;
  if (!h.close_now() || !flushed) return fail();
  // A reader (or a virus scanner) holding the target open blocks the rename for a moment:
  // wait a little for it rather than failing the save outright.
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(tmp.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    DWORD err = ::GetLastError();
    if (attempt >= kRenameRetries ||
        (err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION))
      return fail();
    ::Sleep(kRenameRetryMs);
  }
}

bool file_copy_new(const std::string& from, const std::string& to) {
  if (::CopyFileW(widen(from).c_str(), widen(to).c_str(), TRUE)) return true;
  // CopyFileW removes its own partial copy; a target that existed before is not ours to touch.
  return false;
}

bool file_create_new(const std::string& path, std::string_view bytes) {
  handle_guard h(::CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;
  if (!write_all(h.h, bytes) || !::FlushFileBuffers(h.h)) return false;
  return h.close_now();
}

bool file_write(const std::string& path, std::string_view bytes, bool) {
  handle_guard h(::CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;
  if (!write_all(h.h, bytes)) return false;
  return h.close_now();
}

bool dir_create(const std::string& path) {
  return ::CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}

bool file_delete(const std::string& path) { return ::DeleteFileW(widen(path).c_str()) != 0; }

bool dir_delete_tree(const std::string& path) {
  std::wstring w = widen(path);
  while (w.size() > 1 && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
  DWORD a = ::GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return ::RemoveDirectoryW(w.c_str()) != 0;
  remove_tree(w);
  return ::GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool path_exists(const std::string& path) {
  return ::GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool path_is_dir(const std::string& path) {
  DWORD a = ::GetFileAttributesW(widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<uint64_t> file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!::GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &d) ||
      (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::vector<dir_entry> dir_list(const std::string& folder, std::string_view pattern) {
  std::vector<dir_entry> out;
  WIN32_FIND_DATAW fd;
  HANDLE f = ::FindFirstFileExW(join_pattern(folder, pattern).c_str(), FindExInfoBasic, &fd,
                                FindExSearchNameMatch, nullptr, 0);
  if (f == INVALID_HANDLE_VALUE) return out;
  do {
    std::wstring_view wname = fd.cFileName;
    if (wname == L"." || wname == L"..") continue;
    std::string name = narrow(wname);
    // The system also matches 8.3 short names ("*.log" finding "x.logs"); keep long-name matches.
    if (!detail::wildcard_match(name, pattern, true)) continue;
    out.push_back({std::move(name), (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                   from_filetime(fd.ftLastWriteTime)});
  } while (::FindNextFileW(f, &fd));
  ::FindClose(f);
  return out;
}

bool file_set_write_time(const std::string& path, int64_t write_time) {
  handle_guard h(::CreateFileW(widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return false;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(write_time) & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(write_time) >> 32);
  return ::SetFileTime(h.h, nullptr, nullptr, &ft) != 0;
}

std::string exe_path() {
  std::wstring buf(260, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) {
      buf.resize(n);
      return narrow(buf);
    }
    if (buf.size() >= 32768) return "";
    buf.resize(buf.size() * 2);
  }
}

std::string temp_dir() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return "";
  std::wstring w(buf, n);
  while (!w.empty() && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
  return narrow(w);
}

}  // namespace plat
