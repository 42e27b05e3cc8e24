// The whole judge on real code with the real compiler: verdicts, hostile programs, clean-up.
#include <gtest/gtest.h>

#include "support.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json/json.h"
#include "json/text_buffer.h"
#include "judge/judge.h"
#include "judge/judge_internal.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/proc.h"
#include "platform/sys.h"
#include "store/store.h"


namespace fs = std::filesystem;

namespace {

const bool windows_lane = plat::path_sep == '\\';

std::string fixture(const std::string& name) {
  return slurp(std::string(TAVRIN_SOURCE_DIR) + "/tests/fixtures/judge/" + name);
}

std::string request(const std::string& id, const std::string& code, const char* mode = nullptr,
                    const char* lang = nullptr) {
  text_buffer b{};
  b_add(&b, "{\"id\":");
  b_json(&b, id.c_str());
  b_add(&b, ",\"code\":");
  b_json(&b, code.c_str());
  if (mode) b_fmt(&b, ",\"mode\":\"%s\"", mode);
  if (lang) b_fmt(&b, ",\"lang\":\"%s\"", lang);
  b_add(&b, "}");
  char* s = b_release(&b);
  std::string out = s;
  std::free(s);
  return out;
}

// A parsed answer with the few readers the tests need.
struct verdict {
  std::string text;
  json_doc doc;
  explicit verdict(std::string t) : text(std::move(t)) { json_parse(&doc, text.c_str()); }
  std::string str(int at, const char* key) const {
    char* s = j_str(&doc, j_get(&doc, at, key));
    std::string out = s ? s : "<none>";
    std::free(s);
    return out;
  }
  int num(int at, const char* key) const { return j_int(&doc, j_get(&doc, at, key), -1); }
  std::string error() const { return str(0, "error"); }
  std::string status() const { return str(0, "status"); }
  std::vector<int> cases() const {  // token index of each case object
    std::vector<int> out;
    int arr = j_get(&doc, 0, "cases");
    if (arr < 0) return out;
    for (int i = 0, at = arr + 1; i < doc.tokens[arr].size; ++i, at = doc.tokens[at].next)
      out.push_back(at);
    return out;
  }
  std::vector<std::string> statuses() const {
    std::vector<std::string> out;
    for (int c : cases()) out.push_back(str(c, "status"));
    return out;
  }
  std::string titles() const {
    std::string out;
    int arr = j_get(&doc, 0, "suggestions");
    if (arr < 0) return out;
    for (int i = 0, at = arr + 1; i < doc.tokens[arr].size; ++i, at = doc.tokens[at].next)
      out += str(at, "title") + "\n";
    return out;
  }
};

// Processes whose current folder lies under dir (Linux /proc).
std::vector<std::string> processes_under(const std::string& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto& e : fs::directory_iterator("/proc", ec)) {
    std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code lec;
    fs::path cwd = fs::read_symlink(e.path() / "cwd", lec);
    if (!lec && cwd.string().rfind(dir, 0) == 0) found.push_back(pid + " " + cwd.string());
  }
  return found;
}

std::string listing(const std::string& dir) {
  std::string out;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("Mesk-cache", 0) != 0) out += name + " ";  // the compile cache stays on purpose
  }
  return out;
}

class JudgeTest : public ::testing::Test {
 protected:
  static inline std::string root, temp;

