// Code-page conversions on Windows.
#include "platform/text.h"

#include "platform/win32/wide.h"

namespace plat {

std::optional<std::string> utf8_to_gbk(std::string_view utf8) {
  if (!utf8_valid(utf8)) return std::nullopt;
  if (utf8.empty()) return std::string();
  auto wide = win::widen_strict(utf8);
  if (!wide) return std::nullopt;
  const int wlen = static_cast<int>(wide->size());
  BOOL used_default = FALSE;
  int n = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide->data(), wlen, nullptr, 0, nullptr,
                                &used_default);
  if (n <= 0 || used_default) return std::nullopt;
  std::string out(static_cast<size_t>(n), '\0');
  used_default = FALSE;
  n = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide->data(), wlen, out.data(), n, nullptr,
                            &used_default);
  if (n <= 0 || used_default) return std::nullopt;
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string gb18030_to_utf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int len = static_cast<int>(bytes.size());
  int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, wide.data(), n);
  if (n <= 0) return {};
  wide.resize(static_cast<size_t>(n));
  return win::narrow(wide);
}

}  // namespace plat
