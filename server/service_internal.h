// What the request handlers of the account service share: limits, messages, the service's
// state, answers, body parsing and the caller's identity.
#pragma once
#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "auth.h"
#include "db.h"
#include "json/json.h"
#include "service.h"

constexpr size_t body_limit = 4194304;
// A stored state is answered back inside {"error":...,"revision":N,"state":...} on a
// conflict; keeping it this much under the body limit keeps every answer within 4 MiB,
// the most a client reads.
constexpr size_t state_limit = body_limit - 1024;
constexpr size_t password_min = 8, password_max = 1024, name_max = 127;

namespace msg {
inline const char* const not_json = "请求内容不是有效的 JSON 对象。";
inline const char* const bad_request = "请求格式无效。";
inline const char* const need_credentials = "请填写用户名和密码。";
inline const char* const bad_name =
    "用户名需为 1 到 127 个字节的文字，至少含一个可见字符，不能包含控制字符、格式字符或特殊空格。";
inline const char* const bad_password = "密码长度需为 8 到 1024 个字节。";
inline const char* const name_taken = "该用户名已被注册。";
inline const char* const name_alike = "该用户名与已有的用户名看起来几乎一样，容易被认错，请换一个。";
inline const char* const wrong_login = "用户名或密码错误。";
inline const char* const need_recovery = "请填写用户名、恢复码和新密码。";
inline const char* const wrong_recovery = "用户名或恢复码错误。";
inline const char* const bad_token = "登录已失效，请重新登录。";
inline const char* const stale = "云端进度已被其他设备更新，请先同步再保存。";
inline const char* const bad_revision = "同步版本号必须是整数。";
inline const char* const bad_state = "进度数据必须是 JSON 对象。";
inline const char* const too_large = "请求内容过大，上限为 4 MiB。";
inline const char* const state_too_large = "进度数据过大，请精简后再同步。";
inline const char* const too_complex = "请求内容包含的数据项过多。";
inline const char* const too_many = "尝试次数过多，请稍后再试。";
inline const char* const no_method = "不支持该请求方法。";
inline const char* const no_route = "接口不存在。";
inline const char* const need_length = "请求须带 Content-Length。";
inline const char* const internal = "服务器内部错误，请稍后再试。";
inline const char* const storage = "数据库暂时不可用，请稍后再试。";
}  // namespace msg

struct service {
  service_config cfg;
  db_pool* db = nullptr;
  attempt_limiter registrations;  // per client address, an hour's window
};
extern service* svc;

int64_t steady_ms();
std::string unix_now();  // seconds since 1970, as text

void answer(httplib::Response& res, int status, std::string body);  // a JSON body
void fail(httplib::Response& res, int status, const char* message);  // {"error":message}

bool valid_utf8(std::string_view s);
// The parsed body; its root is an object. Answers 400 and returns false otherwise.
// Answers 413 with too_many_values when the body holds more values than the parser takes.
bool parse_body(const httplib::Request& req, httplib::Response& res, json_doc* doc,
                const char* too_many_values = msg::too_complex);
// A string member, or nullopt when it is missing, not a string, or holds a NUL.
std::optional<std::string> text_member(const json_doc* doc, const char* key);

// The client's address: the peer, or behind a trusted local proxy, the forwarded one.
std::string client_address(const httplib::Request& req);
// The account id behind the request's bearer token; answers 401 (or 503) and returns
// nullopt when there is none. digest_out receives the token's digest.
std::optional<std::string> signed_in(const httplib::Request& req, httplib::Response& res,
                                     std::string* digest_out = nullptr);

// Gives accounts stored before names had a canonical form theirs (at start).
// notes: one line for each account that now shares its canonical name with an older one.
bool canonicalise_stored_names(db_pool* db, std::string* err, std::vector<std::string>* notes);

// Routes
void do_register(const httplib::Request& req, httplib::Response& res);
void do_login(const httplib::Request& req, httplib::Response& res);
void do_recover(const httplib::Request& req, httplib::Response& res);
void do_logout(const httplib::Request& req, httplib::Response& res);
void do_progress_get(const httplib::Request& req, httplib::Response& res);
void do_progress_put(const httplib::Request& req, httplib::Response& res);
