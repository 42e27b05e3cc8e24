// Limited child processes on Linux: a vfork-style clone into the sandbox's set-up steps, a
// pidfd polled in 15 ms passes, and a kill of the whole process group at the end.
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
#include <cstring>
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

constexpr size_t child_stack_size = 64 * 1024;

// Starts the child; its pid (and pidfd) on success, -1 when it never reached its program.
pid_t spawn(sandbox::child_plan& plan, int* pidfd) {
  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) return -1;
  plan.status_fd = status[1];
  void* stack = mmap(nullptr, child_stack_size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack == MAP_FAILED) {
    close(status[0]);
    close(status[1]);
    return -1;
  }
  // No handler of ours may run on the child's borrowed stack before it resets them.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = clone(sandbox::child_main, static_cast<char*>(stack) + child_stack_size,
                    CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD, &plan, pidfd);
  int clone_error = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  munmap(stack, child_stack_size);
  close(status[1]);
  sandbox::child_failure report{};
  ssize_t got;
  do got = read(status[0], &report, sizeof report);
  while (got < 0 && errno == EINTR);
  close(status[0]);
  if (pid < 0) {
    errno = clone_error;
    return -1;
  }
  if (got > 0) {  // a set-up step or the exec failed; the child has ended with 127
    siginfo_t info;
    waitid(P_PID, pid, &info, WEXITED);
    close(*pidfd);
    *pidfd = -1;
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

}  // namespace

run_result process_run_limited(const std::string& command_line, const std::string& work_dir,
                               const std::string& input_path, const std::string& output_path,
                               uint32_t time_limit_ms, bool compile_mode) {
  run_result r{};
  fd_owner in{open(input_path.c_str(), O_RDONLY | O_CLOEXEC)};
  fd_owner out{open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
  if (in.fd < 0 || out.fd < 0) return r;

  std::vector<std::string> args = command_line_split(command_line);
  if (args.empty()) return r;
  std::string program = resolve_program(args[0]);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // A compiler killed mid-way leaves its scratch files behind: keep them in the work folder,
  // which the caller removes, rather than in the user's temporary folder.
  std::vector<std::string> env_text;
  std::vector<char*> envp;
  char* const* env = environ;
  if (compile_mode) {
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "TMPDIR=", 7) != 0) env_text.emplace_back(*e);
    env_text.push_back("TMPDIR=" + work_dir);
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    env = envp.data();
  }

  sandbox::filter seccomp = sandbox::build_filter(compile_mode);
  sandbox::child_plan plan{program.c_str(), argv.data(), env,         work_dir.c_str(),
                           in.fd,           out.fd,      -1,          compile_mode,
                           time_limit_ms,   &seccomp};
  subreaper_scope reaper(compile_mode);
  const uint32_t start = tick_ms();
  fd_owner pidfd;
  pid_t pid = spawn(plan, &pidfd.fd);
  if (pid < 0) return r;
  r.started = 1;

  for (;;) {
    bool ended = wait_ready(pidfd.fd, int(run_poll_ms));
    // The size test comes first: a flood that ended by itself is still a flood.
    struct stat st;
    if (fstat(out.fd, &st) == 0 && uint64_t(st.st_size) > run_output_limit) {
      r.output_limited = 1;
      kill_group(pid, pidfd.fd);
      break;
    }
    if (ended) break;
    if (uint32_t(tick_ms() - start) > time_limit_ms) {
      r.timed_out = 1;
      kill_group(pid, pidfd.fd);
      break;
    }
  }
  // Nothing the run started outlives it: helpers a compiler left behind go too. The leader is
  // not reaped yet, so its group id cannot have been reused.
  kill(-pid, SIGKILL);
  const uint32_t final_start = tick_ms();
  wait_ready(pidfd.fd, int(run_final_wait_ms));
  r.elapsed_ms = tick_ms() - start;

  siginfo_t info{};
  if (waitid(P_PIDFD, id_t(pidfd.fd), &info, WEXITED | WNOHANG) == 0 && info.si_pid != 0) {
    if (info.si_code == CLD_EXITED) {
      r.exit_code = uint32_t(info.si_status);
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
  return r;
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

}  // namespace plat
