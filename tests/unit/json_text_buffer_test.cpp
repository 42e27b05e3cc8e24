// The growable text buffer and the JSON string writer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "json/json.h"
#include "json/text_buffer.h"

namespace {

std::string contents(const text_buffer& b) {
  EXPECT_NE(b.data, nullptr);
  if (!b.data) return "";
  EXPECT_EQ(b.data[b.length], '\0');
  EXPECT_LE(b.length + 1, b.capacity);
  return std::string(b.data, b.length);
}

std::string json_of(const char* s) {
  text_buffer b{};
  b_json(&b, s);
  std::string out = contents(b);
  b_free(&b);
  return out;
}

TEST(TextBuffer, Growth) {
  text_buffer b{};
  b_add(&b, "abc");
  EXPECT_EQ(contents(b), "abc");
  EXPECT_EQ(b.capacity, 136u);

  // Filling the block exactly up to the terminator keeps it in place.
  char* before = b.data;
  std::string fill(135 - 3, 'x');
  b_add(&b, fill.c_str());
  EXPECT_EQ(b.length, 135u);
  EXPECT_EQ(b.capacity, 136u);
  EXPECT_EQ(b.data, before);

  // One byte more grows to 2 * (length + extra) + 130.
  b_add(&b, "y");
  EXPECT_EQ(b.capacity, 2u * 136 + 130);
  EXPECT_EQ(contents(b), "abc" + fill + "y");
  b_free(&b);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.length, 0u);
  EXPECT_EQ(b.capacity, 0u);

  // Appending nothing to an empty buffer still gives an allocated empty string.
  b_add(&b, "");
  EXPECT_EQ(b.capacity, 130u);
  EXPECT_EQ(contents(b), "");
  b_free(&b);

  grow(&b, 10);
  EXPECT_EQ(b.capacity, 150u);
  grow(&b, 149);  // 0 + 149 + 1 fits
  EXPECT_EQ(b.capacity, 150u);
  b_free(&b);
}

TEST(TextBuffer, ManyAppendsKeepEverything) {
  text_buffer b{};
  std::string want;
  for (int i = 0; i < 20000; ++i) {
    std::string piece = std::to_string(i) + ",";
    b_add(&b, piece.c_str());
    want += piece;
  }
  EXPECT_EQ(contents(b), want);
  b_free(&b);
}

TEST(TextBuffer, Fmt) {
  text_buffer b{};
  EXPECT_EQ(b_fmt(&b, "%s", ""), 0);
  EXPECT_EQ(b.capacity, 130u);
  EXPECT_EQ(contents(b), "");
  EXPECT_EQ(b_fmt(&b, "%d-%s-%05.1f-%c", -12, "ab", 3.14159, 'z'), 14);
  EXPECT_EQ(contents(b), "-12-ab-003.1-z");
  b_free(&b);

  text_buffer e{};
  EXPECT_EQ(b_fmt(&e, "%d", 7), 1);
  EXPECT_EQ(e.capacity, 2u * 1 + 130);
  std::string big(1000, 'q');
  EXPECT_EQ(b_fmt(&e, "[%s]", big.c_str()), 1002);
  EXPECT_EQ(contents(e), "7[" + big + "]");
  EXPECT_EQ(e.capacity, 2u * (1 + 1002) + 130);
  b_free(&e);
}

TEST(TextBuffer, ReleaseHandsOver) {
  text_buffer b{};
  char* empty = b_release(&b);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  std::free(empty);

  b_add(&b, "hello");
  char* data = b.data;
  char* out = b_release(&b);
  EXPECT_EQ(out, data);
  EXPECT_STREQ(out, "hello");
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.length, 0u);
  EXPECT_EQ(b.capacity, 0u);
  std::free(out);
  b_free(&b);  // nothing left to release
}

// A request that no allocator can satisfy ends the process with exit code 2 at once.
TEST(TextBufferDeathTest, ExhaustedMemoryExitsWithTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint64_t impossible[] = {UINT64_MAX - 1, UINT64_MAX / 2, uint64_t{1} << 62};
  for (uint64_t extra : impossible) {
    EXPECT_EXIT(
        {
          text_buffer b{};
          b_add(&b, "abc");
          grow(&b, extra);
        },
        testing::ExitedWithCode(2), "")
        << extra;
  }
}

TEST(JsonWriter, Escapes) {
  struct escape_case {
    const char* name;
    const char* in;
    const char* out;
  };
  const escape_case cases[] = {
      {"null", nullptr, "\"\""},
      {"empty", "", "\"\""},
      {"plain", "abc", "\"abc\""},
      {"line feed", "a\nb", "\"a\\u000ab\""},
      {"tab", "\t", "\"\\u0009\""},
      {"carriage return", "\r", "\"\\u000d\""},
      {"unit separator", "\x1f", "\"\\u001f\""},
      {"byte 1", "\x01", "\"\\u0001\""},
      {"quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
      {"backslash", "a\\b", "\"a\\\\b\""},
      {"slash", "a/b", "\"a/b\""},
      {"DEL", "\x7f", "\"\x7f\""},
      {"chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\"\xE4\xB8\xAD\xE6\x96\x87\""},
      {"invalid utf-8 bytes", "\xFF\x80", "\"\xFF\x80\""},
  };
  for (const auto& c : cases) EXPECT_EQ(json_of(c.in), c.out) << c.name;
}

TEST(JsonWriter, AppendsToExistingText) {
  text_buffer b{};
  b_add(&b, "{");
  b_json(&b, "k");
  b_add(&b, ":");
  b_json(&b, "v\"");
  b_add(&b, "}");
  EXPECT_EQ(contents(b), "{\"k\":\"v\\\"\"}");
  b_free(&b);
}

// Whatever b_json writes, the parser reads back as the same bytes: every byte 1..255,
// long texts across several growths included.
TEST(JsonWriter, RoundTripsThroughParser) {
  std::vector<std::string> inputs;
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  inputs.push_back(all);
  inputs.push_back(std::string(5000, '"'));
  inputs.push_back(std::string(3000, '\n') + "\xE4\xB8\xAD");
  for (const auto& in : inputs) {
    text_buffer b{};
    b_json(&b, in.c_str());
    json_doc doc;
    ASSERT_EQ(json_parse(&doc, b.data), 1);
    cstr back(j_str(&doc, 0));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back.get()), in);
    b_free(&b);
  }
}

}  // namespace
