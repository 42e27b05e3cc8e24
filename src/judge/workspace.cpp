// The judge's and the own-input runs' common steps: languages, work folder, compile, one run.
#include "judge/workspace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

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

namespace {

constexpr uint64_t diagnose_exe_cap = 64ull << 20;
constexpr uint32_t address_lookup_ms = 10000;

// binutils' addr2line beside the compiler (the Windows toolchain folder ships it too).
std::string addr2line_path(const std::string& compiler) {
  const size_t slash = compiler.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? std::string() : compiler.substr(0, slash);
#ifdef _WIN32
  return path_join(folder, "addr2line.exe");
#else
  return path_join(folder, "addr2line");
#endif
}

// An ELF program made position-independent: its addresses count from where it was loaded.
bool is_position_independent(const std::string& program) {
  return program.size() > 17 && program.compare(0, 4, "\x7f" "ELF") == 0 && program[16] == 3 &&
         program[17] == 0;
}

}  // namespace

std::vector<std::string> workspace::map_addresses(const std::string& program,
                                                  const std::vector<uint64_t>& addresses) {
  std::vector<std::string> lines;
  // The program ran with its folder given to it: the debug information is read from a copy of
  // the file as the compiler made it, in a new private folder of our own.
  std::string folder;
  if (!make_work_folder(&folder)) return lines;
  struct remover {
    const std::string& f;
    ~remover() { plat::work_folder_remove(f); }
  } remove_after{folder};
  const std::string exe = path_join(folder, "solution.exe");
  if (!plat::file_write(exe, program)) return lines;
  const std::string tool = addr2line_path(compiler_);
  if (!plat::path_exists(tool)) {
    log_write("W", "%s | 找不到 addr2line，无法定位崩溃所在行", log_tag_.c_str());
    return lines;
  }
  std::string line = "\"" + tool + "\" -e \"" + exe + "\"";
  for (uint64_t a : addresses) {
    char hex[24];
    std::snprintf(hex, sizeof hex, " 0x%llx", (unsigned long long)a);
    line += hex;
  }
  if (line.size() > command_line_units - 1) return lines;
  const run_result r = execute(line, folder, files_, address_lookup_ms, 1);
  if (!ended_well(r)) {
    cstr said(capture(files_, nullptr));
    char excerpt[300];
    log_text(excerpt, sizeof excerpt, said.get());
    log_write("W", "%s | addr2line 未能完成（退出码 %lu）：%s", log_tag_.c_str(),
              (unsigned long)r.exit_code, excerpt);
    return lines;
  }
  cstr text(capture(files_, nullptr));
  for (const char* p = text.get(); *p;) {
    const char* end = std::strchr(p, '\n');
    lines.emplace_back(p, end ? size_t(end - p) : std::strlen(p));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    if (!end) break;
    p = end + 1;
  }
  return lines;
}

std::string workspace::new_folder(const char* prefix) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    unsigned char random[8];
    if (!plat::random_bytes(random, sizeof random)) return std::string();
    std::string name = prefix;
    for (unsigned char b : random) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", unsigned(b));
      name += two;
    }
    if (plat::dir_create_private(path_join(dir_, name))) return path_join(dir_, name);
  }
  return std::string();
}

runtime_evidence workspace::diagnose(const char* input) {
  runtime_evidence none;
  if (diagnosed_ || !made_ || !diagnose_supported()) return none;
  diagnosed_ = true;
  // A new folder of its own: whatever the judged program left in the work folder (links to
  // files elsewhere among them) is never written through.
  const std::string folder = new_folder("diagnose-");
  if (folder.empty()) return none;
  const std::string line = "\"" + compiler_ + "\" " + lang_->arguments + plat::math_link_flags +
                           diagnose_flags;
  if (line.size() > command_line_units - 1) return none;
  const std::string exe = path_join(folder, "solution.exe");
  if (!file_write(path_join(folder, lang_->source_name), code_) ||
      !file_write(path_join(folder, diagnose_helper_name), diagnose_helper_source))
    return none;
  // The reporter's text is part of what the cache must tell apart.
  const std::string key_source = std::string(code_) + '\n' + diagnose_helper_source;
  compile_outcome built = compile_with_cache(compiler_, line, key_source.c_str(), folder, exe,
                                             files_, lang_->compile_ms);
  std::free(built.diagnostics);
  if (!ended_well(built.result)) {
    log_write("W", "%s | 诊断程序编译失败（%lu ms，退出码 %lu）", log_tag_.c_str(),
              (unsigned long)built.result.elapsed_ms, (unsigned long)built.result.exit_code);
    return none;
  }
  const std::optional<std::string> program = plat::file_read_all(exe, diagnose_exe_cap);
  if (!program) return none;
  files_.expect_runs(0);  // a cold start of its own, never a run set up for the judged program
  run_result r{};
  if (files_.set_input(input))
    r = execute(cut_command_line("\"" + exe + "\""), folder, files_, run_time_limit_ms, 0);
  runtime_evidence found;
  if (!r.started) {
    log_not_started(log_tag_, "诊断程序", r);
  } else if (!r.timed_out && !r.output_limited && r.exit_code != 0) {
    // A check that fails or a crash ends the run; a run that ends well reported nothing.
    cstr output(capture(files_, nullptr));
    const std::string& program_bytes = *program;
    found = read_evidence(output.get(), code_, lang_->source_name,
                          is_position_independent(program_bytes),
                          [&](const std::vector<uint64_t>& addresses) {
                            return map_addresses(program_bytes, addresses);
                          });
    if (!found.found) {  // what the run ended with, for whoever looks into it
      const char* text = output.get();
      const size_t n = std::strlen(text);
      char tail[400];
      log_text(tail, sizeof tail, text + (n > 300 ? n - 300 : 0));
      log_write("W", "%s | 诊断运行输出末尾：%s", log_tag_.c_str(), tail);
    }
  }
  log_write(found.found ? "I" : "W", "%s | 诊断运行 | 编译 %lu ms%s | 运行 %lu ms | 退出码 %lu%s | %s%s",
            log_tag_.c_str(), (unsigned long)built.result.elapsed_ms,
            built.from_cache ? "（缓存）" : "", (unsigned long)r.elapsed_ms,
            (unsigned long)r.exit_code, r.timed_out ? " | 超时" : "",
            found.found ? found.kind.c_str() : "未找到出错位置",
            found.found ? (" 第 " + std::to_string(found.line) + " 行").c_str() : "");
  return found;
}
