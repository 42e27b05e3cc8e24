#include "app/import.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/import_merge.h"
#include "json/json.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/sys.h"
#include "store/store.h"

namespace {

constexpr const char* bank_name = "bank.json";
constexpr const char* restamp_name = "restamp.ids";

// The import runs before (and instead of) the store start-up, so it fixes the program
// folder and starts the log itself. false when the executable's path is unusable.
bool start_store_and_log() {
  auto root = import_app_root(plat::exe_path());
  if (!root) return false;
  app_root = *root;
  plat::dir_create(path_join(app_root, "data"));  // may exist already
  log_init();
  return true;
}

std::string backup_name() {
  plat::local_time t = plat::time_local();
  char name[100];
  std::snprintf(name, sizeof name, "bank-backup-%04u%02u%02u-%02u%02u%02u-%03u.json",
                unsigned(t.year), unsigned(t.month), unsigned(t.day), unsigned(t.hour),
                unsigned(t.minute), unsigned(t.second), unsigned(t.millisecond));
  return store_path(name);
}

// The installed bank, when there is one, must be readable and valid: merging over a bank
// we cannot read would silently drop the learner's questions. false means cancel.
bool check_installed(const std::string& path, cstr& installed) {
  if (!plat::path_exists(path)) return true;
  installed.reset(read_utf8(path, store_file_limit));
  const char* why = "无法读取原题库";
  cstr message;
  if (installed) {
    message.reset(bank_validate(installed.get()));
    if (!message) return true;
    why = message.get();
  }
  log_write("E", "--import-bank 原题库无法安全合并，已取消导入: %s", why);
  return false;
}

// Writes the ids whose judging basis is unchanged. Failures are silent: the new bank is in.
void write_restamp(const char* installed, const std::string& merged) {
  auto list = restamp_list(installed, merged.c_str());
  if (!list) return;
  // Replaced whole, so a running instance serving /api/restamp never reads half a list.
  if (!write_atomic(store_path(restamp_name), list->c_str())) return;
  log_write("I", "--import-bank 已记录判题依据未变的题目，供重贴通过标记");
}

}  // namespace

int import_bank(const std::string& command_line) {
  auto package_path = import_argument(command_line);
  if (!package_path) return 1;
  if (!start_store_and_log()) return 1;

  cstr package(read_utf8(*package_path, store_file_limit));
  if (!package) {
    log_wide("E", "--import-bank 读不到文件: ", *package_path);
    return 1;
  }
  if (cstr message{bank_validate(package.get())}) {
    log_write("E", "--import-bank 题库校验失败: %s", message.get());
    return 1;
  }

  const std::string bank_path = store_path(bank_name);
  cstr installed;
  if (!check_installed(bank_path, installed)) return 1;

  auto merged = bank_merge(package.get(), installed.get());
  if (!merged) {
    log_write("E", "--import-bank 合并题库失败");
    return 1;
  }
  if (cstr message{bank_validate(merged->c_str())}) {
    log_write("E", "--import-bank 合并后的题库校验失败: %s", message.get());
    return 1;
  }

  const std::string backup = backup_name();
  if (plat::path_exists(bank_path) && !plat::file_copy_new(bank_path, backup)) {
    log_write("E", "--import-bank 备份失败，已取消导入，原题库保留");
    return 1;
  }
  if (!write_atomic(bank_path, merged->c_str())) {
    log_write("E", "--import-bank 写入题库失败");
    return 1;
  }

  if (installed) write_restamp(installed.get(), *merged);

  log_write("I", "--import-bank 题库已更新（题库包 %d 字节，合并后 %d 字节）",
            static_cast<int>(std::strlen(package.get())), static_cast<int>(merged->size()));
  return 0;
}
