// Code-page conversions on Linux through glibc's iconv.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace plat {

namespace {

struct iconv_handle {
  iconv_t cd;
  iconv_handle(const char* to, const char* from) : cd(::iconv_open(to, from)) {}
  ~iconv_handle() {
    if (ok()) ::iconv_close(cd);
  }
  iconv_handle(const iconv_handle&) = delete;
  iconv_handle& operator=(const iconv_handle&) = delete;
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::optional<std::string> utf8_to_gbk(std::string_view utf8) {
  if (!utf8_valid(utf8)) return std::nullopt;
  iconv_handle h("CP936", "UTF-8");
  if (!h.ok()) return std::nullopt;
  std::string out;
  out.resize(utf8.size() + 16);  // GBK never needs more bytes than UTF-8 (2 vs 2..4; ASCII 1:1)
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* o = out.data();
  size_t o_left = out.size();
  // Without //IGNORE or //TRANSLIT, glibc stops with EILSEQ at the first unmappable character.
  if (::iconv(h.cd, &in, &in_left, &o, &o_left) == static_cast<size_t>(-1)) return std::nullopt;
  if (in_left != 0) return std::nullopt;
  out.resize(out.size() - o_left);
  return out;
}

std::string gb18030_to_utf8(std::string_view bytes) {
  std::string out;
  iconv_handle h("UTF-8", "GB18030");
  if (!h.ok()) {
    // No converter installed: keep ASCII, mark the rest.
    for (unsigned char c : bytes) {
      if (c < 0x80) out += static_cast<char>(c);
      else out += kReplacement;
    }
    return out;
  }
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char buf[4096];
  while (in_left > 0) {
    char* o = buf;
    size_t o_left = sizeof buf;
    size_t rc = ::iconv(h.cd, &in, &in_left, &o, &o_left);
    out.append(buf, sizeof buf - o_left);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or a sequence cut at the end (EINVAL): one byte becomes U+FFFD, then carry on.
    out += kReplacement;
    ++in;
    --in_left;
    ::iconv(h.cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace plat
