#include "platform/instance.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/private_dir.h"

extern char** environ;

namespace plat {

// ---- command line ---------------------------------------------------------

static std::vector<std::string> read_cmdline() {
  std::vector<std::string> args;
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return args;
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  close(fd);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.emplace_back(all, start, end - start);
    start = end + 1;
  }
  return args;
}

std::vector<std::string> command_argv() { return read_cmdline(); }

// Arguments that hold blanks (or are empty) are quoted the way Windows launchers write
// them, so a path with spaces stays one piece for the options that take a path.
static void append_argument(std::string& line, const std::string& a) {
  if (!line.empty()) line += ' ';
  if (a.empty() || a.find_first_of(" \t") != std::string::npos)
    line += '"' + a + '"';
  else
    line += a;
}

std::string command_line() {
  std::string line;
  for (const auto& a : read_cmdline()) append_argument(line, a);
  return line;
}

std::string command_args() {
  auto args = read_cmdline();
  std::string line;
  for (size_t i = 1; i < args.size(); ++i) append_argument(line, args[i]);
  return line;
}

// ---- the user's private folder for the lock file and the redirect page -----

// $XDG_RUNTIME_DIR, else /tmp/tavrin-<uid> made 0700 and checked to be ours.
std::string private_dir() {
  const char* xdg = getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (xdg && *xdg == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
    return xdg;
  std::string dir = "/tmp/tavrin-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0700);
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return "";
  if ((st.st_mode & 0077) != 0) chmod(dir.c_str(), 0700);
  return dir;
}

static std::string lock_path(uint32_t id) {
  std::string dir = private_dir();
  if (dir.empty()) return "";
  char name[40];
  snprintf(name, sizeof name, "/Mesk-%08x.lock", id);
  return dir + name;
}

// ---- instance lock ---------------------------------------------------------

static int lock_fd = -1;

instance_state instance_lock(uint32_t id) {
  std::string path = lock_path(id);
  if (path.empty()) return instance_state::failed;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return instance_state::failed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    bool busy = errno == EWOULDBLOCK;
    if (busy) lock_fd = fd;  // kept open like the second instance's mutex handle
    else close(fd);
    return busy ? instance_state::taken : instance_state::failed;
  }
  char pid[24];
  int len = snprintf(pid, sizeof pid, "%ld", static_cast<long>(getpid()));
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid, static_cast<size_t>(len), 0) != len) {
    close(fd);
    return instance_state::failed;
  }
  lock_fd = fd;
  return instance_state::owned;
}

// The lock file itself stays: removing it would let a process that opened the
// old file and a process that creates a new one both believe they own the folder.
void instance_release() {
  if (lock_fd < 0) return;
  if (ftruncate(lock_fd, 0) != 0) {
  }
  flock(lock_fd, LOCK_UN);
  close(lock_fd);
  lock_fd = -1;
}

void instance_abandon() {
  if (lock_fd >= 0) close(lock_fd);
  lock_fd = -1;
}

// pid of the process that holds the lock of id, or 0 when nobody holds it.
static pid_t running_pid(uint32_t id) {
  std::string path = lock_path(id);
  if (path.empty()) return 0;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  pid_t pid = 0;
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    char buf[24] = {};
    // The owner writes its pid right after locking; give it a moment if we came first.
    for (int i = 0; i < 50 && pid <= 0; ++i) {
      ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
      if (n > 0) {
        buf[n] = 0;
        pid = static_cast<pid_t>(strtol(buf, nullptr, 10));
      }
      if (pid <= 0) usleep(10000);
    }
  }
  close(fd);
  return pid > 0 && pid != getpid() ? pid : 0;
}

// ---- stop signal -------------------------------------------------------------

static std::atomic<bool> stop_flag{false};
static std::atomic<pid_t> stop_target{0};  // second instance: the instance its stop ends

static void on_stop_signal(int) { stop_flag.store(true); }

bool stop_create(uint32_t) {
  stop_flag.store(false);
  struct sigaction sa{};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return sigaction(SIGTERM, &sa, nullptr) == 0 && sigaction(SIGINT, &sa, nullptr) == 0;
}

void stop_set() {
  stop_flag.store(true);
  pid_t target = stop_target.load();
  if (target > 0) kill(target, SIGTERM);
}

bool stop_is_set() { return stop_flag.load(); }

void stop_close() {
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
}

bool stop_notify_running(uint32_t id) {
  pid_t pid = running_pid(id);
  return pid > 0 && kill(pid, SIGTERM) == 0;
}

bool stop_attach_running(uint32_t id) {
  pid_t pid = running_pid(id);
  if (pid <= 0) return false;
  stop_target.store(pid);
  return true;
}

void process_error_mode() { signal(SIGPIPE, SIG_IGN); }

// ---- files -----------------------------------------------------------------------

bool write_private_file(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".tmp";
  unlink(tmp.c_str());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

// ---- browser -----------------------------------------------------------------

static std::string redirect_page;

static bool on_path(const char* name, std::string* full) {
  const char* path = getenv("PATH");
  if (!path) return false;
  std::string p = path;
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string candidate = p.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) {
      *full = candidate;
      return true;
    }
    start = end + 1;
  }
  return false;
}

static std::string html_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// Starts argv detached: the intermediate child spawns and exits at once, so the
// browser is never our child and never left a zombie.
static void spawn_detached(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t mid = fork();
  if (mid == 0) {
    setsid();
    pid_t pid;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    _exit(rc == 0 ? 0 : 1);
  }
  if (mid > 0) {
    while (waitpid(mid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

void open_url(const std::string& url) {
  std::string dir = private_dir();
  if (dir.empty()) return;
  std::string page = dir + "/tavrin-open-" + std::to_string(getpid()) + ".html";
  std::string e = html_escape(url);
  std::string html = "<!doctype html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0;url=" +
                     e + "\"><a href=\"" + e + "\">" + e + "</a>";
  if (!write_private_file(page, html)) return;
  redirect_page = page;
  std::string file_url = "file://" + page;
  static const char* apps[] = {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable"};
  std::string exe;
  for (const char* a : apps) {
    if (on_path(a, &exe)) {
      spawn_detached({exe, "--app=" + file_url, "--window-size=1360,900"});
      return;
    }
  }
  if (on_path("xdg-open", &exe)) spawn_detached({exe, file_url});
}

void open_url_forget() {
  if (!redirect_page.empty()) unlink(redirect_page.c_str());
  redirect_page.clear();
}

void announce_url(const std::string& url) {
  fprintf(stdout, "%s\n", url.c_str());
  fflush(stdout);
}

}  // namespace plat
