// Limited child processes on Linux: a vfork-style clone into the sandbox's set-up steps, a
// pidfd polled in 15 ms passes, and a kill of the whole process group at the end.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/sandbox_posix.h"
#include "platform/proc.h"
#include "platform/sys.h"

extern char** environ;

namespace plat {
namespace {

struct fd_owner {
  int fd = -1;
  ~fd_owner() {
    if (fd >= 0) close(fd);
  }
};

// The program as the exec call needs it: a bare name is looked up on PATH, as CreateProcess
// would search for it.
std::string resolve_program(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

// The result of a run that never started, saying where and why.
run_result not_started(const char* step, int error) {
  run_result r{};
  r.failed_step = step;
  r.failed_error = uint32_t(error);
  return r;
}

constexpr size_t child_stack_size = 64 * 1024;

// Starts the child; its pid (and pidfd) on success, -1 when it never reached its program (then
// *failed_step names the step, errno tells why).
pid_t spawn(sandbox::child_plan& plan, int* pidfd, const char** failed_step) {
  int status[2];
  *failed_step = "pipe2";
  if (pipe2(status, O_CLOEXEC) != 0) return -1;
  plan.status_fd = status[1];
  // The child's stack until its exec, one per thread and kept: this thread waits (vfork) while
  // its child uses it, and mapping and unmapping one for every run costs more than the run's
  // own set-up.
  struct kept_stack {
    void* at = nullptr;
    ~kept_stack() {
      if (at) munmap(at, child_stack_size);
    }
  };
  static thread_local kept_stack kept;
  if (!kept.at) {
    void* fresh = mmap(nullptr, child_stack_size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (fresh == MAP_FAILED) {
      const int why = errno;
      close(status[0]);
      close(status[1]);
      *failed_step = "mmap";
      errno = why;
      return -1;
    }
    kept.at = fresh;
  }
  void* const stack = kept.at;
  // No handler of ours may run on the child's borrowed stack before it resets them.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = clone(sandbox::child_main, static_cast<char*>(stack) + child_stack_size,
                    CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD, &plan, pidfd);
  int clone_error = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(status[1]);
  sandbox::child_failure report{};
  ssize_t got;
  do got = read(status[0], &report, sizeof report);
  while (got < 0 && errno == EINTR);
  close(status[0]);
  if (pid < 0) {
    *failed_step = "clone";
    errno = clone_error;
    return -1;
  }
  if (got > 0) {  // a set-up step or the exec failed; the child has ended with 127
    siginfo_t info;
    waitid(P_PID, pid, &info, WEXITED);
    close(*pidfd);
    *pidfd = -1;
    *failed_step = sandbox::child_step_name(report.step);
    errno = report.error;
    return -1;
  }
  return pid;
}

void kill_group(pid_t pid, int pidfd) {
  // The leader first (in case it has somehow left its group), then all it started.
  syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
  kill(-pid, SIGKILL);
}

bool wait_ready(int pidfd, int timeout_ms) {
  pollfd p{pidfd, POLLIN, 0};
  int r;
  do r = poll(&p, 1, timeout_ms);
  while (r < 0 && errno == EINTR);
  return r > 0;
}

// Reaps what remains of the group (helpers orphaned onto us as subreaper) until no member is
// left, or the deadline passes.
void drain_group(pid_t group, uint32_t deadline_start, uint32_t budget_ms) {
  for (;;) {
    siginfo_t info;
    do info.si_pid = 0;
    while (waitid(P_PGID, id_t(group), &info, WEXITED | WNOHANG) == 0 && info.si_pid != 0);
    if (kill(-group, 0) != 0 && errno == ESRCH) return;
    if (uint32_t(tick_ms() - deadline_start) > budget_ms) return;
    usleep(1000);
  }
}

// While a compiler runs, its orphaned helpers come to us instead of to init, so that they can
// be reaped and the group seen empty before we return.
struct subreaper_scope {
  bool active = false;
  int previous = 0;
  explicit subreaper_scope(bool on) {
    if (!on) return;
    prctl(PR_GET_CHILD_SUBREAPER, &previous);
    active = !previous && prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  }
  ~subreaper_scope() {
    if (active) prctl(PR_SET_CHILD_SUBREAPER, 0);
  }
};

// Processors the system may run us on: the CPU-time backstop must allow every one of them to
// spin for the whole wall-clock limit, or many threads would hit it before the time-out.
long cpu_count() {
  static const long n = [] {
    long c = sysconf(_SC_NPROCESSORS_CONF);
    return c > 0 ? c : 64;
  }();
  return n;
}

// The kernel's Landlock version, 0 when it has none (or it is disabled).
int landlock_abi() {
  static const int abi = [] {
    long v = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1u /* ..._VERSION */);
    return v > 0 ? int(v) : 0;
  }();
  return abi;
}

// ---- root's runs under a user id of their own --------------------------------------------
// Root is exempt from RLIMIT_NPROC and owns most of the system. A learner's program started by
// root therefore runs under a user id that nothing else uses (one per judge process, from a
// high range no distribution hands out), owning only its work folder: the process limit then
// counts its own threads alone, and the kernel's ordinary permission checks keep it away from
// root's files, processes and /proc entries.
uid_t run_user_id() {
  static const uid_t id = [] {
    if (geteuid() != 0) return uid_t(-1);
    const uid_t wanted = uid_t(0x7ff00000u + (uint32_t(getpid()) & 0xffffu));
    // Only when our user namespace maps it (a container may map far fewer ids).
    FILE* map = std::fopen("/proc/self/uid_map", "re");
    if (!map) return uid_t(-1);
    unsigned long inside, outside, count;
    uid_t found = uid_t(-1);
    while (std::fscanf(map, "%lu %lu %lu", &inside, &outside, &count) == 3) {
      if (wanted >= inside && wanted - inside < count) found = wanted;
    }
    std::fclose(map);
    return found;
  }();
  return id;
}

// Hands the work folder to the run's user id. Called before the first learner's run, when only
// the judge and the compiler have touched the folder; never through a link.
bool give_work_dir(const std::string& work_dir, uid_t id) {
  fd_owner dir{open(work_dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  struct stat st;
  if (dir.fd < 0 || fstat(dir.fd, &st) != 0) return false;
  if (st.st_uid == id) return true;
  return fchown(dir.fd, id, id) == 0;
}

// A description of its own on a file the judge holds open: through the descriptor's magic link,
// never through a name in the work folder. The same file, checked by identity.
int reopen_own(int fd, int flags) {
  char link[40];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  int copy = open(link, flags | O_NONBLOCK | O_CLOEXEC);
  if (copy < 0) {
    // No /proc: a duplicate shares the judge's offset and flags; both are reset before a run.
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
  }
  struct stat a, b;
  if (fstat(fd, &a) != 0 || fstat(copy, &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino ||
      !S_ISREG(b.st_mode)) {
    close(copy);
    return -1;
  }
  int fl = fcntl(copy, F_GETFL);
  if (fl >= 0) fcntl(copy, F_SETFL, fl & ~O_NONBLOCK);
  return copy;
}

// The folder tree a compiler comes from (its bin folder's parent), to be read by the compile:
// the system's folders are readable anyway, a toolchain beside the program is not.
std::string toolchain_of(const std::string& program) {
  char* real = realpath(program.c_str(), nullptr);
  if (!real) return {};
  std::string path = real;
  std::free(real);
  for (int up = 0; up < 2; ++up) {
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos || cut == 0) return {};
    path.resize(cut);
  }
  return path;
}

// Whether a user id of no group could start program: search rights on every folder above it
// and read and run rights on the file (and on what its links lead to).
bool others_may_run(const std::string& program) {
  char* real = realpath(program.c_str(), nullptr);
  if (!real) return false;
  std::string path = real;
  std::free(real);
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IROTH | S_IXOTH)) != (S_IROTH | S_IXOTH))
    return false;
  for (size_t cut = path.rfind('/'); cut != std::string::npos && cut > 0; cut = path.rfind('/')) {
    path.resize(cut);
    if (stat(path.c_str(), &st) != 0 || !(st.st_mode & S_IXOTH)) return false;
  }
  return true;
}

// Everything a child's plan points to, kept alive until the child has made its exec: the
// child shares our memory until then and must not allocate.
struct launch {
  std::string program;
  std::vector<std::string> args;
  std::vector<char*> argv;
  std::vector<std::string> env_text;
  std::vector<char*> envp;
  sandbox::filter seccomp;  // a copy per child: the child writes its own pid into it
  std::string toolchain;    // the compiler's own folder tree, readable for the compile
  sandbox::child_plan plan{};
};

// Fills a launch for command_line; false when the line names no program.
bool prepare_launch(launch& l, const std::string& command_line, const std::string& work_dir,
                    int in_fd, int out_fd, uint32_t time_limit_ms, bool compile_mode) {
  // Once a learner's program has run beside us, no process of the same user may read or write
  // our memory or descriptors through /proc or ptrace (only root still can).
  static const bool private_memory = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  (void)private_memory;
  l.args = command_line_split(command_line);
  if (l.args.empty()) return false;
  l.program = resolve_program(l.args[0]);
  l.argv.clear();
  for (auto& a : l.args) l.argv.push_back(a.data());
  l.argv.push_back(nullptr);

  // A compiler killed mid-way leaves its scratch files behind: keep them in the work folder,
  // which the caller removes, rather than in the user's temporary folder. The child gets a copy
  // of our environment: another thread may change ours before a child set up ahead is let go.
  l.env_text.clear();
  l.envp.clear();
  for (char** e = environ; *e; ++e)
    if (!compile_mode || std::strncmp(*e, "TMPDIR=", 7) != 0) l.env_text.emplace_back(*e);
  // Named from inside (the compile starts there): under a user id of its own the compiler may
  // not be able to walk the path to the folder (a private TMPDIR).
  if (compile_mode) l.env_text.push_back("TMPDIR=.");
  for (auto& e : l.env_text) l.envp.push_back(e.data());
  l.envp.push_back(nullptr);

  // Built once per mode; each child gets a copy to fill in its own pid.
  static const sandbox::filter run_filter = sandbox::build_filter(false);
  static const sandbox::filter run_filter_folders = sandbox::build_filter(false, true);
  static const sandbox::filter compile_filter = sandbox::build_filter(true);
  const bool folders = !compile_mode && work_folder_is_bounded(work_dir);
  l.seccomp = compile_mode ? compile_filter : folders ? run_filter_folders : run_filter;
  l.toolchain.clear();
  if (compile_mode) l.toolchain = toolchain_of(l.program);
  sandbox::child_plan& plan = l.plan;
  plan = sandbox::child_plan{};
  plan.program = l.program.c_str();
  plan.argv = l.argv.data();
  plan.envp = l.envp.data();
  plan.work_dir = work_dir.c_str();
  plan.input_fd = in_fd;
  plan.output_fd = out_fd;
  plan.status_fd = -1;
  plan.go_fd = -1;
  plan.compile_mode = compile_mode;
  plan.time_limit_ms = time_limit_ms;
  plan.cpu_count = cpu_count();
  plan.seccomp = &l.seccomp;
  plan.landlock_abi = landlock_abi();
  plan.toolchain = l.toolchain.empty() ? nullptr : l.toolchain.c_str();
  plan.folders = folders;
  // The compile too: under root's own id it could read (and #include) any of root's files.
  // A compiler that only root can reach (a toolchain in root's private folder) compiles under
  // root's id without capabilities, confined by Landlock to what it may read.
  plan.run_user = uid_t(-1);
  if (run_user_id() != uid_t(-1) && (!compile_mode || others_may_run(l.program)) &&
      give_work_dir(work_dir, run_user_id()))
    plan.run_user = run_user_id();
  return true;
}

// Watches a started child against its limits until it ends or is ended, and reaps it with
// whatever it started.
int open_work_dir(const std::string& dir) {
  return open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Where the work folder has no bound of its own (no private tmpfs): what a run may leave in it,
// all runs of a submission together. Run mode makes no folders there, so it is one listing.
bool work_folder_within_bound(int work_fd) {
  int listing = openat(work_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
  if (!d) {
    if (listing >= 0) close(listing);
    return true;  // cannot look: the per-file limit still holds
  }
  uint64_t bytes = 0;
  uint32_t entries = 0;
  while (struct dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st;
    ++entries;
    if (fstatat(listing, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) bytes += uint64_t(st.st_blocks) * 512;
  }
  closedir(d);
  return bytes <= work_folder_bytes && entries <= work_folder_files;
}

// work_fd: the work folder when it has no bound of its own (checked each pass and at the end,
// a folder over the bound ends the run as an output flood), else -1.
run_result watch(pid_t pid, int pidfd, int out_fd, uint32_t start, uint32_t time_limit_ms,
                 int work_fd = -1) {
  run_result r{};
  r.started = 1;
  for (;;) {
    // Sleep until the earlier of its end, the next output check and its deadline (the first
    // millisecond past the limit), so that a time-out is stopped on time.
    const uint32_t used = tick_ms() - start;
    uint32_t wait = run_poll_ms;
    if (used <= time_limit_ms && time_limit_ms - used + 1 < wait) wait = time_limit_ms - used + 1;
    if (used > time_limit_ms) wait = 0;
    bool ended = wait_ready(pidfd, int(wait));
    // The size test comes first: a flood that ended by itself is still a flood.
    struct stat st;
    if ((fstat(out_fd, &st) == 0 && uint64_t(st.st_size) > run_output_limit) ||
        (work_fd >= 0 && !work_folder_within_bound(work_fd))) {
      r.output_limited = 1;
      kill_group(pid, pidfd);
      break;
    }
    if (ended) break;
    if (uint32_t(tick_ms() - start) > time_limit_ms) {
      r.timed_out = 1;
      kill_group(pid, pidfd);
      break;
    }
  }
  // Nothing the run started outlives it: helpers a compiler left behind go too. The leader is
  // not reaped yet, so its group id cannot have been reused.
  kill(-pid, SIGKILL);
  const uint32_t final_start = tick_ms();
  wait_ready(pidfd, int(run_final_wait_ms));
  r.elapsed_ms = tick_ms() - start;

  siginfo_t info{};
  if (waitid(P_PIDFD, id_t(pidfd), &info, WEXITED | WNOHANG) == 0 && info.si_pid != 0) {
    if (info.si_code == CLD_EXITED) {
      r.exit_code = uint32_t(info.si_status);
    } else if (info.si_status == SIGXCPU && !r.output_limited) {
      // The CPU-time backstop is far above what the wall clock lets through; if it ever
      // fires, the program ran too long, which is a time-out whatever its thread count.
      r.timed_out = 1;
      r.exit_code = run_killed_exit_code;
    } else if (r.timed_out || r.output_limited) {
      r.exit_code = run_killed_exit_code;  // killed by us (or by the file-size backstop)
    } else {
      r.exit_code = 128u + uint32_t(info.si_status);
    }
  } else {
    // Stuck in the kernel even after SIGKILL: report it as still running, reap it later.
    r.exit_code = run_still_active_code;
    std::thread([pid] {
      siginfo_t late;
      waitid(P_PID, id_t(pid), &late, WEXITED);
    }).detach();
  }
  drain_group(pid, final_start, run_final_wait_ms);
  // Whether the flood was caught while the program ran or just after it ended is a matter of
  // timing; the answer must not be, so an output over the limit always reads as our kill.
  if (r.output_limited) r.exit_code = run_killed_exit_code;
  return r;
}

run_result run_on(const std::string& command_line, const std::string& work_dir, int in_fd,
                  int out_fd, uint32_t time_limit_ms, bool compile_mode) {
  launch l;
  if (!prepare_launch(l, command_line, work_dir, in_fd, out_fd, time_limit_ms, compile_mode))
    return not_started("command line", EINVAL);
  subreaper_scope reaper(compile_mode);
  fd_owner work{compile_mode || l.plan.folders ? -1 : open_work_dir(work_dir)};
  const uint32_t start = tick_ms();
  fd_owner pidfd;
  const char* failed_step = nullptr;
  pid_t pid = spawn(l.plan, &pidfd.fd, &failed_step);
  if (pid < 0) return not_started(failed_step, errno);
  return watch(pid, pidfd.fd, out_fd, start, time_limit_ms, work.fd);
}

}  // namespace

// The next run of a submission, set up while the current one runs. A thread of its own starts
// each child and stays blocked in the clone (vfork) until the child has made its exec: the
// child, which shares our memory, then writes only to that thread's stack and error number,
// never to those of a thread that is running. The child does every step of its set-up, then
// waits on the go pipe; the run's clock starts when the judge lets it go.
struct run_files::ahead {
  // What the waiting child was made for; a run that differs starts a child of its own.
  std::string command_line, work_dir;
  uint32_t time_limit_ms = 0;
  launch l;
  int in_fd = -1, out_fd = -1;  // the child's own descriptions of the kept files
  int go_read = -1, go_write = -1;
  bool waiting = false;         // a child was asked for and not yet let go or sent away

  std::thread starter;
  std::mutex m;
  std::condition_variable cv;
  bool job = false, done = false, quit = false;
  pid_t pid = -1;
  int pidfd = -1;
  int error = 0;
  const char* failed_step = nullptr;

  ahead() {
    starter = std::thread([this] {
      std::unique_lock<std::mutex> lock(m);
      for (;;) {
        cv.wait(lock, [this] { return job || quit; });
        if (!job) return;
        job = false;
        lock.unlock();
        int fd = -1;
        const char* step = nullptr;
        pid_t started = spawn(l.plan, &fd, &step);
        const int why = errno;
        lock.lock();
        pid = started;
        pidfd = fd;
        error = why;
        failed_step = step;
        done = true;
        cv.notify_all();
      }
    });
  }

  // Asks for a child for this run; false when none can be made (the run then starts cold).
  bool prepare(const std::string& line, const std::string& dir, uint32_t limit, int in_kept,
               int out_kept) {
    int go[2];
    if (pipe2(go, O_CLOEXEC) != 0) return false;
    in_fd = reopen_own(in_kept, O_RDONLY);
    out_fd = reopen_own(out_kept, O_WRONLY);
    if (in_fd < 0 || out_fd < 0 ||
        !prepare_launch(l, line, dir, in_fd, out_fd, limit, false)) {
      ::close(go[0]);
      ::close(go[1]);
      close_descriptions();
      return false;
    }
    go_read = go[0];
    go_write = go[1];
    l.plan.go_fd = go_read;
    command_line = line;
    work_dir = dir;
    time_limit_ms = limit;
    std::lock_guard<std::mutex> lock(m);
    job = true;
    done = false;
    waiting = true;
    cv.notify_all();
    return true;
  }

  // Lets the waiting child go (or, with go false, sends it away) and waits until it has made
  // its exec or ended. Its pid and pidfd, or -1 when it never reached the program.
  pid_t release(bool go, int* child_pidfd) {
    if (go) {
      ssize_t n;
      do n = write(go_write, "g", 1);
      while (n < 0 && errno == EINTR);
    }
    ::close(go_write);  // a child that missed the byte reads the end and leaves
    go_write = -1;
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [this] { return done; });
    done = false;
    waiting = false;
    ::close(go_read);
    go_read = -1;
    *child_pidfd = pidfd;
    errno = error;
    return pid;
  }

  void close_descriptions() {
    if (in_fd >= 0) ::close(in_fd);
    if (out_fd >= 0) ::close(out_fd);
    in_fd = out_fd = -1;
  }

  // The waiting child leaves without running anything.
  void send_away() {
    if (!waiting) return;
    int fd = -1;
    if (release(false, &fd) >= 0 && fd >= 0) {  // it cannot have passed the go, but be sure
      kill_group(pid, fd);
      siginfo_t info;
      waitid(P_PIDFD, id_t(fd), &info, WEXITED);
    }
    if (fd >= 0) ::close(fd);
    close_descriptions();
  }

  ~ahead() {
    send_away();
    {
      std::lock_guard<std::mutex> lock(m);
      quit = true;
      cv.notify_all();
    }
    starter.join();
  }
};

run_files::~run_files() { close(); }

void run_files::close() {
  delete ahead_;  // the child waiting for a next run that will not come
  ahead_ = nullptr;
  runs_expected_ = 0;
  for (intptr_t* fd : {&input_, &output_, &run_input_, &run_output_}) {
    if (*fd >= 0) ::close(int(*fd));
    *fd = -1;
  }
}

namespace {

// The files the runs really use: in memory, without a name anywhere, so nothing a program does
// to the work folder can reach or replace them, and they are gone when closed. Emptying one
// costs nothing, where emptying a file on ext4 makes its next close write the data out (the
// "replace by truncate" guard), a disk write on every case.
int unnamed_file() { return memfd_create("tavrin-run", MFD_CLOEXEC); }

bool write_at_start(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = pwrite(fd, text.data() + done, text.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

bool run_files::create(const std::string& input_path, const std::string& output_path) {
  if (ready()) return false;
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int in = open(input_path.c_str(), flags, 0600);
  if (in < 0) return false;
  int out = open(output_path.c_str(), flags, 0600);
  if (out < 0) {
    ::close(in);
    return false;
  }
  input_ = in;
  output_ = out;
  // Without files in memory (a kernel before 3.17) the runs use the named ones.
  run_input_ = unnamed_file();
  run_output_ = run_input_ >= 0 ? unnamed_file() : -1;
  if (run_output_ < 0 && run_input_ >= 0) {
    ::close(int(run_input_));
    run_input_ = -1;
  }
  return true;
}

bool run_files::set_input(std::string_view text) {
  if (!ready()) return false;
  const int fd = int(run_input_ >= 0 ? run_input_ : input_);
  return ftruncate(fd, 0) == 0 && write_at_start(fd, text);
}

std::optional<std::string> run_files::output_head(uint64_t cap) const {
  if (!ready()) return std::nullopt;
  const int fd = int(run_output_ >= 0 ? run_output_ : output_);
  std::string data;
  data.resize(cap);
  uint64_t have = 0;
  while (have < cap) {
    ssize_t n = pread(fd, data.data() + have, cap - have, off_t(have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    have += uint64_t(n);
  }
  data.resize(have);
  return data;
}

run_result process_run_limited(const std::string& command_line, const std::string& work_dir,
                               run_files& files, uint32_t time_limit_ms, bool compile_mode) {
  if (!files.ready()) return not_started("run files", EBADF);
  const int in_kept = int(files.run_input_ >= 0 ? files.run_input_ : files.input_);
  const int out_kept = int(files.run_output_ >= 0 ? files.run_output_ : files.output_);
  if (ftruncate(out_kept, 0) != 0 || lseek(out_kept, 0, SEEK_SET) < 0 ||
      lseek(in_kept, 0, SEEK_SET) < 0)
    return not_started("ftruncate", errno);
  if (!compile_mode && files.runs_expected_ > 0) {
    --files.runs_expected_;
    // A helper only when a run follows this one: a single run has nothing to set up ahead.
    if (!files.ahead_ && files.runs_expected_ > 0) {
      try {
        files.ahead_ = new run_files::ahead;
      } catch (...) {  // no memory or no thread: this run starts cold
        files.ahead_ = nullptr;
      }
    }
    run_files::ahead* a = files.ahead_;
    if (a) {
      if (a->command_line != command_line || a->work_dir != work_dir ||
          a->time_limit_ms != time_limit_ms)
        a->send_away();
      if (a->waiting || a->prepare(command_line, work_dir, time_limit_ms, in_kept, out_kept)) {
        // The child's descriptions are its own, opened when it was set up: their offsets are
        // still at the start, and the files hold this run's input and nothing else.
        fd_owner work{a->l.plan.folders ? -1 : open_work_dir(work_dir)};
        const uint32_t start = tick_ms();
        fd_owner pidfd;
        pid_t pid = a->release(true, &pidfd.fd);
        const int why = errno;
        fd_owner out{a->out_fd};
        ::close(a->in_fd);
        a->in_fd = a->out_fd = -1;
        if (pid < 0) return not_started(a->failed_step, why);
        if (files.runs_expected_ > 0)
          a->prepare(command_line, work_dir, time_limit_ms, in_kept, out_kept);
        return watch(pid, pidfd.fd, out.fd, start, time_limit_ms, work.fd);
      }
    }
  }
  fd_owner in{reopen_own(in_kept, O_RDONLY)};
  fd_owner out{reopen_own(out_kept, O_WRONLY)};
  if (in.fd < 0 || out.fd < 0) return not_started("open(/proc/self/fd)", errno);
  return run_on(command_line, work_dir, in.fd, out.fd, time_limit_ms, compile_mode);
}

std::optional<std::string> file_read_head(const std::string& path, uint64_t cap) {
  fd_owner f{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) return std::nullopt;
  std::string data;
  data.resize(cap);
  uint64_t have = 0;
  while (have < cap) {
    ssize_t n = read(f.fd, data.data() + have, cap - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    have += uint64_t(n);
  }
  data.resize(have);
  return data;
}

uint32_t process_id() { return uint32_t(getpid()); }


std::string sandbox_missing_layers() {
  std::string missing;
  auto add = [&](const char* what) {
    if (!missing.empty()) missing += ", ";
    missing += what;
  };
  const int abi = landlock_abi();
  if (abi < 1) add("Landlock (files outside the work folder stay writable)");
  else {
    if (abi < 3) add("Landlock truncate right (ABI 3)");
    if (abi < 4) add("Landlock network rules (ABI 4)");
    if (abi < 5) add("Landlock device ioctl right (ABI 5)");
    if (abi < 6) add("Landlock signal and abstract socket scopes (ABI 6)");
  }
  if (geteuid() != 0)
    add("size-limited work folder (a private tmpfs needs root; folders are refused in run mode instead)");
  if (geteuid() == 0 && run_user_id() == uid_t(-1))
    add("own user id for root's runs (no thread limit, root's file permissions)");
  return missing;
}

}  // namespace plat
