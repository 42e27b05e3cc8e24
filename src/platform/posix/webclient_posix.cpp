// Requests to the account service on Linux: libcurl with the system's certificate store.
#include "platform/webclient.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/sys.h"

namespace plat {

namespace {

constexpr long connect_timeout_ms = 3000;  // name resolution and connect, as on Windows
constexpr long stall_seconds = 10;         // a send or receive that moves nothing this long fails
constexpr long total_timeout_ms = 120000;  // a trickling service must not hold the cloud lock forever
constexpr const char* user_agent = "Mesk/1.4.1";

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct url_handle {
  CURLU* h = curl_url();
  ~url_handle() { curl_url_cleanup(h); }
  std::optional<std::string> get(CURLUPart part, unsigned flags = 0) const {
    char* out = nullptr;
    if (curl_url_get(h, part, &out, flags) != CURLUE_OK || !out) return std::nullopt;
    std::string s(out);
    curl_free(out);
    return s;
  }
};

// What the Windows splitter refuses outright, refused here before libcurl's more lenient parse:
// no scheme "://" at the start, blanks, control characters and backslashes.
bool plain_absolute(const std::string& text) {
  size_t i = 0;
  if (text.empty() || !isalpha(static_cast<unsigned char>(text[0]))) return false;
  while (i < text.size() && (isalnum(static_cast<unsigned char>(text[i])) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.'))
    ++i;
  if (text.compare(i, 3, "://") != 0) return false;
  for (unsigned char c : text)
    if (c <= 0x20 || c == 0x7f || c == '\\') return false;
  return true;
}

struct answer_sink {
  char* data;
  size_t length = 0;
  bool too_long = false;
};

size_t take_body(char* p, size_t size, size_t n, void* user) {
  answer_sink* sink = static_cast<answer_sink*>(user);
  size_t bytes = size * n;
  if (bytes > web_answer_limit - sink->length) {
    sink->too_long = true;
    return 0;  // aborts the transfer
  }
  std::memcpy(sink->data + sink->length, p, bytes);
  sink->length += bytes;
  return bytes;
}

// The header list holds the token: wipe every copy libcurl made before it is freed.
void free_headers(curl_slist* list) {
  for (curl_slist* p = list; p; p = p->next)
    if (p->data) secure_wipe(p->data, std::strlen(p->data));
  curl_slist_free_all(list);
}

}  // namespace

std::optional<url_parts> url_split(const std::string& text) {
  if (!plain_absolute(text)) return std::nullopt;
  global_init();
  url_handle u;
  if (!u.h || curl_url_set(u.h, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return std::nullopt;
  url_parts out;
  auto scheme = u.get(CURLUPART_SCHEME);
  auto host = u.get(CURLUPART_HOST);
  if (!scheme || !host) return std::nullopt;
  out.scheme = *scheme;
  for (char& c : out.scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  out.host = *host;
  if (auto port = u.get(CURLUPART_PORT, CURLU_DEFAULT_PORT)) out.port = atoi(port->c_str());
  out.has_user = u.get(CURLUPART_USER).has_value() || u.get(CURLUPART_PASSWORD).has_value() ||
                 u.get(CURLUPART_OPTIONS).has_value() || text.find('@') != std::string::npos;
  out.has_extra = u.get(CURLUPART_QUERY).has_value() || u.get(CURLUPART_FRAGMENT).has_value() ||
                  text.find_first_of("?#") != std::string::npos;
  // libcurl reports an absent path as "/"; the Windows splitter as "". Both are accepted alike.
  size_t authority = text.find("://") + 3;
  size_t slash = text.find('/', authority);
  out.path = slash == std::string::npos ? std::string() : text.substr(slash, text.find_first_of("?#", slash) - slash);
  return out;
}

std::optional<std::string> web_exchange(const std::string& service, const char* method,
                                        const char* path, const char* body, const char* bearer,
                                        uint32_t* status) {
  *status = 0;
  std::optional<url_parts> parts = url_split(service);
  if (!parts || parts->host.empty() || parts->host.size() > 255) return std::nullopt;
  if (parts->scheme != "http" && parts->scheme != "https") return std::nullopt;
  std::string url = parts->scheme + "://" + parts->host + ":" + std::to_string(parts->port) + path;

  CURL* c = curl_easy_init();
  if (!c) return std::nullopt;
  // One zeroed block at the limit, filled in place.
  answer_sink sink{static_cast<char*>(std::calloc(web_answer_limit + 1, 1))};
  if (!sink.data) {
    curl_easy_cleanup(c);
    return std::nullopt;
  }
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip
  if (bearer) {
    std::string auth = std::string("Authorization: Bearer ") + bearer;
    headers = curl_slist_append(headers, auth.c_str());
    secure_wipe(auth.data(), auth.size());
  }

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(c, CURLOPT_USERAGENT, user_agent);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connect_timeout_ms);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, stall_seconds);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, total_timeout_ms);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  // OpenSSL's own variable for the certificate store, honoured as OpenSSL tools do.
  if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca) curl_easy_setopt(c, CURLOPT_CAINFO, ca);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(web_answer_limit));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, take_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  if (std::strcmp(method, "GET") == 0) {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body ? body : "");
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body ? std::strlen(body) : 0));
    if (std::strcmp(method, "POST") != 0) curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method);
  }

  CURLcode rc = curl_easy_perform(c);
  long code = 0;
  if (curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code > 0)
    *status = static_cast<uint32_t>(code);
  curl_easy_cleanup(c);
  free_headers(headers);

  std::optional<std::string> out;
  if (rc == CURLE_OK && !sink.too_long && *status != 0) out.emplace(sink.data, sink.length);
  secure_wipe(sink.data, sink.length);  // sign-in answers carry the token
  std::free(sink.data);
  return out;
}

}  // namespace plat
