#include "platform/append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace plat {

struct append_file {
  int fd;
};

append_file* append_open(const std::string& path, bool* created) {
  // O_EXCL first tells reliably whether this process made the file, even when another
  // process opens the same day's file at the same moment.
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      *created = true;
      return new append_file{fd};
    }
    if (errno != EEXIST) return nullptr;
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
      *created = false;
      return new append_file{fd};
    }
    if (errno != ENOENT) return nullptr;  // removed in between: try once more
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
