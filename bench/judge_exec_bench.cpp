// Cost of one limited run over a bare posix_spawn + wait of the same program, and how soon a
// time-out is enforced after the limit. Prints figures and ratios; asserts nothing.
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/fs.h"
#include "platform/proc.h"

extern char** environ;

// Processor time of this process and its reaped children: far steadier than the wall clock on
// a machine that other work keeps busy.
static double cpu_ms() {
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
}

static double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int main() {
  const std::string dir = plat::temp_dir() + "/tav-bench-exec-" + std::to_string(getpid());
  plat::dir_create(dir);
  const std::string src = std::string(TAVRIN_SOURCE_DIR) + "/tests/fixtures/judge/";
  if (std::system(("gcc -O0 " + src + "hello.c -o " + dir + "/hello.exe && gcc -O0 " + src +
                   "loop.c -o " + dir + "/loop.exe").c_str()) != 0)
    return 1;
  const std::string in = dir + "/in.txt", out = dir + "/out.txt", exe = dir + "/hello.exe";
  plat::file_write(in, "");
  const int runs = 300;

  auto bare = [&] {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    pid_t pid;
    posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, environ);
    int st;
    waitpid(pid, &st, 0);
    posix_spawn_file_actions_destroy(&fa);
  };
  // A single run, started cold, on files kept open as the judge keeps them.
  plat::run_files cold;
  if (!cold.create(dir + "/stdin-cold.txt", dir + "/output-cold.txt")) return 1;
  auto limited = [&] { plat::process_run_limited("\"" + exe + "\"", dir, cold, 1500, false); };
  // A judging's cases: kept files, each next process set up while the current one runs. The
  // time of a case is from the end of the last one to the end of this one.
  auto ahead_rounds = [&](int n) {
    plat::run_files files;
    if (!files.create(dir + "/stdin-ahead.txt", dir + "/output-ahead.txt")) std::exit(1);
    files.expect_runs(uint32_t(n));
    for (int i = 0; i < n; ++i) {
      files.set_input("");
      plat::process_run_limited("\"" + exe + "\"", dir, files, 1500, false);
    }
    files.close();
    plat::file_delete(dir + "/stdin-ahead.txt");
    plat::file_delete(dir + "/output-ahead.txt");
  };

  for (int i = 0; i < 20; ++i) bare(), limited();  // warm caches
  double best_bare = 1e9, best_limited = 1e9, cpu_bare = 1e9, cpu_limited = 1e9, best_ahead = 1e9;
  for (int round = 0; round < 3; ++round) {  // interleaved rounds, best of each
    double t0 = now_ms(), c0 = cpu_ms();
    for (int i = 0; i < runs; ++i) bare();
    double t1 = now_ms(), c1 = cpu_ms();
    for (int i = 0; i < runs; ++i) limited();
    double t2 = now_ms(), c2 = cpu_ms();
    ahead_rounds(runs);
    double t3 = now_ms();
    best_ahead = std::min(best_ahead, (t3 - t2) / runs);
    best_bare = std::min(best_bare, (t1 - t0) / runs);
    best_limited = std::min(best_limited, (t2 - t1) / runs);
    cpu_bare = std::min(cpu_bare, (c1 - c0) / runs);
    cpu_limited = std::min(cpu_limited, (c2 - c1) / runs);
  }
  std::printf("per run: bare posix_spawn+wait %.3f ms, execute %.3f ms, overhead %.3f ms "
              "(goal <= 0.5), ratio %.2fx\n",
              best_bare, best_limited, best_limited - best_bare, best_limited / best_bare);
  std::printf("per case of a judging (next process set up while one runs): %.3f ms, ratio "
              "%.2fx of bare\n", best_ahead, best_ahead / best_bare);
  std::printf("processor time per run (steadier on a busy machine): bare %.3f ms, execute "
              "%.3f ms, overhead %.3f ms\n",
              cpu_bare, cpu_limited, cpu_limited - cpu_bare);

  const uint32_t limit = 200;
  double worst = 0, sum = 0;
  for (int i = 0; i < 5; ++i) {
    double t0 = now_ms();
    plat::process_run_limited("\"" + dir + "/loop.exe\"", dir, cold, limit, false);
    double late = now_ms() - t0 - limit;
    worst = std::max(worst, late);
    sum += late;
  }
  std::printf("time-out at %u ms: killed and reaped on average %.1f ms after the limit, worst "
              "%.1f ms (goal <= 5 on average)\n", limit, sum / 5, worst);
  cold.close();
  plat::dir_delete_tree(dir);
  return 0;
}
