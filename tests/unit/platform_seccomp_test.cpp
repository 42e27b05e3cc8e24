// The sandbox's system-call filter, read by a small classic-BPF interpreter: every rule gives
// its answer through the compiled search (leaf answers, jumps to argument blocks, the pid
// slots), in both modes. The real kernel runs the same code in the process tests.
#include <gtest/gtest.h>

#if !defined(_WIN32) && defined(__x86_64__)
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/sandbox_posix.h"

namespace {

constexpr uint32_t own_pid = 4242;
constexpr uint32_t allow = SECCOMP_RET_ALLOW;
constexpr uint32_t kill_process = SECCOMP_RET_KILL_PROCESS;
constexpr uint32_t eperm = SECCOMP_RET_ERRNO | EPERM;
constexpr uint32_t enosys = SECCOMP_RET_ERRNO | ENOSYS;
constexpr uint32_t enotty = SECCOMP_RET_ERRNO | ENOTTY;
constexpr uint32_t einval = SECCOMP_RET_ERRNO | EINVAL;

// Runs the filter on one call; 0xffffffff when the code leaves the program or does something
// this interpreter (and the filter's builder) never uses.
uint32_t run(const std::vector<sock_filter>& code, const seccomp_data& d) {
  uint32_t a = 0;
  size_t pc = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&d);
  for (size_t steps = 0; pc < code.size() && steps < code.size(); ++steps) {
    const sock_filter& i = code[pc];
    switch (i.code) {
      case BPF_LD | BPF_W | BPF_ABS:
        if (i.k + 4 > sizeof d) return 0xffffffffu;
        std::memcpy(&a, bytes + i.k, 4);
        ++pc;
        break;
      case BPF_JMP | BPF_JA: pc += 1 + i.k; break;
      case BPF_JMP | BPF_JEQ | BPF_K: pc += 1 + (a == i.k ? i.jt : i.jf); break;
      case BPF_JMP | BPF_JGE | BPF_K: pc += 1 + (a >= i.k ? i.jt : i.jf); break;
      case BPF_JMP | BPF_JSET | BPF_K: pc += 1 + ((a & i.k) ? i.jt : i.jf); break;
      case BPF_RET | BPF_K: return i.k;
      default: return 0xffffffffu;
    }
  }
  return 0xffffffffu;
}

struct call {
  const char* what;
  uint32_t nr;
  uint64_t arg0, arg1, arg2;
  uint32_t run_mode, compile_mode;  // expected answers
};

std::vector<sock_filter> filled(bool compile_mode, bool folders = false) {
  plat::sandbox::filter f = plat::sandbox::build_filter(compile_mode, folders);
  for (uint32_t i : f.own_pid_slots) f.code[i].k = own_pid;
  for (uint32_t i : f.own_group_slots) f.code[i].k = uint32_t(-int32_t(own_pid));
  return f.code;
}

