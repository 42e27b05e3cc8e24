// Files and folders on Windows: wide-character calls only, paths converted from UTF-8 here.
#include "platform/fs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

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
constexpr int kRenameRetries = 25;
constexpr DWORD kRenameRetryMs = 40;

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

namespace {

// Reads exactly size bytes from h; false on a failed or short read.
bool read_exactly(HANDLE h, char* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    size_t left = size - got;
    DWORD want = left > kChunk ? kChunk : static_cast<DWORD>(left), done = 0;
    if (!::ReadFile(h, out + got, want, &done, nullptr) || done == 0) return false;
    got += done;
  }
  return true;
}

// Others may read alongside; a file open for writing elsewhere fails to open.
HANDLE open_for_reading(const std::string& path) {
  return ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::optional<std::string> file_read_all(const std::string& path, uint64_t limit) {
  try {
    handle_guard h(open_for_reading(path));
    if (!h.valid()) return std::nullopt;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h.h, &size) || size.QuadPart < 0) return std::nullopt;
    if (static_cast<uint64_t>(size.QuadPart) > limit) return std::nullopt;
    std::string out;
    out.resize(static_cast<size_t>(size.QuadPart));
    if (!read_exactly(h.h, out.data(), out.size())) return std::nullopt;
    return out;
  } catch (const std::bad_alloc&) {
    return std::nullopt;  // no memory for it: a failed read
  }
}

char* file_read_block(const std::string& path, uint64_t limit, size_t* size) noexcept {
  HANDLE raw;
  try {
    raw = open_for_reading(path);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  handle_guard h(raw);
  if (!h.valid()) return nullptr;
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(h.h, &bytes) || bytes.QuadPart < 0) return nullptr;
  if (static_cast<uint64_t>(bytes.QuadPart) > limit || static_cast<uint64_t>(bytes.QuadPart) >= SIZE_MAX)
    return nullptr;
  size_t n = static_cast<size_t>(bytes.QuadPart);
  char* out = static_cast<char*>(std::malloc(n + 1));
  if (!out) return nullptr;
  if (!read_exactly(h.h, out, n)) {
    std::free(out);
    return nullptr;
  }
  out[n] = '\0';
  *size = n;
  return out;
}

namespace {

// Moves the open file h onto target, replacing it, without letting go of h: nobody can
// open the temporary file between our last write and the rename.
bool rename_held(HANDLE h, const std::wstring& target) {
  const size_t size = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
  auto* info = static_cast<FILE_RENAME_INFO*>(::calloc(1, size));
  if (!info) return false;
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
  bool ok = ::SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(size)) != 0;
  DWORD err = ::GetLastError();
  ::free(info);
  ::SetLastError(err);
  return ok;
}

}  // namespace

// Files here live under the user's own profile or program folder; their ACLs already keep other
// users out, so a private file needs nothing extra on Windows.
//
// The temporary file stays open, unshared, from its creation through the rename: a second
// writer of the same path cannot open it in between, so whatever lands on the target is the
// bytes of the one save that reports success, and the other save fails without a trace.
bool file_replace_atomic(const std::string& path, std::string_view bytes, bool) {
  const std::wstring target = widen(path);
  const std::wstring tmp = target + L".tmp";
  handle_guard h(::CreateFileW(tmp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;  // includes another writer holding it: not ours to delete
  auto fail = [&] {
    // Delete on close: the name goes with our handle, never another writer's file.
    FILE_DISPOSITION_INFO gone{TRUE};
    ::SetFileInformationByHandle(h.h, FileDispositionInfo, &gone, sizeof gone);
    h.close_now();
    return false;
  };
  if (!write_all(h.h, bytes)) return fail();
  if (!::FlushFileBuffers(h.h)) return fail();
  // A reader holding the target without delete sharing (our own reads, a virus scanner)
  // refuses the replace for a moment: wait a little for it rather than failing the save.
  for (int attempt = 0;; ++attempt) {
    if (rename_held(h.h, target)) break;
    DWORD err = ::GetLastError();
    if (attempt >= kRenameRetries ||
        (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION))
      return fail();
    ::Sleep(kRenameRetryMs);
  }
  ::FlushFileBuffers(h.h);  // the rename itself on disk, as write-through asks
  return h.close_now();
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

bool dir_create_private(const std::string& path) { return dir_create(path); }

// The user's temporary folder is private already; a link in its place is refused.
bool dir_ensure_private(const std::string& path) {
  if (dir_create(path)) return true;
  const DWORD a = ::GetFileAttributesW(widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
         !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool file_write_executable(const std::string& path, std::string_view bytes) {
  return file_write(path, bytes, true);
}

bool file_rename_replace(const std::string& from, const std::string& to) {
  return ::MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string file_identity(const std::string& path) {
  handle_guard h(::CreateFileW(widen(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return {};
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return {};
  wchar_t final_path[1024];
  const DWORD n = ::GetFinalPathNameByHandleW(h.h, final_path, 1024, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= 1024) return {};
  char tail[160];
  std::snprintf(tail, sizeof tail, "|%lu:%lu:%lu|%lu:%lu|%lld",
                (unsigned long)info.dwVolumeSerialNumber, (unsigned long)info.nFileIndexHigh,
                (unsigned long)info.nFileIndexLow, (unsigned long)info.nFileSizeHigh,
                (unsigned long)info.nFileSizeLow, (long long)from_filetime(info.ftLastWriteTime));
  return narrow(std::wstring(final_path, n)) + tail;
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

std::string temp_user_suffix() { return ""; }

}  // namespace plat
