// Progress sync: pull and push through the service, the base of the last sync, the guest
// progress and backups before a merge. States pass through whole; only their first byte is read.
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string base_path() { return store_path("base-" + profile + ".json"); }

char* backup(const char* state) {
  ++backup_sequence;  // a failed attempt still uses up its number
  char name[64];
  snprintf(name, sizeof name, "bk-%.8s-%08lx-%04x.json", profile.c_str(),
           static_cast<unsigned long>(plat::tick_ms()), static_cast<unsigned>(backup_sequence));
  if (!plat::file_create_new(store_path(name), state)) return json_error(msg_backup_failed);
  return json_ok();
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

char* sync_post(const char* path, const char* body) {
  json_doc doc;
  if (json_parse(&doc, body) != 1) return json_error(msg_bad_body);
  cstr sent_profile(j_str(&doc, j_get(&doc, 0, "profile")));
  if (!sent_profile || std::strcmp(sent_profile.get(), profile.c_str()) != 0) return json_error(msg_profile_switched);
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
