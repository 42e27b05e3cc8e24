// Limited child processes: real programs built with a real compiler, run under the limits.
#include <gtest/gtest.h>

#include "support.h"
#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include "platform/fs.h"
#include "platform/proc.h"
#include "platform/sys.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;
using plat::run_result;

namespace {

const bool windows_lane = plat::path_sep == '\\';

std::string fixture_path(const std::string& name) {
  std::string p = std::string(TAVRIN_SOURCE_DIR) + "/tests/fixtures/judge/" + name;
  return windows_lane ? "Z:" + p : p;  // the source tree as Wine sees it
}

// Processes whose current folder is dir (Linux); empty elsewhere.
std::vector<std::string> processes_in(const std::string& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  if (!fs::exists("/proc/self", ec)) return found;
  for (auto& e : fs::directory_iterator("/proc", ec)) {
    std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code lec;
    fs::path cwd = fs::read_symlink(e.path() / "cwd", lec);
    if (!lec && cwd.string().rfind(dir, 0) == 0) found.push_back(pid);
  }
  return found;
}

#ifndef _WIN32
// Children of this process's threads (readable even where our memory is private).
std::vector<std::string> our_children() {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto& t : fs::directory_iterator("/proc/self/task", ec)) {
    std::ifstream f(t.path() / "children");
    std::string pid;
    while (f >> pid) found.push_back(pid);
  }
  return found;
}
#endif

// Builds helper h in the helper folder; 0 when it was built.
int build_helper(const std::string& leaf, const std::string& h) {
#ifdef _WIN32
  // Under Wine the cross compiler is a Unix program: it cannot be suspended or put in a job,
  // so it is started plainly, through sh for a normal argv[0] and folder.
  std::wstring line = L"\"Z:\\bin\\sh\" -c \"cd /tmp/" + std::wstring(leaf.begin(), leaf.end()) +
                      L" && x86_64-w64-mingw32-gcc-posix -O0 " + std::wstring(h.begin(), h.end()) +
                      L".c -o " + std::wstring(h.begin(), h.end()) + L".exe; echo $? > " +
                      std::wstring(h.begin(), h.end()) + L".done\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // Wine cannot wait on a Unix process: the script leaves a mark when the compiler is done.
  const std::string done = "Z:\\tmp\\" + leaf + "\\" + h + ".done";
  for (int i = 0; i < 600 && !plat::path_exists(done); ++i) Sleep(100);
  Sleep(50);
  return plat::path_exists("Z:\\tmp\\" + leaf + "\\" + h + ".exe") ? 0 : 1;
#else
  (void)leaf;
  std::string dir = plat::temp_dir() + "/" + leaf;
  return std::system(("cd '" + dir + "' && gcc -O0 -pthread " + h + ".c -o " + h + ".exe > " + h +
                      ".log 2>&1").c_str());
#endif
}

class ProcTest : public ::testing::Test {
 protected:
  static inline std::string bin;  // built helpers, shared by all tests
  std::string dir;
  plat::run_files kept;  // the runs' standard input and output, as the judge keeps them

  static void SetUpTestSuite() {
    // On Wine the folder lies where the Unix compiler can name it too.
    const std::string leaf = "tav-proc-bin-" + std::to_string(plat::process_id());
    bin = windows_lane ? "Z:\\tmp\\" + leaf : plat::temp_dir() + "/" + leaf;
    fs::remove_all(bin);
    ASSERT_TRUE(plat::dir_create(bin));
    std::vector<std::string> helpers = {"hello", "echo", "loop", "exit3", "segv", "divzero",
                                        "flood", "print_n", "args", "ignoresig", "bigmalloc",
                                        "tempvars"};
    if (!windows_lane) helpers.push_back("escape");
    for (const std::string& h : helpers) {
      ASSERT_TRUE(plat::file_write(bin + plat::path_sep + h + ".c", slurp(fixture_path(h + ".c"))));
      ASSERT_EQ(build_helper(leaf, h), 0) << h << ": " << slurp(bin + plat::path_sep + h + ".log");
    }
  }
  static void TearDownTestSuite() { plat::dir_delete_tree(bin); }

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = plat::temp_dir() + plat::path_sep + "tav-proc-" + info->name() + "-" +
          std::to_string(plat::process_id());
    fs::remove_all(dir);
    ASSERT_TRUE(plat::dir_create(dir));
    ASSERT_TRUE(kept.create(input(), output()));
  }
  void TearDown() override {
    kept.close();
    EXPECT_EQ(processes_in(dir), std::vector<std::string>{}) << "processes left behind";
    plat::dir_delete_tree(dir);
  }
  std::string input() const { return dir + plat::path_sep + "in.txt"; }
  std::string output() const { return dir + plat::path_sep + "out.txt"; }
  // A program runs from its work folder, as the judge's do (outside it, the sandbox lets a
  // program read only the system's folders).
  std::string helper(const std::string& name) const {
    const std::string copy = dir + plat::path_sep + name + ".exe";
    if (!plat::path_exists(copy))
      fs::copy_file(fs::u8path(bin + plat::path_sep + name + ".exe"), fs::u8path(copy));
    return "\"" + copy + "\"";
  }
  run_result run(const std::string& line, uint32_t limit = 5000, bool compile = false) {
    return plat::process_run_limited(line, dir, kept, limit, compile);
  }
  std::string output_text() const { return kept.output_head(16u << 20).value_or("<unreadable>"); }
};

