// Run-only mode: the learner's code on the learner's own input, once. Same compiler line,
// limits, sandbox and busy flag as the judge; nothing is compared and nothing is stored.
#include <cstring>

#include "json/json.h"
#include "judge/judge.h"
#include "judge/workspace.h"
#include "log/log.h"

namespace {

constexpr size_t input_limit = 65536;  // bytes of the learner's own input

struct run_request {
  json_doc request;
  cstr code, lang, input;
  workspace work;
  owned_buffer answer;
};

char* run(run_request& s, const char* body) {
  json_parse(&s.request, body);
  if (s.request.failed) return json_error("自测请求格式错误，或代码超过 64 KB、输入超过 64 KB。");
  s.code.reset(j_str(&s.request, j_get(&s.request, 0, "code")));
  s.lang.reset(j_str(&s.request, j_get(&s.request, 0, "lang")));
  s.input.reset(j_str(&s.request, j_get(&s.request, 0, "input")));
  const char* input = s.input ? s.input.get() : "";
  if (!s.code || std::strlen(s.code.get()) > code_limit || std::strlen(input) > input_limit)
    return json_error("自测请求格式错误，或代码超过 64 KB、输入超过 64 KB。");
  const bool cpp = s.lang && std::strcmp(s.lang.get(), "cpp") == 0;
  const judge_language& lang = judge_language_for(cpp);
  const char* code = s.code.get();
  log_write("I", "自测 | 语言 %s | 代码 %d 字节 | 输入 %d 字节", lang.label, int(std::strlen(code)),
            int(std::strlen(input)));

  if (!compiler_present(lang)) {
    log_write("E", "自测中止：找不到 %s 编译器", lang.compiler_name);
    return json_error(lang.missing_message);
  }
  if (char* refused = s.work.open(lang, code, "自测")) return refused;

  const workspace::build built = s.work.compile(&s.answer);
  if (!built.ok) {
    log_write("W", "自测 | 编译失败 | %lu ms | 退出码 %lu", (unsigned long)built.result.elapsed_ms,
              (unsigned long)built.result.exit_code);
    b_add(&s.answer, "}");
    return b_release(&s.answer);
  }

  cstr output;
  int had_nul = 0;
  const run_result r = s.work.run(input, &output, &had_nul);
  const char* status = run_status(r, "ok");
  log_write(std::strcmp(status, "ok") == 0 ? "I" : "W", "自测 | %s | %lu ms | 退出码 %lu", status,
            (unsigned long)r.elapsed_ms, (unsigned long)r.exit_code);
  b_fmt(&s.answer, ",\"run\":{\"status\":\"%s\",\"ms\":%lu,\"exitCode\":%lu,\"nul\":%s,\"output\":",
        status, (unsigned long)r.elapsed_ms, (unsigned long)r.exit_code, had_nul ? "true" : "false");
  b_json(&s.answer, output.get());
  b_add(&s.answer, "}");
  // A crash: the line where it happened, from one diagnostic run on the same input.
  if (r.started && !r.timed_out && !r.output_limited && r.exit_code != 0)
    evidence_json(&s.answer, s.work.diagnose(input));
  b_add(&s.answer, "}");
  return b_release(&s.answer);
}

}  // namespace

char* judge_run(const char* body) { return while_judging<run_request>(body, run); }
