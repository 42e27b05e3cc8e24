#include "http/api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "cloud/cloud.h"
#include "json/json.h"
#include "json/text_buffer.h"
#include "judge/judge.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/instance.h"
#include "platform/sys.h"
#include "platform/text.h"
#include "store/store.h"

namespace {

const char* const json_type = "application/json; charset=utf-8";
const char* const not_found = "{\"error\":\"接口不存在或文件不可读取。\"}";
const char* const write_failed = "{\"error\":\"备份或写入失败，原数据保留。请检查目录是否可写。\"}";
const char* const ok_answer = "{\"ok\":true}";
constexpr unsigned long long restamp_limit = 65536;
constexpr size_t restamp_id_max = 79;

void send_json(const http_io& io, const char* text) { respond(io, 200, json_type, text); }

// An allocated answer (or nullptr for the not-found answer), sent with 200 and freed.
void send_owned(const http_io& io, char* text) {
  send_json(io, text ? text : not_found);
  free(text);
}

std::string error_object(const char* message) { return cstr(json_error(message)).get(); }

// The body must be well-formed UTF-8 over exactly the declared length (so not
// empty) and parse as a JSON object.
bool json_object_ok(const api_request& r) {
  if (r.content_length <= 0 || !plat::utf8_valid(std::string_view(r.body, static_cast<size_t>(r.content_length))))
    return false;
  json_doc doc;
  return json_parse(&doc, r.body) == 1 && doc.count > 0 && doc.tokens[0].type == 'o';
}

void log_save(bool ok, const char* what, int32_t length, bool backup_ok) {
  log_write(ok ? "I" : "E", "%s%s（%d 字节，备份%s）", what, ok ? "保存成功" : "保存失败", length,
            backup_ok ? "正常" : "失败");
}

void save_bank(const http_io& io, const api_request& r) {
  if (!json_object_ok(r)) return send_json(io, error_object("数据不是有效的 UTF-8 JSON 对象。").c_str());
  if (cstr message{bank_validate(r.body)}) return send_json(io, error_object(message.get()).c_str());
  bool written;
  {
    std::lock_guard<std::mutex> hold(store_lock);
    plat::local_time t = plat::time_local();
    char name[100];
    snprintf(name, sizeof name, "bank-backup-%04u%02u%02u-%02u%02u%02u-%03u.json", unsigned(t.year),
             unsigned(t.month), unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second),
             unsigned(t.millisecond));
    if (!plat::file_copy_new(store_path("bank.json"), store_path(name))) {
      log_save(false, "题库", r.content_length, false);
      return send_json(io, write_failed);
    }
    written = write_atomic(store_path("bank.json"), r.body) == 1;
  }
  log_save(written, "题库", r.content_length, true);
  send_json(io, written ? ok_answer : write_failed);
}

void save_state(const http_io& io, const api_request& r) {
  if (!json_object_ok(r)) return send_json(io, error_object("数据不是有效的 UTF-8 JSON 对象。").c_str());
  char name[header_value_max + 1];
  if (!header_value(r.request, "X-Mesk-Profile", name)) strcpy(name, "guest");
  bool written;
  {
    std::lock_guard<std::mutex> hold(store_lock);
    if (!cloud_profile_matches(name))
      return respond(io, 409, json_type, "{\"error\":\"账号已经切换，旧请求未写入。请重新打开页面。\"}");
    written = write_atomic(cloud_state_path(), r.body) == 1;
  }
  log_save(written, "学习进度", r.content_length, true);
  send_json(io, written ? ok_answer : write_failed);
}

// Hands the list out once: lines of 1 to 79 bytes become ids, the file is deleted.
void restamp_list(const http_io& io) {
  std::string path = store_path("restamp.ids");
  cstr text(read_utf8(path, restamp_limit));
  if (!text) return send_json(io, "{\"ids\":[]}");
  text_buffer b{};
  b_add(&b, "{\"ids\":[");
  bool first = true;
  const char* line = text.get();
  for (;;) {
    const char* lf = strchr(line, '\n');
    size_t len = lf ? static_cast<size_t>(lf - line) : strlen(line);
    if (len >= 1 && len <= restamp_id_max) {
      std::string id(line, len);
      if (!first) b_add(&b, ",");
      b_json(&b, id.c_str());
      first = false;
    }
    if (!lf) break;
    line = lf + 1;
  }
  b_add(&b, "]}");
  cstr answer(b_release(&b));
  plat::file_delete(path);
  send_json(io, answer.get());
}

void status(const http_io& io) {
  text_buffer b{};
  b_add(&b, "{\"compiler\":");
  b_json(&b, gcc_path.c_str());
  b_add(&b, ",\"cppCompiler\":");
  b_json(&b, gpp_path.c_str());
  b_fmt(&b, ",\"available\":%s,\"cppAvailable\":%s,\"version\":\"1.6.2\",\"standard\":\"C99 / C++11\",\"logDir\":",
        plat::path_exists(gcc_path) ? "true" : "false", plat::path_exists(gpp_path) ? "true" : "false");
  b_json(&b, log_dir.c_str());
  b_add(&b, "}");
  send_owned(io, b_release(&b));
}

void export_code(const http_io& io, const api_request& r) {
  json_doc doc;
  cstr code;
  if (json_parse(&doc, r.body) == 1) code.reset(j_str(&doc, j_get(&doc, 0, "code")));
  std::optional<std::string> gbk;
  if (code) gbk = plat::utf8_to_gbk(code.get());
  if (!gbk) {
    log_write("W", "导出 .c 失败：代码含 GBK 不支持的字符");
    return respond(io, 400, json_type, "{\"error\":\"代码含 GBK 不支持的字符，请移除表情或特殊符号后重试。\"}");
  }
  respond_bytes(io, 200, "application/octet-stream", gbk->data(), gbk->size());
}

void shutdown(const http_io& io) {
  log_write("I", "界面请求退出程序");
  plat::stop_set();
  send_json(io, ok_answer);
}

bool is(const api_request& r, const char* method, const char* path) {
  return strcmp(r.method, method) == 0 && strcmp(r.path, path) == 0;
}

}  // namespace

void api_handle(const http_io& io, const api_request& r) {
  if (strncmp(r.path, "/api/cloud/", 11) == 0) return send_owned(io, cloud_handle(r.method, r.path, r.body));
  if (is(r, "GET", "/api/bank")) return send_owned(io, bank_load());
  if (is(r, "GET", "/api/state")) return send_owned(io, state_load());
  if (is(r, "GET", "/api/restamp")) return restamp_list(io);
  if (is(r, "GET", "/api/status")) return status(io);
  // The judge is wired here by its module (judge_code with the body).
  if (is(r, "POST", "/api/judge")) return send_owned(io, judge_code(r.body));
  if (is(r, "POST", "/api/run")) return send_owned(io, judge_run(r.body));
  if (is(r, "GET", "/api/judge/progress")) return send_owned(io, judge_progress());
  if (is(r, "POST", "/api/judge/stop")) return send_owned(io, judge_stop());
  if (is(r, "POST", "/api/export-code")) return export_code(io, r);
  if (is(r, "POST", "/api/shutdown")) return shutdown(io);
  if (is(r, "POST", "/api/bank")) return save_bank(io, r);
  if (is(r, "POST", "/api/state")) return save_state(io, r);
  send_json(io, not_found);
}
