#include "platform/locate.h"

#include <windows.h>

namespace plat {

const char* const exe_suffix = ".exe";
const char* const known_compiler_dir = "D:\\Dev-Cpp\\MinGW64\\bin\\";
const char* const math_link_flags = "";

namespace {
std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                              nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}
std::string narrow(const wchar_t* w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<size_t>(n - 1));
  return s;
}
// UTF-16 units of the UTF-8 sequence led by byte c (continuation bytes count 0).
size_t units_of(unsigned char c) {
  if ((c & 0xC0) == 0x80) return 0;
  return c >= 0xF0 ? 2 : 1;
}
}  // namespace

std::string search_program(const std::string& file_name) {
  std::wstring name = widen(file_name);
  if (name.empty()) return "";
  wchar_t found[MAX_PATH];
  DWORD n = SearchPathW(nullptr, name.c_str(), nullptr, MAX_PATH, found, nullptr);
  if (n == 0 || n >= MAX_PATH) return "";
  return narrow(found);
}

size_t path_units(std::string_view text) {
  size_t units = 0;
  for (unsigned char c : text) units += units_of(c);
  return units;
}

size_t path_prefix_bytes(std::string_view text, size_t max_units) {
  size_t units = 0;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (units + units_of(c) > max_units || i + len > text.size()) break;
    units += units_of(c);
    i += len;
  }
  return i;
}

}  // namespace plat
