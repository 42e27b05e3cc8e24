#include "platform/instance.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

// ---- the user's private folder for the window's show socket ------------------

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

// ---- instance lock ---------------------------------------------------------
//
// Locks on data/instance.lock. The file lives in the program folder itself, so every
// environment that starts this folder (a desktop terminal, sudo -u, cron) meets the same lock,
// and nobody but those who may write the folder can get in the way.
//  - byte 0, an open-file-description lock: the ownership. It belongs to our descriptor, so
//    nothing else this process opens or closes can drop it.
//  - byte 1, a classic record lock: only there so that others can ask who owns the folder
//    (F_GETLK names the holder's pid, never a stale one left in the file).
// Whether someone holds the lock is asked with F_OFD_GETLK/F_GETLK, which take nothing: a
// --stop or a second start looking at the lock never makes a first start find it taken.

static int lock_fd = -1;
static bool lock_owned = false;

static std::string lock_path(const std::string& data_dir) { return data_dir + "/instance.lock"; }

// The lock file opened without following links or blocking on a FIFO, and only when it is a
// plain file with one name (never a link planted to make us write elsewhere). -1 otherwise.
static int open_lock_file(const std::string& data_dir, bool* writable) {
  std::string path = lock_path(data_dir);
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | flags, 0644);
  *writable = fd >= 0;
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | flags);  // another user's
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    close(fd);
    return -1;
  }
  return fd;
}

// cmd on the one byte at offset; the lock as the system reports it back for the GETLK commands.
static int lock_byte(int fd, int cmd, short type, off_t offset, struct flock* out = nullptr) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  int rc;
  do {
    rc = fcntl(fd, cmd, &fl);
  } while (rc != 0 && errno == EINTR);
  if (out) *out = fl;
  return rc;
}

instance_state instance_lock(uint32_t, const std::string& data_dir) {
  bool writable = false;
  int fd = open_lock_file(data_dir, &writable);
  if (fd < 0) return instance_state::failed;
  // A file made by another user can still be locked for reading: that too keeps a second
  // owner out, and its owner out while we run.
  short type = writable ? F_WRLCK : F_RDLCK;
  if (lock_byte(fd, F_OFD_SETLK, type, 0) != 0) {
    bool busy = errno == EACCES || errno == EAGAIN;
    if (busy) lock_fd = fd;  // kept open like the second instance's mutex handle
    else close(fd);
    return busy ? instance_state::taken : instance_state::failed;
  }
  lock_byte(fd, F_SETLK, type, 1);  // tells others our pid; ownership does not depend on it
  if (writable) {
    char pid[24];
    int len = snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid, static_cast<size_t>(len), 0) != len) {
      // The lock is what counts; the pid in the file is for people reading it.
    }
  }
  lock_fd = fd;
  lock_owned = true;
  return instance_state::owned;
}

// The lock file itself stays: removing it would let a process that opened the old file and a
// process that creates a new one both believe they own the folder.
void instance_release() {
  if (lock_fd < 0) return;
  // Emptied so a reader finds no owner's pid; a lock file that keeps it is still unlocked.
  (void)!ftruncate(lock_fd, 0);
  lock_byte(lock_fd, F_SETLK, F_UNLCK, 1);
  lock_byte(lock_fd, F_OFD_SETLK, F_UNLCK, 0);
  close(lock_fd);
  lock_fd = -1;
  lock_owned = false;
}

void instance_abandon() {
  if (lock_fd >= 0) close(lock_fd);
  lock_fd = -1;
  lock_owned = false;
  // A stop signal held back while we looked at the lock ends this process now, as it would
  // have without the hold.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

long instance_owner(const std::string& data_dir) {
  if (lock_owned) return 0;  // ours; and opening the file here would drop our pid lock
  int fd = open(lock_path(data_dir).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  long pid = 0;
  struct stat st;
  struct flock fl{};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lock_byte(fd, F_OFD_GETLK, F_WRLCK, 0, &fl) == 0 &&
      fl.l_type != F_UNLCK) {
    // Owned. Its pid lock follows right after the ownership; give a start in progress a moment.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (pid <= 0) {
      if (lock_byte(fd, F_GETLK, F_WRLCK, 1, &fl) == 0 && fl.l_type != F_UNLCK && fl.l_pid > 0) {
        pid = fl.l_pid;
        break;
      }
      if (std::chrono::steady_clock::now() >= end) break;
      usleep(5000);
    }
    if (pid <= 0) {  // a holder in another pid namespace: its own note in the file
      char buf[24] = {};
      ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
      if (n > 0) pid = strtol(buf, nullptr, 10);
    }
  }
  close(fd);
  return pid > 0 && pid != getpid() ? pid : 0;
}

