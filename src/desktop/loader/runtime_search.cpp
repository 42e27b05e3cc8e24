#include "desktop/loader/runtime_search.h"

namespace wv2loader {

namespace {

constexpr size_t path_limit = 32767;  // the longest path Windows knows

bool separator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

std::optional<version> parse_version(std::wstring_view text) {
  version v;
  size_t at = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != L'.') return std::nullopt;
      ++at;
    }
    size_t digits = 0;
    uint32_t value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
      if (++digits > 5) return std::nullopt;
      value = value * 10 + static_cast<uint32_t>(text[at] - L'0');
      ++at;
    }
    if (digits == 0 || value > 65535) return std::nullopt;
    v.part[i] = value;
  }
  if (at != text.size()) return std::nullopt;
  return v;
}

std::wstring version_text(const version& v) {
  std::wstring out;
  for (size_t i = 0; i < 4; ++i) {
    if (i) out += L'.';
    out += std::to_wstring(v.part[i]);
  }
  return out;
}

std::vector<place> search_order(bool least_stable_first) {
  std::vector<place> out;
  for (size_t i = 0; i < channels.size(); ++i) {
    size_t c = least_stable_first ? channels.size() - 1 - i : i;
    out.push_back({c, true});
    out.push_back({c, false});
  }
  return out;
}

bool prefers_least_stable(std::wstring_view value) { return value == L"1"; }

std::wstring client_library(std::wstring_view folder) {
  std::wstring out(folder);
  if (!out.empty() && !separator(out.back())) out += L'\\';
#if defined(__aarch64__) || defined(_M_ARM64)
  out += L"EBWebView\\arm64\\EmbeddedBrowserWebView.dll";
#elif defined(__i386__) || defined(_M_IX86)
  out += L"EBWebView\\x86\\EmbeddedBrowserWebView.dll";
#else
  out += L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";
#endif
  return out;
}

bool absolute_path(std::wstring_view path) {
  if (path.size() >= 3 && ((lower(path[0]) >= L'a' && lower(path[0]) <= L'z')) && path[1] == L':' &&
      separator(path[2]))
    return true;
  // UNC: two separators, then a server name (not the "?" or "." of a device path).
  if (path.size() >= 5 && separator(path[0]) && separator(path[1]) && !separator(path[2])) {
    if ((path[2] == L'?' || path[2] == L'.') && separator(path[3])) return false;
    return true;
  }
  return false;
}

std::wstring last_component(std::wstring_view path) {
  size_t end = path.size();
  while (end > 0 && separator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !separator(path[start - 1])) --start;
  return std::wstring(path.substr(start, end - start));
}

namespace {

bool clean_text(std::wstring_view path) {
  if (path.empty() || path.size() > path_limit - 64) return false;  // room for the library's name
  for (wchar_t c : path) {
    if (c < 0x20 || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'*' || c == L'?') {
      // '?' only ever appears in device paths, which absolute_path refuses anyway
      return false;
    }
  }
  return true;
}

// No "." or ".." component: a folder named by a registration is taken literally.
bool no_dot_components(std::wstring_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !separator(path[end])) ++end;
    std::wstring_view part = path.substr(start, end - start);
    if (part == L"." || part == L"..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::optional<version> registered_version(std::wstring_view folder) {
  if (!clean_text(folder) || !absolute_path(folder) || !no_dot_components(folder)) return std::nullopt;
  auto v = parse_version(last_component(folder));
  if (!v || *v < minimum_version) return std::nullopt;
  return v;
}

std::wstring fixed_runtime_folder(std::wstring_view given, std::wstring_view exe_folder) {
  if (!clean_text(given)) return L"";
  if (absolute_path(given)) return std::wstring(given);
  // A drive-relative "C:x", a rooted "\x" or a device path is not a folder we can place.
  if (given.size() >= 2 && given[1] == L':') return L"";
  if (separator(given[0])) return L"";
  if (exe_folder.empty() || !absolute_path(exe_folder)) return L"";
  std::wstring out(exe_folder);
  if (!separator(out.back())) out += L'\\';
  out += given;
  if (out.size() > path_limit - 64) return L"";
  return out;
}

bool inside_browser_install(std::wstring_view folder) {
  std::wstring text;
  for (wchar_t c : folder) text += separator(c) ? L'\\' : lower(c);
  if (!text.empty() && text.back() != L'\\') text += L'\\';
  return text.find(L"\\edge\\application\\") != std::wstring::npos;
}

}  // namespace wv2loader
