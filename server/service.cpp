#include "service.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "db.h"
#include "json/json.h"
#include "json/text_buffer.h"

namespace {

constexpr size_t body_limit = 4194304;
// A stored state is answered back inside {"error":...,"revision":N,"state":...} on a
// conflict; keeping it this much under the body limit keeps every answer within 4 MiB,
// the most a client reads.
constexpr size_t state_limit = body_limit - 1024;
constexpr size_t password_min = 8, password_max = 1024, name_max = 127;

namespace msg {
const char* const not_json = "请求内容不是有效的 JSON 对象。";
const char* const bad_request = "请求格式无效。";
const char* const need_credentials = "请填写用户名和密码。";
const char* const bad_name = "用户名需为 1 到 127 个字节的文字，不能包含控制字符。";
const char* const bad_password = "密码长度需为 8 到 1024 个字节。";
const char* const name_taken = "该用户名已被注册。";
const char* const wrong_login = "用户名或密码错误。";
const char* const need_recovery = "请填写用户名、恢复码和新密码。";
const char* const wrong_recovery = "用户名或恢复码错误。";
const char* const bad_token = "登录已失效，请重新登录。";
const char* const stale = "云端进度已被其他设备更新，请先同步再保存。";
const char* const bad_revision = "同步版本号必须是整数。";
const char* const bad_state = "进度数据必须是 JSON 对象。";
const char* const too_large = "请求内容过大，上限为 4 MiB。";
const char* const state_too_large = "进度数据过大，请精简后再同步。";
const char* const too_many = "尝试次数过多，请稍后再试。";
const char* const no_method = "不支持该请求方法。";
const char* const no_route = "接口不存在。";
const char* const need_length = "请求须带 Content-Length。";
const char* const internal = "服务器内部错误，请稍后再试。";
const char* const storage = "数据库暂时不可用，请稍后再试。";
}  // namespace msg

const char* const json_type = "application/json; charset=utf-8";

struct service {
  service_config cfg;
  db_pool* db = nullptr;
  attempt_limiter by_name, by_address;
};
service* svc = nullptr;

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}
std::string unix_now() { return std::to_string(static_cast<long long>(std::time(nullptr))); }

void answer(httplib::Response& res, int status, std::string body) {
  res.status = status;
  res.set_content(std::move(body), json_type);
}

void fail(httplib::Response& res, int status, const char* message) {
  cstr e(json_error(message));
  answer(res, status, e.get());
}

// ---- request bodies ------------------------------------------------------------------

bool valid_utf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c == 0) return false;
      i++;
      continue;
    }
    int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (!len || c > 0xF4 || i + len > n) return false;
    uint32_t cp = c & (0x3F >> (len - 1));
    for (int k = 1; k < len; k++) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += static_cast<size_t>(len);
  }
  return true;
}

// The parsed body; its root is an object. Answers 400 and returns false otherwise.
bool parse_body(const httplib::Request& req, httplib::Response& res, json_doc* doc) {
  if (!valid_utf8(req.body) || !json_parse(doc, req.body.c_str()) || doc->count == 0 ||
      doc->tokens[0].type != 'o') {
    fail(res, 400, msg::not_json);
    return false;
  }
  return true;
}

// A string member, or nullopt when it is missing, not a string, or holds a NUL.
std::optional<std::string> text_member(const json_doc* doc, const char* key) {
  int at = j_get(doc, 0, key);
  if (at < 0 || doc->tokens[at].type != 's') return std::nullopt;
  const json_token& t = doc->tokens[at];
  std::string_view raw(doc->text + t.start, static_cast<size_t>(t.end - t.start));
  if (raw.find("\\u0000") != std::string_view::npos) return std::nullopt;
  cstr s(j_str(doc, at));
  if (!s) return std::nullopt;
  std::string out(s.get());
  std::memset(s.get(), 0, out.size());
  return out;
}

