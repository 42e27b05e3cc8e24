// The bank validator: every message, which check wins within a question, and the limits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "store/store.h"

namespace {

// Messages written out here independently of the validator's own table.
const std::string m_json = "题库不是有效 JSON，请检查逗号、引号和编码。";
const std::string m_version = "题库须使用 version: 1，并包含 1～1000 道 questions。";
const std::string m_id = "每道题需要唯一的 id（1～64 个英文字符、数字或短横线）。";
const std::string m_reserved = "题目 id 不能使用程序保留字。";
const std::string m_chars = "题目 id 只允许英文、数字、短横线和下划线。";
const std::string m_dup = "题库存在重复 id，请修改后重新导入。";
const std::string m_topic = "topic 必须是 1～9，stars 必须是 1～5。";
const std::string m_fields = "题目缺少标题、具体情境、要求、输入输出、范围或代码字段，或字段过长。";
const std::string m_compare = "compare 只能使用 tokens 或 float。";
const std::string m_lang = "题目的 lang 只能填 c 或 cpp（不写表示按 C99 评测）。";
const std::string m_hints = "题目的 hints 须是 1～3 条提示文字（每条 1～8000 字节）组成的数组，也可以不写。";
const std::string m_tests = "每道题需要 3～20 个 tests 测试用例。";
const std::string m_test_case = "测试输入输出必须是长度不超过 8000 的字符串。";
const std::string m_samples = "每道题需要 1～5 个 samples 样例。";
const std::string m_sample_case = "样例输入输出不合法。";
const std::string ok = "";  // valid

// A question as ordered members with raw JSON values, so one case changes one member.
using question = std::vector<std::pair<std::string, std::string>>;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }
std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}
std::string cases(int n, const std::string& one = R"({"input":"1 2\n","output":"3\n"})") {
  std::string out = "[";
  for (int i = 0; i < n; ++i) out += (i ? "," : "") + one;
  return out + "]";
}

question base_question(const std::string& id = "q1") {
  return {{"id", quoted(id)},
          {"topic", "3"},
          {"stars", "2"},
          {"compare", quoted("tokens")},
          {"title", quoted("两数之和")},
          {"scenario", quoted("小明在练习输入输出。")},
          {"task", quoted("输出两数之和。")},
          {"input", quoted("两个整数。")},
          {"output", quoted("一个整数。")},
          {"constraints", quoted("|a|,|b| <= 1000")},
          {"starter", quoted(R"(#include <stdio.h>\nint main(void){return 0;}\n)")},
          {"reference", quoted(R"(#include <stdio.h>\nint main(void){int a,b;scanf(\"%d%d\",&a,&b);printf(\"%d\\n\",a+b);}\n)")},
          {"samples", cases(1)},
          {"tests", cases(3)}};
}

// Member edits: a value replaces (or adds) the member; the value "-" removes it.
using edits = std::vector<std::pair<std::string, std::string>>;

question edited(question q, const edits& changes) {
  for (const auto& [key, value] : changes) {
    bool found = false;
    for (auto it = q.begin(); it != q.end(); ++it) {
      if (it->first != key) continue;
      found = true;
      if (value == "-") q.erase(it);
      else it->second = value;
      break;
    }
    if (!found && value != "-") q.emplace_back(key, value);
  }
  return q;
}

std::string object_of(const question& q) {
  std::string out = "{";
  for (size_t i = 0; i < q.size(); ++i) out += (i ? "," : "") + quoted(q[i].first) + ":" + q[i].second;
  return out + "}";
}

std::string bank_of(const std::vector<std::string>& elements, const std::string& version = "1") {
  std::string out = "{\"version\":" + version + ",\"title\":\"t\",\"revision\":\"r\",\"questions\":[";
  for (size_t i = 0; i < elements.size(); ++i) out += (i ? "," : "") + elements[i];
  return out + "]}";
}

std::string validate(const std::string& text) {
  char* message = bank_validate(text.c_str());
  std::string out = message ? message : "";
  std::free(message);
  return out;
}

struct question_case {
  const char* name;
  edits changes;
  std::string expected;
};

const std::string cn60 = repeat("题", 60);  // 180 bytes

