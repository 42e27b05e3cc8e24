// Output comparison, comment blanking, advice rules and the small text helpers of the judge.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "json/json.h"
#include "judge/judge_internal.h"
#include "platform/fs.h"
#include "platform/sys.h"

namespace {

bool read_text(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

std::string take(char* p) {
  std::string s = p ? p : "";
  std::free(p);
  return s;
}

// The table is shared with the page's tests: one meaning of "equal" on both sides.
TEST(OutputsMatch, TokensAndNumbers) {
  std::string text;
  ASSERT_TRUE(read_text(std::string(TAVRIN_SOURCE_DIR) + "/tests/fixtures/equality.json", &text));
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, text.c_str()), 1);
  const int list = j_get(&doc, 0, "cases");
  ASSERT_GE(list, 0);
  ASSERT_EQ(doc.tokens[list].type, 'a');
  int row = list + 1;
  for (int k = 0; k < doc.tokens[list].size; ++k, row = doc.tokens[row].next) {
    const std::string actual = take(j_str(&doc, j_get(&doc, row, "actual")));
    const std::string expected = take(j_str(&doc, j_get(&doc, row, "expected")));
    const std::string tokens = take(j_raw(&doc, j_get(&doc, row, "tokens")));
    const std::string floats = take(j_raw(&doc, j_get(&doc, row, "float")));
    ASSERT_TRUE((tokens == "true" || tokens == "false") && (floats == "true" || floats == "false")) << "case " << k;
    EXPECT_EQ(outputs_match(actual.c_str(), expected.c_str(), false), tokens == "true" ? 1 : 0) << actual << " | " << expected;
    EXPECT_EQ(outputs_match(actual.c_str(), expected.c_str(), true), floats == "true" ? 1 : 0) << actual << " | " << expected;
  }
}

TEST(WithoutComments, BlanksCommentsOnly) {
  struct row {
    const char* code;
    const char* plain;
  };
  const row rows[] = {
      {"a/*x*/b", "a     b"},
      {"// c\nx", "    \nx"},
      {"s = \"//\"; t", "s = \"//\"; t"},
      {"c = '\"'; /* q */", "c = '\"';        "},
      {"/*/ x */y", "        y"},
      {"/* a\r\nb */", "     \n    "},  // CR blanked, LF kept
      {"/* open\nend", "       \n   "},
      {"\"open /* str", "\"open /* str"},
      {"'\\'' // x", "'\\''     "},
      {"\"a\\\"b\" /**/", "\"a\\\"b\"     "},
      {"// line \\\nnext", "         \nnext"},  // a backslash does not continue the comment
      {"x\\", "x\\"},
      {"\"\\", "\"\\"},
      {"", ""},
  };
  for (const row& r : rows) EXPECT_EQ(take(without_comments(r.code)), r.plain) << r.code;
}

TEST(LogText, ExcerptsOneLine) {
  struct row {
    std::string text;
    size_t size;
    std::string excerpt;
  };
  const row rows[] = {
      {"1\t2\r\n3", 180, "1 2  3"},
      {"x\x01y\x7f", 180, "x.y."},
      {std::string(500, 'a'), 180, std::string(179, 'a')},
      {"ab\xe4\xb8\xad", 180, "ab"},
      {"\xe4\xb8\xad\xe6\x96\x87", 180, ""},
      {"abcdef", 4, "abc"},
      {"abc", 1, ""},
      {"", 180, ""},
  };
  for (const row& r : rows) {
    std::vector<char> buf(r.size + 1, '#');
    log_text(buf.data(), r.size, r.text.c_str());
    EXPECT_EQ(std::string(buf.data()), r.excerpt) << r.text;
  }
  char buf[8];
  log_text(buf, sizeof buf, nullptr);
  EXPECT_STREQ(buf, "");
}

