// The token parser and its getters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "json/json.h"

namespace {

bool parses(const std::string& text) {
  json_doc doc;
  int ok = json_parse(&doc, text.c_str());
  EXPECT_EQ(doc.failed, ok ? 0 : 1) << text;
  return ok == 1;
}

std::string nested(int depth, const std::string& inner) {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

std::string str_or_null(char* s) {
  cstr owner(s);
  return s ? std::string(s) : std::string("<null>");
}

struct validity_case {
  const char* name;
  std::string text;
  bool valid;
};

TEST(JsonParse, AcceptsAndRejects) {
  const std::vector<validity_case> cases = {
      {"empty text", "", false},
      {"only whitespace", " \r\n\t", false},
      {"empty object padded", " {} ", true},
      {"scalar root", "42", true},
      {"string root", "\"x\"", true},
      {"literals", "[true,false,null]", true},
      {"literal prefix with trailing letter", "truex", false},
      {"literal cut short", "tru", false},
      {"trailing comma array", "[1,]", false},
      {"trailing comma object", "{\"a\":1,}", false},
      {"missing colon", "{\"a\" 1}", false},
      {"key not a string", "{1:2}", false},
      {"missing comma", "[1 2]", false},
      {"unclosed array", "[1", false},
      {"unclosed string", "\"abc", false},
      {"two roots", "1 2", false},
      {"leading zero", "01", false},
      {"negative leading zero", "-01", false},
      {"zero", "0", true},
      {"negative zero", "-0", true},
      {"lone minus", "-", false},
      {"dot without fraction", "1.", false},
      {"fraction without integer", ".5", false},
      {"leading plus", "+1", false},
      {"exponent without digits", "1e", false},
      {"exponent sign without digits", "1e+", false},
      {"full number", "-12.5E-3", true},
      {"capital exponent with plus", "1E+2", true},
      {"unknown escape", "\"\\x\"", false},
      {"raw tab in string", "\"a\tb\"", false},
      {"raw line feed in string", "\"a\nb\"", false},
      {"escaped NUL", "\"\\u0000\"", false},
      {"escaped A", "\"\\u0041\"", true},
      {"short unicode escape", "\"\\u004\"", false},
      {"text ends in escape", "\"\\", false},
      {"escaped slash", "\"\\/\"", true},
      {"all short escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", true},
      {"byte order mark", "\xEF\xBB\xBF{}", false},
      {"invalid utf-8 passes", "\"\xFF\xFE\"", true},
      {"DEL in string", "\"\x7F\"", true},
      {"whitespace everywhere", " { \"a\" : [ 1 , 2 ] , \"b\" : { } } ", true},
      {"vertical tab is not whitespace", "\v1", false},
      {"40 arrays around a number", nested(40, "1"), true},
      {"41 arrays around a number", nested(41, "1"), false},
      {"41 empty arrays", nested(41, ""), true},
      {"42 empty arrays", nested(42, ""), false},
      {"object key at depth 41", nested(40, "{\"k\":1}"), false},
      {"empty object at depth 40", nested(40, "{}"), true},
  };
  for (const auto& c : cases) EXPECT_EQ(parses(c.text), c.valid) << c.name;
}

std::string values(int n) {
  std::string s = "[";
  for (int i = 0; i < n; ++i) s += i ? ",0" : "0";
  return s + "]";
}

TEST(JsonParse, TokenCapacity) {
  // The array itself is one token.
  EXPECT_TRUE(parses(values(json_capacity - 1)));
  EXPECT_FALSE(parses(values(json_capacity)));

  // Keys count as values too: array + object + 119999 keys and values = 240000 tokens.
  std::string obj = "{";
  for (int i = 0; i < 119999; ++i) obj += (i ? ",\"k\":" : "\"k\":") + std::to_string(i % 10);
  obj += "}";
  EXPECT_TRUE(parses("[" + obj + "]"));
  EXPECT_FALSE(parses("[" + obj + ",0]"));
}

TEST(JsonParse, TokenLayout) {
  const char* text = "{\"a\": 1, \"b\": [true, null]}";
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, text), 1);
  struct expect {
    char type;
    int size, next;
    const char* source;
  };
  const expect want[] = {
      {'o', 4, 7, "{\"a\": 1, \"b\": [true, null]}"},
      {'s', 0, 2, "a"},
      {'p', 0, 3, "1"},
      {'s', 0, 4, "b"},
      {'a', 2, 7, "[true, null]"},
      {'p', 0, 6, "true"},
      {'p', 0, 7, "null"},
  };
  ASSERT_EQ(doc.count, 7);
  EXPECT_EQ(doc.capacity, json_capacity);
  for (int i = 0; i < 7; ++i) {
    const json_token& t = doc.tokens[i];
    EXPECT_EQ(t.type, want[i].type) << i;
    EXPECT_EQ(t.size, want[i].size) << i;
    EXPECT_EQ(t.next, want[i].next) << i;
    EXPECT_EQ(std::string(text + t.start, text + t.end), want[i].source) << i;
  }
  EXPECT_EQ(j_get(&doc, 0, "b"), 4);
  EXPECT_EQ(j_get(&doc, 0, "a"), 2);
  EXPECT_EQ(j_get(&doc, 0, "c"), -1);