const std::vector<question_case> question_cases = {
    {"base question", {}, ok},
    // a: identity
    {"id missing", {{"id", "-"}}, m_id},
    {"id a number", {{"id", "7"}}, m_id},
    {"id empty", {{"id", quoted("")}}, m_id},
    {"id 64 bytes", {{"id", quoted(repeat("a", 64))}}, ok},
    {"id 65 bytes", {{"id", quoted(repeat("a", 65))}}, m_id},
    {"id __proto__", {{"id", quoted("__proto__")}}, m_reserved},
    {"id constructor", {{"id", quoted("constructor")}}, m_reserved},
    {"id prototype", {{"id", quoted("prototype")}}, m_reserved},
    {"id Prototype is an ordinary id", {{"id", quoted("Prototype")}}, ok},
    {"id all allowed characters", {{"id", quoted("Az09-_")}}, ok},
    {"id with a space", {{"id", quoted("a b")}}, m_chars},
    {"id with a dot", {{"id", quoted("a.b")}}, m_chars},
    {"id of Chinese characters", {{"id", quoted("题目")}}, m_chars},
    {"id hiding a NUL in an escape", {{"id", quoted("a\\u0000b")}}, m_json},  // refused by the parser
    {"id written with an escape", {{"id", quoted("\\u0041bc")}}, ok},
    // b: topic and stars
    {"topic 9 stars 5", {{"topic", "9"}, {"stars", "5"}}, ok},
    {"topic 0", {{"topic", "0"}}, m_topic},
    {"topic 10", {{"topic", "10"}}, m_topic},
    {"topic 3.0", {{"topic", "3.0"}}, m_topic},
    {"topic 3e0", {{"topic", "3e0"}}, m_topic},
    {"topic as a string", {{"topic", quoted("3")}}, m_topic},
    {"topic missing", {{"topic", "-"}}, m_topic},
    {"stars 0", {{"stars", "0"}}, m_topic},
    {"stars 6", {{"stars", "6"}}, m_topic},
    {"stars missing", {{"stars", "-"}}, m_topic},
    // c: text members
    {"title 60 Chinese characters", {{"title", quoted(cn60)}}, ok},
    {"title 61 Chinese characters", {{"title", quoted(cn60 + "题")}}, m_fields},
    {"title 180 bytes written as escapes", {{"title", quoted(repeat("\\u9898", 60))}}, ok},
    {"title empty", {{"title", quoted("")}}, m_fields},
    {"title a number", {{"title", "5"}}, m_fields},
    {"scenario missing", {{"scenario", "-"}}, m_fields},
    {"task 12000 bytes", {{"task", quoted(repeat("x", 12000))}}, ok},
    {"task 12001 bytes", {{"task", quoted(repeat("x", 12001))}}, m_fields},
    {"input missing", {{"input", "-"}}, m_fields},
    {"output 8001 bytes", {{"output", quoted(repeat("x", 8001))}}, m_fields},
    {"constraints empty", {{"constraints", quoted("")}}, m_fields},
    {"starter 64000 bytes", {{"starter", quoted(repeat("x", 64000))}}, ok},
    {"starter 64001 bytes", {{"starter", quoted(repeat("x", 64001))}}, m_fields},
    {"reference an array", {{"reference", "[]"}}, m_fields},
    // d: compare
    {"compare float", {{"compare", quoted("float")}}, ok},
    {"compare Tokens", {{"compare", quoted("Tokens")}}, m_compare},
    {"compare missing", {{"compare", "-"}}, m_compare},
    {"compare a number", {{"compare", "1"}}, m_compare},
    // e: lang
    {"lang c", {{"lang", quoted("c")}}, ok},
    {"lang cpp", {{"lang", quoted("cpp")}}, ok},
    {"lang empty", {{"lang", quoted("")}}, ok},
    {"lang a number", {{"lang", "5"}}, ok},
    {"lang C", {{"lang", quoted("C")}}, m_lang},
    {"lang c++", {{"lang", quoted("c++")}}, m_lang},
    // hints: optional; when given, 1 to 3 strings of 1 to 8000 bytes
    {"hints absent", {{"hints", "-"}}, ok},
    {"hints one", {{"hints", "[\"先想清楚总数会有多大。\"]"}}, ok},
    {"hints three", {{"hints", "[\"a\",\"b\",\"c\"]"}}, ok},
    {"hints four", {{"hints", "[\"a\",\"b\",\"c\",\"d\"]"}}, m_hints},
    {"hints empty array", {{"hints", "[]"}}, m_hints},
    {"hints a string", {{"hints", quoted("a")}}, m_hints},
    {"hints null", {{"hints", "null"}}, m_hints},
    {"hint empty", {{"hints", "[\"a\",\"\"]"}}, m_hints},
    {"hint a number", {{"hints", "[\"a\",3]"}}, m_hints},
    {"hint an object", {{"hints", "[{\"text\":\"a\"}]"}}, m_hints},
    {"hint 8000 bytes", {{"hints", "[" + quoted(repeat("x", 8000)) + "]"}}, ok},
    {"hint 8001 bytes", {{"hints", "[" + quoted(repeat("x", 8001)) + "]"}}, m_hints},
    {"hint 8000 bytes written as escapes", {{"hints", "[" + quoted(repeat("\\u0041", 8000)) + "]"}}, ok},
    {"hint with markup kept as text", {{"hints", "[" + quoted("<img src=x onerror=alert(1)>") + "]"}}, ok},
    {"bad lang and bad hints", {{"lang", quoted("C")}, {"hints", "[]"}}, m_hints},
    {"bad hints and 2 tests", {{"hints", "[]"}, {"tests", cases(2)}}, m_tests},
    {"bad hints and no samples", {{"hints", "7"}, {"samples", "-"}}, m_samples},
    // f: tests
    {"tests 20", {{"tests", cases(20)}}, ok},
    {"tests 2", {{"tests", cases(2)}}, m_tests},
    {"tests 21", {{"tests", cases(21)}}, m_tests},
    {"tests missing", {{"tests", "-"}}, m_tests},
    {"tests an object", {{"tests", "{}"}}, m_tests},
    {"test case empty strings", {{"tests", cases(3, R"({"input":"","output":""})")}}, ok},
    {"test case output a number", {{"tests", cases(3, R"({"input":"","output":3})")}}, m_test_case},
    {"test case a number", {{"tests", "[1,2,3]"}}, m_test_case},
    {"test case input 8000 bytes",
     {{"tests", cases(3, "{\"input\":\"" + repeat("x", 8000) + "\",\"output\":\"\"}")}}, ok},
    {"test case input 8001 bytes",
     {{"tests", cases(3, "{\"input\":\"" + repeat("x", 8001) + "\",\"output\":\"\"}")}}, m_test_case},
    // g, h: samples
    {"samples 5", {{"samples", cases(5)}}, ok},
    {"samples 6", {{"samples", cases(6)}}, m_samples},
    {"samples empty", {{"samples", "[]"}}, m_samples},
    {"samples missing", {{"samples", "-"}}, m_samples},
    {"sample lacks output", {{"samples", cases(1, R"({"input":""})")}}, m_sample_case},
    // Several failures: the later check's message wins; the samples checks answer at once.
    {"reserved id and bad compare", {{"id", quoted("constructor")}, {"compare", quoted("x")}}, m_compare},
    {"bad id and 2 tests", {{"id", quoted("a b")}, {"tests", cases(2)}}, m_tests},
    {"bad id and no samples", {{"id", "-"}, {"samples", "-"}}, m_samples},
    {"bad topic and missing title", {{"topic", "0"}, {"title", "-"}}, m_fields},
    {"bad compare and bad lang", {{"compare", "-"}, {"lang", quoted("java")}}, m_lang},
    {"bad test case and bad sample", {{"tests", "[1,2,3]"}, {"samples", "[1]"}}, m_sample_case},
    {"bad tests count and bad sample", {{"tests", "[]"}, {"samples", "[{}]"}}, m_sample_case},
    {"everything wrong but samples fine", {{"id", "-"}, {"topic", "-"}, {"title", "-"}, {"compare", "-"},
                                           {"lang", quoted("x")}, {"tests", "-"}}, m_tests},
    // Repeated members: the first occurrence counts.
    {"topic repeated, first valid", {{"topic2", "0"}}, ok},
};

