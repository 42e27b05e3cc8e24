// Start-up pieces: instance ids, option search, running time and the token.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/app.h"
#include "platform/instance.h"

namespace {

TEST(InstanceId, Fnv1aOverUtf16Units) {
  struct row {
    const char* folder;
    uint32_t id;
  } rows[] = {
      {"", 0x811c9dc5u},
      {"C:\\app", 0x71f1e20fu},
  };
  for (const auto& r : rows) EXPECT_EQ(plat::instance_id(r.folder), r.id) << r.folder;
}

// Reference: FNV-1a over explicit UTF-16 units, independent of any UTF-8 decoding.
uint32_t fnv_units(std::initializer_list<uint16_t> units) {
  uint32_t h = 0x811C9DC5u;
  for (uint16_t u : units) {
    h ^= u;
    h *= 16777619u;
  }
  return h;
}

TEST(InstanceId, NonAsciiFoldersHashTheirUtf16Units) {
  // "/练习" is U+002F U+7EC3 U+4E60; "/😀" is a surrogate pair.
  EXPECT_EQ(plat::instance_id("/\xE7\xBB\x83\xE4\xB9\xA0"), fnv_units({0x2F, 0x7EC3, 0x4E60}));
  EXPECT_EQ(plat::instance_id("/\xF0\x9F\x98\x80"), fnv_units({0x2F, 0xD83D, 0xDE00}));
  // Each unit whole, not byte by byte; and case matters.
  EXPECT_NE(plat::instance_id("C:\\APP"), plat::instance_id("C:\\app"));
}

TEST(Options, FoundAsPlainSubstrings) {
  struct row {
    const char* args;
    const char* option;
    bool found;
  } rows[] = {
      {"--stop", "--stop", true},
      {"C:/path--stop/file", "--stop", true},
      {"--no-browser", "--browser", false},
      {"--no-browser --browser", "--browser", true},
      {"x--browsery", "--browser", true},
      {"--no-browser", "--no-browser", true},
      {"-stop", "--stop", false},
      {"", "--stop", false},
  };
  for (const auto& r : rows) EXPECT_EQ(has_option(r.args, r.option), r.found) << r.args << " / " << r.option;
}

TEST(ClosingReason, WholeSecondsAcrossATickWrap) {
  struct row {
    uint32_t start, now;
    const char* text;
  } rows[] = {
      {1000, 1999, "窗口关闭，正常退出；本次运行 0 秒"},
      {1000, 62000, "窗口关闭，正常退出；本次运行 61 秒"},
      {0xFFFFF000u, 0x00001000u, "窗口关闭，正常退出；本次运行 8 秒"},  // 8192 ms across the wrap
  };
  for (const auto& r : rows) EXPECT_EQ(closing_reason(r.start, r.now), r.text);
}

TEST(Token, FortyEightLowerHexDigitsAndFresh) {
  std::set<std::string> seen;
  for (int i = 0; i < 16; ++i) {
    std::string t = make_token();
    ASSERT_EQ(t.size(), 48u);
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), 16u);
}

}  // namespace