  json_doc empty;
  ASSERT_EQ(json_parse(&empty, "  {}  "), 1);
  ASSERT_EQ(empty.count, 1);
  EXPECT_EQ(empty.tokens[0].type, 'o');
  EXPECT_EQ(empty.tokens[0].size, 0);
  EXPECT_EQ(empty.tokens[0].next, 1);
  EXPECT_EQ(empty.tokens[0].start, 2);
  EXPECT_EQ(empty.tokens[0].end, 4);
}

TEST(JsonParse, FreeAndReuse) {
  json_doc doc;
  EXPECT_EQ(json_parse(&doc, "[1,"), 0);
  EXPECT_EQ(doc.failed, 1);
  EXPECT_EQ(json_parse(&doc, "[1]"), 1);  // a reused record starts afresh
  EXPECT_EQ(doc.failed, 0);
  EXPECT_EQ(doc.count, 2);
  json_free(&doc);
  EXPECT_EQ(doc.tokens, nullptr);
  json_free(&doc);  // harmless twice
  EXPECT_EQ(j_str(&doc, 0), nullptr);
  EXPECT_EQ(j_get(&doc, 0, "a"), -1);
}

TEST(JsonGetters, Str) {
  const char* text =
      "[\"x\\ny\", \"\", \"\\u0041\\/\\\"\\\\\\b\\f\\r\\t\", \"\\ud83d\\ude00\", \"\\ud83d\","
      " \"\\ude00\", \"\\ud83d\\u0041\", \"\\ud83dx\", \"\\u00e9\\u4e2d\", \"\xE4\xB8\xAD\", 5,"
      " \"\\uD83D\\uDE00\", \"\\ud83d\\ud83d\"]";
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, text), 1);
  struct str_case {
    int element;
    const char* want;  // nullptr: j_str gives null
  };
  const str_case cases[] = {
      {0, "x\ny"},
      {1, ""},
      {2, "A/\"\\\b\f\r\t"},
      {3, "\xF0\x9F\x98\x80"},
      {4, nullptr},  // lone high surrogate
      {5, nullptr},  // lone low surrogate
      {6, nullptr},  // high surrogate followed by a non-surrogate
      {7, nullptr},  // high surrogate followed by a plain byte
      {8, "\xC3\xA9\xE4\xB8\xAD"},
      {9, "\xE4\xB8\xAD"},
      {10, nullptr},  // a number is not a string
      {11, "\xF0\x9F\x98\x80"},
      {12, nullptr},  // two high surrogates
  };
  int index = 1;
  for (const auto& c : cases) {
    char* got = j_str(&doc, index);
    if (c.want) {
      ASSERT_NE(got, nullptr) << c.element;
      EXPECT_STREQ(got, c.want) << c.element;
    } else {
      EXPECT_EQ(got, nullptr) << c.element;
    }
    std::free(got);
    index = doc.tokens[index].next;
  }
  EXPECT_EQ(j_str(&doc, -1), nullptr);
  EXPECT_EQ(j_str(&doc, doc.count), nullptr);
  EXPECT_EQ(j_str(&doc, 0), nullptr);  // the array
}

