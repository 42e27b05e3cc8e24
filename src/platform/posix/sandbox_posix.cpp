// The Linux counterpart of a job object with kill-on-close, an active-process limit and a
// per-process memory limit: process group, rlimits and a seccomp filter, set up in the child
// between clone and exec.
#include "platform/posix/sandbox_posix.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/close_range.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <initializer_list>

#include "platform/proc.h"

namespace plat::sandbox {
namespace {

#if defined(__x86_64__)
constexpr uint32_t own_arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t own_arch = AUDIT_ARCH_AARCH64;
#else
#error "seccomp filter: unsupported architecture"
#endif

constexpr uint32_t ret_allow = SECCOMP_RET_ALLOW;
constexpr uint32_t ret_kill = SECCOMP_RET_KILL_PROCESS;
constexpr uint32_t ret_errno(int e) { return SECCOMP_RET_ERRNO | (uint32_t(e) & SECCOMP_RET_DATA); }

constexpr uint32_t off_nr = offsetof(seccomp_data, nr);
constexpr uint32_t off_arch = offsetof(seccomp_data, arch);
constexpr uint32_t off_arg0_low = offsetof(seccomp_data, args);  // little-endian low half

// Namespace flags: a new namespace could hide a process from our group kill.
constexpr uint32_t clone_new_namespaces = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS |
                                          CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET;

struct builder {
  filter& f;
  void stmt(uint16_t code, uint32_t k) { f.code.push_back(BPF_STMT(code, k)); }
  void jump(uint16_t code, uint32_t k, uint8_t jt, uint8_t jf) {
    f.code.push_back(BPF_JUMP(code, k, jt, jf));
  }
  uint32_t here() const { return uint32_t(f.code.size()); }

