// Requests to the account service: the system's URL splitter and its HTTP(S) client
// (WinHTTP on Windows, libcurl on Linux), both behind this one contract.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace plat {

constexpr uint64_t web_answer_limit = 4194304;  // longest answer body accepted, in bytes

struct url_parts {
  std::string scheme;      // lower case: "http", "https", ...
  std::string host;        // as written (an IPv6 literal keeps its brackets)
  int port = 0;            // the explicit port, else the scheme's default
  std::string path;        // "" or what follows the authority, before any query
  bool has_user = false;   // user name or password present
  bool has_extra = false;  // a query or a fragment present (even an empty one)
};

// Splits an absolute URL with the system's splitter; nullopt when it does not accept the text.
std::optional<url_parts> url_split(const std::string& text);

// One request to the scheme, host and port of service (its path is not used): method "GET",
// "POST" or "PUT", body sent as is (nullptr: none), "Content-Type: application/json" always and
// "Authorization: Bearer <bearer>" when bearer is non-null. Time-outs: 3 s to resolve and
// connect, 10 s for each send and receive; redirects are never followed; certificates are
// checked against the system's store.
// status is 0 on entry and the HTTP status once the answer's head has arrived. Returns the
// body as it came (never longer than web_answer_limit), or nullopt when no whole answer came.
std::optional<std::string> web_exchange(const std::string& service, const char* method,
                                        const char* path, const char* body, const char* bearer,
                                        uint32_t* status);

}  // namespace plat
