// Files and folders. Paths are UTF-8 everywhere; the Windows side converts to
// UTF-16 at the call. Every function reports failure through its result.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The separator the system's paths use: '\\' on Windows, '/' on Linux.
extern const char path_sep;

// Whole file, or nullopt when it cannot be opened or read, or is larger than limit bytes
// (a file exactly limit bytes long is read).
std::optional<std::string> file_read_all(const std::string& path, uint64_t limit);
// The same into a malloc'ed block with a NUL after the *size bytes read (the caller frees it),
// or nullptr, also when the memory for it cannot be had. Never throws.
char* file_read_block(const std::string& path, uint64_t limit, size_t* size) noexcept;

// Writes bytes to path + ".tmp" (truncating a leftover), flushes it to disk and renames it onto
// path (on Linux the folder is synced too). false on any failure; the target is then unchanged
// and the temporary file removed. A private file is readable by its owner only (0600 on Linux).
// Two writers of the same path at once: the later one fails instead of mixing bytes.
bool file_replace_atomic(const std::string& path, std::string_view bytes, bool private_file = false);

// Copies from onto a new file to; false when to exists already or anything fails
// (a partly written copy is removed).
bool file_copy_new(const std::string& from, const std::string& to);

// Creates path only when nothing of that name exists, writes all bytes in one go and flushes
// them to disk. false on any failure; a file that was created stays (the caller reports it).
bool file_create_new(const std::string& path, std::string_view bytes);

// Plain write (create or truncate); false on failure. A private file gets mode 0600 on Linux.
bool file_write(const std::string& path, std::string_view bytes, bool private_file = false);

bool dir_create(const std::string& path);       // true when the folder was created
// A new folder only its owner may enter (0700 on Linux; the user's own temporary folder on
// Windows is private already); false when the name exists.
bool dir_create_private(const std::string& path);
// The same, or a folder of that name that exists already when it is a real folder (no link)
// of this user that no one else may enter; false otherwise (then nothing is changed).
bool dir_ensure_private(const std::string& path);
// Plain write (create or truncate) of a program file, runnable as a linker's output is
// (0777 less the umask on Linux).
bool file_write_executable(const std::string& path, std::string_view bytes);
// What tells one file apart from a replacement at the same path: its path with links resolved,
// its file id, size and last-write time, as one text; "" when the file cannot be looked at.
std::string file_identity(const std::string& path);
// Renames from onto to, replacing a file there in one step; false on failure.
bool file_rename_replace(const std::string& from, const std::string& to);
bool file_delete(const std::string& path);      // true when the file was removed
// Removes a folder and everything in it (links inside are removed, never followed);
// true when the folder is gone afterwards and existed before.
bool dir_delete_tree(const std::string& path);
bool path_exists(const std::string& path);
bool path_is_dir(const std::string& path);
std::optional<uint64_t> file_size(const std::string& path);

struct dir_entry {
  std::string name;       // entry name only, no folder
  bool is_dir = false;
  int64_t write_time = 0; // last write, UTC, 100 ns units since 1601-01-01 (a Windows file time)
};
// Entries of folder whose names match pattern ('*' any run, '?' one character; "." and ".." never
// listed). Windows matches letters without regard to case, as its file system does.
std::vector<dir_entry> dir_list(const std::string& folder, std::string_view pattern);

// Sets a file's last-write time (file-time units); for tests and tools.
bool file_set_write_time(const std::string& path, int64_t write_time);

// Full path of the running executable, "" when unavailable.
std::string exe_path();

// The user's temporary folder without a trailing separator.
std::string temp_dir();
// What makes a fixed name in temp_dir() this user's own: "-<user id>" on Linux, where that
// folder is usually shared by every user; "" on Windows, where it is the user's own.
std::string temp_user_suffix();

}  // namespace plat
