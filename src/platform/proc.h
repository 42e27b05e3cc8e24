// Running a child process under limits (the judge's sandbox), and the small helpers around it.
#pragma once
#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The output file may hold this many bytes; one more is over the limit.
constexpr uint64_t run_output_limit = 65536;
// Memory each process may commit: a compiler, or the learner's program.
constexpr uint64_t compile_memory_limit = 536870912;
constexpr uint64_t run_memory_limit = 134217728;
// Wait per pass of the watch loop, and the last wait after the loop.
constexpr uint32_t run_poll_ms = 15;
constexpr uint32_t run_final_wait_ms = 3000;
// Exit code reported for a process the sandbox killed.
constexpr uint32_t run_killed_exit_code = 1;
// Exit code reported for a process still alive after the final wait (what Windows reports).
constexpr uint32_t run_still_active_code = 259;

// What one limited run did. The first five are 0 when the process was not started.
struct run_result {
  uint32_t timed_out;       // 1: killed because the wall-clock limit passed
  uint32_t output_limited;  // 1: the output file grew over run_output_limit
  uint32_t started;         // 1: the process was created, confined and running
  uint32_t exit_code;       // its exit code; 1 when killed by the sandbox or over the output
                            // limit (whatever it did after); 128 + signal on Linux
  uint32_t elapsed_ms;      // wall-clock time from its start to the end of the final wait
  // Not started: the step of the launch that failed (a system call's name) and the system's
  // error number (errno; GetLastError on Windows), for the log. nullptr and 0 otherwise.
  const char* failed_step;
  uint32_t failed_error;
};

// The two files a submission's runs read and write, made once by the judge and kept open for
// the whole submission. A program that replaces their names (links, FIFOs, junctions, renames)
// changes nothing the judge reads or writes afterwards: it never opens them by name again.
class run_files {
 public:
  run_files() = default;
  ~run_files();
  run_files(const run_files&) = delete;
  run_files& operator=(const run_files&) = delete;
  // Creates both as new, private regular files (false when either name exists already).
  bool create(const std::string& input_path, const std::string& output_path);
  // The next run's standard input: the whole text, replacing the last one.
  bool set_input(std::string_view text);
  // The first cap bytes of what the last run wrote; nullopt when it cannot be read.
  std::optional<std::string> output_head(uint64_t cap) const;
  bool ready() const { return input_ != -1 && output_ != -1; }
  // Closes both (before their folder is removed: Windows cannot delete a file held open).
  void close();
  // How many more runs of one program the caller means to make on these files (the judge's
  // cases). On Linux each next process is then set up while the current one runs, so that the
  // sandbox's set-up is off the path between two cases. Without it every run starts cold.
  void expect_runs(uint32_t count) { runs_expected_ = count; }
  // Linux: the next run's process, set up and waiting to be let go (opaque elsewhere).
  struct ahead;
  // Platform handles (descriptors on Linux, HANDLE values on Windows).
  intptr_t input_handle() const { return input_; }
  intptr_t output_handle() const { return output_; }

 private:
  intptr_t input_ = -1, output_ = -1;
  // Linux: the files in memory that the runs read and write, where the system has them.
  intptr_t run_input_ = -1, run_output_ = -1;
  uint32_t runs_expected_ = 0;
  ahead* ahead_ = nullptr;
  friend run_result process_run_limited(const std::string&, const std::string&, run_files&,
                                        uint32_t, bool);
};

// Starts command_line (first token: the program, usually a quoted full path; the rest split by
// the Windows C runtime's rules) in work_dir, with standard input from the kept input file and
// standard output and error both into the kept output file (emptied first; the child gets
// descriptions of its own, so its flags, offsets and locks die with it), and watches it against
// a wall-clock limit of time_limit_ms and the output limit. compile_mode admits the compiler's
// own helper processes and 512 MiB each; run mode admits exactly one process with 128 MiB.
// Whatever the process started is gone when this returns. Never throws; a failure to start
// gives the all-zero result.
run_result process_run_limited(const std::string& command_line, const std::string& work_dir,
                               run_files& files, uint32_t time_limit_ms, bool compile_mode);

// Confinement layers this system lacks for learners' programs (empty when none), for the log:
// e.g. "Landlock" on kernels before 5.13.
std::string sandbox_missing_layers();

// A judge's work folder, just made (empty, private): bounds what programs can put in it where
// the system allows (Linux as root: a file system of its own of work_folder_bytes and
// work_folder_files, mounted where only this thread and its children see it). true when
// bounded. work_folder_remove takes it away with everything in it; false when something stays.
constexpr uint64_t work_folder_bytes = 64ull << 20;
constexpr uint32_t work_folder_files = 4096;
bool work_folder_bound(const std::string& dir);
bool work_folder_remove(const std::string& dir);

// Arguments of a command line as the Windows C runtime splits them (the first token by the
// simpler rule of CreateProcess). Quotes group blanks; 2n backslashes before a quote give n and
// the quote acts; 2n+1 give n and a literal quote; other backslashes are literal.
std::vector<std::string> command_line_split(std::string_view line);

// The first cap bytes of a file (all of it when shorter); nullopt when it cannot be read.
std::optional<std::string> file_read_head(const std::string& path, uint64_t cap);

// Id of this process.
uint32_t process_id();

}  // namespace plat
