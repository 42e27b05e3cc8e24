#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <memory>
#include <new>

#include "json/json.h"
#include "json/text_buffer.h"
#include "store/store.h"

namespace {

constexpr int bank_max_questions = 1000;
constexpr size_t bank_max_id = 64;
constexpr int case_max_bytes = 8000;
constexpr int hints_max = 3;
constexpr int hint_max_bytes = 8000;

const char* const msg_json = "题库不是有效 JSON，请检查逗号、引号和编码。";
const char* const msg_version = "题库须使用 version: 1，并包含 1～1000 道 questions。";
const char* const msg_id = "每道题需要唯一的 id（1～64 个英文字符、数字或短横线）。";
const char* const msg_reserved = "题目 id 不能使用程序保留字。";
const char* const msg_id_chars = "题目 id 只允许英文、数字、短横线和下划线。";
const char* const msg_duplicate = "题库存在重复 id，请修改后重新导入。";
const char* const msg_topic = "topic 必须是 1～9，stars 必须是 1～5。";
const char* const msg_fields = "题目缺少标题、具体情境、要求、输入输出、范围或代码字段，或字段过长。";
const char* const msg_compare = "compare 只能使用 tokens 或 float。";
const char* const msg_lang = "题目的 lang 只能填 c 或 cpp（不写表示按 C99 评测）。";
const char* const msg_hints = "题目的 hints 须是 1～3 条提示文字（每条 1～8000 字节）组成的数组，也可以不写。";
const char* const msg_tests = "每道题需要 3～20 个 tests 测试用例。";
const char* const msg_test_case = "测试输入输出必须是长度不超过 8000 的字符串。";
const char* const msg_samples = "每道题需要 1～5 个 samples 样例。";
const char* const msg_sample_case = "样例输入输出不合法。";

struct text_rule {
  const char* key;
  int minimum;
  int maximum;
};
constexpr text_rule text_rules[] = {
    {"title", 1, 180},    {"scenario", 1, 12000}, {"task", 1, 12000},
    {"input", 1, 8000},   {"output", 1, 8000},    {"constraints", 1, 8000},
    {"starter", 1, 64000}, {"reference", 1, 64000},
};

// Ids accepted so far, with an open-addressing index over them: both fixed, so validation
// allocates nothing per question for it and a duplicate costs one probe run, not a scan.
struct id_table {
  static constexpr int slot_count = 2048;  // a power of two, over twice the question limit
  char ids[bank_max_questions][bank_max_id + 1];
  int16_t slots[slot_count];
  int count = 0;

