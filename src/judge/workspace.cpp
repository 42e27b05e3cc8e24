// The judge's and the own-input runs' common steps: languages, work folder, compile, one run.
#include "judge/workspace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "judge/compile_cache.h"
#include "judge/judge_internal.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/sys.h"
#include "store/store.h"

namespace {

const judge_language lang_c{
    "C99", "gcc", &gcc_path, "solution.c", compile_time_limit_c_ms,
    "-std=c99 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -D__USE_MINGW_ANSI_STDIO=1 "
    "-finput-charset=UTF-8 -fexec-charset=UTF-8 solution.c -o solution.exe",
    "没有找到编译器。安装包自带的 GCC 可能被删除，请重新安装本程序；也可以安装 Dev-C++ 或把 gcc.exe "
    "加入 PATH 后重新启动。"};
const judge_language lang_cpp{
    "C++11", "g++", &gpp_path, "solution.cpp", compile_time_limit_cpp_ms,
    "-std=c++11 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -static-libstdc++ "
    "-static-libgcc -finput-charset=UTF-8 -fexec-charset=UTF-8 solution.cpp -o solution.exe",
    "没有找到 g++。C++ 题目需要安装包自带的 C++ 部件，请重新安装本程序（或安装 Dev-C++ 后把 g++.exe "
    "加入 PATH）。"};

// The compile and run lines are cut to what the system takes.
std::string cut_command_line(std::string line) {
  if (line.size() > command_line_units - 1) line.resize(command_line_units - 1);
  return line;
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

// Once per run of the program: which of the sandbox's layers this system lacks.
void log_missing_layers() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string missing = plat::sandbox_missing_layers();
    if (!missing.empty()) log_write("W", "评测沙箱缺少以下保护层：%s", missing.c_str());
  });
}

}  // namespace

const judge_language& judge_language_for(bool cpp) { return cpp ? lang_cpp : lang_c; }

bool compiler_present(const judge_language& lang) {
  return !lang.compiler->empty() && plat::path_exists(*lang.compiler);
}

const char* run_status(const run_result& r, const char* clean_exit) {
  if (!r.started) return "launch_error";
  if (r.output_limited) return "output_limit";
  if (r.timed_out) return "timeout";
  if (r.exit_code != 0) return "runtime_error";
  return clean_exit;
}

workspace::~workspace() {
  files_.close();  // first: Windows cannot remove a file held open
  // Whatever the program left in its folder goes too, so no submission leaves a trace.
  if (made_ && !plat::work_folder_remove(dir_))
    log_write("W", "评测目录未能完全删除：%s", dir_.c_str());
}

char* workspace::open(const judge_language& lang, const char* code, std::string log_tag) {
  log_tag_ = std::move(log_tag);
  lang_ = &lang;
  code_ = code;
  compiler_ = *lang.compiler;
  made_ = make_work_folder(&dir_);
  if (!made_) return json_error("无法创建独立评测目录。");
  exe_path_ = path_join(dir_, "solution.exe");
  run_line_ = cut_command_line("\"" + exe_path_ + "\"");
  if (!file_write(path_join(dir_, lang.source_name), code) ||
      !files_.create(path_join(dir_, "stdin.txt"), path_join(dir_, "output.txt")))
    return json_error("无法保存本次提交。");
  log_missing_layers();
  return nullptr;
}

// Which step of a launch failed and why: the learner only sees launch_error.
static void log_not_started(const std::string& tag, const char* what, const run_result& r) {
  log_write("E", "%s | %s未能启动：%s 失败（错误 %lu）", tag.c_str(), what,
            r.failed_step ? r.failed_step : "?", (unsigned long)r.failed_error);
}

workspace::build workspace::compile(text_buffer* answer) {
  const std::string line =
      cut_command_line("\"" + compiler_ + "\" " + lang_->arguments + plat::math_link_flags);
  compile_outcome outcome = compile_with_cache(compiler_, line, code_, dir_, exe_path_, files_,
                                               lang_->compile_ms);
  build b;
  b.result = outcome.result;
  b.diagnostics.reset(outcome.diagnostics);
  b.ok = ended_well(b.result);
  if (outcome.from_cache) log_write("I", "%s | 编译结果取自缓存", log_tag_.c_str());
  if (!b.result.started) log_not_started(log_tag_, "编译器", b.result);
  b_add(answer, b.ok ? "{\"compiled\":true,\"diagnostics\":" : "{\"compiled\":false,\"diagnostics\":");
  b_json(answer, b.diagnostics.get());
  b_fmt(answer, ",\"compileMs\":%lu", (unsigned long)b.result.elapsed_ms);
  return b;
}

run_result workspace::run(const char* input, cstr* output, int* had_nul) {
  run_result r{};
  *had_nul = 0;
  // Input that cannot be written must not leave the program reading the last run's.
  if (files_.set_input(input))
    r = execute(run_line_, dir_, files_, run_time_limit_ms, 0);
  if (!r.started) log_not_started(log_tag_, "程序", r);
  // A run that never started has no output of its own (the file may hold the last run's).
  output->reset(r.started ? capture(files_, had_nul) : text_copy(""));
  return r;
}