class CaptureTest : public ::testing::Test {
 protected:
  std::string path;
  void SetUp() override {
    path = plat::temp_dir() + plat::path_sep + "tav-capture-" +
           std::to_string(plat::process_id()) + ".txt";
  }
  void TearDown() override { plat::file_delete(path); }
  std::string cap(const std::string& bytes, int* nul) {
    EXPECT_TRUE(plat::file_write(path, bytes));
    return take(capture(path, nul));
  }
};

TEST_F(CaptureTest, ReadsBackUtf8) {
  struct row {
    std::string bytes;
    std::string text;
    int nul;
  };
  const std::string zhong = "\xe4\xb8\xad";  // one Chinese character in UTF-8
  const row rows[] = {
      {"", "", 0},
      {std::string("a\0b", 3), "a?b", 1},
      {"plain\n", "plain\n", 0},
      {zhong, zhong, 0},
      {std::string(65536, 'x'), std::string(65536, 'x'), 0},
      {std::string(65537, 'x'), std::string(65536, 'x'), 0},
      // The cap cuts the last character: it is dropped, the rest stays as it was.
      {std::string(65535, 'x') + zhong, std::string(65535, 'x'), 0},
  };
  for (const row& r : rows) {
    int nul = 7;
    EXPECT_EQ(cap(r.bytes, &nul), r.text) << r.bytes.size();
    EXPECT_EQ(nul, r.nul) << r.bytes.size();
  }
  // The same character as a Chinese console prints it. On Windows the fallback is the ANSI
  // code page, which is 936 only on a Chinese system.
  if (plat::path_sep == '/') {
    EXPECT_EQ(cap("\xd6\xd0", nullptr), zhong);
  }
  EXPECT_EQ(cap("x", nullptr), "x");
  plat::file_delete(path);
  EXPECT_EQ(take(capture(path, nullptr)), "");
}

TEST_F(CaptureTest, FileWriteKeepsBytes) {
  ASSERT_EQ(file_write(path, "a\r\nb\n"), 1);
  EXPECT_EQ(plat::file_read_all(path, 100), std::optional<std::string>("a\r\nb\n"));
  ASSERT_EQ(file_write(path, ""), 1);
  EXPECT_EQ(plat::file_read_all(path, 100), std::optional<std::string>(""));
  EXPECT_EQ(file_write(path + plat::path_sep + "x", "a"), 0);
}

// ---- advice ----

struct advice_list {
  text_buffer b{};
  int count = 0;
  ~advice_list() { b_free(&b); }
  std::string titles() const {  // the titles in order, one per line
    std::string all = b.data ? b.data : "", out;
    for (size_t at = all.find("\"title\":\""); at != std::string::npos;
         at = all.find("\"title\":\"", at + 1)) {
      size_t start = at + 9;
      out += all.substr(start, all.find('"', start) - start) + "\n";
    }
    return out;
  }
};

TEST(Advice, ObjectsInKeyOrder) {
  advice_list l;
  advice(&l.b, &l.count, "tip", "T\"1", "d/");
  advice(&l.b, &l.count, "warning", "T2", "d2");
  EXPECT_EQ(std::string(l.b.data),
            "{\"level\":\"tip\",\"title\":\"T\\\"1\",\"detail\":\"d/\"},"
            "{\"level\":\"warning\",\"title\":\"T2\",\"detail\":\"d2\"}");
  EXPECT_EQ(l.count, 2);
}

