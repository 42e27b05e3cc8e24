// The Linux sandbox's pieces: the seccomp filter and the steps the new child takes before exec.
#pragma once
#include <linux/filter.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace plat::sandbox {

// A filter whose pid comparisons are filled in by the child itself, which alone knows its pid.
struct filter {
  std::vector<sock_filter> code;
  std::vector<uint32_t> own_pid_slots;      // instructions comparing with the child's pid
  std::vector<uint32_t> own_group_slots;    // ... with minus the pid (its own process group)
};

// Run mode: no new processes, no signals outside itself, no system administration.
// Compile mode: helper processes allowed, but none may leave the process group.
// folders: run mode may make folders (the work folder is a bounded file system of its own);
// without one, folder creation is refused so that nothing can grow a chain of them.
filter build_filter(bool compile_mode, bool folders = false);

// Files are bounded per file (RLIMIT_FSIZE) in both modes; a compile's outputs are far smaller.
constexpr unsigned long compile_file_limit = 64ul << 20;

// Everything the child needs, prepared by the parent before the clone: the child shares the
// parent's memory until exec and must not allocate.
struct child_plan {
  const char* program;
  char* const* argv;
  char* const* envp;
  const char* work_dir;
  int input_fd;
  int output_fd;
  int status_fd;            // close-on-exec; the child writes its step and errno here on failure
  int go_fd;                // -1, or a pipe the child reads one byte from before its exec (the
                            // set-up done ahead of time); end of file: it ends without exec
  bool compile_mode;
  uint32_t time_limit_ms;
  long cpu_count;           // processors the CPU-time backstop allows for
  int landlock_abi;         // 0: the kernel has no Landlock
  uid_t run_user;           // -1, or the user id a root judge runs the program under
  const char* toolchain;    // nullptr, or a folder the program may read besides the system's
  bool folders;             // run mode may make folders in its work folder
  filter* seccomp;
};


// Launch failure report written to the status pipe.
struct child_failure {
  int step;
  int error;
};

// The name of a child_failure's step, for the log.
const char* child_step_name(int step);

// The child's side of the clone: set-up steps, then exec. Never returns.
int child_main(void* plan);

}  // namespace plat::sandbox

namespace plat {
// True when dir is a bounded file system of its own (see work_folder_bound).
bool work_folder_is_bounded(const std::string& dir);
}  // namespace plat