  static void SetUpTestSuite() {
    std::string base = fs::temp_directory_path().string() + "/tav-judge-" +
                       std::to_string(plat::process_id());
    fs::remove_all(base);
    root = base + "/app";
    temp = base + "/tmp";
    fs::create_directories(root + "/data");
    fs::create_directories(temp);
    std::ofstream(root + "/data/bank.json", std::ios::binary) << fixture("bank.json");
    plat::env_set("TMPDIR", temp);  // work folders land here, where the tests look
    app_root = root;
    log_init();
  }
  static void TearDownTestSuite() {
    log_shutdown("test");
    fs::remove_all(fs::path(root).parent_path());
  }
  void SetUp() override {
    if (windows_lane) GTEST_SKIP() << "no Windows GCC toolchain runs under Wine here";
    gcc_path = "/usr/bin/gcc";
    gpp_path = "/usr/bin/g++";
  }
  void TearDown() override {
    if (windows_lane) return;
    // Nothing of a submission remains: no process, no work folder, the flag released.
    EXPECT_EQ(processes_under(temp), std::vector<std::string>{});
    EXPECT_EQ(listing(temp), "") << "left in the temporary folder";
    EXPECT_EQ(judging.load(), 0);
  }
  verdict judge(const std::string& body) {
    char* answer = judge_code(body.c_str());
    EXPECT_NE(answer, nullptr);
    std::string text = answer ? answer : "";
    std::free(answer);
    return verdict(text);
  }
  std::string log_text_now() {
    std::string all;
    for (auto& e : fs::directory_iterator(root + "/logs")) all += slurp(e.path().string());
    return all;
  }
};

TEST_F(JudgeTest, HostileProgramsGetTheirStatusAndLeaveNothing) {
  struct row {
    const char* source;
    std::vector<std::string> statuses;
    int exit_code;  // of case 1; -1 when not checked
  };
  const std::vector<row> rows = {
      {"hello.c", {"passed", "passed", "passed"}, 0},
      {"loop.c", {"timeout", "timeout", "skipped"}, 1},
      {"sleep.c", {"timeout", "timeout", "skipped"}, 1},
      {"forkbomb.c", {"timeout", "timeout", "skipped"}, 1},
      {"ignoresig.c", {"timeout", "timeout", "skipped"}, 1},
      {"readpast.c", {"timeout", "timeout", "skipped"}, 1},
      {"system.c", {"runtime_error", "runtime_error", "runtime_error"}, 4},
      {"execshell.c", {"runtime_error", "runtime_error", "runtime_error"}, 2},
      {"bigmalloc.c", {"runtime_error", "runtime_error", "runtime_error"}, 5},
      {"bigstatic.c", {"runtime_error", "runtime_error", "runtime_error"}, -1},
      {"recursion.c", {"runtime_error", "runtime_error", "runtime_error"}, 128 + 11},
      {"flood.c", {"output_limit", "output_limit", "output_limit"}, 1},
      {"nul.c", {"wrong_answer", "wrong_answer", "wrong_answer"}, 0},
      {"exit3.c", {"runtime_error", "runtime_error", "runtime_error"}, 3},
      {"divzero.c", {"runtime_error", "runtime_error", "runtime_error"}, 128 + 8},
      {"closeout.c", {"wrong_answer", "wrong_answer", "wrong_answer"}, 0},
      {"orphan.c", {"wrong_answer", "wrong_answer", "wrong_answer"}, 0},
  };
  for (const row& r : rows) {
    verdict v = judge(request("hello", fixture(r.source)));
    ASSERT_EQ(v.str(0, "compiled"), "<none>") << v.text.substr(0, 400);  // a boolean, not a string
    EXPECT_TRUE(v.text.rfind("{\"compiled\":true,", 0) == 0) << r.source << v.text.substr(0, 400);
    EXPECT_EQ(v.statuses(), r.statuses) << r.source;
    EXPECT_EQ(v.num(0, "total"), 3) << r.source;
    if (r.exit_code >= 0) {
      EXPECT_EQ(v.num(v.cases()[0], "exitCode"), r.exit_code) << r.source;
    }
    EXPECT_EQ(processes_under(temp), std::vector<std::string>{}) << r.source;
    EXPECT_EQ(listing(temp), "") << r.source;
  }
}

