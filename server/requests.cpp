// Answers, request bodies and who is asking, shared by every route.
#include <cstring>
#include <ctime>
#include <chrono>

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

// ---- who is asking ------------------------------------------------------------------

namespace {

bool loopback(const std::string& a) {
  return a.rfind("127.", 0) == 0 || a == "::1" || a.rfind("::ffff:127.", 0) == 0;
}

}  // namespace

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