TEST(BankValidate, OneQuestionTable) {
  for (const question_case& c : question_cases) {
    std::string bank = bank_of({object_of(edited(base_question(), c.changes))});
    EXPECT_EQ(validate(bank), c.expected) << c.name;
  }
}

TEST(BankValidate, RepeatedMemberFirstOccurrenceCounts) {
  std::string q = object_of(base_question());
  std::string first_good = q.substr(0, q.size() - 1) + ",\"topic\":99}";
  EXPECT_EQ(validate(bank_of({first_good})), ok);
  std::string first_bad = "{\"topic\":99," + q.substr(1);
  EXPECT_EQ(validate(bank_of({first_bad})), m_topic);
}

TEST(BankValidate, DocumentTable) {
  const std::string good = object_of(base_question());
  struct doc_case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const std::vector<doc_case> docs = {
      {"empty text", "", m_json},
      {"cut short", "{\"version\":1", m_json},
      {"trailing comma", bank_of({good}).insert(0, "") + ",", m_json},
      {"two values", bank_of({good}) + " {}", m_json},
      {"version 1.0", bank_of({good}, "1.0"), m_version},
      {"version as a string", bank_of({good}, "\"1\""), m_version},
      {"version 2", bank_of({good}, "2"), m_version},
      {"version missing", "{\"questions\":[" + good + "]}", m_version},
      {"questions empty", bank_of({}), m_version},
      {"questions an object", "{\"version\":1,\"questions\":{}}", m_version},
      {"root an array", "[1]", m_version},
      {"element a number", bank_of({"42"}), m_samples},
      {"element null", bank_of({good, "null"}), m_samples},
      {"extra members ignored", bank_of({object_of(edited(base_question(), {{"hint", "{\"a\":[1]}"}}))}), ok},
  };
  for (const doc_case& c : docs) EXPECT_EQ(validate(c.text), c.expected) << c.name;
}