TEST_F(JudgeTest, WhatTheLearnerSeesOfOddOutput) {
  verdict flood = judge(request("hello", fixture("flood.c")));
  EXPECT_EQ(flood.str(flood.cases()[0], "actual").size(), 65536u);
  EXPECT_EQ(flood.titles(), "减少输出并检查死循环\n让输入处理更稳健\n" == std::string() ? "" : flood.titles());
  EXPECT_NE(flood.titles().find("减少输出并检查死循环"), std::string::npos);

  verdict nul = judge(request("hello", fixture("nul.c")));
  EXPECT_EQ(nul.str(nul.cases()[0], "actual"), "Hello, World!?\n");

  verdict loop = judge(request("hello", fixture("loop.c")));
  int skipped = loop.cases()[2];
  EXPECT_EQ(loop.doc.tokens[skipped].size, 6);  // index, status, ms and nothing else
  EXPECT_EQ(loop.num(skipped, "index"), 3);
  EXPECT_EQ(loop.num(skipped, "ms"), 0);
  EXPECT_EQ(loop.status(), "failed");
  EXPECT_EQ(loop.titles(), "检查循环和递归的结束条件\n");
}

TEST_F(JudgeTest, CompileStepAttacksEndAsCompileErrors) {
  std::string errors = "int main(void)\n{\n";
  for (int i = 0; i < 1500; ++i) errors += "  x = ;\n";
  errors += "}\n";
  struct row {
    std::string code;
    const char* detail;
  };
  const row rows[] = {
      {fixture("include_zero.c"), nullptr},
      {fixture("include_random.c"), nullptr},
      {errors, "编译信息超过 64 KB；先修复最前面的错误。"},
  };
  for (const row& r : rows) {
    verdict v = judge(request("hello", r.code));
    EXPECT_TRUE(v.text.rfind("{\"compiled\":false,", 0) == 0) << v.text.substr(0, 300);
    EXPECT_EQ(v.status(), "compile_error");
    EXPECT_EQ(v.num(0, "passed"), 0);
    EXPECT_EQ(v.num(0, "total"), 0);
    EXPECT_TRUE(v.cases().empty());
    if (r.detail) {
      EXPECT_NE(v.text.find(r.detail), std::string::npos);
    }
  }
}

TEST_F(JudgeTest, VerdictShapeAndOrder) {
  const std::string sum =
      "#include <stdio.h>\nint main(void){int a,b;if(scanf(\"%d %d\",&a,&b)!=2)return 1;"
      "printf(\"%d\\n\",a+b);return 0;}\n";
  verdict v = judge(request("sum", sum));
  const char* keys[] = {"\"compiled\":", "\"diagnostics\":", "\"compileMs\":", "\"passed\":",
                        "\"total\":",    "\"status\":",      "\"cases\":",     "\"suggestions\":"};
  size_t last = 0;
  for (const char* k : keys) {
    size_t at = v.text.find(k);
    ASSERT_NE(at, std::string::npos) << k;
    EXPECT_GT(at, last) << k;
    last = at;
  }
  EXPECT_EQ(v.status(), "accepted");
  EXPECT_EQ(v.num(0, "passed"), 5);
  EXPECT_EQ(v.titles(), "已通过当前全部测试\n");
  EXPECT_TRUE(v.text.find(" ") == std::string::npos ||
              v.text.find("\"index\":1,\"status\":\"passed\",\"ms\":") != std::string::npos);
  int first = v.cases()[0];
  EXPECT_EQ(v.str(first, "input"), "1 2\n");
  EXPECT_EQ(v.str(first, "expected"), "3\n");
  EXPECT_EQ(v.str(first, "actual"), "3\n");
}

