// The judge pipeline: one submission from request body to verdict, one at a time.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "json/json.h"
#include "judge/compile_cache.h"
#include "judge/judge.h"
#include "judge/judge_internal.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/proc.h"
#include "platform/sys.h"
#include "store/store.h"

std::atomic<int> judging{0};

namespace {

struct language {
  const char* label;          // in the log
  const char* compiler_name;  // in the log
  const std::string* compiler;
  const char* source_name;
  uint32_t compile_ms;
  const char* arguments;
  const char* missing_message;
};

const language lang_c{
    "C99", "gcc", &gcc_path, "solution.c", compile_time_limit_c_ms,
    "-std=c99 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -D__USE_MINGW_ANSI_STDIO=1 "
    "-finput-charset=UTF-8 -fexec-charset=UTF-8 solution.c -o solution.exe",
    "没有找到编译器。安装包自带的 GCC 可能被删除，请重新安装本程序；也可以安装 Dev-C++ 或把 gcc.exe "
    "加入 PATH 后重新启动。"};
const language lang_cpp{
    "C++11", "g++", &gpp_path, "solution.cpp", compile_time_limit_cpp_ms,
    "-std=c++11 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -static-libstdc++ "
    "-static-libgcc -finput-charset=UTF-8 -fexec-charset=UTF-8 solution.cpp -o solution.exe",
    "没有找到 g++。C++ 题目需要安装包自带的 C++ 部件，请重新安装本程序（或安装 Dev-C++ 后把 g++.exe "
    "加入 PATH）。"};

std::string cut_command_line(std::string line) {
  if (line.size() > command_line_units - 1) line.resize(command_line_units - 1);
  return line;
}

// Everything one submission owns; the destructor is the clean-up of every path.
struct submission {
  json_doc request, bank;
  cstr body_copy, id, code, bank_text;
  std::string work_dir;
  bool work_dir_made = false;
  plat::run_files files;  // standard input and output of every run, kept open
  text_buffer answer{}, cases{}, suggestions{};
  int suggestion_count = 0;