bool valid_name(const std::string& n) {
  if (n.empty() || n.size() > name_max || !valid_utf8(n)) return false;
  for (unsigned char c : n)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// Names are unique without regard to the case of Latin letters.
std::string name_key(const std::string& n) {
  std::string k = n;
  for (char& c : k)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return k;
}

std::string identity(const std::string& id, const std::string& name, const std::string& token,
                     const std::string* recovery) {
  text_buffer b{};
  b_add(&b, "{\"user\":{\"id\":");
  b_json(&b, id.c_str());
  b_add(&b, ",\"username\":");
  b_json(&b, name.c_str());
  b_add(&b, "},\"token\":");
  b_json(&b, token.c_str());
  if (recovery) {
    b_add(&b, ",\"recovery\":");
    b_json(&b, recovery->c_str());
  }
  b_add(&b, "}");
  cstr out(b_release(&b));
  std::string s(out.get());
  std::memset(out.get(), 0, s.size());
  return s;
}

// ---- who is asking ------------------------------------------------------------------

bool loopback(const std::string& a) {
  return a.rfind("127.", 0) == 0 || a == "::1" || a.rfind("::ffff:127.", 0) == 0;
}

std::string client_address(const httplib::Request& req) {
  if (svc->cfg.trust_proxy && loopback(req.remote_addr)) {
    std::string fwd = req.get_header_value("X-Forwarded-For");
    size_t comma = fwd.rfind(',');
    std::string last = comma == std::string::npos ? fwd : fwd.substr(comma + 1);
    size_t a = last.find_first_not_of(" \t"), z = last.find_last_not_of(" \t");
    if (a != std::string::npos) return last.substr(a, z - a + 1);
  }
  return req.remote_addr;
}

bool token_shaped(std::string_view t) {
  if (t.size() != 43) return false;
  for (char c : t)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return false;
  return true;
}

// The account id behind the request's bearer token; answers 401 (or 503) and returns
// nullopt when there is none. digest_out receives the token's digest.
std::optional<std::string> signed_in(const httplib::Request& req, httplib::Response& res,
                                     std::string* digest_out = nullptr) {
  std::string h = req.get_header_value("Authorization");
  const std::string_view prefix = "Bearer ";
  if (h.size() <= prefix.size() || h.compare(0, prefix.size(), prefix) != 0 ||
      !token_shaped(std::string_view(h).substr(prefix.size()))) {
    wipe(h);
    fail(res, 401, msg::bad_token);
    return std::nullopt;
  }
  std::string digest = token_digest(std::string_view(h).substr(prefix.size()));
  wipe(h);
  db_lease l(svc->db);
  db_result r = db_query(l.conn, "SELECT token_hash, account_id FROM tokens WHERE token_hash = $1", {digest});
  if (!r.ok()) {
    fail(res, 503, msg::storage);
    return std::nullopt;
  }
  if (r.rows.empty() || !r.rows[0][0] || !same_secret(*r.rows[0][0], digest)) {
    fail(res, 401, msg::bad_token);
    return std::nullopt;
  }
  if (digest_out) *digest_out = digest;
  return r.rows[0][1];
}

// 0 when both the name and the address may try now; else answers 429.
bool may_try(const std::string& key, const std::string& address, httplib::Response& res) {
  int64_t now = steady_ms();
  int wait = std::max(limiter_check(&svc->by_name, key, now), limiter_check(&svc->by_address, address, now));
  if (!wait) return true;
  fail(res, 429, msg::too_many);
  res.set_header("Retry-After", std::to_string(wait));
  return false;
}

void failed_try(const std::string& key, const std::string& address) {
  int64_t now = steady_ms();
  limiter_fail(&svc->by_name, key, now);
  limiter_fail(&svc->by_address, address, now);
}

// Stores a fresh token for the account inside the caller's transaction.
bool add_token(db_conn* c, const std::string& account, const std::string& token) {
  return db_query(c, "INSERT INTO tokens (token_hash, account_id, created_at) VALUES ($1, $2, $3)",
                  {token_digest(token), account, unix_now()}).ok();
}

// ---- routes ---------------------------------------------------------------------------

void do_register(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto password = text_member(&doc, "password");
  if (!name || !password) return fail(res, 400, msg::need_credentials);
  if (!valid_name(*name)) return fail(res, 400, msg::bad_name);
  if (password->size() < password_min || password->size() > password_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_password);
  }
  std::string recovery = new_recovery_code();
  std::string password_hash = hash_secret(*password);
  std::string recovery_hash = hash_secret(recovery_canonical(recovery));
  wipe(*password);
  if (password_hash.empty() || recovery_hash.empty()) return fail(res, 500, msg::internal);
  std::string id = new_uuid(), token = new_token(), now = unix_now();

  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  db_result r = db_query(l.conn,
      "INSERT INTO accounts (id, username, name_key, password_hash, recovery_hash, created_at) "
      "VALUES ($1, $2, $3, $4, $5, $6)", {id, *name, name_key(*name), password_hash, recovery_hash, now});
  if (r.status == db_status::unique_violation) return fail(res, 409, msg::name_taken);
  if (!r.ok() || !add_token(l.conn, id, token) ||
      !db_query(l.conn, "INSERT INTO progress (account_id, revision, state, updated_at) VALUES ($1, 0, '{}', $2)",
                {id, now}).ok() ||
      !tx.commit())
    return fail(res, 503, msg::storage);
  answer(res, 201, identity(id, *name, token, &recovery));
  wipe(token);
  wipe(recovery);
}