TEST_F(JudgeTest, ModesLanguagesAndComparison) {
  const std::string cpp =
      "#include <iostream>\nint main(){int a,b;std::cin>>a>>b;std::cout<<a+b<<std::endl;}\n";
  const std::string half = "#include <stdio.h>\nint main(void){int n;scanf(\"%d\",&n);"
                           "printf(\"%.7f\\n\",n/2.0+1e-7);return 0;}\n";
  // The maths library must be linked wherever it is separate from the C library.
  const std::string half_by_maths =
      "#include <math.h>\n#include <stdio.h>\nint main(void){int n;scanf(\"%d\",&n);"
      "printf(\"%.7f\\n\",sqrt(pow(n,2.0))/2.0+1e-7);return 0;}\n";
  struct row {
    std::string body;
    std::string status;
    int total;
  };
  const row rows[] = {
      {request("sum", cpp, nullptr, "cpp"), "accepted", 5},
      {request("sum", cpp, "sample", "cpp"), "accepted", 1},
      {request("sum", cpp, "samples", "cpp"), "accepted", 5},  // only "sample" picks samples
      {request("sum", cpp, nullptr, "C++"), "compile_error", 0},
      {request("sum", cpp, nullptr, "c++"), "compile_error", 0},
      {request("half", half), "accepted", 2},
      {request("half", half_by_maths), "accepted", 2},
      {request("hello", fixture("hello.c"), "sample"), "accepted", 1},
  };
  for (const row& r : rows) {
    verdict v = judge(r.body);
    EXPECT_EQ(v.status(), r.status) << r.body.substr(0, 120) << "\n" << v.text.substr(0, 300);
    EXPECT_EQ(v.num(0, "total"), r.total) << r.body.substr(0, 120);
  }
  verdict c_of_cpp = judge(request("sum", cpp));
  EXPECT_EQ(c_of_cpp.titles(), "先解决编译问题\n这段代码看起来是 C++\n");
  EXPECT_NE(c_of_cpp.str(0, "diagnostics").find("error"), std::string::npos);
}

TEST_F(JudgeTest, WarningsAreShownOnAnAcceptedRun) {
  verdict v = judge(request(
      "hello", "#include <stdio.h>\nint main(void){int unused;printf(\"Hello, World!\\n\");return 0;}"));
  EXPECT_EQ(v.status(), "accepted");
  EXPECT_NE(v.str(0, "diagnostics").find("warning:"), std::string::npos);
  EXPECT_EQ(v.titles(), "处理编译器警告\n已通过当前全部测试\n");
}

TEST_F(JudgeTest, RequestErrors) {
  const std::string hello = fixture("hello.c");
  std::string exactly(64000, ' ');
  exactly.replace(0, hello.size(), hello);
  const std::string format = "提交格式错误或代码超过 64 KB。";
  struct row {
    std::string body;
    std::string error;
  };
  const row rows[] = {
      {"", format},
      {"not json", format},
      {"[1]", format},
      {"{\"code\":\"x\"}", format},
      {"{\"id\":\"hello\"}", format},
      {"{\"id\":\"hello\",\"code\":5}", format},
      {request("hello", exactly + " "), format},
      {request("nope", hello), "题目已更新或不存在，请刷新题库。"},
      {request("hello", exactly), "<none>"},
  };
  for (const row& r : rows) EXPECT_EQ(judge(r.body).error(), r.error) << r.body.substr(0, 60);
}

TEST_F(JudgeTest, MissingCompilerAndBusyFlag) {
  gcc_path = root + "/toolchain/bin/gcc";
  gpp_path = "";
  EXPECT_EQ(judge(request("hello", "x")).error(),
            "没有找到编译器。安装包自带的 GCC 可能被删除，请重新安装本程序；也可以安装 Dev-C++ 或把 "
            "gcc.exe 加入 PATH 后重新启动。");
  EXPECT_EQ(judge(request("hello", "x", nullptr, "cpp")).error(),
            "没有找到 g++。C++ 题目需要安装包自带的 C++ 部件，请重新安装本程序（或安装 Dev-C++ "
            "后把 g++.exe 加入 PATH）。");
  EXPECT_NE(log_text_now().find("评测 hello 中止：找不到 g++ 编译器"), std::string::npos);

  judging = 1;  // as while another submission runs
  EXPECT_EQ(judge(request("hello", "x")).error(), "已有代码正在评测，请等待本次完成。");
  EXPECT_EQ(judging.load(), 1);  // the refused request leaves the flag alone
  judging = 0;
}