TEST(JsonGetters, Int) {
  struct int_case {
    const char* source;
    int want;
  };
  const int fb = -7;
  const int_case cases[] = {
      {"42", 42},
      {"-42", -42},
      {"0", 0},
      {"-0", 0},
      {"42.0", fb},
      {"1e2", fb},
      {"\"42\"", fb},
      {"true", fb},
      {"false", fb},
      {"null", fb},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999999999999999", 2147483647},
      {"-2147483647", -2147483647},
      {"-2147483648", fb},
      {"-2147483649", fb},
      {"-99999999999999999999999", fb},
      {"[1]", fb},
      {"{}", fb},
  };
  for (const auto& c : cases) {
    json_doc doc;
    ASSERT_EQ(json_parse(&doc, c.source), 1) << c.source;
    EXPECT_EQ(j_int(&doc, 0, fb), c.want) << c.source;
  }
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, "{\"n\":5}"), 1);
  EXPECT_EQ(j_int(&doc, j_get(&doc, 0, "n"), fb), 5);
  EXPECT_EQ(j_int(&doc, j_get(&doc, 0, "m"), fb), fb);
  EXPECT_EQ(j_int(&doc, 99, fb), fb);
}

TEST(JsonGetters, Get) {
  const char* text =
      "{\"a\":1,\"dup\":\"first\",\"nested\":{\"dup\":0,\"x\":[1,{\"y\":2}]},\"dup\":\"second\","
      "\"\\u0041b\":3,\"esc\\\"q\":4,\"\\ud800\":5,\"\":6,\"\xE4\xB8\xAD\":7}";
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, text), 1);
  struct get_case {
    const char* key;
    const char* raw;  // nullptr: not found
  };
  const get_case cases[] = {
      {"a", "1"},
      {"dup", "\"first\""},  // the first of two equal keys wins
      {"x", nullptr},        // members of nested objects are not searched
      {"y", nullptr},
      {"Ab", "3"},          // keys compare unescaped
      {"\\u0041b", nullptr},
      {"esc\"q", "4"},
      {"", "6"},
      {"\xE4\xB8\xAD", "7"},
      {"A", nullptr},  // no prefix matches
  };
  for (const auto& c : cases) {
    int v = j_get(&doc, 0, c.key);
    std::string got = v < 0 ? std::string("<none>") : str_or_null(j_raw(&doc, v));
    EXPECT_EQ(got, c.raw ? c.raw : "<none>") << c.key;
  }
  int nested_obj = j_get(&doc, 0, "nested");
  int x = j_get(&doc, nested_obj, "x");
  EXPECT_EQ(str_or_null(j_raw(&doc, x)), "[1,{\"y\":2}]");
  EXPECT_EQ(j_get(&doc, x, "y"), -1);  // an array is not an object
  EXPECT_EQ(j_get(&doc, j_get(&doc, 0, "missing"), "a"), -1);
  EXPECT_EQ(j_get(&doc, -1, "a"), -1);
  EXPECT_EQ(j_get(&doc, doc.count, "a"), -1);
  EXPECT_EQ(j_get(&doc, 1, "a"), -1);  // a key string
}

TEST(JsonGetters, Raw) {
  const char* text = "{ \"s\" : \"x\\ny\", \"o\" : { \"k\" :\t[ 1 , 2 ] } , \"n\": -1.5e3 }";
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, text), 1);
  EXPECT_EQ(str_or_null(j_raw(&doc, j_get(&doc, 0, "s"))), "\"x\\ny\"");
  EXPECT_EQ(str_or_null(j_raw(&doc, j_get(&doc, 0, "o"))), "{ \"k\" :\t[ 1 , 2 ] }");
  EXPECT_EQ(str_or_null(j_raw(&doc, j_get(&doc, 0, "n"))), "-1.5e3");
  EXPECT_EQ(str_or_null(j_raw(&doc, 0)), text);
  EXPECT_EQ(j_raw(&doc, -1), nullptr);
  EXPECT_EQ(j_raw(&doc, doc.count), nullptr);
  EXPECT_EQ(str_or_null(j_str(&doc, j_get(&doc, 0, "s"))), "x\ny");
}

}  // namespace
