// Accounts: the service address, signing in and out, the stored sign-in, the profile id, and
// the dispatcher of every /api/cloud/ request.
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "cloud/cloud.h"
#include "cloud/cloud_internal.h"
#include "json/json.h"
#include "json/text_buffer.h"
#include "platform/crypto.h"
#include "platform/fs.h"
#include "platform/sys.h"
#include "store/store.h"

std::string service;
std::string user_id;
std::string user_name;
std::string access_token;
int remembered = 0;
int backup_sequence = 0;
std::string restore_problem;
std::string restore_user;
std::mutex cloud_lock;

namespace {

const char* const msg_unconfigured = "云端服务尚未配置。部署服务后，在账号窗口填写 HTTPS 地址即可接通。";
const char* const msg_config_signed_in = "请先退出账号，再更换服务地址。";
const char* const msg_address_prompt =
    "请输入 HTTPS 服务根地址，例如 https://sync.example.com；本地测试可用 http://127.0.0.1:8080。";
const char* const msg_config_unsaved = "无法保存服务地址。";
const char* const msg_already_signed_in = "请先保存并退出当前账号，再登录其他账号。";
const char* const msg_account_unreachable = "暂时连接不到账号服务，请检查服务地址和网络。";
const char* const msg_bad_identity = "账号服务返回了无效的身份信息。";
const char* const msg_no_profile = "无法初始化本机账号标识。";
const char* const msg_sign_in_first = "请先登录账号。";
const char* const msg_session_stuck = "无法清除本机登录状态，请稍后重试。";

std::string session_path() { return store_path("cloud-session.bin"); }
// Who was signed in here last (address and name, no secret): lets a start tell a sign-in that
// could not be restored from never having signed in.
std::string marker_path() { return store_path("cloud-last.json"); }

void write_marker() {
  text_buffer b{};
  b_add(&b, "{\"server\":");
  b_json(&b, service.c_str());
  b_add(&b, ",\"username\":");
  b_json(&b, user_name.c_str());
  b_add(&b, "}");
  cstr text(b_release(&b));
  write_atomic(marker_path(), text.get());
}

void wipe(std::string& s) {
  plat::secure_wipe(s.data(), s.size());
  s.clear();
}

// Clears all identity fields together; the caller holds store_lock.
void clear_identity() {
  wipe(access_token);
  user_name.clear();
  user_id.clear();
  profile.clear();
  remembered = 0;
}

// "server" of a config file's text, if it is an address valid_url accepts.
bool take_configured(const char* text) {
  if (!text) return false;
  json_doc doc;
  if (json_parse(&doc, text) != 1) return false;
  cstr server(j_str(&doc, j_get(&doc, 0, "server")));
  if (!server || !valid_url(server.get())) return false;
  service = server.get();
  return true;
}

// Why a sign-in this folder had could not be restored: "" when it was (or there was none),
// "missing" (the stored sign-in is gone), "unreadable" (it does not open: damaged, another key,
// a moved folder), "address" (stored for another service address).
void note_restore(const char* problem) {
  cstr marker(read_utf8(marker_path(), config_limit));
  json_doc doc;
  cstr name;
  if (marker && json_parse(&doc, marker.get()) == 1) name.reset(j_str(&doc, j_get(&doc, 0, "username")));
  if (!marker && std::strcmp(problem, "missing") == 0) return;  // never signed in here
  restore_problem = problem;
  restore_user = name ? name.get() : "";
  if (restore_user.size() > user_name_max) restore_user.clear();
}

void restore_session() {
  std::optional<std::string> sealed = plat::file_read_all(session_path(), session_limit);
  if (!sealed || sealed->empty()) {
    note_restore(plat::path_exists(session_path()) ? "unreadable" : "missing");
    return;
  }
  std::optional<std::string> plain = plat::secret_open(*sealed, app_root);
  if (!plain) {
    note_restore("unreadable");
    return;
  }
  bool restored = false;
  bool other_address = false;
  if (!plain->empty() && plain->back() == '\0') {
    json_doc doc;
    if (json_parse(&doc, plain->c_str()) == 1) {
      cstr server(j_str(&doc, j_get(&doc, 0, "server")));
      cstr id(j_str(&doc, j_get(&doc, 0, "id")));
      cstr name(j_str(&doc, j_get(&doc, 0, "username")));
      char* token = j_str(&doc, j_get(&doc, 0, "token"));
      if (server && std::strcmp(server.get(), service.c_str()) == 0 &&
          valid_identity(id.get(), name.get(), token)) {
        user_id = id.get();
        user_name = name.get();
        access_token = token;
        make_profile();
        if (profile.empty()) clear_identity();
        else remembered = 1;
        restored = !profile.empty();
      } else if (server && std::strcmp(server.get(), service.c_str()) != 0) {
        other_address = true;
      }
      wipe_free(token);
    }
  }
  plat::secure_wipe(plain->data(), plain->size());
  if (!restored) note_restore(other_address ? "address" : "unreadable");
}

// Seals the sign-in for this user and program folder and replaces cloud-session.bin.
bool store_session() {
  text_buffer b{};
  b_add(&b, "{\"server\":");
  b_json(&b, service.c_str());
  b_add(&b, ",\"token\":");
  b_json(&b, access_token.c_str());
  b_add(&b, ",\"id\":");
  b_json(&b, user_id.c_str());
  b_add(&b, ",\"username\":");
  b_json(&b, user_name.c_str());
  b_add(&b, "}");
  uint64_t length = b.length + 1;  // the terminator is part of what is sealed
  char* plain = b_release(&b);
  std::optional<std::string> sealed = plat::secret_seal(std::string_view(plain, length), app_root);
  plat::secure_wipe(plain, length);
  std::free(plain);
  return sealed && plat::file_replace_atomic(session_path(), *sealed, true);
}

char* config_endpoint(const char* body) {
  if (!profile.empty()) return json_error(msg_config_signed_in);
  json_doc doc;
  cstr server;
  if (json_parse(&doc, body) == 1) server.reset(j_str(&doc, j_get(&doc, 0, "server")));
  if (!server || !valid_url(server.get())) return json_error(msg_address_prompt);
  std::string address = server.get();
  if (!address.empty() && address.back() == '/') address.pop_back();
  text_buffer b{};
  b_add(&b, "{\"server\":");
  b_json(&b, address.c_str());
  b_add(&b, "}");
  cstr text(b_release(&b));
  if (write_atomic(store_path("cloud-config.json"), text.get()) != 1) return json_error(msg_config_unsaved);
  service = address;
  return public_status();
}

char* sign_in_endpoint(const char* service_path, const char* body) {
  if (!profile.empty()) return json_error(msg_already_signed_in);
  uint32_t status = 0;
  char* answer = remote("POST", service_path, body, false, &status);
  if (!answer) return json_error(msg_account_unreachable);
  if (status != 200 && status != 201) return answer;  // the service's own error, for the page

  json_doc doc;
  json_parse(&doc, answer);
  int user = j_get(&doc, 0, "user");
  cstr id(j_str(&doc, j_get(&doc, user, "id")));
  cstr name(j_str(&doc, j_get(&doc, user, "username")));
  char* token = j_str(&doc, j_get(&doc, 0, "token"));
  char* recovery = j_str(&doc, j_get(&doc, 0, "recovery"));
  char* result = nullptr;
  if (!valid_identity(id.get(), name.get(), token)) {
    result = json_error(msg_bad_identity);
  } else {
    {
      std::lock_guard<std::mutex> hold(store_lock);
      user_id = id.get();
      user_name = name.get();
      access_token = token;
      make_profile();
      if (profile.empty()) clear_identity();
    }
    if (profile.empty()) {
      result = json_error(msg_no_profile);
    } else {
      // A sign-in that cannot be stored still holds for this run.
      bool stored = store_session();
      write_marker();
      restore_problem.clear();
      restore_user.clear();
      {
        std::lock_guard<std::mutex> hold(store_lock);
        remembered = stored ? 1 : 0;
      }
      text_buffer b{};
      b_add(&b, "{\"ok\":true,\"status\":");
      cstr status_text(public_status());
      b_add(&b, status_text.get());
      if (recovery) {
        b_add(&b, ",\"recovery\":");
        b_json(&b, recovery);
      }
      b_add(&b, "}");
      result = b_release(&b);
    }
  }
  json_free(&doc);
  wipe_free(token);
  wipe_free(recovery);
  wipe_free(answer);
  return result;
}

char* logout_endpoint() {
  uint32_t status = 0;
  std::free(remote("POST", "/v1/logout", "{}", true, &status));  // the service's view does not matter
  std::string path = session_path();
  if (plat::path_exists(path) && !plat::file_delete(path)) return json_error(msg_session_stuck);
  plat::file_delete(marker_path());
  {
    std::lock_guard<std::mutex> hold(store_lock);
    clear_identity();
  }
  return json_ok();
}

// This program folder's id for the page's per-device counters: a random seed kept in the data
// folder, mixed with the folder's path so that a copied folder counts as another device.
std::string device_id() {
  std::string seed_path = store_path("device-seed.txt");
  cstr seed(read_utf8(seed_path, 256));
  if (!seed || std::strlen(seed.get()) != 32) {
    uint8_t raw[16];
    if (!plat::random_bytes(raw, sizeof raw)) return "";
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", raw[i]);
    if (!seed) plat::file_create_new(seed_path, std::string_view(hex, 32));
    else write_atomic(seed_path, hex);
    seed.reset(read_utf8(seed_path, 256));
    if (!seed || std::strlen(seed.get()) != 32) return "";
  }
  uint8_t digest[32];
  if (!plat::sha256(std::string(seed.get()) + app_root, digest)) return "";
  char hex[13];
  for (int i = 0; i < 6; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return std::string(hex, 12);
}

// What only this computer knows: its device id and a sign-in that could not be restored.
char* local_endpoint() {
  text_buffer b{};
  b_add(&b, "{\"device\":");
  b_json(&b, device_id().c_str());
  b_add(&b, ",\"restore\":");
  b_json(&b, restore_problem.c_str());
  b_add(&b, ",\"lastUser\":");
  b_json(&b, restore_user.c_str());
  b_add(&b, "}");
  return b_release(&b);
}

}  // namespace

char* public_status() {
  text_buffer b{};
  b_add(&b, "{\"server\":");
  b_json(&b, service.c_str());
  b_fmt(&b, ",\"configured\":%s,\"loggedIn\":%s,\"remembered\":%s,\"profile\":",
        service.empty() ? "false" : "true", profile.empty() ? "false" : "true", remembered == 1 ? "true" : "false");
  b_json(&b, profile.empty() ? "guest" : profile.c_str());
  b_add(&b, ",\"username\":");
  b_json(&b, user_name.c_str());
  b_add(&b, "}");
  return b_release(&b);
}

int valid_identity(const char* id, const char* name, const char* token) {
  if (!id || !name || !token) return 0;
  if (std::strlen(id) != 36 || std::strlen(token) != 43) return 0;
  for (const char* p = id; *p; ++p)
    if (!isxdigit(static_cast<unsigned char>(*p)) && *p != '-') return 0;
  size_t name_length = std::strlen(name);
  if (name_length < 1 || name_length > user_name_max) return 0;
  for (const char* p = token; *p; ++p)
    if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-') return 0;
  return 1;
}

void make_profile() {
  profile.clear();
  uint8_t digest[32];
  if (!plat::sha256(service + user_id, digest)) return;
  char hex[33];
  for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  profile.assign(hex, 32);
}

void cloud_init() {
  cstr config(read_utf8(store_path("cloud-config.json"), config_limit));
  if (config) take_configured(config.get());
  else take_configured(cstr(read_utf8(path_join(app_root, "cloud-default.json"), config_limit)).get());
  restore_session();
}

char* handle_locked(const char* method, const char* path, const char* body) {
  bool get = std::strcmp(method, "GET") == 0;
  bool post = std::strcmp(method, "POST") == 0;
  if (get) {
    if (std::strcmp(path, "/api/cloud/status") == 0) return public_status();
    if (std::strcmp(path, "/api/cloud/base") == 0) return sync_base();
    if (std::strcmp(path, "/api/cloud/guest") == 0) return sync_guest();
    if (std::strcmp(path, "/api/cloud/local") == 0) return local_endpoint();
  }
  if (post && std::strcmp(path, "/api/cloud/config") == 0) return config_endpoint(body);
  if (service.empty()) return json_error(msg_unconfigured);
  if (post) {
    if (std::strcmp(path, "/api/cloud/login") == 0) return sign_in_endpoint("/v1/login", body);
    if (std::strcmp(path, "/api/cloud/register") == 0) return sign_in_endpoint("/v1/register", body);
    if (std::strcmp(path, "/api/cloud/recover") == 0) return sign_in_endpoint("/v1/recover", body);
    if (profile.empty()) return json_error(msg_sign_in_first);
    if (std::strcmp(path, "/api/cloud/logout") == 0) return logout_endpoint();
    return sync_post(path, body);
  }
  if (profile.empty()) return json_error(msg_sign_in_first);
  if (get && std::strcmp(path, "/api/cloud/pull") == 0) return sync_pull();
  if (get && std::strcmp(path, "/api/cloud/backups") == 0) return sync_backups();
  return json_error(msg_no_such_endpoint);
}

char* cloud_handle(const char* method, const char* path, const char* body) {
  std::lock_guard<std::mutex> hold(cloud_lock);
  return handle_locked(method, path, body ? body : "");
}