void do_login(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto password = text_member(&doc, "password");
  if (!name || !password) return fail(res, 400, msg::need_credentials);
  std::string key = name_key(*name), address = client_address(req);
  if (!may_try(key, address, res)) return wipe(*password);

  std::optional<std::string> id, stored_name, hash;
  {
    db_lease l(svc->db);
    db_result r = db_query(l.conn, "SELECT id, username, password_hash FROM accounts WHERE name_key = $1", {key});
    if (!r.ok()) return fail(res, 503, msg::storage);
    if (!r.rows.empty()) id = r.rows[0][0], stored_name = r.rows[0][1], hash = r.rows[0][2];
  }
  // A missing account costs the same hash as a wrong password and answers the same.
  int ok = 0;
  if (hash && id && stored_name) ok = verify_secret(*hash, *password);
  else verify_nothing(*password);
  if (!ok) {
    wipe(*password);
    failed_try(key, address);
    return fail(res, 401, msg::wrong_login);
  }
  limiter_clear(&svc->by_name, key);
  std::string fresh_hash = hash_outdated(*hash) ? hash_secret(*password) : "";
  wipe(*password);

  std::string token = new_token();
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open || !add_token(l.conn, *id, token)) return fail(res, 503, msg::storage);
  if (!fresh_hash.empty())  // parameters were raised since this password was stored
    db_query(l.conn, "UPDATE accounts SET password_hash = $1 WHERE id = $2 AND password_hash = $3",
             {fresh_hash, *id, *hash});
  if (!tx.commit()) return fail(res, 503, msg::storage);
  answer(res, 200, identity(*id, *stored_name, token, nullptr));
  wipe(token);
}

void do_recover(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto typed = text_member(&doc, "recovery");
  auto password = text_member(&doc, "password");
  if (!name || !typed || !password) return fail(res, 400, msg::need_recovery);
  if (password->size() < password_min || password->size() > password_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_password);
  }
  std::string key = name_key(*name), address = client_address(req);
  if (!may_try(key, address, res)) return wipe(*password);
  std::string code = recovery_canonical(*typed);
  wipe(*typed);

  std::optional<std::string> id, stored_name, old_hash;
  {
    db_lease l(svc->db);
    db_result r = db_query(l.conn, "SELECT id, username, recovery_hash FROM accounts WHERE name_key = $1", {key});
    if (!r.ok()) return fail(res, 503, msg::storage);
    if (!r.rows.empty()) id = r.rows[0][0], stored_name = r.rows[0][1], old_hash = r.rows[0][2];
  }
  int ok = 0;
  if (old_hash && id && stored_name && !code.empty()) ok = verify_secret(*old_hash, code);
  else verify_nothing(code);
  wipe(code);
  if (!ok) {
    wipe(*password);
    failed_try(key, address);
    return fail(res, 401, msg::wrong_recovery);
  }
  limiter_clear(&svc->by_name, key);
  std::string recovery = new_recovery_code();
  std::string password_hash = hash_secret(*password);
  std::string recovery_hash = hash_secret(recovery_canonical(recovery));
  wipe(*password);
  if (password_hash.empty() || recovery_hash.empty()) return fail(res, 500, msg::internal);

  // The code is spent: the update only lands while the old code is still the stored one,
  // so two recoveries with the same code cannot both succeed. Every earlier sign-in ends.
  std::string token = new_token();
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  db_result r = db_query(l.conn,
      "UPDATE accounts SET password_hash = $1, recovery_hash = $2 WHERE id = $3 AND recovery_hash = $4",
      {password_hash, recovery_hash, *id, *old_hash});
  if (!r.ok()) return fail(res, 503, msg::storage);
  if (r.changes != 1) return fail(res, 401, msg::wrong_recovery);
  if (!db_query(l.conn, "DELETE FROM tokens WHERE account_id = $1", {*id}).ok() ||
      !add_token(l.conn, *id, token) || !tx.commit())
    return fail(res, 503, msg::storage);
  answer(res, 200, identity(*id, *stored_name, token, &recovery));
  wipe(token);
  wipe(recovery);
}