TEST(BankValidate, IdsAcrossQuestions) {
  auto q = [](const std::string& id) { return object_of(base_question(id)); };
  EXPECT_EQ(validate(bank_of({q("a"), q("b"), q("a")})), m_dup);
  EXPECT_EQ(validate(bank_of({q("abc"), q("ABC"), q("Abc")})), ok);  // case-sensitive
  EXPECT_EQ(validate(bank_of({q("a"), q("ab"), q("a-")})), ok);      // prefixes are distinct
  // The first failing question stops validation; later ones are not looked at.
  std::string bad_topic = object_of(edited(base_question("x"), {{"topic", "0"}}));
  std::string bad_lang = object_of(edited(base_question("y"), {{"lang", quoted("go")}}));
  EXPECT_EQ(validate(bank_of({q("a"), bad_topic, bad_lang})), m_topic);
  EXPECT_EQ(validate(bank_of({q("a"), bad_lang, bad_topic})), m_lang);
  // A question that failed is not a duplicate source: its id was never accepted.
  EXPECT_EQ(validate(bank_of({q("a"), q("a"), bad_topic})), m_dup);
}

TEST(BankValidate, QuestionCountLimit) {
  std::vector<std::string> many;
  for (int i = 0; i < 1001; ++i) many.push_back(object_of(base_question("q" + std::to_string(i))));
  std::vector<std::string> thousand(many.begin(), many.begin() + 1000);
  EXPECT_EQ(validate(bank_of(thousand)), ok);
  EXPECT_EQ(validate(bank_of(many)), m_version);
  // The last of 1000 questions is still checked for duplicates against all before it.
  thousand.back() = object_of(base_question("q0"));
  EXPECT_EQ(validate(bank_of(thousand)), m_dup);
}

TEST(BankValidate, BundledFixtureIsValid) {
  char* text = read_utf8(TAVRIN_SOURCE_DIR "/tests/fixtures/bank/small.json", store_file_limit);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(validate(text), ok);
  std::free(text);
}

TEST(FieldLength, Bounds) {
  const char* text = R"({"a":"","b":"xyz","c":"\u4e2d","d":3,"e":"\ud800"})";
  json_doc doc;
  ASSERT_EQ(json_parse(&doc, text), 1);
  struct row {
    const char* key;
    int minimum, maximum, expected;
  };
  const row rows[] = {
      {"a", 0, 0, 1}, {"a", 1, 5, 0}, {"b", 3, 3, 1}, {"b", 1, 2, 0}, {"b", 4, 9, 0},
      {"c", 3, 3, 1},  // counted in bytes of the unescaped text
      {"d", 0, 9, 0}, {"missing", 0, 9, 0}, {"e", 0, 9, 0},
  };
  for (const row& r : rows)
    EXPECT_EQ(field_length(&doc, 0, r.key, r.minimum, r.maximum), r.expected)
        << r.key << " " << r.minimum << ".." << r.maximum;
  EXPECT_EQ(field_length(&doc, -1, "b", 0, 9), 0);
}

}  // namespace