// ---- stop signal -------------------------------------------------------------

static std::atomic<bool> stop_flag{false};
static std::atomic<pid_t> stop_target{0};  // second instance: the instance its stop ends

static void on_stop_signal(int) { stop_flag.store(true); }

static sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

// Runs on the main thread before any other thread exists, so every later thread starts with
// the signals held too until stop_create lets them through.
void stop_prepare() {
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool stop_create(uint32_t) {
  stop_flag.store(false);
  struct sigaction sa{};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  bool ok = sigaction(SIGTERM, &sa, nullptr) == 0 && sigaction(SIGINT, &sa, nullptr) == 0;
  // A signal that came while the lock was being taken is delivered now, to the handler.
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return ok;
}

void stop_set() {
  stop_flag.store(true);
  pid_t target = stop_target.load();
  if (target > 0) kill(target, SIGTERM);
}

bool stop_is_set() { return stop_flag.load(); }

void stop_close() {}

bool stop_notify_running(uint32_t, const std::string& data_dir) {
  long pid = instance_owner(data_dir);
  return pid > 0 && kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

bool stop_attach_running(uint32_t, const std::string& data_dir) {
  long pid = instance_owner(data_dir);
  if (pid <= 0) return false;
  stop_target.store(static_cast<pid_t>(pid));
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
static bool spawn_detached(std::vector<std::string> args) {
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
  if (mid < 0) return false;
  int status = 0;
  while (waitpid(mid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The redirect page lies in a folder only we can enter: $XDG_RUNTIME_DIR when it is ours and
// private, else a fresh folder of our own made by mkdtemp (never a fixed name in /tmp that
// another user could have made first).
static std::string redirect_dir;      // the folder made for the page, removed with it; or ""
static int redirect_watch = -1;       // inotify on the page: tells when the browser opened it
static bool browser_started = false;

static std::string page_folder() {
  const char* xdg = getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (xdg && *xdg == '/' && lstat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
      (st.st_mode & 0077) == 0)
    return xdg;
  const char* tmp = getenv("TMPDIR");
  std::string base = tmp && *tmp == '/' ? tmp : "/tmp";
  std::string templ = base + "/tavrin-XXXXXX";
  if (!mkdtemp(templ.data())) return "";
  redirect_dir = templ;
  return templ;
}

void open_url(const std::string& url) {
  open_url_forget();  // one page at a time
  std::string dir = page_folder();
  if (dir.empty()) return;
  std::string page = dir + "/tavrin-open-" + std::to_string(getpid()) + ".html";
  std::string e = html_escape(url);
  std::string html = "<!doctype html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0;url=" +
                     e + "\"><a href=\"" + e + "\">" + e + "</a>";
  if (!write_private_file(page, html)) {
    open_url_forget();
    return;
  }
  redirect_page = page;
  redirect_watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (redirect_watch >= 0 && inotify_add_watch(redirect_watch, page.c_str(), IN_OPEN | IN_ACCESS) < 0) {
    close(redirect_watch);
    redirect_watch = -1;
  }
  std::string file_url = "file://" + page;
  static const char* apps[] = {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable"};
  std::string exe;
  for (const char* a : apps) {
    if (on_path(a, &exe)) {
      browser_started = spawn_detached({exe, "--app=" + file_url, "--window-size=1360,900"});
      return;
    }
  }
  if (on_path("xdg-open", &exe)) browser_started = spawn_detached({exe, file_url});
}

void open_url_forget() {
  if (!redirect_page.empty()) unlink(redirect_page.c_str());
  redirect_page.clear();
  if (!redirect_dir.empty()) rmdir(redirect_dir.c_str());
  redirect_dir.clear();
  if (redirect_watch >= 0) close(redirect_watch);
  redirect_watch = -1;
  browser_started = false;
}

void open_url_hand_over(int timeout_ms) {
  if (!redirect_page.empty() && browser_started && redirect_watch >= 0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      end - std::chrono::steady_clock::now())
                                      .count());
      if (left <= 0) break;
      struct pollfd p{redirect_watch, POLLIN, 0};
      int rc = poll(&p, 1, left);
      if (rc > 0) break;  // the browser has the page open: its name may go
      if (rc < 0 && errno != EINTR) break;
    }
  }
  open_url_forget();
}

void announce_url(const std::string& url) {
  fprintf(stdout, "%s\n", url.c_str());
  fflush(stdout);
}

}  // namespace plat