void do_logout(const httplib::Request& req, httplib::Response& res) {
  std::string digest;
  if (!signed_in(req, res, &digest)) return;
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  db_result r = db_query(l.conn, "DELETE FROM tokens WHERE token_hash = $1", {digest});
  if (!r.ok() || !tx.commit()) return fail(res, 503, msg::storage);
  if (r.changes != 1) return fail(res, 401, msg::bad_token);  // a racing logout got there first
  answer(res, 200, "{\"ok\":true}");
}

std::string progress_text(const std::string& revision, const std::string& state, const char* error) {
  std::string out;
  out.reserve(state.size() + 128);
  out += "{";
  if (error) {
    cstr e(json_error(error));
    out.append(e.get() + 1, std::strlen(e.get()) - 2);
    out += ",";
  }
  out += "\"revision\":" + revision + ",\"state\":" + state + "}";
  return out;
}

void do_progress_get(const httplib::Request& req, httplib::Response& res) {
  auto account = signed_in(req, res);
  if (!account) return;
  db_lease l(svc->db);
  db_result r = db_query(l.conn, "SELECT revision, state FROM progress WHERE account_id = $1", {*account});
  if (!r.ok()) return fail(res, 503, msg::storage);
  if (r.rows.empty() || !r.rows[0][0] || !r.rows[0][1]) return answer(res, 200, "{\"revision\":0,\"state\":{}}");
  answer(res, 200, progress_text(*r.rows[0][0], *r.rows[0][1], nullptr));
}

// A JSON integer without fraction or exponent, within 0 .. 2^62; -1 for negative ones
// (they never match a stored revision); nullopt when it is not an integer.
std::optional<long long> revision_of(const json_doc* doc, int at) {
  if (at < 0 || doc->tokens[at].type != 'p') return std::nullopt;
  std::string_view raw(doc->text + doc->tokens[at].start,
                       static_cast<size_t>(doc->tokens[at].end - doc->tokens[at].start));
  bool negative = !raw.empty() && raw[0] == '-';
  std::string_view digits = negative ? raw.substr(1) : raw;
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  long long v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return negative && v ? -1 : v;
}

void do_progress_put(const httplib::Request& req, httplib::Response& res) {
  auto account = signed_in(req, res);
  if (!account) return;
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto revision = revision_of(&doc, j_get(&doc, 0, "revision"));
  if (!revision) return fail(res, 400, msg::bad_revision);
  int at = j_get(&doc, 0, "state");
  if (at < 0 || doc.tokens[at].type != 'o') return fail(res, 400, msg::bad_state);
  std::string_view state(doc.text + doc.tokens[at].start,
                         static_cast<size_t>(doc.tokens[at].end - doc.tokens[at].start));
  if (state.size() > state_limit) return fail(res, 413, msg::state_too_large);

  std::string rev = std::to_string(*revision);
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  // Compare-and-set: the state lands only on the revision the client last saw.
  db_result r = db_query(l.conn,
      "UPDATE progress SET revision = revision + 1, state = $1, updated_at = $2 "
      "WHERE account_id = $3 AND revision = $4", {state, unix_now(), *account, rev});
  if (!r.ok()) return fail(res, 503, msg::storage);
  if (r.changes == 1) {
    if (!tx.commit()) return fail(res, 503, msg::storage);
    return answer(res, 200, "{\"revision\":" + std::to_string(*revision + 1) + "}");
  }
  r = db_query(l.conn, "SELECT revision, state FROM progress WHERE account_id = $1", {*account});
  if (!r.ok() || r.rows.empty() || !r.rows[0][0] || !r.rows[0][1]) return fail(res, 503, msg::storage);
  answer(res, 409, progress_text(*r.rows[0][0], *r.rows[0][1], msg::stale));
}