TEST(Advice, CompileFailureRules) {
  struct row {
    bool cpp;
    run_result r;
    const char* code;
    const char* detail_part;
    bool cpp_tip;
  };
  const char* iostream = "#include <iostream>\nint main(){}";
  const row rows[] = {
      {false, {0, 0, 0, 0, 0}, "int main(){}", "无法启动编译器", false},
      {false, {1, 0, 1, 1, 20001}, iostream, "编译超过 20 秒", true},
      {true, {1, 0, 1, 1, 30001}, iostream, "编译超过 30 秒", false},
      {false, {0, 1, 1, 1, 5}, "int main(){}", "编译信息超过 64 KB", false},
      {false, {0, 0, 1, 1, 5}, iostream, "先看编译器报告的第一个 error", true},
      {false, {0, 0, 1, 1, 5}, "// #include <iostream>\n", "先看编译器报告", false},
      {false, {0, 0, 1, 1, 5}, "puts(\"std::\");", "先看编译器报告", true},
      {false, {0, 0, 1, 1, 5}, "struct classic x;", "先看编译器报告", false},
      {false, {0, 0, 1, 1, 5}, "class X;", "先看编译器报告", true},
  };
  for (const row& r : rows) {
    advice_list l;
    compile_failure_advice(&l.b, &l.count, r.cpp, r.r, r.code);
    std::string all = l.b.data;
    EXPECT_NE(all.find(r.detail_part), std::string::npos) << r.code;
    EXPECT_EQ(l.titles(), std::string("先解决编译问题\n") + (r.cpp_tip ? "这段代码看起来是 C++\n" : ""))
        << r.code;
  }
}

TEST(Advice, ResultRulesInOrder) {
  struct row {
    bool cpp;
    judge_counters c;  // passed, total, timeouts, output limits, crashes
    const char* diagnostics;
    const char* code;
    const char* titles;
  };
  const char* plain = "int main(void){return 0;}";
  const row rows[] = {
      {false, {3, 3, 0, 0, 0}, "", plain, "已通过当前全部测试\n"},
      {false, {1, 3, 1, 0, 2}, "", plain, "检查循环和递归的结束条件\n"},
      {false, {0, 3, 0, 1, 1}, "", plain, "减少输出并检查死循环\n"},
      {false, {1, 3, 1, 1, 2}, "", plain, "检查循环和递归的结束条件\n减少输出并检查死循环\n"},
      {false, {1, 3, 0, 0, 1}, "", plain, "检查数组边界和非法运算\n"},
      {false, {1, 3, 0, 0, 0}, "", plain, "从第一个未通过的用例定位\n"},
      {true, {2, 2, 0, 0, 0}, "a.cpp:1: warning: x", plain, "处理编译器警告\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "char s[9]; gets(s);",
       "避免无长度限制的输入\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "fgets(s, 9, stdin);", "已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "fgets(s,9,stdin); gets (s);",
       "避免无长度限制的输入\n已通过当前全部测试\n"},
      {true, {1, 1, 0, 0, 0}, "", "gets(s); x = pow(2, 3); fflush(stdin); scanf(\"%d\", &n);",
       "已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "fflush( stdin );", "不要用 fflush 清空输入流\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "if (scanf(\"%d %d\", &a, &b) != 2) return 1;", "已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "n = scanf(\"%d\", &a);", "已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "if (2 == scanf(\"%d\", &a))", "已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "while (scanf(\"%d\", &a) == 2) {}",
       "让输入处理更稳健\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "scanf(\"%d\", &a);", "让输入处理更稳健\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "/* scanf( */ int x;", "已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "y = mypow(2);", "整数幂可以用整数运算\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "p = malloc(4);", "检查动态内存的释放\n已通过当前全部测试\n"},
      {false, {1, 1, 0, 0, 0}, "", "p = malloc(4); free(p);", "已通过当前全部测试\n"},
      {false, {0, 2, 0, 0, 0}, "x: warning: y", "gets(s); fflush(stdin); scanf(\"\"); pow(1,2); malloc(1);",
       "从第一个未通过的用例定位\n处理编译器警告\n避免无长度限制的输入\n不要用 fflush 清空输入流\n"
       "让输入处理更稳健\n整数幂可以用整数运算\n检查动态内存的释放\n"},
  };
  for (const row& r : rows) {
    advice_list l;
    result_advice(&l.b, &l.count, r.cpp, r.c, r.diagnostics, r.code);
    EXPECT_EQ(l.titles(), r.titles) << r.code;
  }
}

}  // namespace
