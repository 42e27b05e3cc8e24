// Strict JSON parser into a flat token array that points into the unchanged text.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>

constexpr int32_t json_capacity = 240000;
constexpr int json_max_depth = 40;

struct json_token {
  int32_t start;  // byte offset of the value; for a string, just after the opening quote
  int32_t end;    // byte offset just past the value; for a string, its closing quote
  int32_t next;   // index of the first token after this value and its descendants
  int32_t size;   // direct children: array elements, or keys plus values for an object
  char type;      // 'o' object, 'a' array, 's' string, 'p' primitive
};

struct json_doc {
  const char* text = nullptr;    // not owned; must outlive the document, unchanged
  json_token* tokens = nullptr;  // owned; released by json_free
  int32_t count = 0;
  int32_t capacity = json_capacity;
  int32_t failed = 0;            // 1 when the text is not valid JSON

  json_doc() = default;
  json_doc(const json_doc&) = delete;
  json_doc& operator=(const json_doc&) = delete;
  ~json_doc();                   // json_free
};

// 1 when text is exactly one JSON value with optional whitespace around it, else 0.
// Call json_free afterwards in every case.
int json_parse(json_doc* doc, const char* text);
void json_free(json_doc* doc);  // harmless twice

// Every getter accepts index -1 (a missing member) and passes "nothing" on, so lookups chain.
// Index of the value of the first member named key, or -1.
int j_get(const json_doc* doc, int object_index, const char* key);
// Unescaped string (malloc'ed, caller frees), or nullptr: not a string, bad index, lone surrogate.
char* j_str(const json_doc* doc, int index);
// Base-10 integer primitive, else fallback (also for -2147483648 and anything below it).
int j_int(const json_doc* doc, int index, int fallback);
// Copy of the value's source text, strings with their quotes (malloc'ed), or nullptr.
char* j_raw(const json_doc* doc, int index);

// Owner for the malloc'ed strings that j_str, j_raw, b_release and the validators return.
struct c_free {
  void operator()(void* p) const { std::free(p); }
};
using cstr = std::unique_ptr<char, c_free>;