void do_health(const httplib::Request&, httplib::Response& res) {
  if (!db_ping(svc->db)) return fail(res, 503, msg::storage);
  answer(res, 200, "{\"status\":\"ok\",\"schema\":" + std::to_string(db_schema_version(svc->db)) + "}");
}

struct route {
  const char* path;
  const char* method;
  void (*run)(const httplib::Request&, httplib::Response&);
};

const route routes[] = {
    {"/v1/register", "POST", do_register},
    {"/v1/login", "POST", do_login},
    {"/v1/recover", "POST", do_recover},
    {"/v1/logout", "POST", do_logout},
    {"/v1/progress", "GET", do_progress_get},
    {"/v1/progress", "PUT", do_progress_put},
    {"/health", "GET", do_health},
};

void dispatch(const httplib::Request& req, httplib::Response& res) {
  std::string allow;
  for (const route& r : routes) {
    if (req.path != r.path) continue;
    if (req.method == r.method || (req.method == "HEAD" && std::strcmp(r.method, "GET") == 0))
      return r.run(req, res);
    allow += allow.empty() ? r.method : std::string(", ") + r.method;
  }
  if (allow.empty()) return fail(res, 404, msg::no_route);
  res.set_header("Allow", allow);
  fail(res, 405, msg::no_method);
}

// ---- access log -----------------------------------------------------------------------

std::mutex log_lock;
thread_local int64_t request_started_us = 0;

int64_t steady_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One line per request: time, client, method, path (never the query, headers or body),
// status, answer bytes, milliseconds.
void access_log(const httplib::Request& req, const httplib::Response& res) {
  char when[32];
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
  double ms = request_started_us ? (steady_us() - request_started_us) / 1000.0 : 0.0;
  request_started_us = 0;
  std::string path = req.path.size() > 200 ? req.path.substr(0, 200) + "..." : req.path;
  for (char& c : path)
    if (static_cast<unsigned char>(c) < 0x21 || c == '"' || static_cast<unsigned char>(c) == 0x7F) c = '?';
  std::string method = req.method.size() > 16 ? req.method.substr(0, 16) : req.method;
  std::lock_guard<std::mutex> g(log_lock);
  std::printf("%s %s \"%s %s\" %d %zu %.1fms\n", when, client_address(req).c_str(), method.c_str(),
              path.c_str(), res.status, res.body.size(), ms);
  std::fflush(stdout);
}

const char* message_for(int status) {
  switch (status) {
    case 404: return msg::no_route;
    case 405: return msg::no_method;
    case 411: return msg::need_length;
    case 413: return msg::too_large;
    case 500: return msg::internal;
    case 503: return msg::storage;
    default: return msg::bad_request;
  }
}

void configure(httplib::Server& srv, const service_config& cfg) {
  int threads = cfg.threads;
  srv.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  srv.set_payload_max_length(body_limit);
  srv.set_read_timeout(10, 0);
  srv.set_write_timeout(10, 0);
  srv.set_keep_alive_timeout(5);
  srv.set_keep_alive_max_count(1000);
  srv.set_tcp_nodelay(true);
  srv.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    request_started_us = steady_us();
    // Chunked bodies would slip past the size limit; every client we serve sends a length.
    if (req.has_header("Transfer-Encoding")) {
      fail(res, 411, msg::need_length);
      res.set_header("Connection", "close");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  srv.Get(".*", dispatch);
  srv.Post(".*", httplib::Server::Handler(dispatch));
  srv.Put(".*", httplib::Server::Handler(dispatch));
  srv.Delete(".*", httplib::Server::Handler(dispatch));
  srv.Patch(".*", httplib::Server::Handler(dispatch));
  srv.Options(".*", dispatch);
  srv.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        fail(res, res.status, message_for(res.status));
        return httplib::Server::HandlerResponse::Handled;
      }));
  srv.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    fail(res, 500, msg::internal);
  });
  srv.set_logger(access_log);
}

