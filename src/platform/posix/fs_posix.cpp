// Files and folders on Linux: plain descriptors, close-on-exec everywhere.
#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/wildcard.h"

namespace plat {

const char path_sep = '/';

namespace {

constexpr int64_t kUnixEpochAsFiletime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

struct fd_guard {
  int fd = -1;
  explicit fd_guard(int f) : fd(f) {}
  fd_guard(const fd_guard&) = delete;
  fd_guard& operator=(const fd_guard&) = delete;
  ~fd_guard() { close_now(); }
  int close_now() {
    int rc = 0;
    if (fd >= 0) rc = ::close(fd);
    fd = -1;
    return rc;
  }
};

bool write_all(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

int64_t to_filetime(const struct timespec& ts) {
  return kUnixEpochAsFiletime + static_cast<int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
}

std::string parent_of(const std::string& path) {
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

// Makes the rename itself durable; a folder that cannot be synced is not a failure of the write.
void sync_folder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Removes everything inside the open folder top (which it closes); links are removed, never
// followed. No recursion and at most two descriptors of its own whatever the depth: it walks
// down one folder at a time and back up through "..", checked against the folders it came
// through (a heap list, a few bytes per level), so a chain of any depth costs memory, never
// stack or descriptors. A folder that cannot be emptied is passed over, never retried forever.
bool clear_folder_at(int top) {
  struct level {
    dev_t dev;
    ino_t ino;
    std::string name;  // its name in the level above
  };
  std::vector<level> chain;
  struct stat st;
  if (::fstat(top, &st) != 0) {
    ::close(top);
    return false;
  }
  chain.push_back({st.st_dev, st.st_ino, {}});
  std::set<std::pair<dev_t, ino_t>> stuck;  // folders that would not go
  auto is_stuck = [&](const struct stat& s) { return stuck.count({s.st_dev, s.st_ino}) != 0; };
  bool ok = true;
  int cur = top;
  for (;;) {
    // Empties cur of everything but folders; stops at the first folder still to remove.
    std::string down;
    int listing = ::dup(cur);
    DIR* d = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!d) {
      if (listing >= 0) ::close(listing);
      ok = false;
    } else {
      ::rewinddir(d);
      while (struct dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (::fstatat(cur, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        if (!S_ISDIR(st.st_mode)) {
          if (::unlinkat(cur, name, 0) != 0) ok = false;
          continue;
        }
        if (is_stuck(st)) continue;
        down = name;
        break;
      }
      ::closedir(d);
    }
    if (!down.empty()) {
      // A folder made without rights for its owner (mkdir with mode 0) must not keep its
      // contents from going.
      if (::fstatat(cur, down.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && (st.st_mode & 0700) != 0700)
        ::fchmodat(cur, down.c_str(), 0700, 0);
      int sub = ::openat(cur, down.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat sub_st;
      if (sub < 0 || ::fstat(sub, &sub_st) != 0) {
        if (sub >= 0) ::close(sub);
        if (::fstatat(cur, down.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) stuck.insert({st.st_dev, st.st_ino});
        ok = false;
        continue;
      }
      chain.push_back({sub_st.st_dev, sub_st.st_ino, down});
      ::close(cur);
      cur = sub;
      continue;
    }
    if (chain.size() == 1) break;  // back at the top, and it is empty (or holds what is stuck)
    // Up one level: the folder above must still be the one we came through.
    int up = ::openat(cur, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const level& above = chain[chain.size() - 2];
    if (up < 0 || ::fstat(up, &st) != 0 || st.st_dev != above.dev || st.st_ino != above.ino) {
      if (up >= 0) ::close(up);
      ::close(cur);
      return false;  // moved under our feet: stop rather than work outside the tree
    }
    if (::unlinkat(up, chain.back().name.c_str(), AT_REMOVEDIR) != 0) {
      stuck.insert({chain.back().dev, chain.back().ino});
      ok = false;
    }
    chain.pop_back();
    ::close(cur);
    cur = up;
  }
  ::close(cur);
  return ok;
}

// Reads exactly size bytes; a file that shrank while we read is a failed read.
bool read_exactly(int fd, char* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, out + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> file_read_all(const std::string& path, uint64_t limit) {
  // O_NONBLOCK keeps a FIFO from hanging the open; only regular files are read.
  fd_guard f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (f.fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > limit) return std::nullopt;
  std::string out;
  try {
    out.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return std::nullopt;  // no memory for it: a failed read
  }
  if (!read_exactly(f.fd, out.data(), out.size())) return std::nullopt;
  return out;
}

char* file_read_block(const std::string& path, uint64_t limit, size_t* size) noexcept {
  fd_guard f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (f.fd < 0) return nullptr;
  struct stat st;
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  uint64_t bytes = static_cast<uint64_t>(st.st_size);
  if (bytes > limit || bytes >= SIZE_MAX) return nullptr;
  char* out = static_cast<char*>(std::malloc(static_cast<size_t>(bytes) + 1));
  if (!out) return nullptr;
  if (!read_exactly(f.fd, out, static_cast<size_t>(bytes))) {
    std::free(out);
    return nullptr;
  }
  out[bytes] = '\0';
  *size = static_cast<size_t>(bytes);
  return out;
}

bool file_replace_atomic(const std::string& path, std::string_view bytes, bool private_file) {
  const std::string tmp = path + ".tmp";
  const std::string folder = parent_of(path);  // formed now: nothing may fail after the rename
  // The temporary file is held under an exclusive lock for its whole life, so a second writer
  // of the same path fails instead of interleaving its bytes with ours.
  fd_guard f(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                    private_file ? 0600 : 0644));
  if (f.fd < 0) return false;
  if (::flock(f.fd, LOCK_EX | LOCK_NB) != 0) return false;
  // Whoever held the lock before may have renamed this very inode onto the target already.
  struct stat held, named;
  if (::fstat(f.fd, &held) != 0 || ::stat(tmp.c_str(), &named) != 0 ||
      held.st_ino != named.st_ino || held.st_dev != named.st_dev || !S_ISREG(held.st_mode))
    return false;
  auto fail = [&] {
    ::unlink(tmp.c_str());
    return false;
  };
  if (private_file && ::fchmod(f.fd, 0600) != 0) return fail();
  if (::ftruncate(f.fd, 0) != 0) return fail();
  if (!write_all(f.fd, bytes)) return fail();
  if (::fsync(f.fd) != 0) return fail();
  if (::rename(tmp.c_str(), path.c_str()) != 0) return fail();
  f.close_now();
  sync_folder(folder);
  return true;
}

bool file_copy_new(const std::string& from, const std::string& to) {
  fd_guard in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.fd < 0) return false;
  struct stat st;
  if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  fd_guard out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777));
  if (out.fd < 0) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || !write_all(out.fd, std::string_view(buf, static_cast<size_t>(n)))) {
      out.close_now();
      ::unlink(to.c_str());
      return false;
    }
    if (n == 0) break;
  }
  if (out.close_now() != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

bool file_create_new(const std::string& path, std::string_view bytes) {
  fd_guard f(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (f.fd < 0) return false;
  if (!write_all(f.fd, bytes) || ::fsync(f.fd) != 0) return false;
  return f.close_now() == 0;
}

bool file_write(const std::string& path, std::string_view bytes, bool private_file) {
  fd_guard f(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                    private_file ? 0600 : 0644));
  if (f.fd < 0) return false;
  if (private_file && ::fchmod(f.fd, 0600) != 0) return false;
  if (!write_all(f.fd, bytes)) return false;
  return f.close_now() == 0;
}

bool dir_create(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0; }
bool dir_create_private(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }

bool dir_ensure_private(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

bool file_write_executable(const std::string& path, std::string_view bytes) {
  // Made the way a linker makes its output (0777 less the umask): a run under another user id
  // must be able to start it.
  fd_guard f(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0777));
  if (f.fd < 0) return false;
  if (!write_all(f.fd, bytes)) return false;
  return f.close_now() == 0;
}

bool file_rename_replace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string file_identity(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string text = resolved;
  std::free(resolved);
  struct stat st;
  if (::stat(text.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  char tail[160];
  std::snprintf(tail, sizeof tail, "|%llu:%llu|%llu|%lld.%09ld", (unsigned long long)st.st_dev,
                (unsigned long long)st.st_ino, (unsigned long long)st.st_size,
                (long long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec);
  return text + tail;
}

bool file_delete(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool dir_delete_tree(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  clear_folder_at(fd);
  return ::rmdir(path.c_str()) == 0;
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool path_is_dir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<uint64_t> file_size(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::vector<dir_entry> dir_list(const std::string& folder, std::string_view pattern) {
  std::vector<dir_entry> out;
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return out;
  DIR* d = ::fdopendir(dfd);
  if (!d) {
    ::close(dfd);
    return out;
  }
  while (struct dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!detail::wildcard_match(name, pattern, false)) continue;
    struct stat st;
    // A link reports what it points to, as the Windows listing does; a dangling one itself.
    if (::fstatat(dfd, e->d_name, &st, 0) != 0 &&
        ::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;  // vanished between readdir and stat
    out.push_back({std::string(name), S_ISDIR(st.st_mode) != 0, to_filetime(st.st_mtim)});
  }
  ::closedir(d);
  return out;
}

bool file_set_write_time(const std::string& path, int64_t write_time) {
  int64_t since_unix = write_time - kUnixEpochAsFiletime;
  int64_t sec = since_unix / 10000000LL, rem = since_unix % 10000000LL;
  if (rem < 0) {
    rem += 10000000LL;
    --sec;
  }
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = static_cast<time_t>(sec);
  ts[1].tv_nsec = static_cast<long>(rem * 100);
  return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0;
}

std::string exe_path() {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    if (buf.size() >= (1u << 16)) return "";
    buf.resize(buf.size() * 2);
  }
}

std::string temp_dir() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string temp_user_suffix() { return "-" + std::to_string(::geteuid()); }

}  // namespace plat