  ~submission() {
    // Whatever the program left in its folder goes too, so no submission leaves a trace.
    files.close();
    if (work_dir_made && !plat::work_folder_remove(work_dir))
      log_write("W", "评测目录未能完全删除：%s", work_dir.c_str());
    b_free(&answer);
    b_free(&cases);
    b_free(&suggestions);
  }
};

const char* case_status(const run_result& r, bool passed) {
  if (passed) return "passed";
  if (!r.started) return "launch_error";
  if (r.output_limited) return "output_limit";
  if (r.timed_out) return "timeout";
  if (r.exit_code != 0) return "runtime_error";
  return "wrong_answer";
}

// Where the compile-failure excerpt starts: at an error, else at the last line.
const char* diagnostics_excerpt(const char* d, bool* has_error) {
  *has_error = std::strstr(d, "error:") || std::strstr(d, "error :");
  if (*has_error) return d;
  size_t n = std::strlen(d);
  for (size_t i = n >= 2 ? n - 1 : 0; i > 0; --i) {
    if (d[i - 1] == '\n') return d + i;
  }
  return d;
}

// The compiler may quote any file it was made to read: the log keeps nothing that looks like a
// key or token (a long run of hexadecimal digits, or a "token=").
void cut_before_secrets(char* text) {
  int run = 0;
  for (char* c = text; *c; ++c) {
    if (std::strncmp(c, "token=", 6) == 0 || std::strncmp(c, "token\":", 7) == 0) {
      *c = '\0';
      return;
    }
    const bool hex = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f') || (*c >= 'A' && *c <= 'F');
    run = hex ? run + 1 : 0;
    if (run == 32) {
      *(c - 31) = '\0';
      return;
    }
  }
}

void judge_cases(submission& s, int question, bool sample_mode,
                 judge_counters& c, const std::string& exe_path) {
  cstr compare(j_str(&s.bank, j_get(&s.bank, question, "compare")));
  const bool float_mode = compare && std::strcmp(compare.get(), "float") == 0;
  const int array = j_get(&s.bank, question, sample_mode ? "samples" : "tests");
  const bool is_array = array >= 0 && s.bank.tokens[array].type == 'a';
  c.total = is_array ? s.bank.tokens[array].size : 0;
  const std::string run_line = cut_command_line("\"" + exe_path + "\"");
  const char* id = s.id.get();
  int element = array + 1;
  judge_case_total.store(c.total);
  s.files.expect_runs(uint32_t(c.total));
  for (int index = 1; index <= c.total; ++index, element = s.bank.tokens[element].next) {
    if (judge_stop_requested.load()) {  // the learner stopped it: the rest are not run
      for (int rest = index; rest <= c.total; ++rest)
        b_fmt(&s.cases, "%s{\"index\":%d,\"status\":\"skipped\",\"ms\":0}", rest > 1 ? "," : "", rest);
      break;
    }
    judge_running_case.store(index);
    cstr input(j_str(&s.bank, j_get(&s.bank, element, "input")));
    cstr expected(j_str(&s.bank, j_get(&s.bank, element, "output")));
    const char* in_text = input ? input.get() : "";
    const char* expected_text = expected ? expected.get() : "";
    run_result r{};
    // A case whose input cannot be written must not run on the previous case's input.
    if (s.files.set_input(in_text))
      r = execute(run_line, s.work_dir, s.files, run_time_limit_ms, 0);
    int had_nul = 0;
    // A run that never started has no output of its own (the file may hold the last case's).
    cstr actual(r.started ? capture(s.files, &had_nul) : static_cast<char*>(std::calloc(1, 1)));
    const bool clean = r.started && !r.timed_out && !r.output_limited && !had_nul &&
                       r.exit_code == 0;
    const bool passed = clean && outputs_match(actual.get(), expected_text, float_mode);
    c.passed += passed;
    c.timeouts += r.timed_out ? 1 : 0;
    c.output_limits += r.output_limited ? 1 : 0;
    c.crashes += (!r.started || r.exit_code != 0) ? 1 : 0;
    const char* status = case_status(r, passed);
    if (!passed && index <= 3) {
      char in_x[180], exp_x[180], act_x[180];
      log_text(in_x, sizeof in_x, in_text);
      log_text(exp_x, sizeof exp_x, expected_text);
      log_text(act_x, sizeof act_x, actual.get());
      log_write("W", "评测 %s | 用例 #%d %s | 输入[%s] 预期[%s] 实际[%s]", id, index, status,
                in_x, exp_x, act_x);
    }
    if (index > 1) b_add(&s.cases, ",");
    b_fmt(&s.cases, "{\"index\":%d,\"status\":\"%s\",\"ms\":%lu,\"exitCode\":%lu,\"input\":", index,
          status, (unsigned long)r.elapsed_ms, (unsigned long)r.exit_code);
    b_json(&s.cases, in_text);
    b_add(&s.cases, ",\"expected\":");
    b_json(&s.cases, expected_text);
    b_add(&s.cases, ",\"actual\":");
    b_json(&s.cases, actual.get());
    b_add(&s.cases, "}");
    if (c.timeouts >= 2) {  // two programs that never end are enough; skip the rest
      for (int rest = index + 1; rest <= c.total; ++rest)
        b_fmt(&s.cases, ",{\"index\":%d,\"status\":\"skipped\",\"ms\":0}", rest);
      break;
    }
  }
}

char* judge(submission& s, const char* body) {
  // Request.
  json_parse(&s.request, body);
  if (s.request.failed) return json_error("提交格式错误或代码超过 64 KB。");
  s.id.reset(j_str(&s.request, j_get(&s.request, 0, "id")));
  s.code.reset(j_str(&s.request, j_get(&s.request, 0, "code")));
  if (!s.id || !s.code || std::strlen(s.code.get()) > code_limit)
    return json_error("提交格式错误或代码超过 64 KB。");
  cstr mode(j_str(&s.request, j_get(&s.request, 0, "mode")));
  cstr lang_text(j_str(&s.request, j_get(&s.request, 0, "lang")));
  const bool sample_mode = mode && std::strcmp(mode.get(), "sample") == 0;
  const bool cpp = lang_text && std::strcmp(lang_text.get(), "cpp") == 0;
  const language& lang = cpp ? lang_cpp : lang_c;
  const char* id = s.id.get();
  const char* code = s.code.get();
  log_write("I", "评测 %s | 语言 %s | 代码 %d 字节", id, lang.label, int(std::strlen(code)));

  // Bank and question.
  s.bank_text.reset(bank_load());
  if (!s.bank_text || !json_parse(&s.bank, s.bank_text.get()) || s.bank.failed)
    return json_error("无法读取题库。");
  int question = -1;
  const int questions = j_get(&s.bank, 0, "questions");
  if (questions >= 0 && s.bank.tokens[questions].type == 'a') {
    int element = questions + 1;
    for (int k = 0; k < s.bank.tokens[questions].size; ++k, element = s.bank.tokens[element].next) {
      cstr qid(j_str(&s.bank, j_get(&s.bank, element, "id")));
      if (qid && std::strcmp(qid.get(), id) == 0) {
        question = element;
        break;
      }
    }
  }
  if (question < 0) return json_error("题目已更新或不存在，请刷新题库。");

  // Compiler.
  const std::string compiler = *lang.compiler;
  if (compiler.empty() || !plat::path_exists(compiler)) {
    log_write("E", "评测 %s 中止：找不到 %s 编译器", id, lang.compiler_name);
    return json_error(lang.missing_message);
  }

  // Work folder and files: a private folder under a name no one can guess (another user could
  // otherwise make it first, or watch it), and the two run files made and kept open here.
  s.work_dir_made = make_work_folder(&s.work_dir);
  if (!s.work_dir_made) return json_error("无法创建独立评测目录。");
  const std::string source_path = path_join(s.work_dir, lang.source_name);
  const std::string input_path = path_join(s.work_dir, "stdin.txt");
  const std::string output_path = path_join(s.work_dir, "output.txt");
  const std::string exe_path = path_join(s.work_dir, "solution.exe");
  if (!file_write(source_path, code) || !s.files.create(input_path, output_path))
    return json_error("无法保存本次提交。");
  log_missing_layers();

  // Compile.
  const std::string compile_line =
      cut_command_line("\"" + compiler + "\" " + lang.arguments + plat::math_link_flags);
  compile_outcome outcome = compile_with_cache(compiler, compile_line, code, s.work_dir, exe_path,
                                               &s.files, input_path, output_path, lang.compile_ms);
  const run_result built = outcome.result;
  cstr diagnostics(outcome.diagnostics);
  if (outcome.from_cache) log_write("I", "评测 %s | 编译结果取自缓存", id);
  const bool compiled =
      built.started && !built.timed_out && !built.output_limited && built.exit_code == 0;
  b_add(&s.answer, compiled ? "{\"compiled\":true,\"diagnostics\":" : "{\"compiled\":false,\"diagnostics\":");
  b_json(&s.answer, diagnostics.get());
  b_fmt(&s.answer, ",\"compileMs\":%lu", (unsigned long)built.elapsed_ms);
  log_write(compiled ? "I" : "W", "评测 %s | 编译%s | %lu ms | 退出码 %lu%s%s", id,
            compiled ? "成功" : "失败", (unsigned long)built.elapsed_ms,
            (unsigned long)built.exit_code, built.timed_out ? " | 编译超时" : "",
            built.output_limited ? " | 编译输出超限" : "");

  if (!compiled) {
    if (diagnostics.get()[0]) {
      bool has_error;
      const char* from = diagnostics_excerpt(diagnostics.get(), &has_error);
      char excerpt[400];
      log_text(excerpt, sizeof excerpt, from);
      cut_before_secrets(excerpt);
      log_write("W", has_error ? "评测 %s | 编译器报错: %s" : "评测 %s | 编译器输出: %s", id,
                excerpt);
    }
    compile_failure_advice(&s.suggestions, &s.suggestion_count, cpp, built, code);
    b_add(&s.answer, ",\"passed\":0,\"total\":0,\"status\":\"compile_error\",\"cases\":[]");
  } else {
    judge_counters c;
    judge_cases(s, question, sample_mode, c, exe_path);
    const bool accepted = c.passed == c.total;
    b_fmt(&s.answer, ",\"passed\":%d,\"total\":%d,\"status\":\"%s\",\"cases\":[", c.passed,
          c.total, accepted ? "accepted" : "failed");
    if (s.cases.data) b_add(&s.answer, s.cases.data);
    b_add(&s.answer, "]");
    log_write(accepted ? "I" : "W", "评测 %s | %s | %s | %d/%d 通过 | 超时 %d 崩溃 %d 输出超限 %d", id,
              lang.label, accepted ? "全部通过" : "未全部通过", c.passed, c.total, c.timeouts,
              c.crashes, c.output_limits);
    result_advice(&s.suggestions, &s.suggestion_count, cpp, c, diagnostics.get(), code);
  }
  b_add(&s.answer, ",\"suggestions\":[");
  if (s.suggestions.data) b_add(&s.answer, s.suggestions.data);
  b_add(&s.answer, "]}");
  return b_release(&s.answer);
}

}  // namespace