bool make_folder(const std::string& dir) {
  struct stat st{};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return mkdir(dir.c_str(), 0700) == 0;
}

}  // namespace

int service_run(const service_config& cfg) {
  static service s;
  s.cfg = cfg;
  svc = &s;
  umask(077);
  s.by_name.free = s.by_address.free = cfg.free_failures;
  s.by_name.limit = cfg.max_failures;
  s.by_address.limit = cfg.max_failures_per_address;
  // A whole classroom may share one address behind NAT: no slowing there, only the limit.
  s.by_address.free = cfg.max_failures_per_address;
  s.by_name.lockout_ms = s.by_address.lockout_ms = int64_t{cfg.lockout_seconds} * 1000;

  int hashes = cfg.parallel_hashes > 0 ? cfg.parallel_hashes
                                       : std::max(1u, std::thread::hardware_concurrency());
  if (auth_init(cfg.argon2, hashes) != 0) {
    std::fprintf(stderr, "tavrin-cloud: 无法初始化 libsodium 或 Argon2id 参数无效。\n");
    return 1;
  }
  std::string target = cfg.database;
  if (target.empty()) {
    if (cfg.data_dir.empty() || !make_folder(cfg.data_dir)) {
      std::fprintf(stderr, "tavrin-cloud: 无法使用数据文件夹 %s\n", cfg.data_dir.c_str());
      return 1;
    }
    target = cfg.data_dir + "/tavrin-cloud.sqlite3";
  }
  std::string err;
  s.db = db_open(target, cfg.db_connections, &err);
  if (!s.db) {
    std::fprintf(stderr, "tavrin-cloud: 无法打开数据库：%s\n", err.c_str());
    return 1;
  }

  bool tls = !cfg.tls_cert.empty();
  std::unique_ptr<httplib::Server> srv;
  if (tls) {
    auto ssl = std::make_unique<httplib::SSLServer>(cfg.tls_cert.c_str(), cfg.tls_key.c_str());
    if (!ssl->is_valid()) {
      std::fprintf(stderr, "tavrin-cloud: 无法读取 TLS 证书或私钥。\n");
      db_close(s.db);
      return 1;
    }
    SSL_CTX_set_min_proto_version(ssl->ssl_context(), TLS1_2_VERSION);
    srv = std::move(ssl);
  } else {
    srv = std::make_unique<httplib::Server>();
  }
  configure(*srv, cfg);

  int port = cfg.port;
  if (port == 0) port = srv->bind_to_any_port(cfg.host);
  else if (!srv->bind_to_port(cfg.host, port)) port = -1;
  if (port <= 0) {
    std::fprintf(stderr, "tavrin-cloud: 无法监听 %s:%d\n", cfg.host.c_str(), cfg.port);
    db_close(s.db);
    return 1;
  }

  // SIGTERM and SIGINT end the service in order: stop accepting, finish what runs, close.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stops, &sig);
    srv->stop();
  });

  std::string shown = cfg.host.find(':') != std::string::npos ? "[" + cfg.host + "]" : cfg.host;
  std::printf("tavrin-cloud 已启动：%s://%s:%d （%s）\n", tls ? "https" : "http", shown.c_str(), port,
              db_pool_kind(s.db) == db_kind::postgresql ? "PostgreSQL" : "SQLite");
  std::fflush(stdout);
  bool ok = srv->listen_after_bind();
  if (!ok && srv->is_running()) srv->stop();
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  db_close(s.db);
  std::printf("tavrin-cloud 已停止。\n");
  std::fflush(stdout);
  return 0;
}