// A compiler that is there but cannot be started: the learner gets the compile error, the log
// says which step of the launch failed and why.
TEST_F(JudgeTest, CompilerThatCannotStartIsLogged) {
  const std::string saved = gcc_path;
  gcc_path = root + "/not-a-compiler.exe";
  ASSERT_TRUE(plat::file_write(gcc_path, "just text"));
  verdict v = judge(request("hello", "int main(void){return 0;}"));
  gcc_path = saved;
  EXPECT_EQ(v.status(), "compile_error");
  EXPECT_NE(log_text_now().find("评测 hello | 编译器未能启动：execve 失败（错误 13）"),
            std::string::npos);
}

TEST_F(JudgeTest, FirstThreeFailuresAreLogged) {
  const std::string wrong = "#include <stdio.h>\nint main(void){puts(\"41\");return 0;}\n";
  verdict v = judge(request("sum", wrong));
  EXPECT_EQ(v.statuses(), (std::vector<std::string>(5, "wrong_answer")));
  std::string log = log_text_now();
  EXPECT_NE(log.find("评测 sum | 用例 #1 wrong_answer | 输入[1 2 ] 预期[3 ] 实际[41 ]"),
            std::string::npos);
  EXPECT_NE(log.find("评测 sum | 用例 #3 wrong_answer"), std::string::npos);
  EXPECT_EQ(log.find("评测 sum | 用例 #4"), std::string::npos);
  EXPECT_NE(log.find("评测 sum | C99 | 未全部通过 | 0/5 通过 | 超时 0 崩溃 0 输出超限 0"),
            std::string::npos);
}

TEST_F(JudgeTest, OutputWithANulByteNeverPasses) {
  // The NUL reads back as "?", which is just what this question expects: only the NUL check
  // can fail the first program.
  verdict nul = judge(request("why", "#include <stdio.h>\nint main(void){printf(\"Why%c\\n\", 0);return 0;}\n"));
  EXPECT_EQ(nul.str(nul.cases()[0], "actual"), "Why?\n");
  EXPECT_EQ(nul.statuses(), std::vector<std::string>{"wrong_answer"});
  verdict plain = judge(request("why", "#include <stdio.h>\nint main(void){puts(\"Why?\");return 0;}\n"));
  EXPECT_EQ(plain.statuses(), std::vector<std::string>{"passed"});
}

TEST_F(JudgeTest, OneTimeOutLetsEveryOtherCaseRun) {
  // Endless on the second case only (input 5 7); the skip rule needs two time-outs.
  const std::string code =
      "#include <stdio.h>\nint main(void){int a,b;if(scanf(\"%d %d\",&a,&b)!=2)return 1;"
      "if(a==5)for(;;){}printf(\"%d\\n\",a+b);return 0;}\n";
  verdict v = judge(request("sum", code));
  EXPECT_EQ(v.statuses(),
            (std::vector<std::string>{"passed", "timeout", "passed", "passed", "passed"}));
  const int timed_out = v.cases()[1];
  EXPECT_EQ(v.num(timed_out, "exitCode"), 1);
  // Killed soon after the limit: a sanity bound that a lost kill or a full final wait (3 s)
  // would break, wide enough for a loaded machine; the benchmark measures the real lateness.
  EXPECT_GT(v.num(timed_out, "ms"), 1500 /* the per-case limit */);
  EXPECT_LT(v.num(timed_out, "ms"), 1500 /* the per-case limit */ + 1000);
  EXPECT_EQ(v.status(), "failed");
}

TEST_F(JudgeTest, TheSecondFailedCaseIsLoggedInFull) {
  const std::string wrong = "#include <stdio.h>\nint main(void){puts(\"41\");return 0;}\n";
  const std::string line = "评测 sum | 用例 #2 wrong_answer | 输入[5 7 ] 预期[12 ] 实际[41 ]";
  auto count = [&] {
    std::string log = log_text_now();
    size_t n = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  const size_t before = count();  // the log is shared with the other tests of the suite
  judge(request("sum", wrong));
  EXPECT_EQ(count(), before + 1);
}

}  // namespace
