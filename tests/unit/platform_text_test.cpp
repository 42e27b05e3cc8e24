// Code-page conversions and UTF-8 checking, on both lanes.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/fs.h"
#include "platform/text.h"

namespace {

TEST(Utf8Valid, AcceptsWellFormedRefusesTheRest) {
  struct Case {
    const char* what;
    std::string s;
    bool valid;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"ascii with NUL", std::string("a\0b", 3), true},
      {"Chinese", "中文，题目", true},
      {"emoji (4 bytes)", "😀", true},
      {"largest code point", "\xF4\x8F\xBF\xBF", true},
      {"just above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"overlong NUL", "\xC0\x80", false},
      {"overlong slash", "\xE0\x80\xAF", false},
      {"overlong 4-byte", "\xF0\x8F\xBF\xBF", false},
      {"surrogate half", "\xED\xA0\x80", false},
      {"stray continuation", "a\x80z", false},
      {"cut inside a character", "中\xE6\x96", false},
      {"lead byte F5", "\xF5\x80\x80\x80", false},
      {"GBK bytes", "\xD6\xD0\xCE\xC4", false},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::utf8_valid(c.s), c.valid) << c.what;
}

TEST(Gbk, ConvertsChineseAndRefusesWhatGbkLacks) {
  struct Case {
    const char* what;
    std::string utf8;
    std::optional<std::string> gbk;
  };
  const Case cases[] = {
      {"empty", "", std::string()},
      {"ascii unchanged", "int main(void) { return 0; }\r\n", "int main(void) { return 0; }\r\n"},
      {"Chinese", "中文", std::string("\xD6\xD0\xCE\xC4")},
      {"Chinese punctuation", "你好，世界", std::string("\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7")},
      {"mixed code line", "printf(\"中\");", std::string("printf(\"\xD6\xD0\");")},
      {"embedded NUL kept", std::string("a\0中", 5), std::string("a\0\xD6\xD0", 4)},
      {"emoji refused", "😀", std::nullopt},
      {"emoji after text refused", "// 注释 😀\n", std::nullopt},
      {"no best-fit substitute", "À", std::nullopt},
      {"invalid UTF-8 refused", "\xE4\xB8", std::nullopt},
      {"surrogate bytes refused", "\xED\xA0\x80", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(plat::utf8_to_gbk(c.utf8), c.gbk);
  }
}

TEST(LegacyText, DecodesGb18030WithReplacementCharacter) {
  // Linux decodes GB18030. Windows decodes the system's ANSI code page, which is GBK on a Chinese
  // system; elsewhere (e.g. a Wine prefix set to another language) only the invariants apply.
  const bool gb = plat::path_sep == '/' || plat::gb18030_to_utf8("\xD6\xD0") == "中";
  struct Case {
    const char* what;
    std::string bytes, utf8;
    bool linux_only;
  };
  const Case cases[] = {
      {"empty", "", "", false},
      {"ascii unchanged", "error: expected ';'\n", "error: expected ';'\n", false},
      {"GBK Chinese", "\xB4\xED\xCE\xF3: \xCE\xB4\xB6\xA8\xD2\xE5", "错误: 未定义", false},
      {"four-byte GB18030", "\x81\x30\x81\x30", "\xC2\x80", true},
      {"lone 0x80 becomes U+FFFD", "a\x80z", "a\xEF\xBF\xBDz", true},
      {"bad trail byte: lead is replaced, the space kept", "\xD6 x", "\xEF\xBF\xBD x", true},
      {"cut at the end", "ok\xD6", "ok\xEF\xBF\xBD", true},
      {"0xFF becomes U+FFFD", "\xFF\xD6\xD0", "\xEF\xBF\xBD中", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string got = plat::gb18030_to_utf8(c.bytes);
    EXPECT_TRUE(plat::utf8_valid(got));
    const bool ascii = c.bytes.find_first_of(std::string("\x80\x81\xB4\xD6\xFF", 5)) ==
                       std::string::npos;
    if (ascii || (gb && (!c.linux_only || plat::path_sep == '/'))) {
      EXPECT_EQ(got, c.utf8);
    }
  }
  // A long run that spans several internal buffers loses nothing.
  std::string many, expect;
  for (int i = 0; i < 5000; ++i) {
    many += "\xD6\xD0" "x";
    expect += "中x";
  }
  if (gb) {
    EXPECT_EQ(plat::gb18030_to_utf8(many), expect);
  }
}

TEST(LegacyText, GbkRoundTripsThroughTheLegacyDecoder) {
  const std::string text = "第1题：输入两个整数，输出它们的和。\n";
  auto gbk = plat::utf8_to_gbk(text);
  ASSERT_TRUE(gbk);
  if (plat::path_sep == '/' || plat::gb18030_to_utf8("\xD6\xD0") == "中") {
    EXPECT_EQ(plat::gb18030_to_utf8(*gbk), text);
  }
}

}  // namespace
