// The judge's parts: limited execution, output comparison and advice. judge.h is the entry.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/text_buffer.h"
#include "platform/proc.h"

using run_result = plat::run_result;

constexpr uint32_t capture_cap = 65536;       // bytes of a child's output read back
constexpr size_t code_limit = 64000;          // bytes of submitted source
constexpr uint32_t run_time_limit_ms = 1500;  // per case
constexpr uint32_t compile_time_limit_c_ms = 20000;
constexpr uint32_t compile_time_limit_cpp_ms = 30000;
constexpr size_t command_line_units = 1544;   // the compile and run lines are cut to fit

// --- execution ---
// Runs command_line under the run or compile limits on the files the judge keeps open for a
// submission (never reopened by name); all-zero result when it could not start.
run_result execute(const std::string& command_line, const std::string& work_dir,
                   plat::run_files& files, uint32_t time_limit_ms, int compile_mode);
// A run that started and ended by itself with exit code 0, within every limit.
inline bool ended_well(const run_result& r) {
  return r.started && !r.timed_out && !r.output_limited && r.exit_code == 0;
}
// What a run came to, as the page names it; clean_exit names a run that ended well.
const char* run_status(const run_result& r, const char* clean_exit);
// A child's output as UTF-8 (malloc'ed, never nullptr; "" when unreadable), at most 65,536
// bytes; NUL bytes become '?' and set *had_nul (when given). Text that is not UTF-8 is read as
// the system's console code page; a character cut by the cap is dropped.
char* capture(const std::string& path, int* had_nul);
char* capture(const plat::run_files& files, int* had_nul);
// 1 when the whole text was written (create or truncate, bytes unchanged), else 0.
int file_write(const std::string& path, const char* text);
// One-line excerpt of text into buf (size bytes with the NUL): control bytes as ' ' or '.',
// trailing non-ASCII bytes dropped. A null text counts as empty.
void log_text(char* buf, size_t size, const char* text);

// --- comparison ---
// 1 when actual and expected hold the same whitespace-separated tokens; in float mode tokens
// that differ may match as finite numbers within 1e-6 * max(1, |expected|).
int outputs_match(const char* actual, const char* expected, bool float_mode);

// --- advice ---
// Appends one {"level","title","detail"} object (comma-separated) and counts it.
void advice(text_buffer* list, int* count, const char* level, const char* title,
            const char* detail);
// Copy of code with every comment byte blanked except line breaks (malloc'ed).
char* without_comments(const char* code);
// 1 when the comment-free code holds one of the C++ markers.
int looks_like_cpp(const char* code);

struct judge_counters {
  int passed = 0, total = 0, timeouts = 0, output_limits = 0, crashes = 0;
};
void compile_failure_advice(text_buffer* list, int* count, bool cpp, const run_result& compile,
                            const char* code);
void result_advice(text_buffer* list, int* count, bool cpp, const judge_counters& c,
                   const char* diagnostics, const char* code);

// --- progress of the running submission (progress.cpp) ---
#include <atomic>
extern std::atomic<int> judge_running_case;
extern std::atomic<int> judge_case_total;
extern std::atomic<int> judge_stop_requested;
void judge_progress_reset();

// --- the busy flag: one submission or own-input run at a time (pipeline.cpp) ---
extern std::atomic<int> judging;

// Runs work on a fresh State while holding the judge; a second caller meanwhile gets the busy
// answer. The State is torn down (its work folder removed) before the flag drops, so the next
// one finds a tidy temporary folder.
template <class State>
char* while_judging(const char* body, char* (*work)(State&, const char*)) {
  int idle = 0;
  if (!judging.compare_exchange_strong(idle, 1))
    return json_error("已有代码正在评测，请等待本次完成。");
  judge_progress_reset();
  char* answer = nullptr;
  {
    State s;
    answer = work(s, body ? body : "");
  }
  judging.exchange(0);
  return answer ? answer : json_error("评测发生错误。");
}
