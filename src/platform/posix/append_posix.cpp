#include "platform/append.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plat {

struct append_file {
  int fd;
};

namespace {

bool write_whole(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes path with first_bytes already in it, or finds it made by someone else: the file
// appears under its name only whole (written unnamed, then linked), so no other process can
// append before its first bytes. 1 made here, 0 exists already, -1 failure.
int create_with(const std::string& path, std::string_view first_bytes) {
  int fd = open(folder_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  std::string named;  // file systems without O_TMPFILE: a unique name of our own instead
  if (fd < 0) {
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
      named = path + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".new";
      fd = open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (fd < 0 && errno != EEXIST) return -1;
    }
    if (fd < 0) return -1;
  }
  int made = -1;
  if (write_whole(fd, first_bytes)) {
    int rc;
    if (named.empty()) {
      char self[64];
      std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
      rc = linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    } else {
      rc = link(named.c_str(), path.c_str());
    }
    made = rc == 0 ? 1 : errno == EEXIST ? 0 : -1;
  }
  close(fd);
  if (!named.empty()) unlink(named.c_str());
  return made;
}

// The log may quote what learners' programs and the compiler said: readable by its user only,
// its folder too. A file or folder left readable by an earlier version is tightened when it is
// ours (never through a link).
void make_private(int fd, mode_t mode) {
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 07777) != mode)
    fchmod(fd, mode);
}

}  // namespace

append_file* append_open(const std::string& path, std::string_view first_bytes, bool* created) {
  bool made = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      make_private(fd, 0600);
      int folder = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folder >= 0) {
        make_private(folder, 0700);
        close(folder);
      }
      *created = made;
      return new append_file{fd};
    }
    if (errno != ENOENT) return nullptr;
    int rc = create_with(path, first_bytes);  // removed again in between: try once more
    if (rc < 0) return nullptr;
    made = rc == 1;
  }
  return nullptr;
}

bool append_write(append_file* file, const char* data, size_t size) {
  if (!file) return false;
  ssize_t n;
  do {
    n = write(file->fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(size);
}

void append_close(append_file* file) {
  if (!file) return;
  close(file->fd);
  delete file;
}

}  // namespace plat
