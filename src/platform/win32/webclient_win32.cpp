// Requests to the account service on Windows: WinHTTP, synchronous, one session per request.
#include "platform/webclient.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/sys.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

struct internet_handle {
  HINTERNET h = nullptr;
  explicit internet_handle(HINTERNET x) : h(x) {}
  internet_handle(const internet_handle&) = delete;
  internet_handle& operator=(const internet_handle&) = delete;
  ~internet_handle() {
    if (h) ::WinHttpCloseHandle(h);
  }
};

struct cracked {
  URL_COMPONENTS c{};
  std::wstring text;
};

// WinHttpCrackUrl on the whole text, lengths only (pointers into text).
bool crack(const std::string& utf8, cracked& out) {
  std::optional<std::wstring> wide = win::widen_strict(utf8);
  if (!wide || wide->empty()) return false;
  out.text = *wide;
  out.c.dwStructSize = sizeof out.c;
  out.c.dwSchemeLength = static_cast<DWORD>(-1);
  out.c.dwHostNameLength = static_cast<DWORD>(-1);
  out.c.dwUserNameLength = static_cast<DWORD>(-1);
  out.c.dwPasswordLength = static_cast<DWORD>(-1);
  out.c.dwUrlPathLength = static_cast<DWORD>(-1);
  out.c.dwExtraInfoLength = static_cast<DWORD>(-1);
  return ::WinHttpCrackUrl(out.text.c_str(), static_cast<DWORD>(out.text.size()), 0, &out.c) != 0;
}

}  // namespace

std::optional<url_parts> url_split(const std::string& text) {
  cracked u;
  if (!crack(text, u)) return std::nullopt;
  url_parts out;
  out.scheme = u.c.nScheme == INTERNET_SCHEME_HTTPS ? "https" : u.c.nScheme == INTERNET_SCHEME_HTTP ? "http" : "other";
  out.host = win::narrow(std::wstring_view(u.c.lpszHostName ? u.c.lpszHostName : L"", u.c.dwHostNameLength));
  out.port = u.c.nPort;
  out.path = win::narrow(std::wstring_view(u.c.lpszUrlPath ? u.c.lpszUrlPath : L"", u.c.dwUrlPathLength));
  out.has_user = u.c.dwUserNameLength > 0 || u.c.dwPasswordLength > 0;
  out.has_extra = u.c.dwExtraInfoLength > 0;
  return out;
}

std::optional<std::string> web_exchange(const std::string& service, const char* method,
                                        const char* path, const char* body, const char* bearer,
                                        uint32_t* status) {
  *status = 0;
  cracked u;
  if (!crack(service, u)) return std::nullopt;
  if (u.c.dwHostNameLength < 1 || u.c.dwHostNameLength > 255) return std::nullopt;
  wchar_t host[256];
  std::wmemcpy(host, u.c.lpszHostName, u.c.dwHostNameLength);
  host[u.c.dwHostNameLength] = L'\0';
  bool secure = u.c.nScheme == INTERNET_SCHEME_HTTPS;

  internet_handle session(::WinHttpOpen(L"Mesk/1.4.1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.h || !::WinHttpSetTimeouts(session.h, 3000, 3000, 10000, 10000)) return std::nullopt;
  internet_handle connection(::WinHttpConnect(session.h, host, u.c.nPort, 0));
  if (!connection.h) return std::nullopt;
  std::wstring wmethod = win::widen(method), wpath = win::widen(path);
  internet_handle request(::WinHttpOpenRequest(connection.h, wmethod.c_str(), wpath.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request.h) return std::nullopt;
  // The head of the answer too must come within the receive time-out.
  DWORD receive_ms = 10000;
  ::WinHttpSetOption(request.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_ms, sizeof receive_ms);
  DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
  if (!::WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects))
    return std::nullopt;
  if (!::WinHttpAddRequestHeaders(request.h, L"Content-Type: application/json\r\n", static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD))
    return std::nullopt;
  wchar_t auth[128] = {};
  bool headers_ok = true;
  if (bearer) {
    int n = std::swprintf(auth, 128, L"Authorization: Bearer %hs\r\n", bearer);
    headers_ok = n > 0 && ::WinHttpAddRequestHeaders(request.h, auth, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    secure_wipe(auth, sizeof auth);  // it held the token
  }
  if (!headers_ok) return std::nullopt;

  DWORD length = body ? static_cast<DWORD>(std::strlen(body)) : 0;
  if (!::WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            body ? const_cast<char*>(body) : WINHTTP_NO_REQUEST_DATA, length, length, 0) ||
      !::WinHttpReceiveResponse(request.h, nullptr))
    return std::nullopt;
  DWORD code = 0, code_size = sizeof code;
  if (!::WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &code, &code_size, WINHTTP_NO_HEADER_INDEX))
    return std::nullopt;
  *status = code;

  // One zeroed block at the limit, filled in place.
  char* data = static_cast<char*>(std::calloc(web_answer_limit + 1, 1));
  if (!data) return std::nullopt;
  size_t got = 0;
  bool ok = true;
  for (;;) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request.h, &available)) { ok = false; break; }
    if (available == 0) break;
    if (available > web_answer_limit - got) { ok = false; break; }
    DWORD read = 0;
    if (!::WinHttpReadData(request.h, data + got, available, &read) || read == 0) { ok = false; break; }
    got += read;
  }
  std::optional<std::string> out;
  if (ok) out.emplace(data, got);
  secure_wipe(data, got);  // sign-in answers carry the token
  std::free(data);
  return out;
}

}  // namespace plat