TEST(CommandLineSplit, FollowsTheWindowsRuntimeRules) {
  struct row {
    const char* line;
    std::vector<std::string> args;
  };
  const row rows[] = {
      {"", {}},
      {"   ", {}},
      {"prog", {"prog"}},
      {"\"C:\\Program Files\\gcc.exe\" -c x.c", {"C:\\Program Files\\gcc.exe", "-c", "x.c"}},
      {"\"/tmp/a b/solution.exe\"", {"/tmp/a b/solution.exe"}},
      {"p a\tb  c", {"p", "a", "b", "c"}},
      {"p \"a b\" c\"d e\"f", {"p", "a b", "cd ef"}},
      {"p a\\\\b", {"p", "a\\\\b"}},          // backslashes without a quote stay
      {"p a\\\"b", {"p", "a\"b"}},            // odd run: literal quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},    // even run: half, and the quote groups
      {"p \"\"", {"p", ""}},                  // an empty argument
      {"p \"a\"\"b\"", {"p", "a\"b"}},        // "" inside quotes
      {"\"unclosed prog", {"unclosed prog"}},
      {"p \"open to the end", {"p", "open to the end"}},
  };
  for (const row& r : rows) EXPECT_EQ(plat::command_line_split(r.line), r.args) << r.line;
}

TEST_F(ProcTest, ExitCodesAreReported) {
  struct row {
    const char* program;
    uint32_t linux_code, windows_code;
  };
  const row rows[] = {
      {"hello", 0, 0},
      {"exit3", 3, 3},
      {"segv", 128 + 11, 0xC0000005u},
      {"divzero", 128 + 8, 0xC0000094u},
  };
  for (const row& r : rows) {
    run_result res = run(helper(r.program));
    EXPECT_EQ(res.started, 1u) << r.program;
    EXPECT_EQ(res.timed_out, 0u) << r.program;
    EXPECT_EQ(res.output_limited, 0u) << r.program;
    EXPECT_EQ(res.exit_code, windows_lane ? r.windows_code : r.linux_code) << r.program;
    // A crash prints nothing and ends with its code alone, as on Windows with crash boxes off:
    // no debugger's report (Wine's, should the test prefix start one) becomes its output.
    if (r.linux_code > 128) {
      EXPECT_EQ(output_text(), "") << r.program;
    }
  }
}

TEST_F(ProcTest, InputAndBothOutputsAreWired) {
  ASSERT_TRUE(kept.set_input("abc"));
  run_result r = run(helper("echo"));
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(output_text().size(), 6u);  // stdout and stderr, interleaved, both kept
  EXPECT_EQ(output_text().find_first_not_of("abc"), std::string::npos);
}

TEST_F(ProcTest, ArgumentsArriveAsSplit) {
  run_result r = run(helper("args") + " one \"two three\" a\\\"b");
  EXPECT_EQ(r.exit_code, 0u);
  std::string text = output_text();
  std::erase(text, '\r');  // Windows programs print text-mode line ends
  EXPECT_EQ(text, "[one]\n[two three]\n[a\"b]\n");
}

