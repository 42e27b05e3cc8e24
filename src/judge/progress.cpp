// Where the running submission is (compiling, or which case of how many), and the
// learner's request to stop it. Read and set from other connection threads.
#include <atomic>

#include "judge/judge.h"
#include "judge/judge_internal.h"

std::atomic<int> judge_running_case{0};  // 0 while compiling, else the case being run
std::atomic<int> judge_case_total{0};
std::atomic<int> judge_stop_requested{0};

void judge_progress_reset() {
  judge_running_case.store(0);
  judge_case_total.store(0);
  judge_stop_requested.store(0);
}

char* judge_progress() {
  text_buffer b{};
  const bool running = judging.load() != 0;
  b_fmt(&b, "{\"running\":%s,\"case\":%d,\"total\":%d,\"stopping\":%s}", running ? "true" : "false",
        running ? judge_running_case.load() : 0, running ? judge_case_total.load() : 0,
        running && judge_stop_requested.load() ? "true" : "false");
  return b_release(&b);
}

char* judge_stop() {
  if (judging.load()) judge_stop_requested.store(1);
  text_buffer b{};
  b_add(&b, "{\"ok\":true}");
  return b_release(&b);
}
