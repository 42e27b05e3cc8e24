// File-name patterns as folder listings take them: '*' any run, '?' one character.
// Shared by both platforms so a pattern selects the same names everywhere.
#pragma once
#include <cstddef>
#include <string_view>

namespace plat::detail {

// Length of the UTF-8 character starting at s[i] (1 for a stray byte).
inline size_t utf8_char_len(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  if (i + n > s.size()) return 1;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

inline char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Iterative match with one backtrack point: linear in practice, never exponential.
inline bool wildcard_match(std::string_view name, std::string_view pat, bool ignore_case) {
  size_t n = 0, p = 0, star_p = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      star_p = ++p;
      star_n = n;
      continue;
    }
    if (p < pat.size() && pat[p] == '?') {
      n += utf8_char_len(name, n);
      ++p;
      continue;
    }
    if (p < pat.size() &&
        (ignore_case ? fold_ascii(pat[p]) == fold_ascii(name[n]) : pat[p] == name[n])) {
      ++n;
      ++p;
      continue;
    }
    if (star_p == std::string_view::npos) return false;
    p = star_p;
    star_n += utf8_char_len(name, star_n);
    n = star_n;
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

}  // namespace plat::detail