  // if (nr == call) return action;  (the accumulator keeps nr)
  void refuse(long call, uint32_t action) {
    jump(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(call), 0, 1);
    stmt(BPF_RET | BPF_K, action);
  }
  // Blocks below load an argument and always return, so the accumulator needs no reload.
  enum class slot { none, own_pid, own_group };
  // if (nr == call) return arg0 in values ? allow : EPERM;
  void allow_arg0_in(long call, std::initializer_list<std::pair<uint32_t, slot>> values) {
    const uint32_t m = uint32_t(values.size());
    jump(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(call), 0, uint8_t(m + 3));
    stmt(BPF_LD | BPF_W | BPF_ABS, off_arg0_low);
    uint32_t j = 0;
    for (auto [value, kind] : values) {
      if (kind == slot::own_pid) f.own_pid_slots.push_back(here());
      if (kind == slot::own_group) f.own_group_slots.push_back(here());
      jump(BPF_JMP | BPF_JEQ | BPF_K, value, uint8_t(m - 1 - j), j == m - 1 ? 1 : 0);
      ++j;
    }
    stmt(BPF_RET | BPF_K, ret_allow);
    stmt(BPF_RET | BPF_K, ret_errno(EPERM));
  }
  // if (nr == call) return (arg0 & bits) ? when_set : when_clear;
  void test_arg0_bits(long call, uint32_t bits, uint32_t when_set, uint32_t when_clear) {
    jump(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(call), 0, 4);
    stmt(BPF_LD | BPF_W | BPF_ABS, off_arg0_low);
    jump(BPF_JMP | BPF_JSET | BPF_K, bits, 0, 1);
    stmt(BPF_RET | BPF_K, when_set);
    stmt(BPF_RET | BPF_K, when_clear);
  }
};

// Calls no learner's program and no compiler has a use for; each would let it reach beyond
// its own run (as root, most of them would work).
void refuse_administration(builder& b) {
  const uint32_t no = ret_errno(EPERM);
  for (long call : {
#ifdef __NR_ptrace
           long(__NR_ptrace),  // inspect or steer other processes
#endif
           long(__NR_mount), long(__NR_umount2), long(__NR_pivot_root), long(__NR_chroot),
           long(__NR_unshare), long(__NR_setns),  // leave our view of the system
           long(__NR_bpf), long(__NR_perf_event_open), long(__NR_userfaultfd),
           long(__NR_io_uring_setup), long(__NR_io_uring_enter),
           long(__NR_io_uring_register),  // work done outside seccomp's sight
           long(__NR_reboot), long(__NR_kexec_load), long(__NR_kexec_file_load),
           long(__NR_init_module), long(__NR_finit_module), long(__NR_delete_module),
           long(__NR_swapon), long(__NR_swapoff), long(__NR_acct), long(__NR_quotactl),
           long(__NR_settimeofday), long(__NR_clock_settime), long(__NR_clock_adjtime),
           long(__NR_adjtimex), long(__NR_sethostname), long(__NR_setdomainname),
           long(__NR_open_by_handle_at), long(__NR_fanotify_init),
           long(__NR_keyctl), long(__NR_add_key), long(__NR_request_key),
           long(__NR_process_vm_writev),
           long(__NR_move_mount), long(__NR_fsopen), long(__NR_fsmount), long(__NR_fspick),
           long(__NR_open_tree),
       })
    b.refuse(call, no);
}

}  // namespace

filter build_filter(bool compile_mode) {
  filter f;
  builder b{f};
  b.stmt(BPF_LD | BPF_W | BPF_ABS, off_arch);
  b.jump(BPF_JMP | BPF_JEQ | BPF_K, own_arch, 1, 0);
  b.stmt(BPF_RET | BPF_K, ret_kill);  // other calling conventions (int 0x80) bypass the numbers
  b.stmt(BPF_LD | BPF_W | BPF_ABS, off_nr);
#if defined(__x86_64__)
  b.jump(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1);  // x32 numbering
  b.stmt(BPF_RET | BPF_K, ret_kill);
#endif
  // glibc tries clone3 first and falls back to clone, whose flags we can read.
  b.refuse(__NR_clone3, ret_errno(ENOSYS));
  refuse_administration(b);
  const uint32_t no = ret_errno(EPERM);
  if (compile_mode) {
    // The compiler starts cc1, as and ld; they all stay in the group we kill at the end.
    b.refuse(__NR_setsid, no);
    b.refuse(__NR_setpgid, no);
    b.test_arg0_bits(__NR_clone, clone_new_namespaces, no, ret_allow);
    b.test_arg0_bits(__NR_kill, 0x80000000u, no, ret_allow);  // kill(-1) and other groups
  } else {
    // One process: threads yes, new processes no.
#ifdef __NR_fork
    b.refuse(__NR_fork, no);
#endif
#ifdef __NR_vfork
    b.refuse(__NR_vfork, no);
#endif
    b.test_arg0_bits(__NR_clone, CLONE_THREAD, ret_allow, no);
    b.refuse(__NR_setsid, no);
    b.refuse(__NR_setpgid, no);
    // Signals only to itself.
    using s = builder::slot;
    b.allow_arg0_in(__NR_kill, {{0u, s::none}, {0u, s::own_pid}, {0u, s::own_group}});
    b.allow_arg0_in(__NR_tgkill, {{0u, s::own_pid}});
    b.allow_arg0_in(__NR_rt_sigqueueinfo, {{0u, s::own_pid}});
    b.allow_arg0_in(__NR_rt_tgsigqueueinfo, {{0u, s::own_pid}});
    b.refuse(__NR_tkill, no);
    b.refuse(__NR_pidfd_send_signal, no);
  }
  b.stmt(BPF_RET | BPF_K, ret_allow);
  return f;
}

// ---- the child, between clone and exec ------------------------------------------------------
// It shares the parent's memory (the parent waits until exec), so it only makes system calls
// and writes to the plan it was given.

namespace {

enum step { step_signals = 1, step_group, step_parent_death, step_limits, step_fds, step_dir,
            step_no_new_privs, step_seccomp, step_exec };

[[noreturn]] void fail(const child_plan* p, int which) {
  child_failure report{which, errno};
  ssize_t ignored = write(p->status_fd, &report, sizeof report);
  (void)ignored;
  _exit(127);
}

bool reset_signals() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) {
    if (s == SIGKILL || s == SIGSTOP) continue;
    sigaction(s, &dfl, nullptr);  // glibc's reserved signals answer EINVAL; nothing to do there
  }
  sigset_t none;
  sigemptyset(&none);
  return sigprocmask(SIG_SETMASK, &none, nullptr) == 0;
}

bool set_limit(int which, rlim_t soft, rlim_t hard) {
  struct rlimit l {soft, hard};
  return setrlimit(which, &l) == 0;
}