TEST_F(ProcTest, OutputLimitIsOneByteOver) {
  struct row {
    const char* args;
    uint32_t limited, exit_code;
  };
  const row rows[] = {
      {" 65536 0", 0, 0},  // exactly the limit is fine
      {" 65537 5", 1, 1},  // one over: flagged and the limit's code, however soon it ended
      {" 70000 0", 1, 1},
      {" 0 0", 0, 0},
  };
  // Each row a few times: whether the size check sees the flood before or after the program's
  // own end is timing, and the result must not depend on it.
  for (const row& r : rows) {
    for (int round = 0; round < 5; ++round) {
      run_result res = run(helper("print_n") + r.args);
      EXPECT_EQ(res.output_limited, r.limited) << r.args;
      EXPECT_EQ(res.exit_code, r.exit_code) << r.args;
      EXPECT_EQ(res.timed_out, 0u) << r.args;
    }
  }
}

TEST_F(ProcTest, FloodIsStoppedAndKilled) {
  run_result r = run(helper("flood"));
  EXPECT_EQ(r.started, 1u);
  EXPECT_EQ(r.output_limited, 1u);
  EXPECT_EQ(r.timed_out, 0u);
  EXPECT_EQ(r.exit_code, 1u);
  EXPECT_GT(output_text().size(), plat::run_output_limit);
}

TEST_F(ProcTest, EndlessProgramsAreKilledAfterTheLimit) {
  for (const char* program : {"loop", "ignoresig"}) {
    run_result r = run(helper(program), 300);
    EXPECT_EQ(r.started, 1u) << program;
    EXPECT_EQ(r.timed_out, 1u) << program;
    EXPECT_EQ(r.exit_code, 1u) << program;
    EXPECT_GT(r.elapsed_ms, 300u) << program;
  }
}

TEST_F(ProcTest, LaunchFailuresGiveTheZeroResult) {
  run_result r = run("\"" + dir + plat::path_sep + "no-such-program.exe\"");
  EXPECT_EQ(r.started + r.exit_code + r.elapsed_ms + r.timed_out + r.output_limited, 0u);
  EXPECT_TRUE(plat::path_exists(output()));
  EXPECT_EQ(output_text(), "");

  plat::run_files unmade;  // no files to run on
  r = plat::process_run_limited(helper("hello"), dir, unmade, 5000, false);
  EXPECT_EQ(r.started, 0u);
  r = run("");
  EXPECT_EQ(r.started, 0u);
}

// A launch that fails says which step failed and the system's error, for the log.
TEST_F(ProcTest, LaunchFailuresNameTheirStep) {
  const std::string not_a_program = dir + plat::path_sep + "not-a-program.exe";
  ASSERT_TRUE(plat::file_write(not_a_program, "just text"));
  struct row {
    std::string line;
    const char* linux_step;
    uint32_t linux_error;
    const char* windows_step;  // nullptr: what Wine answers is not checked
  };
  const row rows[] = {
      {"\"" + dir + plat::path_sep + "no-such-program.exe\"", "execve", 2 /* ENOENT */, "CreateProcess"},
      {"\"" + not_a_program + "\"", "execve", 13 /* EACCES: not executable */, "CreateProcess"},
      {"", "command line", 22 /* EINVAL */, nullptr},
  };
  for (const row& w : rows) {
    const run_result r = run(w.line);
    EXPECT_EQ(r.started, 0u) << w.line;
    if (!windows_lane) {
      EXPECT_STREQ(r.failed_step, w.linux_step) << w.line;
      EXPECT_EQ(r.failed_error, w.linux_error) << w.line;
    } else if (w.windows_step) {
      EXPECT_STREQ(r.failed_step, w.windows_step) << w.line;
      EXPECT_NE(r.failed_error, 0u) << w.line;
    }
  }
  plat::run_files unmade;
  const run_result r = plat::process_run_limited(helper("hello"), dir, unmade, 5000, false);
  EXPECT_STREQ(r.failed_step, "run files");
  // A run that starts carries no failure.
  const run_result ok = run(helper("hello"));
  EXPECT_EQ(ok.started, 1u);
  EXPECT_EQ(ok.failed_step, nullptr);
  EXPECT_EQ(ok.failed_error, 0u);
}

TEST_F(ProcTest, RunModeRefusesMemoryOverTheLimit) {
  if (windows_lane) GTEST_SKIP() << "Wine does not enforce job memory limits";
  run_result r = run(helper("bigmalloc"));
  EXPECT_EQ(r.exit_code, 5u);  // the allocation itself failed
  r = run(helper("bigmalloc"), 60000, true);  // the compile mode admits 512 MiB, still not 1 GiB
  EXPECT_EQ(r.exit_code, 5u);
}

