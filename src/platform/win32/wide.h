// UTF-8 <-> UTF-16 at the Windows boundary. Never the ANSI code page: every path, environment
// value and message crosses here.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace plat::win {

// Invalid UTF-8 becomes U+FFFD (so a bad name fails to match rather than aliasing another).
inline std::wstring widen(std::string_view s) {
  if (s.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

// nullopt when s is not valid UTF-8.
inline std::optional<std::wstring> widen_strict(std::string_view s) {
  if (s.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                                nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                        out.data(), n);
  return out;
}

// Unpaired surrogates become U+FFFD, so the result is always valid UTF-8.
inline std::string narrow(std::wstring_view s) {
  if (s.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                        nullptr);
  return out;
}

// Closes a kernel handle on every path out of a scope.
struct handle_guard {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit handle_guard(HANDLE x) : h(x) {}
  handle_guard(const handle_guard&) = delete;
  handle_guard& operator=(const handle_guard&) = delete;
  ~handle_guard() { close_now(); }
  bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  bool close_now() {
    bool ok = true;
    if (valid()) ok = ::CloseHandle(h) != 0;
    h = INVALID_HANDLE_VALUE;
    return ok;
  }
};

}  // namespace plat::win