bool setup_rlimits(const child_plan* p) {
  const rlim_t memory = p->compile_mode ? compile_memory_limit : run_memory_limit;
  // The wall clock is the real limit; this only stops a spinning process if the parent vanished.
  const rlim_t cpu = p->time_limit_ms / 1000 + 2;
  return set_limit(RLIMIT_AS, memory, memory) && set_limit(RLIMIT_CORE, 0, 0) &&
         set_limit(RLIMIT_CPU, cpu, cpu + 1) &&
         // Bounds the disk a flood can fill between two polls; still well over the output
         // limit, so a modest overshoot ends with the program's own exit code.
         (p->compile_mode || set_limit(RLIMIT_FSIZE, 2 * run_output_limit, 2 * run_output_limit));
}

bool setup_fds(const child_plan* p) {
  int in = p->input_fd, out = p->output_fd;
  // Move them clear of 0..2 first, in case the parent itself runs without standard handles.
  if (in < 3 && (in = fcntl(in, F_DUPFD, 3)) < 0) return false;
  if (out < 3 && (out = fcntl(out, F_DUPFD, 3)) < 0) return false;
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) return false;
  // Everything else closes at exec (the status pipe stays open until then).
  if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return true;
  long max = sysconf(_SC_OPEN_MAX);
  for (long fd = 3; fd < max && fd < 65536; ++fd) fcntl(int(fd), F_SETFD, FD_CLOEXEC);
  return true;
}

// Landlock (where the kernel has it): a learner's program may create, change or remove files
// only inside its work folder, and may neither connect nor listen on TCP. Reading stays open
// (the program needs its libraries). Best effort: an older kernel simply goes without.
constexpr uint64_t fs_write_rights_v1 =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM;
constexpr uint64_t fs_refer = 1ull << 13;     // ABI 2
constexpr uint64_t fs_truncate = 1ull << 14;  // ABI 3
constexpr uint64_t net_bind_tcp = 1ull << 0;  // ABI 4
constexpr uint64_t net_connect_tcp = 1ull << 1;

struct ruleset_attr {  // the kernel's struct, with the network field of ABI 4
  uint64_t handled_access_fs;
  uint64_t handled_access_net;
};
struct path_beneath_attr {
  uint64_t allowed_access;
  int32_t parent_fd;
} __attribute__((packed));

void allow_beneath(int ruleset, const char* path, uint64_t rights) {
  int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return;
  path_beneath_attr rule{rights, fd};
  syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
  close(fd);
}

void setup_landlock(const child_plan* p) {
  if (p->compile_mode) return;  // compilers write where their drivers choose
  long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 1) return;
  uint64_t fs = fs_write_rights_v1;
  if (abi >= 2) fs |= fs_refer;
  if (abi >= 3) fs |= fs_truncate;
  ruleset_attr attr{fs, abi >= 4 ? net_bind_tcp | net_connect_tcp : 0};
  const size_t size = abi >= 4 ? sizeof attr : sizeof attr.handled_access_fs;
  int ruleset = int(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
  if (ruleset < 0) return;
  allow_beneath(ruleset, p->work_dir, fs);
  allow_beneath(ruleset, "/dev/null", LANDLOCK_ACCESS_FS_WRITE_FILE | (abi >= 3 ? fs_truncate : 0));
  syscall(SYS_landlock_restrict_self, ruleset, 0);
  close(ruleset);
}

bool setup_seccomp(const child_plan* p) {
  if (!p->seccomp) return true;
  filter& f = *p->seccomp;
  const uint32_t pid = uint32_t(getpid());
  for (uint32_t i : f.own_pid_slots) f.code[i].k = pid;
  for (uint32_t i : f.own_group_slots) f.code[i].k = uint32_t(-int32_t(pid));
  sock_fprog prog{uint16_t(f.code.size()), f.code.data()};
  return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &prog) == 0;
}

}  // namespace

int child_main(void* arg) {
  const child_plan* p = static_cast<const child_plan*>(arg);
  if (!reset_signals()) fail(p, step_signals);
  if (setpgid(0, 0) != 0) fail(p, step_group);
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(p, step_parent_death);
  if (!setup_rlimits(p)) fail(p, step_limits);
  if (!setup_fds(p)) fail(p, step_fds);
  if (chdir(p->work_dir) != 0) fail(p, step_dir);
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) fail(p, step_no_new_privs);
  setup_landlock(p);
  if (!setup_seccomp(p)) fail(p, step_seccomp);
  execve(p->program, p->argv, p->envp);
  fail(p, step_exec);
}

}  // namespace plat::sandbox