// A compiler killed mid-way leaves scratch files in its temporary folder: in compile mode that
// folder is the work folder, which the judge removes; a learner's program sees ours unchanged.
TEST_F(ProcTest, CompileModeKeepsScratchFilesInTheWorkFolder) {
  const std::vector<std::string> names =
      windows_lane ? std::vector<std::string>{"TMP", "TEMP"} : std::vector<std::string>{"TMPDIR"};
  for (bool compile : {true, false}) {
    run_result r = run(helper("tempvars"), 5000, compile);
    ASSERT_EQ(r.exit_code, 0u);
    const std::string out = output_text();
    for (const std::string& name : names) {
      // Linux names it from inside (".", where the compile starts): a compile under a user id
      // of its own may not be able to walk the path to it.
      const std::string inside = windows_lane ? dir : ".";
      const std::string want = name + "=" + (compile ? inside : plat::env_get(name).value_or(""));
      EXPECT_NE(out.find(want + (windows_lane ? "\r\n" : "\n")), std::string::npos)
          << (compile ? "compile" : "run") << " mode:\n" << out;
    }
  }
}

TEST_F(ProcTest, RunModeConfinesTheProgram) {
  if (windows_lane) GTEST_SKIP() << "Wine does not enforce job process limits";
  run_result r = run(helper("escape"));
  EXPECT_EQ(r.exit_code, 128u + 15u);  // raise(SIGTERM) to itself still works
  std::map<std::string, int> answer;
  std::istringstream lines(output_text());
  std::string key;
  int value;
  while (lines >> key >> value) answer[key] = value;
  // Writing outside the work folder is refused where the kernel has Landlock; sockets are
  // refused by the seccomp filter everywhere.
  // The kernel's Landlock version, asked here: the program itself is refused the question.
#ifdef SYS_landlock_create_ruleset
  const long asked = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1u);
  const int abi = asked > 0 ? int(asked) : 0;
#else
  const int abi = 0;
#endif
  answer.erase("landlock_abi");
  std::map<std::string, int> expected = {
      {"thread", 0},      {"fork", 1 /* EPERM */}, {"vfork", 1}, {"kill_all", 1},
      {"kill_parent", 1}, {"kill_self", 0},        {"setsid", 1}, {"ptrace", 1},
      {"unshare", 1},     {"io_uring", 1},
      {"write_inside", 0}, {"write_dev_null", 0},
      {"write_outside", abi >= 1 ? 13 /* EACCES */ : 0},
      {"tcp_connect", 1 /* EPERM: no sockets at all */},
  };
  EXPECT_EQ(answer, expected) << "Landlock version " << abi;
}

TEST_F(ProcTest, KeptRunFilesAreNeverReopenedByName) {
  const std::string in = dir + plat::path_sep + "stdin.txt", out = dir + plat::path_sep + "output.txt";
  const std::string bystander = dir + plat::path_sep + "bystander.txt";
  ASSERT_TRUE(plat::file_write(bystander, "untouched"));
  plat::run_files files;
  ASSERT_TRUE(files.create(in, out));
  EXPECT_FALSE(plat::run_files().create(in, dir + plat::path_sep + "other.txt"));  // exists
  ASSERT_TRUE(files.set_input("first\n"));
  run_result r = plat::process_run_limited(helper("echo"), dir, files, 5000, false);
  EXPECT_EQ(r.started, 1u);
  // (the helper writes in text mode: CR LF on Windows)
  auto read_back = [&] {
    std::string text = files.output_head(100).value_or("<unreadable>");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  };
  EXPECT_EQ(read_back(), "first\nfirst\n");
  // Someone replaces both names: a link to another file, a new file; the next run and its
  // read-back still use the judge's own files, and the other files stay as they were.
  const bool renamed = std::rename(out.c_str(), (dir + plat::path_sep + "moved.txt").c_str()) == 0;
#ifdef _WIN32
  EXPECT_FALSE(renamed) << "held without delete sharing, the file cannot be moved";
#else
  EXPECT_TRUE(renamed);
  ASSERT_EQ(symlink(bystander.c_str(), out.c_str()), 0);
  ASSERT_TRUE(std::remove(in.c_str()) == 0 && mkfifo(in.c_str(), 0600) == 0);
#endif
  ASSERT_TRUE(files.set_input("second\n"));
  r = plat::process_run_limited(helper("echo"), dir, files, 5000, false);
  EXPECT_EQ(r.started, 1u);
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(read_back(), "second\nsecond\n");
  EXPECT_EQ(slurp(bystander), "untouched");
}

