// Answers, request bodies and who is asking, shared by every route.
#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "json/text_buffer.h"
#include "service_internal.h"

service* svc = nullptr;

namespace {
const char* const json_type = "application/json; charset=utf-8";
}  // namespace

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
bool parse_body(const httplib::Request& req, httplib::Response& res, json_doc* doc, const char* too_many_values) {
  bool parsed = valid_utf8(req.body) && json_parse(doc, req.body.c_str());
  if (!parsed && doc->count >= json_capacity) {  // valid or not, more values than we read
    fail(res, 413, too_many_values);
    return false;
  }
  if (!parsed || doc->count == 0 || doc->tokens[0].type != 'o') {
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

// ---- who is asking ------------------------------------------------------------------

namespace {

bool loopback(const std::string& a) {
  unsigned char b[16];
  if (inet_pton(AF_INET, a.c_str(), b) == 1) return b[0] == 127;
  if (inet_pton(AF_INET6, a.c_str(), b) != 1) return false;
  static const unsigned char one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return std::memcmp(b, one, 16) == 0 || (std::memcmp(b, mapped, 12) == 0 && b[12] == 127);
}

// An address literal, written back in its standard form; "" when it is not one.
std::string address_literal(const std::string& a) {
  unsigned char b[16];
  char text[INET6_ADDRSTRLEN];
  if (inet_pton(AF_INET, a.c_str(), b) == 1) return inet_ntop(AF_INET, b, text, sizeof text);
  if (inet_pton(AF_INET6, a.c_str(), b) == 1) return inet_ntop(AF_INET6, b, text, sizeof text);
  return "";
}

}  // namespace

std::string client_address(const httplib::Request& req) {
  if (svc->cfg.trust_proxy && loopback(req.remote_addr)) {
    std::string fwd = req.get_header_value("X-Forwarded-For");
    size_t comma = fwd.rfind(',');
    std::string last = comma == std::string::npos ? fwd : fwd.substr(comma + 1);
    size_t a = last.find_first_not_of(" \t"), z = last.find_last_not_of(" \t");
    // Only an address is taken: anything else (a forged log field, a huge key) is ignored.
    if (a != std::string::npos && z - a < 64) {
      std::string literal = address_literal(last.substr(a, z - a + 1));
      if (!literal.empty()) return literal;
    }
  }
  return req.remote_addr;
}

namespace {

bool token_shaped(std::string_view t) {
  if (t.size() != 43) return false;
  for (char c : t)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return false;
  return true;
}

}  // namespace

// The account id behind the request's bearer token; answers 401 (or 503) and returns
// nullopt when there is none. digest_out receives the token's digest.
std::optional<std::string> signed_in(const httplib::Request& req, httplib::Response& res,
                                     std::string* digest_out) {
  std::string h = req.get_header_value("Authorization");
  const std::string_view prefix = "bearer ";  // the scheme's name is case-insensitive
  bool scheme = h.size() > prefix.size();
  for (size_t i = 0; scheme && i < prefix.size(); i++)
    scheme = (h[i] >= 'A' && h[i] <= 'Z' ? h[i] - 'A' + 'a' : h[i]) == prefix[i];
  if (!scheme ||
      !token_shaped(std::string_view(h).substr(prefix.size()))) {
    wipe(h);
    fail(res, 401, msg::bad_token);
    return std::nullopt;
  }
  std::string digest = token_digest(std::string_view(h).substr(prefix.size()));
  wipe(h);
  db_lease l(svc->db);
  db_result r = db_query(l.conn, "SELECT token_hash, account_id, COALESCE(used_ms, created_ms) FROM tokens "
                                 "WHERE token_hash = $1", {digest});
  if (!r.ok()) {
    fail(res, 503, msg::storage);
    return std::nullopt;
  }
  if (r.rows.empty() || !r.rows[0][0] || !r.rows[0][1] || !r.rows[0][2] || !same_secret(*r.rows[0][0], digest)) {
    fail(res, 401, msg::bad_token);
    return std::nullopt;
  }
  // A sign-in unused for a long time ends (a lost or sold computer); each use renews it,
  // written at most once a day so that reads stay reads.
  int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch()).count();
  int64_t used = std::atoll(r.rows[0][2]->c_str());
  constexpr int64_t day_ms = 86400000;
  if (now - used > svc->cfg.token_idle_days * day_ms) {
    db_query(l.conn, "DELETE FROM tokens WHERE token_hash = $1", {digest});
    fail(res, 401, msg::bad_token);
    return std::nullopt;
  }
  if (now - used > day_ms)
    db_query(l.conn, "UPDATE tokens SET used_ms = $1 WHERE token_hash = $2", {std::to_string(now), digest});
  if (digest_out) *digest_out = digest;
  return r.rows[0][1];
}

