// Environment, clocks and randomness on Linux.
#include "platform/sys.h"

#include <sys/random.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plat {

const char path_list_sep = ':';

std::optional<std::string> env_get(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

bool env_set(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool env_unset(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::unsetenv(name.c_str()) == 0;
}

local_time time_local() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  time_t secs = ts.tv_sec;
  ::localtime_r(&secs, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min,         tm.tm_sec > 59 ? 59 : tm.tm_sec,  // a leap second reads as :59
          static_cast<int>(ts.tv_nsec / 1000000)};
}

int64_t time_now_filetime() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return 116444736000000000LL + static_cast<int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
}

uint32_t tick_ms() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

bool random_bytes(void* out, size_t n) {
  auto* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    ssize_t got = ::getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

void secure_wipe(void* p, size_t n) {
  if (p && n) ::explicit_bzero(p, n);
}

}  // namespace plat