char* judge_code(const char* body) { return while_judging<submission>(body, judge); }

const judge_language& judge_language_for(bool cpp) {
  static const judge_language c{lang_c.label, lang_c.compiler_name, lang_c.compiler, lang_c.source_name,
                                lang_c.compile_ms, lang_c.arguments, lang_c.missing_message};
  static const judge_language cxx{lang_cpp.label, lang_cpp.compiler_name, lang_cpp.compiler,
                                  lang_cpp.source_name, lang_cpp.compile_ms, lang_cpp.arguments,
                                  lang_cpp.missing_message};
  return cpp ? cxx : c;
}

// Once per run of the program: which of the sandbox's layers this system lacks.
void log_missing_layers() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string missing = plat::sandbox_missing_layers();
    if (!missing.empty()) log_write("W", "评测沙箱缺少以下保护层：%s", missing.c_str());
  });
}

bool make_work_folder(std::string* dir) {
  const std::string temp = plat::temp_dir();
  if (temp.empty()) return false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned char random[12];
    if (!plat::random_bytes(random, sizeof random)) return false;
    char name[64] = "Mesk-";
    for (size_t k = 0; k < sizeof random; ++k)
      std::snprintf(name + 5 + 2 * k, 3, "%02x", unsigned(random[k]));
    *dir = path_join(temp, name);
    if (plat::dir_create_private(*dir)) {
      plat::work_folder_bound(*dir);  // where the system allows; else the sandbox bounds it
      return true;
    }
  }
  return false;
}
