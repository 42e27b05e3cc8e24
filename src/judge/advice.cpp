// Rule-based advice: fixed heuristics over plain substrings of the source and diagnostics.
#include <cstdlib>
#include <cstring>
#include <string>

#include "judge/judge_internal.h"

void advice(text_buffer* list, int* count, const char* level, const char* title,
            const char* detail) {
  if (*count != 0) b_add(list, ",");
  b_add(list, "{\"level\":");
  b_json(list, level);
  b_add(list, ",\"title\":");
  b_json(list, title);
  b_add(list, ",\"detail\":");
  b_json(list, detail);
  b_add(list, "}");
  ++*count;
}

char* without_comments(const char* code) {
  if (!code) code = "";
  const size_t n = std::strlen(code);
  char* s = text_copy(std::string_view(code, n));
  enum { in_code, in_block, in_line, in_double, in_single } state = in_code;
  for (size_t i = 0; i < n; ++i) {
    char c = s[i];
    switch (state) {
      case in_code:
        if (c == '/' && s[i + 1] == '*') {
          s[i] = s[i + 1] = ' ';
          ++i;
          state = in_block;
        } else if (c == '/' && s[i + 1] == '/') {
          s[i] = s[i + 1] = ' ';
          ++i;
          state = in_line;
        } else if (c == '"') {
          state = in_double;
        } else if (c == '\'') {
          state = in_single;
        }
        break;
      case in_block:
        if (c == '*' && s[i + 1] == '/') {
          s[i] = s[i + 1] = ' ';
          ++i;
          state = in_code;
        } else if (c != '\n') {
          s[i] = ' ';
        }
        break;
      case in_line:
        if (c == '\n') state = in_code;
        else s[i] = ' ';
        break;
      case in_double:
      case in_single:
        if (c == '\\' && i + 1 < n) ++i;  // the escaped byte is not examined
        else if (c == (state == in_double ? '"' : '\'')) state = in_code;
        break;
    }
  }
  return s;
}

static const char* const marks[] = {
    "#include <iostream>", "#include <vector>", "#include <string>", "#include <algorithm>",
    "#include <map>",      "#include <set>",    "std::",             "using namespace",
    "cout <<",             "cin >>",            "template<",         "template <",
    "class ",              "public:",           "private:",
};

int looks_like_cpp(const char* code) {
  char* plain = without_comments(code);
  int found = 0;
  for (const char* m : marks) {
    if (std::strstr(plain, m)) {
      found = 1;
      break;
    }
  }
  std::free(plain);
  return found;
}

void compile_failure_advice(text_buffer* list, int* count, bool cpp, const run_result& compile,
                            const char* code) {
  const char* detail;
  if (!compile.started) detail = "无法启动编译器。请检查 GCC 的安装路径。";
  else if (compile.timed_out && !cpp) detail = "编译超过 20 秒；请检查宏展开和代码规模。";
  else if (compile.timed_out) detail = "编译超过 30 秒；请检查模板展开和代码规模。";
  else if (compile.output_limited) detail = "编译信息超过 64 KB；先修复最前面的错误。";
  else detail = "先看编译器报告的第一个 error，检查该行及上一行的分号、括号、变量类型和拼写。";
  advice(list, count, "warning", "先解决编译问题", detail);
  if (!cpp && looks_like_cpp(code))
    advice(list, count, "tip", "这段代码看起来是 C++",
           "本题按 C99 编译。如果这是 C++ 代码，请用编辑器上方的语言开关切换到 C++11 再提交。");
}

static bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// A call of gets, not of fgets: "gets(" somewhere not right after an 'f'.
static bool calls_gets(const std::string& compact) {
  for (size_t at = compact.find("gets("); at != std::string::npos;
       at = compact.find("gets(", at + 1)) {
    if (at == 0 || compact[at - 1] != 'f') return true;
  }
  return false;
}

void result_advice(text_buffer* list, int* count, bool cpp, const judge_counters& c,
                   const char* diagnostics, const char* code) {
  if (c.timeouts >= 1)
    advice(list, count, "warning", "检查循环和递归的结束条件",
           "出现超时。检查循环变量是否变化、递归是否逐步靠近终止条件；大输入下考虑减少重复计算。");
  if (c.output_limits >= 1)
    advice(list, count, "warning", "减少输出并检查死循环",
           "输出超过 64 KB，评测已停止。只输出题目要求的结果，移除调试输出。");
  const bool stopped = c.timeouts != 0 || c.output_limits != 0;
  if (!stopped && c.crashes >= 1)
    advice(list, count, "warning", "检查数组边界和非法运算",
           "程序异常结束。优先检查越界、除数为 0、未初始化变量或过深的递归；退出码也会在测试详情显示。");
  if (!stopped && c.crashes == 0 && c.passed < c.total)
    advice(list, count, "warning", "从第一个未通过的用例定位",
           "展开测试详情，对照输入、预期和实际输出。检查边界值、整数除法、精度与输出格式；不要额外打印输入提示。");
  if (diagnostics && std::strstr(diagnostics, "warning:"))
    advice(list, count, "warning", "处理编译器警告",
           "警告来自本次 GCC 实际编译。检查格式占位符、类型转换、未使用变量及潜在未初始化问题；警告不等同于测试失败。");
  if (!cpp) {
    char* plain = without_comments(code);
    std::string compact;
    for (const char* p = plain; *p; ++p)
      if (!is_space(*p)) compact += *p;
    std::free(plain);
    auto has = [&](const char* s) { return compact.find(s) != std::string::npos; };
    if (calls_gets(compact))
      advice(list, count, "warning", "避免无长度限制的输入",
             "检测到 gets 调用。建议使用 fgets，并明确缓冲区大小，避免越界。");
    if (has("fflush(stdin)"))
      advice(list, count, "warning", "不要用 fflush 清空输入流",
             "标准 C 没有为 fflush(stdin) 定义这种用法。需要丢弃一行时，使用 getchar 循环读取到换行或 EOF。");
    if (has("scanf(") && !has("if(scanf(") && !has("=scanf("))
      advice(list, count, "tip", "让输入处理更稳健",
             "规则提示：可检查 scanf 的返回值，确认成功读入了所需数据。此规则只识别常见写法，请结合代码判断。");
    if (has("pow("))
      advice(list, count, "tip", "整数幂可以用整数运算",
             "规则提示：若目标是精确的整数幂，可考虑循环乘法或快速幂，避免浮点结果转整数时的舍入误差。");
    if (has("malloc(") && !has("free("))
      advice(list, count, "tip", "检查动态内存的释放",
             "规则提示：发现 malloc，但未发现 free。检查不再使用的内存是否有对应释放路径。");
  }
  if (c.passed == c.total)
    advice(list, count, "success", "已通过当前全部测试",
           "这说明代码符合当前题库的测试要求，不代表对所有可能输入的形式化证明。可继续检查最大值、空/单元素情况和代码可读性。");
}
