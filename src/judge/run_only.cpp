// Run-only mode: the learner's code on the learner's own input, once. Same compiler line,
// limits, sandbox and busy flag as the judge; nothing is compared and nothing is stored.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json.h"
#include "judge/compile_cache.h"
#include "judge/judge.h"
#include "judge/judge_internal.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/sys.h"
#include "store/store.h"

namespace {

constexpr size_t input_limit = 65536;  // bytes of the learner's own input

struct run_request {
  json_doc request;
  cstr code, lang, input;
  std::string work_dir;
  bool work_dir_made = false;
  plat::run_files files;  // standard input and output of the run, kept open
  text_buffer answer{};

  ~run_request() {
    files.close();
    if (work_dir_made && !plat::work_folder_remove(work_dir))
      log_write("W", "评测目录未能完全删除：%s", work_dir.c_str());
    b_free(&answer);
  }
};

const char* run_status(const run_result& r) {
  if (!r.started) return "launch_error";
  if (r.output_limited) return "output_limit";
  if (r.timed_out) return "timeout";
  if (r.exit_code != 0) return "runtime_error";
  return "ok";
}

std::string cut(std::string line) {
  if (line.size() > command_line_units - 1) line.resize(command_line_units - 1);
  return line;
}

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

  const std::string compiler = *lang.compiler;
  if (compiler.empty() || !plat::path_exists(compiler)) {
    log_write("E", "自测中止：找不到 %s 编译器", lang.compiler_name);
    return json_error(lang.missing_message);
  }
  // The same private, unguessable folder and kept run files as a judging: nothing the program
  // leaves behind is ever reopened by name.
  s.work_dir_made = make_work_folder(&s.work_dir);
  if (!s.work_dir_made) return json_error("无法创建独立评测目录。");
  const std::string source_path = path_join(s.work_dir, lang.source_name);
  const std::string input_path = path_join(s.work_dir, "stdin.txt");
  const std::string output_path = path_join(s.work_dir, "output.txt");
  const std::string exe_path = path_join(s.work_dir, "solution.exe");
  if (!file_write(source_path, code) || !s.files.create(input_path, output_path))
    return json_error("无法保存本次提交。");
  log_missing_layers();

  compile_outcome outcome =
      compile_with_cache(compiler, cut("\"" + compiler + "\" " + lang.arguments + plat::math_link_flags),
                         code, s.work_dir, exe_path, &s.files, input_path, output_path, lang.compile_ms);
  const run_result built = outcome.result;
  cstr diagnostics(outcome.diagnostics);
  if (outcome.from_cache) log_write("I", "自测 | 编译结果取自缓存");
  const bool compiled =
      built.started && !built.timed_out && !built.output_limited && built.exit_code == 0;
  b_add(&s.answer, compiled ? "{\"compiled\":true,\"diagnostics\":" : "{\"compiled\":false,\"diagnostics\":");
  b_json(&s.answer, diagnostics.get());
  b_fmt(&s.answer, ",\"compileMs\":%lu", (unsigned long)built.elapsed_ms);
  if (!compiled) {
    log_write("W", "自测 | 编译失败 | %lu ms | 退出码 %lu", (unsigned long)built.elapsed_ms,
              (unsigned long)built.exit_code);
    b_add(&s.answer, "}");
    return b_release(&s.answer);
  }

  run_result r{};
  // Input that cannot be written must not leave the program reading an older file.
  if (s.files.set_input(input))
    r = execute(cut("\"" + exe_path + "\""), s.work_dir, s.files, run_time_limit_ms, 0);
  int had_nul = 0;
  cstr output(r.started ? capture(s.files, &had_nul) : static_cast<char*>(std::calloc(1, 1)));
  const char* status = run_status(r);
  log_write(std::strcmp(status, "ok") == 0 ? "I" : "W", "自测 | %s | %lu ms | 退出码 %lu", status,
            (unsigned long)r.elapsed_ms, (unsigned long)r.exit_code);
  b_fmt(&s.answer, ",\"run\":{\"status\":\"%s\",\"ms\":%lu,\"exitCode\":%lu,\"nul\":%s,\"output\":",
        status, (unsigned long)r.elapsed_ms, (unsigned long)r.exit_code, had_nul ? "true" : "false");
  b_json(&s.answer, output.get());
  b_add(&s.answer, "}}");
  return b_release(&s.answer);
}

}  // namespace

char* judge_run(const char* body) { return while_judging<run_request>(body, run); }