// A judging's cases: each next process is set up while the current one runs. Every case still
// reads its own input and is judged on its own limits; a case that differs from the one set
// up (another program or limit) gets a process of its own; nothing waits on after the files
// are closed, and a waiting process holds none of the judge's descriptors.
TEST_F(ProcTest, RunsSetUpAheadEachKeepTheirOwnCase) {
  const std::string in = dir + plat::path_sep + "stdin.txt", out = dir + plat::path_sep + "output.txt";
  plat::run_files files;
  ASSERT_TRUE(files.create(in, out));
  struct row {
    const char* program;
    const char* input;
    uint32_t limit;
    const char* output;  // without CR
    uint32_t exit_code, timed_out;
  };
  const row rows[] = {
      {"echo", "first\n", 5000, "first\nfirst\n", 0, 0},
      {"echo", "second\n", 5000, "second\nsecond\n", 0, 0},
      {"exit3", "", 5000, "", 3, 0},                   // another program than the one set up
      {"loop", "", 300, "", plat::run_killed_exit_code, 1},  // another limit
      {"loop", "", 300, "", plat::run_killed_exit_code, 1},
      {"echo", "last\n", 5000, "last\nlast\n", 0, 0},
  };
  files.expect_runs(uint32_t(std::size(rows)) + 1);  // one more than made: a process waits at the end
  for (const row& r : rows) {
    ASSERT_TRUE(files.set_input(r.input));
    run_result res = plat::process_run_limited(helper(r.program), dir, files, r.limit, false);
    std::string text = files.output_head(100).value_or("<unreadable>");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    EXPECT_EQ(res.started, 1u) << r.program << " " << r.input;
    EXPECT_EQ(text, r.output) << r.program << " " << r.input;
    EXPECT_EQ(res.exit_code, r.exit_code) << r.program << " " << r.input;
    EXPECT_EQ(res.timed_out, r.timed_out) << r.program << " " << r.input;
    if (r.timed_out) {
      EXPECT_GE(res.elapsed_ms, r.limit);
    }
  }
#ifndef _WIN32
  // The next process is set up in the work folder and waits there for a run that never comes.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);  // made before it: a copy of our table would hold it
  files.expect_runs(2);  // this run, and one it sets up after the pipe exists
  ASSERT_TRUE(files.set_input("x"));
  EXPECT_EQ(plat::process_run_limited(helper("echo"), dir, files, 5000, false).exit_code, 0u);
  const uint32_t t0 = plat::tick_ms();
  while (our_children().empty() && plat::tick_ms() - t0 < 20000) usleep(2000);
  EXPECT_EQ(our_children().size(), 1u) << "the next run's process waits, set up";
  close(pipe_fds[1]);
  pollfd p{pipe_fds[0], POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 20000), 1);
  char c;
  EXPECT_EQ(read(pipe_fds[0], &c, 1), 0) << "the waiting process holds no copy of our descriptors";
  close(pipe_fds[0]);
#endif
  files.close();
#ifndef _WIN32
  EXPECT_EQ(our_children(), std::vector<std::string>{}) << "the waiting process was sent away";
#endif
}

TEST_F(ProcTest, CompileModeLeavesNoHelperBehind) {
  if (windows_lane) GTEST_SKIP() << "Wine does not enforce job process limits";
  struct row {
    const char* script;
    uint32_t limit, timed_out;
  };
  const row rows[] = {
      {"sleep 100 & echo started", 5000, 0},                 // background helper, parent ends
      {"setsid sleep 100 & sleep 0.3; echo started", 5000, 0},  // tries to leave the group
      {"sleep 100; echo never", 300, 1},                     // killed on time-out
  };
  for (const row& r : rows) {
    run_result res = run(std::string("\"/bin/sh\" -c \"") + r.script + "\"", r.limit, true);
    EXPECT_EQ(res.started, 1u) << r.script;
    EXPECT_EQ(res.timed_out, r.timed_out) << r.script;
    EXPECT_EQ(processes_in(dir), std::vector<std::string>{}) << r.script;
  }
}

}  // namespace
