// Progress sync: pull and push through the service, the base of the last sync, the guest
// progress and backups before a merge. States pass through whole; only their first byte is read.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cloud/cloud_internal.h"
#include "json/json.h"
#include "json/text_buffer.h"
#include "platform/fs.h"
#include "platform/sys.h"
#include "store/store.h"

namespace {

const char* const default_base = "{\"revision\":0,\"state\":{\"records\":{}}}";
const char* const default_guest = "{\"records\":{}}";
const char* const msg_bad_body = "同步数据无效。";
const char* const msg_profile_switched = "账号已经切换，旧请求未写入。请重新打开页面。";
const char* const msg_bad_state = "同步记录格式无效。";
const char* const msg_bad_revision = "同步版本号无效。";
const char* const msg_base_unsaved = "无法保存同步基线。";
const char* const msg_backup_failed = "无法备份旧记录，已暂停合并。";
const char* const msg_no_backup = "找不到这个备份，或它已损坏。";
constexpr size_t backups_per_account = 10;
constexpr uint64_t backups_total_bytes = 20ull * 1024 * 1024;

std::string base_path() { return store_path("base-" + profile + ".json"); }

struct backup_file {
  std::string name;
  uint64_t size = 0;
  int64_t write_time = 0;
};

// Backups in the data folder, newest first (by write time, then name); prefix "" for all.
std::vector<backup_file> list_backups(const std::string& prefix) {
  std::vector<backup_file> out;
  for (const plat::dir_entry& e : plat::dir_list(path_join(app_root, "data"), "bk-*.json")) {
    if (e.is_dir || e.name.compare(0, prefix.size(), prefix) != 0) continue;
    std::optional<uint64_t> size = plat::file_size(store_path(e.name));
    out.push_back({e.name, size ? *size : 0, e.write_time});
  }
  std::sort(out.begin(), out.end(), [](const backup_file& a, const backup_file& b) {
    return a.write_time != b.write_time ? a.write_time > b.write_time : a.name > b.name;
  });
  return out;
}

std::string own_prefix() { return "bk-" + profile.substr(0, 8) + "-"; }

// Keeps backups bounded: the newest backups_per_account of this account, and backups_total_bytes
// over all accounts, the oldest removed first. The backup just written is never removed.
void prune_backups(const std::string& keep) {
  std::vector<backup_file> mine = list_backups(own_prefix());
  for (size_t i = backups_per_account; i < mine.size(); ++i)
    if (mine[i].name != keep) plat::file_delete(store_path(mine[i].name));
  std::vector<backup_file> all = list_backups("");
  uint64_t total = 0;
  for (const backup_file& b : all) {
    if (b.name == keep || total + b.size <= backups_total_bytes) {
      total += b.size;
      continue;
    }
    plat::file_delete(store_path(b.name));
  }
}

char* backup(const char* state) {
  ++backup_sequence;  // a failed attempt still uses up its number
  char name[64];
  snprintf(name, sizeof name, "bk-%.8s-%08lx-%04x.json", profile.c_str(),
           static_cast<unsigned long>(plat::tick_ms()), static_cast<unsigned>(backup_sequence));
  if (!plat::file_create_new(store_path(name), state)) return json_error(msg_backup_failed);
  prune_backups(name);
  return json_ok();
}

// A backup name of this account as backup() makes them; nothing else is ever opened.
bool own_backup_name(const char* name) {
  std::string prefix = own_prefix();
  size_t length = std::strlen(name);
  if (length > 48 || length < prefix.size() + 6 || std::strncmp(name, prefix.c_str(), prefix.size()) != 0) return false;
  if (std::strcmp(name + length - 5, ".json") != 0) return false;
  for (size_t i = prefix.size(); i < length - 5; ++i) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-')) return false;
  }
  return true;
}

char* open_backup(const json_doc* doc) {
  cstr name(j_str(doc, j_get(doc, 0, "name")));
  if (!name || !own_backup_name(name.get())) return json_error(msg_no_backup);
  cstr text(read_utf8(store_path(name.get()), store_file_limit));
  json_doc check;
  if (!text || json_parse(&check, text.get()) != 1 || check.count < 1 || check.tokens[0].type != 'o') {
    return json_error(msg_no_backup);
  }
  text_buffer b{};
  b_add(&b, "{\"state\":");
  b_add(&b, text.get());
  b_add(&b, "}");
  return b_release(&b);
}

}  // namespace

char* sync_base() {
  if (profile.empty()) return text_copy(default_base);
  char* text = read_utf8(base_path(), store_file_limit);
  return text ? text : text_copy(default_base);
}

char* sync_guest() {
  char* text = read_utf8(store_path("state.json"), store_file_limit);
  return text ? text : text_copy(default_guest);
}

char* sync_pull() { return wrapped_remote("GET", nullptr); }

char* sync_backups() {
  text_buffer b{};
  b_add(&b, "{\"backups\":[");
  bool first = true;
  for (const backup_file& f : list_backups(own_prefix())) {
    b_add(&b, first ? "{\"name\":" : ",{\"name\":");
    first = false;
    b_json(&b, f.name.c_str());
    // Windows file time to milliseconds since 1970.
    long long ms = (f.write_time - 116444736000000000LL) / 10000;
    b_fmt(&b, ",\"size\":%llu,\"time\":%lld}", static_cast<unsigned long long>(f.size), ms);
  }
  b_add(&b, "]}");
  return b_release(&b);
}

char* sync_post(const char* path, const char* body) {
  json_doc doc;
  if (json_parse(&doc, body) != 1) return json_error(msg_bad_body);
  cstr sent_profile(j_str(&doc, j_get(&doc, 0, "profile")));
  if (!sent_profile || std::strcmp(sent_profile.get(), profile.c_str()) != 0) return json_error(msg_profile_switched);
  if (std::strcmp(path, "/api/cloud/backup-open") == 0) return open_backup(&doc);
  cstr state(j_raw(&doc, j_get(&doc, 0, "state")));
  int revision = j_int(&doc, j_get(&doc, 0, "revision"), -1);
  if (!state || state.get()[0] != '{') return json_error(msg_bad_state);

  if (std::strcmp(path, "/api/cloud/push") == 0) {
    text_buffer b{};
    b_fmt(&b, "{\"revision\":%d,\"state\":", revision);
    b_add(&b, state.get());
    b_add(&b, "}");
    cstr put(b_release(&b));
    return wrapped_remote("PUT", put.get());
  }
  if (std::strcmp(path, "/api/cloud/base") == 0) {
    if (revision < 0) return json_error(msg_bad_revision);
    if (write_atomic(base_path(), body) != 1) return json_error(msg_base_unsaved);
    return json_ok();
  }
  if (std::strcmp(path, "/api/cloud/backup") == 0) return backup(state.get());
  return json_error(msg_no_such_endpoint);
}
