#include <cstdlib>

#include "log/log.h"
#include "platform/fs.h"
#include "platform/locate.h"
#include "platform/sys.h"
#include "platform/ui.h"
#include "store/store.h"
#include "store/store_internal.h"

void (*store_error_box)(const std::string&, const std::string&) = plat::message_box_error;

namespace {

constexpr size_t exe_path_max_units = 199;
constexpr size_t path_env_max_units = 8191;

struct compiler_probe {
  const char* name;          // file name without the system's suffix
  const char* own_label;     // the program's own toolchain
  const char* known_label;   // the well-known local install
  const char* search_label;  // found on the search path
  const char* missing_level;
  const char* missing_text;
  bool own_joins_path;       // only our own gcc puts its folder on PATH
};

const compiler_probe c_probe = {
    "gcc", "编译器（安装包自带，已加入 PATH）: ", "编译器（本机 Dev-C++）: ", "编译器（PATH）: ", "E",
    "没有找到 gcc.exe：自带工具链、D:\\Dev-Cpp\\MinGW64 与 PATH 都不可用", true};
const compiler_probe cpp_probe = {
    "g++", "C++ 编译器（安装包自带）: ", "C++ 编译器（本机 Dev-C++）: ", "C++ 编译器（PATH）: ", "W",
    "没有找到 g++.exe：C++ 题目无法评测（C 题目不受影响）", false};

bool is_file(const std::string& path) { return plat::path_exists(path) && !plat::path_is_dir(path); }

void prepend_to_path(const std::string& folder) {
  std::optional<std::string> old = plat::env_get("PATH");
  plat::env_set("PATH", path_list_prepend(folder, old.value_or(""), path_env_max_units));
}

// The chosen path; when nothing is found it still names a place (that does not exist), since
// the judge checks existence at the time of use.
std::string choose_compiler(const compiler_probe& p) {
  std::string file = std::string(p.name) + plat::exe_suffix;
  std::string own_bin = path_join(path_join(app_root, "toolchain"), "bin");
  std::string own = path_join(own_bin, file);
  if (is_file(own)) {
    if (p.own_joins_path) prepend_to_path(own_bin);
    log_wide("I", p.own_label, own);
    return own;
  }
  std::string fallback = own;
  if (*plat::known_compiler_dir) {
    fallback = std::string(plat::known_compiler_dir) + file;
    if (is_file(fallback)) {
      log_wide("I", p.known_label, fallback);
      return fallback;
    }
  }
  std::string found = plat::search_program(file);
  if (!found.empty()) {
    log_wide("I", p.search_label, found);
    return found;
  }
  log_write(p.missing_level, "%s", p.missing_text);
  return fallback;
}

}  // namespace

std::string path_list_prepend(const std::string& folder, const std::string& old_value, size_t limit) {
  if (old_value.empty()) return folder;
  std::string joined = folder + plat::path_list_sep + old_value;
  if (plat::path_units(joined) <= limit) return joined;
  size_t keep = plat::path_prefix_bytes(joined, limit);
  size_t sep = joined.rfind(plat::path_list_sep, keep);
  // Cut at the last separator that fits so no entry is left half-named.
  if (sep != std::string::npos && sep >= folder.size()) keep = sep;
  joined.resize(keep);
  return joined;
}

int store_root_from_exe(const std::string& exe, std::string* root) {
  size_t units = plat::path_units(exe);
  if (units < 1 || units > exe_path_max_units) return 0;
  size_t sep = exe.rfind(plat::path_sep);
  if (sep == std::string::npos) return 0;
  *root = exe.substr(0, sep);
  return 1;
}

int store_init_at(const std::string& root) {
  app_root = root;
  plat::dir_create(path_join(app_root, "data"));  // exists already, or the bank read below fails
  log_init();
  gcc_path = choose_compiler(c_probe);
  gpp_path = choose_compiler(cpp_probe);

  char* bank = bank_load();
  if (!bank) {
    log_write("E", "无法读取 data\\bank.json");
    return 0;
  }
  char* message = bank_validate(bank);
  std::free(bank);
  if (!message) {
    log_write("I", "题库校验通过，程序可以开始使用");
    return 1;
  }
  log_write("E", "题库校验失败: %s", message);
  store_error_box("Mesk", message);
  std::free(message);
  return 0;
}

int store_init() {
  std::string root;
  if (!store_root_from_exe(plat::exe_path(), &root)) return 0;
  return store_init_at(root);
}