TEST(SeccompFilter, EveryRuleAnswersThroughTheSearch) {
  const uint32_t other = 777, minus_own = uint32_t(-int32_t(own_pid));
  const std::vector<call> table = {
      // ordinary work
      {"read", __NR_read, 0, 0, 0, allow, allow},
      {"write", __NR_write, 1, 0, 0, allow, allow},
      {"openat", __NR_openat, 0, 0, 0, allow, allow},
      {"mmap", __NR_mmap, 0, 0, 0, allow, allow},
      {"exit_group", __NR_exit_group, 0, 0, 0, allow, allow},
      // run mode refuses what it was not seen to need, new calls included
      {"a number no kernel has yet", 599, 0, 0, 0, enosys, allow},
      {"file_setattr", 469, 0, 0, 0, enosys, eperm},
      {"splice", __NR_splice, 0, 0, 0, enosys, allow},
      {"memfd_create", __NR_memfd_create, 0, 0, 0, enosys, allow},
      {"pipe2", __NR_pipe2, 0, 0, 0, allow, allow},
      {"futex", __NR_futex, 0, 0, 0, allow, allow},
      {"rseq", __NR_rseq, 0, 0, 0, allow, allow},
      {"mkdirat (no bounded folder)", __NR_mkdirat, 0, 0, 0, eperm, allow},
      {"mkdir (no bounded folder)", __NR_mkdir, 0, 0, 0, eperm, allow},
      {"rmdir", __NR_rmdir, 0, 0, 0, allow, allow},
      {"prctl PR_SET_NAME", __NR_prctl, 15, 0, 0, allow, allow},
      {"prctl PR_SET_MM", __NR_prctl, 35, 0, 0, einval, allow},
      {"prctl PR_SET_DUMPABLE", __NR_prctl, 4, 0, 0, einval, allow},
      // the system's administration, both modes
      {"ptrace", __NR_ptrace, 0, 0, 0, eperm, eperm},
      {"mount", __NR_mount, 0, 0, 0, eperm, eperm},
      {"bpf", __NR_bpf, 0, 0, 0, eperm, eperm},
      {"io_uring_setup", __NR_io_uring_setup, 0, 0, 0, eperm, eperm},
      {"keyctl", __NR_keyctl, 0, 0, 0, eperm, eperm},
      {"process_vm_writev", __NR_process_vm_writev, 0, 0, 0, eperm, eperm},
      {"open_tree", __NR_open_tree, 0, 0, 0, eperm, eperm},
      {"clone3", __NR_clone3, 0, 0, 0, enosys, enosys},
      // terminal requests
      // ioctl: an allow-list in run mode; inode flags and terminal requests refused in both
      {"ioctl TIOCSTI", __NR_ioctl, 0, 0x5412, 0, enotty, eperm},
      {"ioctl FIOSETOWN", __NR_ioctl, 0, 0x8901, 0, enotty, eperm},
      {"ioctl FS_IOC_SETFLAGS", __NR_ioctl, 3, 0x40086602, 0, enotty, eperm},
      {"ioctl FS_IOC_SETVERSION", __NR_ioctl, 3, 0x40087602, 0, enotty, eperm},
      {"ioctl FS_IOC_FSSETXATTR", __NR_ioctl, 3, 0x401c5820, 0, enotty, eperm},
      {"ioctl FS_IOC_GETFLAGS", __NR_ioctl, 3, 0x80086601, 0, enotty, allow},
      {"ioctl TCGETS", __NR_ioctl, 0, 0x5401, 0, allow, allow},
      {"ioctl TIOCGWINSZ", __NR_ioctl, 1, 0x5413, 0, allow, allow},
      // processes
      {"fork", __NR_fork, 0, 0, 0, eperm, allow},
      {"vfork", __NR_vfork, 0, 0, 0, eperm, allow},
      {"clone, a thread", __NR_clone, CLONE_VM | CLONE_THREAD, 0, 0, allow, allow},
      {"clone, a process", __NR_clone, SIGCHLD, 0, 0, eperm, allow},
      {"clone, a new user namespace", __NR_clone, CLONE_NEWUSER, 0, 0, eperm, eperm},
      {"setsid", __NR_setsid, 0, 0, 0, eperm, eperm},
      {"setpgid", __NR_setpgid, 0, 0, 0, eperm, eperm},
      // signals
      {"kill itself", __NR_kill, own_pid, 9, 0, allow, allow},
      {"kill its group", __NR_kill, minus_own, 9, 0, allow, eperm},
      {"kill group 0", __NR_kill, 0, 9, 0, allow, allow},
      {"kill another", __NR_kill, other, 9, 0, eperm, allow},
      {"kill everyone", __NR_kill, 0xffffffffu, 9, 0, eperm, eperm},
      {"tgkill itself", __NR_tgkill, own_pid, own_pid, 0, allow, allow},
      {"tgkill another", __NR_tgkill, other, other, 0, eperm, allow},
      {"tkill", __NR_tkill, other, 9, 0, eperm, allow},
      {"pidfd_send_signal", __NR_pidfd_send_signal, 3, 9, 0, eperm, allow},
      // sockets and IPC
      {"socket", __NR_socket, 2, 1, 0, eperm, allow},
      {"socketpair", __NR_socketpair, 1, 1, 0, eperm, allow},
      {"shmget", __NR_shmget, 0, 0, 0, eperm, allow},
      {"mq_open", __NR_mq_open, 0, 0, 0, eperm, allow},
      // fcntl
      {"fcntl F_GETFL", __NR_fcntl, 1, F_GETFL, 0, allow, allow},
      {"fcntl F_DUPFD_CLOEXEC", __NR_fcntl, 1, F_DUPFD_CLOEXEC, 0, allow, allow},
      {"fcntl F_SETOWN", __NR_fcntl, 1, 8, 0, eperm, allow},
      {"fcntl F_SETSIG", __NR_fcntl, 1, 10, 0, eperm, allow},
      {"fcntl F_SETPIPE_SZ", __NR_fcntl, 1, 1031, 0, eperm, allow},
      // limits and scheduling
      {"prlimit64 itself (0)", __NR_prlimit64, 0, 7, 0, allow, allow},
      {"prlimit64 itself", __NR_prlimit64, own_pid, 7, 0, allow, allow},
      {"prlimit64 another", __NR_prlimit64, other, 7, 0, eperm, allow},
      {"sched_setaffinity another", __NR_sched_setaffinity, other, 0, 0, eperm, allow},
      {"sched_setscheduler", __NR_sched_setscheduler, 0, 0, 0, eperm, allow},
      {"setpriority nicer", __NR_setpriority, 0, 0, 5, allow, allow},
      {"setpriority greedier", __NR_setpriority, 0, 0, uint64_t(-1), eperm, allow},
      {"setpriority another", __NR_setpriority, 0, other, 5, eperm, allow},
      {"setpriority a group", __NR_setpriority, 1, 0, 5, eperm, allow},
      // metadata, links, special files
      {"chmod", __NR_chmod, 0, 0, 0, eperm, allow},
      {"fchownat", __NR_fchownat, 0, 0, 0, eperm, allow},
      {"linkat", __NR_linkat, 0, 0, 0, eperm, allow},
      {"symlink", __NR_symlink, 0, 0, 0, eperm, allow},
      {"mknodat", __NR_mknodat, 0, 0, 0, eperm, allow},
      {"fchmodat2", 452, 0, 0, 0, eperm, allow},
      {"personality query", __NR_personality, 0xffffffffu, 0, 0, allow, allow},
      {"personality change", __NR_personality, 0x0040000, 0, 0, eperm, allow},
  };
  for (bool compile_mode : {false, true}) {
    const std::vector<sock_filter> code = filled(compile_mode);
    ASSERT_FALSE(code.empty());
    EXPECT_LE(code.size(), size_t(BPF_MAXINSNS));
    for (const call& c : table) {
      seccomp_data d{};
      d.nr = int(c.nr);
      d.arch = AUDIT_ARCH_X86_64;
      d.args[0] = c.arg0;
      d.args[1] = c.arg1;
      d.args[2] = c.arg2;
      EXPECT_EQ(run(code, d), compile_mode ? c.compile_mode : c.run_mode)
          << c.what << (compile_mode ? " (compile mode)" : " (run mode)");
    }
    // Calls by another calling convention or numbering never reach the rules.
    seccomp_data i386{};
    i386.nr = __NR_read;
    i386.arch = AUDIT_ARCH_I386;
    EXPECT_EQ(run(code, i386), kill_process);
    seccomp_data x32{};
    x32.nr = int(0x40000000u | __NR_read);
    x32.arch = AUDIT_ARCH_X86_64;
    EXPECT_EQ(run(code, x32), kill_process);
    // Every number gives a known answer (no jump lands outside the code or off a return).
    for (uint32_t nr = 0; nr < 1024; ++nr) {
      seccomp_data d{};
      d.nr = int(nr);
      d.arch = AUDIT_ARCH_X86_64;
      const uint32_t answer = run(code, d);
      EXPECT_TRUE(answer == allow || answer == eperm || answer == enosys || answer == enotty ||
                  answer == einval)
          << nr << ": " << answer;
    }
  }
  // Where the work folder is a bounded file system of its own, run mode may make folders.
  const std::vector<sock_filter> folders = filled(false, true);
  for (uint32_t nr : {uint32_t(__NR_mkdirat), uint32_t(__NR_mkdir)}) {
    seccomp_data d{};
    d.nr = int(nr);
    d.arch = AUDIT_ARCH_X86_64;
    EXPECT_EQ(run(folders, d), allow) << nr;
  }
}

}  // namespace
#else
TEST(SeccompFilter, EveryRuleAnswersThroughTheSearch) { GTEST_SKIP() << "the x86-64 Linux filter"; }
#endif
