// Text conversions at the edges of the program: GBK for code files learners take to other
// tools, and the system's legacy code page for what compilers and programs print.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool utf8_valid(std::string_view s);

// UTF-8 to code page 936 (GBK). nullopt for invalid UTF-8 or any character GBK lacks
// (no best-fit substitutes, no default character).
std::optional<std::string> utf8_to_gbk(std::string_view utf8);

// Legacy console text to UTF-8; always returns valid UTF-8.
// Linux: decoded as GB18030, each byte that does not decode becomes U+FFFD.
// Windows: decoded from the ANSI code page (CP_ACP), what local console programs print in;
// undecodable bytes get the system's replacement character.
std::string gb18030_to_utf8(std::string_view bytes);

}  // namespace plat
