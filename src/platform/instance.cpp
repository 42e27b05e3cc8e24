#include "platform/instance.h"

namespace plat {

// Decodes UTF-8 leniently (a bad byte counts as one unit U+FFFD) and hashes the
// UTF-16 units, so the id is the one the Windows build gets from its wide path.
uint32_t instance_id(const std::string& folder_utf8) {
  uint32_t h = 0x811C9DC5u;
  auto mix = [&h](uint32_t unit) {
    h ^= unit;
    h *= 16777619u;
  };
  const auto* s = reinterpret_cast<const unsigned char*>(folder_utf8.data());
  size_t n = folder_utf8.size(), i = 0;
  while (i < n) {
    uint32_t c = s[i], cp = 0xFFFD;
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 1) {
      cp = c;
    } else if (len && i + len <= n) {
      uint32_t v = c & (0x7F >> len);
      bool ok = true;
      for (size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (s[i + k] & 0x3F);
      }
      static const uint32_t min_for_len[5] = {0, 0, 0x80, 0x800, 0x10000};
      if (ok && v >= min_for_len[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) cp = v;
      else len = 1;
    } else {
      len = 1;
    }
    if (c == 0 && len == 1) break;  // the path ends at its NUL
    if (cp >= 0x10000) {
      mix(0xD800 + ((cp - 0x10000) >> 10));
      mix(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      mix(cp);
    }
    i += len;
  }
  return h;
}

}  // namespace plat
