#include "log/log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "log/log_hooks.h"
#include "platform/append.h"
#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/sys.h"

// The program folder. Declared with the store, which sets it; it lives here because the log is
// the lowest module that reads it (the import command starts the log without the store).
std::string app_root;
std::string log_dir;

plat::local_time (*log_clock)() = plat::time_local;
int64_t (*log_now_filetime)() = plat::time_now_filetime;

namespace {

constexpr const char* log_version = "1.6.2";
constexpr int64_t log_keep_filetime = 25920000000000LL;  // 30 days in 100 ns units
constexpr int log_buffer_size = 4096;

plat::append_file* log_file = nullptr;
int32_t log_day = 0;
std::atomic<bool> log_ready{false};
std::mutex log_lock;
std::string log_secret_text;  // under log_lock

int32_t day_key(const plat::local_time& t) { return t.year * 10000 + t.month * 100 + t.day; }

std::string join_cut(const std::string& folder, const std::string& name) {
  std::string out = folder;
  out += plat::path_sep;
  out += name;
  out.resize(plat::path_prefix_bytes(out, 259));
  return out;
}

// Under log_lock.
int open_day(int32_t key) {
  plat::append_close(log_file);
  log_file = nullptr;
  log_day = 0;
  bool created = false;
  // A new day's file starts with the UTF-8 byte order mark, in place before any process
  // (a second start, --stop, an import) can append to it.
  plat::append_file* f = plat::append_open(log_name(key), "\xEF\xBB\xBF", &created);
  if (!f) return 0;
  log_file = f;
  log_day = key;
  return 1;
}

void remove_old_files() {
  int64_t oldest = log_now_filetime() - log_keep_filetime;
  for (const plat::dir_entry& e : plat::dir_list(log_dir, "Tavrin-*.log")) {
    if (!e.is_dir && e.write_time < oldest) plat::file_delete(join_cut(log_dir, e.name));
  }
}

void write_line(const char* level, const char* format, va_list args) {
  plat::local_time t = log_clock();
  std::lock_guard<std::mutex> hold(log_lock);
  int32_t key = day_key(t);
  if (key != log_day) open_day(key);
  if (!log_file) return;  // this line is lost; the next one tries again

  char line[log_buffer_size];
  int n = std::snprintf(line, log_line_max + 1, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%s] ", t.year,
                        t.month, t.day, t.hour, t.minute, t.second, t.millisecond, level);
  if (n < 0) n = 0;
  if (n > log_line_max) n = log_line_max;
  int m = std::vsnprintf(line + n, static_cast<size_t>(log_line_max + 1 - n), format, args);
  if (m < 0) m = 0;
  int len = n + m > log_line_max ? log_line_max : n + m;
  if (!log_secret_text.empty()) {
    line[len] = '\0';
    // Cut before the secret, and, where the length limit cut the line, before any start of it
    // left at the end.
    const char* at = std::strstr(line + n, log_secret_text.c_str());
    if (at) len = int(at - line);
    const bool cut_short = n + m > log_line_max;
    const int longest = std::min(int(log_secret_text.size()) - 1, len - n);
    for (int tail = longest; cut_short && tail >= 8; --tail)  // the longest start that fits
      if (std::memcmp(line + len - tail, log_secret_text.data(), size_t(tail)) == 0) {
        len -= tail;
        break;
      }
  }
  line[len] = '\r';
  line[len + 1] = '\n';
  plat::append_write(log_file, line, static_cast<size_t>(len + 2));
}

}  // namespace

void log_secret(const std::string& secret) {
  std::lock_guard<std::mutex> hold(log_lock);
  log_secret_text = secret;
}

std::string log_name(int32_t key) {
  char name[64];
  std::snprintf(name, sizeof name, "Tavrin-%04d-%02d-%02d.log", key / 10000, key / 100 % 100,
                key % 100);
  return join_cut(log_dir, name);
}

int log_open(int32_t key) {
  std::lock_guard<std::mutex> hold(log_lock);
  return open_day(key);
}

void log_init() {
  {
    std::lock_guard<std::mutex> hold(log_lock);
    plat::append_close(log_file);  // a second start in one process begins afresh
    log_file = nullptr;
    log_day = 0;
    log_dir = join_cut(app_root, "logs");
  }
  log_ready = true;
  plat::dir_create(log_dir);  // exists already, or cannot be made: the open below decides
  if (!log_open(day_key(log_clock()))) {
    log_ready = false;
    return;
  }
  remove_old_files();
  log_write("I", "===== Tavrin %s · Qy9 启动（编译于 %s %s）=====", log_version, __DATE__, __TIME__);
  log_wide("I", "程序目录: ", app_root);
  std::string today;
  {
    std::lock_guard<std::mutex> hold(log_lock);
    today = log_name(log_day);
  }
  log_wide("I", "日志文件: ", today);
}

void log_write(const char* level, const char* format, ...) {
  if (!log_ready) return;
  va_list args;
  va_start(args, format);
  write_line(level, format, args);
  va_end(args);
}

void log_wide(const char* level, const char* text, const std::string& wide) {
  log_write(level, "%s%s", text, wide.c_str());
}

void log_shutdown(const char* reason) {
  if (!log_ready) return;
  log_write("I", "===== Tavrin 退出：%s =====", reason);
  std::lock_guard<std::mutex> hold(log_lock);
  plat::append_close(log_file);
  log_file = nullptr;
  log_day = 0;
  log_ready = false;
}