  id_table() { std::fill(std::begin(slots), std::end(slots), int16_t{-1}); }
  static uint32_t hash(const char* id) {
    uint32_t h = 2166136261u;
    for (; *id; ++id) h = (h ^ static_cast<unsigned char>(*id)) * 16777619u;
    return h;
  }
  // The slot holding id, or the empty slot where it would go.
  int find(const char* id) const {
    uint32_t i = hash(id) & (slot_count - 1);
    while (slots[i] >= 0 && std::strcmp(ids[slots[i]], id) != 0) i = (i + 1) & (slot_count - 1);
    return static_cast<int>(i);
  }
  bool contains(const char* id) const { return slots[find(id)] >= 0; }
  void add(const char* id) {
    std::memcpy(ids[count], id, std::strlen(id) + 1);
    slots[find(id)] = static_cast<int16_t>(count++);
  }
};


bool is_type(const json_doc* doc, int index, char type) {
  return index >= 0 && index < doc->count && doc->tokens[index].type == type;
}

bool id_char_ok(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

const char* check_id(const json_doc* doc, int question, const id_table& seen, cstr& id_out) {
  int index = j_get(doc, question, "id");
  cstr id(j_str(doc, index));
  if (!id) return msg_id;
  const char* s = id.get();
  if (!std::strcmp(s, "__proto__") || !std::strcmp(s, "constructor") || !std::strcmp(s, "prototype"))
    return msg_reserved;
  size_t len = std::strlen(s);
  if (len == 0 || len > bank_max_id) return msg_id;
  for (size_t i = 0; i < len; ++i)
    if (!id_char_ok(static_cast<unsigned char>(s[i]))) return msg_id_chars;
  if (seen.contains(s)) return msg_duplicate;
  id_out = std::move(id);
  return nullptr;
}

bool case_ok(const json_doc* doc, int element) {
  return field_length(doc, element, "input", 0, case_max_bytes) &&
         field_length(doc, element, "output", 0, case_max_bytes);
}

bool string_is(const json_doc* doc, int index, const char* a, const char* b) {
  cstr s(j_str(doc, index));
  return s && (!std::strcmp(s.get(), a) || !std::strcmp(s.get(), b));
}

// nullptr when the question passes; otherwise the message of the last failing check, except
// that the samples checks answer at once. On success id_out holds the question's id.
const char* check_question(const json_doc* doc, int q, const id_table& seen, cstr& id_out) {
  const char* message = check_id(doc, q, seen, id_out);

  int topic = j_int(doc, j_get(doc, q, "topic"), 0);
  int stars = j_int(doc, j_get(doc, q, "stars"), 0);
  if (topic < 1 || topic > 9 || stars < 1 || stars > 5) message = msg_topic;

  for (const text_rule& rule : text_rules) {
    if (!field_length(doc, q, rule.key, rule.minimum, rule.maximum)) {
      message = msg_fields;
      break;
    }
  }

  if (!string_is(doc, j_get(doc, q, "compare"), "tokens", "float")) message = msg_compare;

  int lang = j_get(doc, q, "lang");
  if (is_type(doc, lang, 's') && doc->tokens[lang].end > doc->tokens[lang].start &&
      !string_is(doc, lang, "c", "cpp"))
    message = msg_lang;

  // Hints are optional (banks made elsewhere have none); when present, the page shows them one
  // by one as plain text, so each must be a non-empty string of bounded size.
  int hints = j_get(doc, q, "hints");
  if (hints >= 0) {
    bool good = is_type(doc, hints, 'a') && doc->tokens[hints].size >= 1 && doc->tokens[hints].size <= hints_max;
    for (int i = 0, e = hints + 1; good && i < doc->tokens[hints].size; ++i, e = doc->tokens[e].next) {
      cstr hint(is_type(doc, e, 's') ? j_str(doc, e) : nullptr);
      size_t len = hint ? std::strlen(hint.get()) : 0;
      good = len >= 1 && len <= static_cast<size_t>(hint_max_bytes);
    }
    if (!good) message = msg_hints;
  }

  int tests = j_get(doc, q, "tests");
  if (!is_type(doc, tests, 'a') || doc->tokens[tests].size < 3 || doc->tokens[tests].size > 20) {
    message = msg_tests;
  } else {
    for (int i = 0, e = tests + 1; i < doc->tokens[tests].size; ++i, e = doc->tokens[e].next) {
      if (!case_ok(doc, e)) {
        message = msg_test_case;
        break;
      }
    }
  }

  int samples = j_get(doc, q, "samples");
  if (!is_type(doc, samples, 'a') || doc->tokens[samples].size < 1 || doc->tokens[samples].size > 5)
    return msg_samples;
  for (int i = 0, e = samples + 1; i < doc->tokens[samples].size; ++i, e = doc->tokens[e].next)
    if (!case_ok(doc, e)) return msg_sample_case;
  return message;
}

}  // namespace

int field_length(const json_doc* doc, int object_index, const char* key, int minimum, int maximum) {
  int index = j_get(doc, object_index, key);
  if (!is_type(doc, index, 's')) return 0;
  const json_token& t = doc->tokens[index];
  size_t len = static_cast<size_t>(t.end - t.start);
  // Without escapes the text is its own unescaped form: measure it in place, no copy.
  if (std::memchr(doc->text + t.start, '\\', len)) {
    cstr value(j_str(doc, index));
    if (!value) return 0;
    len = std::strlen(value.get());
  }
  return len >= static_cast<size_t>(minimum) && len <= static_cast<size_t>(maximum) ? 1 : 0;
}

char* bank_validate(const char* text) {
  json_doc doc;
  if (!text || !json_parse(&doc, text)) return text_copy(msg_json);

  int questions = j_get(&doc, 0, "questions");
  int version = j_get(&doc, 0, "version");
  if (!is_type(&doc, version, 'p') || j_int(&doc, version, 0) != 1 ||
      !is_type(&doc, questions, 'a') || doc.tokens[questions].size < 1 ||
      doc.tokens[questions].size > bank_max_questions)
    return text_copy(msg_version);

  std::unique_ptr<id_table> seen(new (std::nothrow) id_table());
  if (!seen) out_of_memory();
  int q = questions + 1;
  for (int i = 0; i < doc.tokens[questions].size; ++i, q = doc.tokens[q].next) {
    cstr id;
    if (const char* message = check_question(&doc, q, *seen, id)) return text_copy(message);
    seen->add(id.get());
  }
  return nullptr;
}
