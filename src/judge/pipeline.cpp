// The judge pipeline: one submission from request body to verdict, one at a time.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json.h"
#include "judge/judge.h"
#include "judge/workspace.h"
#include "log/log.h"
#include "store/store.h"

std::atomic<int> judging{0};

namespace {

// Everything one submission owns; their destructors are the clean-up of every path.
struct submission {
  json_doc request, bank;
  cstr id, code, bank_text;
  const judge_language* lang = nullptr;
  bool cpp = false, sample_mode = false;
  int question = -1;  // the exercise's token in bank
  workspace work;
  workspace::build built;
  judge_counters counters;
  owned_buffer answer, cases, suggestions;
  int suggestion_count = 0;
  int diagnose_case = 0;  // the first case worth a diagnostic run, 0 for none
  std::string diagnose_input;
  runtime_evidence evidence;
};

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

// The text's whitespace-separated tokens joined by single blanks.
std::string tokens_of(const char* text) {
  std::string t;
  for (const char* p = text; *p; ++p) {
    const bool blank = *p == ' ' || (*p >= '\t' && *p <= '\r');
    if (!blank) t += *p;
    else if (!t.empty() && t.back() != ' ') t += ' ';
  }
  if (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

// A failure a diagnostic run may explain: the program crashed, or it ended but its output
// stopped short (nothing, or only the start of what was expected).
bool worth_diagnosing(const run_result& r, const char* actual, const char* expected) {
  if (!r.started || r.timed_out || r.output_limited) return false;
  if (r.exit_code != 0) return true;
  const std::string got = tokens_of(actual), want = tokens_of(expected);
  return got.size() < want.size() && want.compare(0, got.size(), got) == 0;
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

// Reads the request: id, code, language and mode.
char* read_request(submission& s, const char* body) {
  json_parse(&s.request, body);
  if (s.request.failed) return json_error("提交格式错误或代码超过 64 KB。");
  s.id.reset(j_str(&s.request, j_get(&s.request, 0, "id")));
  s.code.reset(j_str(&s.request, j_get(&s.request, 0, "code")));
  if (!s.id || !s.code || std::strlen(s.code.get()) > code_limit)
    return json_error("提交格式错误或代码超过 64 KB。");
  cstr mode(j_str(&s.request, j_get(&s.request, 0, "mode")));
  cstr lang_text(j_str(&s.request, j_get(&s.request, 0, "lang")));
  s.sample_mode = mode && std::strcmp(mode.get(), "sample") == 0;
  s.cpp = lang_text && std::strcmp(lang_text.get(), "cpp") == 0;
  s.lang = &judge_language_for(s.cpp);
  log_write("I", "评测 %s | 语言 %s | 代码 %d 字节", s.id.get(), s.lang->label,
            int(std::strlen(s.code.get())));
  return nullptr;
}

// Finds the exercise the submission names in the bank.
char* find_exercise(submission& s) {
  s.bank_text.reset(bank_load());
  if (!s.bank_text || !json_parse(&s.bank, s.bank_text.get()) || s.bank.failed)
    return json_error("无法读取题库。");
  const int questions = j_get(&s.bank, 0, "questions");
  if (questions >= 0 && s.bank.tokens[questions].type == 'a') {
    int element = questions + 1;
    for (int k = 0; k < s.bank.tokens[questions].size; ++k, element = s.bank.tokens[element].next) {
      cstr qid(j_str(&s.bank, j_get(&s.bank, element, "id")));
      if (qid && std::strcmp(qid.get(), s.id.get()) == 0) {
        s.question = element;
        return nullptr;
      }
    }
  }
  return json_error("题目已更新或不存在，请刷新题库。");
}

char* open_workspace(submission& s) {
  if (!compiler_present(*s.lang)) {
    log_write("E", "评测 %s 中止：找不到 %s 编译器", s.id.get(), s.lang->compiler_name);
    return json_error(s.lang->missing_message);
  }
  return s.work.open(*s.lang, s.code.get(), std::string("评测 ") + s.id.get());
}

void compile(submission& s) {
  s.built = s.work.compile(&s.answer);
  const run_result& built = s.built.result;
  log_write(s.built.ok ? "I" : "W", "评测 %s | 编译%s | %lu ms | 退出码 %lu%s%s", s.id.get(),
            s.built.ok ? "成功" : "失败", (unsigned long)built.elapsed_ms,
            (unsigned long)built.exit_code, built.timed_out ? " | 编译超时" : "",
            built.output_limited ? " | 编译输出超限" : "");
  const char* diagnostics = s.built.diagnostics.get();
  if (!s.built.ok && diagnostics[0]) {
    bool has_error;
    const char* from = diagnostics_excerpt(diagnostics, &has_error);
    char excerpt[400];
    log_text(excerpt, sizeof excerpt, from);
    cut_before_secrets(excerpt);
    log_write("W", has_error ? "评测 %s | 编译器报错: %s" : "评测 %s | 编译器输出: %s", s.id.get(),
              excerpt);
  }
}

// The rest of the cases, not run: the learner stopped, or enough programs never ended.
void skip_from(submission& s, int first, int total) {
  for (int rest = first; rest <= total; ++rest)
    b_fmt(&s.cases, "%s{\"index\":%d,\"status\":\"skipped\",\"ms\":0}", rest > 1 ? "," : "", rest);
}

void run_cases(submission& s) {
  judge_counters& c = s.counters;
  cstr compare(j_str(&s.bank, j_get(&s.bank, s.question, "compare")));
  const bool float_mode = compare && std::strcmp(compare.get(), "float") == 0;
  const int array = j_get(&s.bank, s.question, s.sample_mode ? "samples" : "tests");
  const bool is_array = array >= 0 && s.bank.tokens[array].type == 'a';
  c.total = is_array ? s.bank.tokens[array].size : 0;
  const char* id = s.id.get();
  int element = array + 1;
  judge_case_total.store(c.total);
  s.work.expect_runs(uint32_t(c.total));
  for (int index = 1; index <= c.total; ++index, element = s.bank.tokens[element].next) {
    if (judge_stop_requested.load()) {
      skip_from(s, index, c.total);
      break;
    }
    judge_running_case.store(index);
    cstr input(j_str(&s.bank, j_get(&s.bank, element, "input")));
    cstr expected(j_str(&s.bank, j_get(&s.bank, element, "output")));
    const char* in_text = input ? input.get() : "";
    const char* expected_text = expected ? expected.get() : "";
    cstr actual;
    int had_nul = 0;
    const run_result r = s.work.run(in_text, &actual, &had_nul);
    const bool passed =
        ended_well(r) && !had_nul && outputs_match(actual.get(), expected_text, float_mode);
    c.passed += passed;
    if (!passed && !s.diagnose_case && worth_diagnosing(r, actual.get(), expected_text)) {
      s.diagnose_case = index;
      s.diagnose_input = in_text;
    }
    c.timeouts += r.timed_out ? 1 : 0;
    c.output_limits += r.output_limited ? 1 : 0;
    // A run the judge stopped for time or output did not crash, though it exits with 1.
    c.crashes += (!r.started || (r.exit_code != 0 && !r.timed_out && !r.output_limited)) ? 1 : 0;
    const char* status = passed ? "passed" : run_status(r, "wrong_answer");
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
    if (c.timeouts >= 2) {  // two programs that never end are enough
      skip_from(s, index + 1, c.total);
      break;
    }
  }
  const bool accepted = c.passed == c.total;
  b_fmt(&s.answer, ",\"passed\":%d,\"total\":%d,\"status\":\"%s\",\"cases\":[", c.passed, c.total,
        accepted ? "accepted" : "failed");
  if (s.cases.data) b_add(&s.answer, s.cases.data);
  b_add(&s.answer, "]");
  log_write(accepted ? "I" : "W", "评测 %s | %s | %s | %d/%d 通过 | 超时 %d 崩溃 %d 输出超限 %d", id,
            s.lang->label, accepted ? "全部通过" : "未全部通过", c.passed, c.total, c.timeouts,
            c.crashes, c.output_limits);
}

// The suggestions close the answer.
char* advise(submission& s) {
  if (s.built.ok)
    result_advice(&s.suggestions, &s.suggestion_count, s.cpp, s.counters,
                  s.built.diagnostics.get(), s.code.get());
  else
    compile_failure_advice(&s.suggestions, &s.suggestion_count, s.cpp, s.built.result,
                           s.code.get());
  b_add(&s.answer, ",\"suggestions\":[");
  if (s.suggestions.data) b_add(&s.answer, s.suggestions.data);
  b_add(&s.answer, "]");
  evidence_json(&s.answer, s.evidence);
  b_add(&s.answer, "}");
  return b_release(&s.answer);
}

char* judge(submission& s, const char* body) {
  if (char* refused = read_request(s, body)) return refused;
  if (char* refused = find_exercise(s)) return refused;
  if (char* refused = open_workspace(s)) return refused;
  compile(s);
  if (s.built.ok) {
    run_cases(s);
    // Once, for the first case that failed in a way it can explain; never when stopped.
    if (s.diagnose_case && !judge_stop_requested.load()) {
      log_write("I", "评测 %s | 用例 #%d 诊断", s.id.get(), s.diagnose_case);
      s.evidence = s.work.diagnose(s.diagnose_input.c_str());
    }
  } else
    b_add(&s.answer, ",\"passed\":0,\"total\":0,\"status\":\"compile_error\",\"cases\":[]");
  return advise(s);
}

}  // namespace

char* judge_code(const char* body) { return while_judging<submission>(body, judge); }
