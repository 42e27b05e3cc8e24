// The parser against a public conformance corpus: y_ files must parse, n_ files must fail,
// i_ files may go either way but must be handled cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "json/json.h"

namespace fs = std::filesystem;

namespace {

// Where our own limits deliberately differ from the corpus' verdict.
const std::map<std::string, const char*> deliberate = {
    {"y_string_null_escape.json", "the escape of NUL is refused"},
    {"y_object_escaped_null_in_key.json", "the escape of NUL is refused"},
    {"n_multidigit_number_then_00.json",
     "texts are NUL-terminated: the parser never sees what follows an embedded NUL byte"},
};

// The corpus folder; under Wine a Linux path may need the drive that maps the Linux root.
fs::path corpus_dir() {
  const std::string dir = TAVRIN_SOURCE_DIR "/tests/fixtures/jsontestsuite/test_parsing";
  for (const std::string& candidate : {dir, "Z:" + dir}) {
    std::error_code ec;
    if (fs::is_directory(candidate, ec)) return candidate;
  }
  return {};
}

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Structural invariants of a parsed document, checked token by token; returns the index after
// the value at i, or -1 after reporting a failure.
int check_value(const json_doc& doc, int i, size_t text_len, const std::string& name) {
  const json_token& t = doc.tokens[i];
  bool ok = t.next > i && t.next <= doc.count && t.start >= 0 && t.start <= t.end &&
            static_cast<size_t>(t.end) <= text_len;
  EXPECT_TRUE(ok) << name << " token " << i;
  if (!ok) return -1;
  if (t.type == 's' || t.type == 'p') {
    EXPECT_EQ(t.next, i + 1) << name << " token " << i;
    EXPECT_EQ(t.size, 0) << name << " token " << i;
    return i + 1;
  }
  EXPECT_TRUE(t.type == 'o' || t.type == 'a') << name << " token " << i;
  int children = 0;
  int k = i + 1;
  while (k < t.next) {
    if (t.type == 'o' && children % 2 == 0) {
      EXPECT_EQ(doc.tokens[k].type, 's') << name << " key " << k;
    }
    k = check_value(doc, k, text_len, name);
    if (k < 0) return -1;
    ++children;
  }
  EXPECT_EQ(k, t.next) << name << " token " << i;
  EXPECT_EQ(children, t.size) << name << " token " << i;
  if (t.type == 'o') {
    EXPECT_EQ(children % 2, 0) << name << " token " << i;
  }
  return t.next;
}

TEST(JsonConformance, Corpus) {
  const fs::path dir = corpus_dir();
  ASSERT_FALSE(dir.empty()) << "corpus folder not found";
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".json") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  std::map<char, int> seen;
  for (const auto& path : files) {
    const std::string name = path.filename().string();
    const std::string text = read_file(path);
    const char kind = name[0];
    ++seen[kind];
    json_doc doc;
    const bool ok = json_parse(&doc, text.c_str()) == 1;
    EXPECT_EQ(doc.failed, ok ? 0 : 1) << name;
    const bool flipped = deliberate.count(name) > 0;
    if (kind == 'y' || kind == 'n') {
      EXPECT_EQ(ok, (kind == 'y') != flipped) << name;
    }
    if (!ok) continue;
    ASSERT_EQ(check_value(doc, 0, std::strlen(text.c_str()), name), doc.count) << name;
    for (int i = 0; i < doc.count; ++i) {
      cstr raw(j_raw(&doc, i));
      EXPECT_NE(raw, nullptr) << name;
      // Every string of a y_ file decodes: none of them holds an unpaired surrogate.
      if (kind == 'y' && doc.tokens[i].type == 's') {
        EXPECT_NE(cstr(j_str(&doc, i)), nullptr) << name;
      }
    }
  }
  for (const auto& [file, reason] : deliberate) {
    EXPECT_TRUE(fs::exists(dir / file)) << file << " (" << reason << ") is missing from the corpus";
  }
  EXPECT_GT(seen['y'], 0);
  EXPECT_GT(seen['n'], 0);
  EXPECT_GT(seen['i'], 0);
}

// Our limits against corpus-like inputs that the corpus itself does not pin down.
TEST(JsonConformance, DeliberateLimits) {
  struct limit_case {
    const char* name;
    std::string text;
    bool valid;
  };
  const limit_case cases[] = {
      {"byte order mark before an object", "\xEF\xBB\xBF{}", false},
      {"escape of NUL in a key", "{\"\\u0000\":1}", false},
      {"escape of NUL in a value", "[\"a\\u0000\"]", false},
      {"escape of U+0001 is fine", "[\"\\u0001\"]", true},
      {"500 nested arrays", std::string(500, '[') + std::string(500, ']'), false},
      {"depth 41 object", std::string(40, '[') + "{\"a\":{}}" + std::string(40, ']'), false},
  };
  for (const auto& c : cases) {
    json_doc doc;
    EXPECT_EQ(json_parse(&doc, c.text.c_str()) == 1, c.valid) << c.name;
  }
}

}  // namespace
