// Talking to the account service: address rules, one request at a time, answers for the page.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "cloud/cloud_internal.h"
#include "json/json.h"
#include "json/text_buffer.h"
#include "platform/sys.h"
#include "platform/text.h"
#include "platform/webclient.h"

namespace {

const char* const progress_unreachable = "暂时连接不到云端，代码已保存在本机。请检查服务地址和网络后重试。";

bool is_local_host(const std::string& host) {
  if (host.size() != 9) return false;
  return host == "127.0.0.1" || strncasecmp(host.c_str(), "localhost", 9) == 0;
}

}  // namespace

void wipe_free(char* text) {
  if (!text) return;
  plat::secure_wipe(text, std::strlen(text));
  std::free(text);
}

int valid_url(const char* text) {
  if (!text) return 0;
  size_t length = std::strlen(text);
  if (length > service_max || !plat::utf8_valid(std::string_view(text, length))) return 0;
  // Whatever the system's splitter makes of them: no blanks, control characters or
  // backslashes, and no query or fragment marker, not even an empty one.
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c <= 0x20 || c == 0x7f || c == '\\' || c == '?' || c == '#') return 0;
  }
  std::optional<plat::url_parts> parts = plat::url_split(text);
  if (!parts) return 0;
  if (parts->host.empty() || parts->has_user || parts->has_extra) return 0;
  if (!parts->path.empty() && parts->path != "/") return 0;
  if (parts->scheme == "https") return 1;
  return parts->scheme == "http" && is_local_host(parts->host) ? 1 : 0;
}

char* remote(const char* method, const char* path, const char* body, bool with_token, uint32_t* status) {
  *status = 0;
  if (service.empty()) return nullptr;
  std::optional<std::string> answer = plat::web_exchange(
      service, method, path, body, with_token ? access_token.c_str() : nullptr, status);
  if (!answer) return nullptr;
  char* text = nullptr;
  // A NUL inside would let a prefix pass for the whole answer.
  if (answer->find('\0') == std::string::npos) {
    json_doc doc;
    if (json_parse(&doc, answer->c_str()) == 1 && doc.count > 0 && doc.tokens[0].type == 'o')
      text = text_copy(*answer);
  }
  plat::secure_wipe(answer->data(), answer->size());
  return text;
}

char* wrapped_remote(const char* method, const char* body) {
  uint32_t status = 0;
  char* answer = remote(method, "/v1/progress", body, true, &status);
  if (!answer) return json_error(progress_unreachable);
  text_buffer b{};
  b_fmt(&b, "{\"httpStatus\":%lu,\"body\":", static_cast<unsigned long>(status));
  b_add(&b, answer);
  b_add(&b, "}");
  std::free(answer);
  return b_release(&b);
}
