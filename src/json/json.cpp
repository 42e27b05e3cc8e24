#include "json/json.h"

#include <climits>
#include <cstring>

#include "json/text_buffer.h"

namespace {

// Byte classes, looked up once per byte on the hot paths.
constexpr unsigned char c_ws = 1;        // " \r\n\t"
constexpr unsigned char c_str_stop = 2;  // ends a plain run inside a string: controls, NUL, '"', '\\'
constexpr unsigned char c_digit = 4;

struct byte_table {
  unsigned char cls[256];
  signed char hex[256];
};

constexpr byte_table make_table() {
  byte_table t{};
  for (int i = 0; i < 256; ++i) {
    t.cls[i] = 0;
    t.hex[i] = -1;
  }
  for (unsigned char c : {' ', '\r', '\n', '\t'}) t.cls[c] = c_ws;
  for (int i = 0; i < 0x20; ++i) t.cls[i] |= c_str_stop;
  for (unsigned char c : {'"', '\\'}) t.cls[c] |= c_str_stop;
  for (int i = '0'; i <= '9'; ++i) {
    t.cls[i] |= c_digit;
    t.hex[i] = static_cast<signed char>(i - '0');
  }
  for (int i = 0; i < 6; ++i) {
    t.hex['a' + i] = static_cast<signed char>(10 + i);
    t.hex['A' + i] = static_cast<signed char>(10 + i);
  }
  return t;
}

constexpr byte_table table = make_table();

inline unsigned char cls(const char* p) { return table.cls[static_cast<unsigned char>(*p)]; }
inline bool is_digit(const char* p) { return cls(p) & c_digit; }

// Skips " \r\n\t"; stops at anything else, NUL included.
inline const char* ws(const char* p) {
  while (cls(p) & c_ws) ++p;
  return p;
}

// Value of four hex digits at p, or -1. Stops at the first non-digit, so never reads past a NUL.
inline int hex4(const char* p) {
  int v = 0;
  for (int i = 0; i < 4; ++i) {
    int d = table.hex[static_cast<unsigned char>(p[i])];
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

struct parser {
  const char* text;
  json_token* tokens;
  int32_t count;
  int32_t capacity;
};

// Offsets are 32-bit; a text too long for them is refused rather than wrapped.
inline bool offset_fits(const parser& ps, const char* p) { return p - ps.text <= INT32_MAX; }

// The content of a string whose opening quote is just before p; its closing quote, or nullptr.
const char* scan_string(const char* p) {
  for (;;) {
    while (!(cls(p) & c_str_stop)) ++p;
    char c = *p;
    if (c == '"') return p;
    if (c != '\\') return nullptr;  // control byte or end of text
    switch (p[1]) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
        p += 2;
        break;
      case 'u':
        // The escape of NUL is refused: unescaped strings are handed around NUL-terminated.
        if (hex4(p + 2) <= 0) return nullptr;
        p += 6;
        break;
      default:
        return nullptr;
    }
  }
}

// A number at p; the position just past it, or nullptr.
const char* scan_number(const char* p) {
  if (*p == '-') ++p;
  if (*p == '0') {
    ++p;
  } else if (*p >= '1' && *p <= '9') {
    ++p;
    while (is_digit(p)) ++p;
  } else {
    return nullptr;
  }
  if (*p == '.') {
    ++p;
    if (!is_digit(p)) return nullptr;
    while (is_digit(p)) ++p;
  }
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!is_digit(p)) return nullptr;
    while (is_digit(p)) ++p;
  }
  return p;
}

// true, false, null or a number; the literal words match as prefixes, what follows is the
// caller's to judge.
const char* scan_primitive(const char* p) {
  if (p[0] == 't' && p[1] == 'r' && p[2] == 'u' && p[3] == 'e') return p + 4;
  if (p[0] == 'f' && p[1] == 'a' && p[2] == 'l' && p[3] == 's' && p[4] == 'e') return p + 5;
  if (p[0] == 'n' && p[1] == 'u' && p[2] == 'l' && p[3] == 'l') return p + 4;
  return scan_number(p);
}

// One value at p (after optional whitespace) at the given depth; the position just past it,
// or nullptr when the text is invalid or a limit is reached.
const char* parse_value(parser& ps, const char* p, int depth) {
  if (depth > json_max_depth || ps.count >= ps.capacity) return nullptr;
  p = ws(p);
  if (!offset_fits(ps, p)) return nullptr;
  const int32_t index = ps.count++;
  json_token* t = &ps.tokens[index];
  *t = json_token{};
  t->start = static_cast<int32_t>(p - ps.text);

  const char* after;
  const char* end;
  const char c = *p;
  if (c == '{' || c == '[') {
    const bool object = c == '{';
    const char close = object ? '}' : ']';
    t->type = object ? 'o' : 'a';
    p = ws(p + 1);
    if (*p != close) {
      for (;;) {
        if (object) {
          p = ws(p);
          if (*p != '"') return nullptr;
          p = parse_value(ps, p, depth + 1);
          if (!p) return nullptr;
          ++t->size;
          p = ws(p);
          if (*p != ':') return nullptr;
          ++p;
        }
        p = parse_value(ps, p, depth + 1);
        if (!p) return nullptr;
        ++t->size;
        p = ws(p);
        if (*p == close) break;
        if (*p != ',') return nullptr;
        ++p;
      }
    }
    end = after = p + 1;
  } else if (c == '"') {
    t->type = 's';
    t->start += 1;
    end = scan_string(p + 1);
    if (!end) return nullptr;
    after = end + 1;
  } else {
    t->type = 'p';
    end = after = scan_primitive(p);
    if (!end) return nullptr;
  }
  if (!offset_fits(ps, end)) return nullptr;
  t->end = static_cast<int32_t>(end - ps.text);
  t->next = ps.count;
  return after;
}

const json_token* token_at(const json_doc* doc, int index) {
  if (!doc || !doc->tokens || index < 0 || index >= doc->count) return nullptr;
  return &doc->tokens[index];
}

void put_utf8(char* out, uint64_t& n, uint32_t cp) {
  if (cp < 0x80) {
    out[n++] = static_cast<char>(cp);
  } else if (cp < 0x800) {
    out[n++] = static_cast<char>(0xC0 | (cp >> 6));
    out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out[n++] = static_cast<char>(0xE0 | (cp >> 12));
    out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out[n++] = static_cast<char>(0xF0 | (cp >> 18));
    out[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Unescapes [p, e) into out (room for e - p bytes is enough: no escape grows when decoded);
// the decoded length, or -1 for an escape that does not decode.
int64_t unescape(const char* p, const char* e, char* out) {
  uint64_t n = 0;
  while (p < e) {
    if (*p != '\\') {
      // Plain runs are copied whole; most strings hold no escape at all.
      const char* stop = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(e - p)));
      if (!stop) stop = e;
      std::memcpy(out + n, p, static_cast<size_t>(stop - p));
      n += static_cast<uint64_t>(stop - p);
      p = stop;
      continue;
    }
    if (e - p < 2) return -1;
    char c = p[1];
    p += 2;
    switch (c) {
      case '"': case '\\': case '/': out[n++] = c; continue;
      case 'b': out[n++] = '\b'; continue;
      case 'f': out[n++] = '\f'; continue;
      case 'n': out[n++] = '\n'; continue;
      case 'r': out[n++] = '\r'; continue;
      case 't': out[n++] = '\t'; continue;
      case 'u': break;
      default: return -1;
    }
    int u = e - p >= 4 ? hex4(p) : -1;
    if (u < 0) return -1;
    p += 4;
    uint32_t cp = static_cast<uint32_t>(u);
    if (cp >= 0xDC00 && cp <= 0xDFFF) return -1;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (e - p < 6 || p[0] != '\\' || p[1] != 'u') return -1;
      int l = hex4(p + 2);
      if (l < 0xDC00 || l > 0xDFFF) return -1;
      p += 6;
      cp = 0x10000 + (cp - 0xD800) * 0x400 + (static_cast<uint32_t>(l) - 0xDC00);
    }
    put_utf8(out, n, cp);
  }
  return static_cast<int64_t>(n);
}

// Key token equal to key after unescaping; a key that does not decode never matches.
bool key_equals(const json_doc* doc, const json_token& k, const char* key, size_t key_len) {
  if (k.type != 's' || k.end < k.start) return false;
  const char* s = doc->text + k.start;
  size_t len = static_cast<size_t>(k.end - k.start);
  if (!std::memchr(s, '\\', len)) return len == key_len && std::memcmp(s, key, len) == 0;
  cstr plain(j_str(doc, static_cast<int>(&k - doc->tokens)));
  return plain && std::strcmp(plain.get(), key) == 0;
}

}  // namespace

json_doc::~json_doc() { json_free(this); }

int json_parse(json_doc* doc, const char* text) {
  json_free(doc);  // a reused record must not leak its earlier tokens
  doc->text = text;
  doc->count = 0;
  doc->failed = 0;
  doc->capacity = json_capacity;
  // Every token below count is written in full when it is taken, so no zero-fill is needed.
  doc->tokens = static_cast<json_token*>(std::malloc(sizeof(json_token) * json_capacity));
  if (!doc->tokens) return 0;
  if (!text) {
    doc->failed = 1;
    return 0;
  }
  parser ps{text, doc->tokens, 0, json_capacity};
  const char* p = parse_value(ps, text, 0);
  doc->count = ps.count;
  if (p && *ws(p) == '\0') return 1;
  doc->failed = 1;
  return 0;
}

void json_free(json_doc* doc) {
  if (!doc) return;
  std::free(doc->tokens);
  doc->tokens = nullptr;
}

int j_get(const json_doc* doc, int object_index, const char* key) {
  const json_token* o = token_at(doc, object_index);
  if (!o || o->type != 'o' || !key) return -1;
  const size_t key_len = std::strlen(key);
  const int limit = o->next < doc->count ? o->next : doc->count;
  for (int i = object_index + 1; i + 1 < limit;) {
    if (key_equals(doc, doc->tokens[i], key, key_len)) return i + 1;
    int next = doc->tokens[i + 1].next;
    if (next <= i + 1) break;  // only in a document whose parse failed half-way
    i = next;
  }
  return -1;
}

char* j_str(const json_doc* doc, int index) {
  const json_token* t = token_at(doc, index);
  if (!t || t->type != 's' || t->end < t->start) return nullptr;
  const char* s = doc->text + t->start;
  const uint64_t len = static_cast<uint64_t>(t->end - t->start);
  text_buffer b{};
  grow(&b, len);
  int64_t n = unescape(s, s + len, b.data);
  if (n < 0) {
    b_free(&b);
    return nullptr;
  }
  b.length = static_cast<uint64_t>(n);
  b.data[n] = '\0';
  return b_release(&b);
}

int j_int(const json_doc* doc, int index, int fallback) {
  const json_token* t = token_at(doc, index);
  if (!t || t->type != 'p') return fallback;
  // strtol rules, pinned to 32 bits whatever the size of long: optional sign, digits,
  // saturation on overflow; the digits must reach the token's end.
  const char* p = doc->text + t->start;
  const char* e = doc->text + t->end;
  bool negative = false;
  if (p < e && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  if (p >= e || !is_digit(p)) return fallback;
  int64_t v = 0;
  for (; p < e && is_digit(p); ++p) {
    if (v <= INT64_C(1) << 40) v = v * 10 + (*p - '0');
  }
  if (p != e) return fallback;
  if (negative) v = -v;
  if (v > INT32_MAX) return INT32_MAX;
  if (v <= INT32_MIN) return fallback;
  return static_cast<int>(v);
}

char* j_raw(const json_doc* doc, int index) {
  const json_token* t = token_at(doc, index);
  if (!t) return nullptr;
  int32_t from = t->start;
  int32_t to = t->end;
  if (t->type == 's') {
    from -= 1;
    to += 1;
  }
  if (to < from) return nullptr;
  size_t n = static_cast<size_t>(to - from);
  char* out = static_cast<char*>(std::malloc(n + 1));
  if (!out) return nullptr;
  std::memcpy(out, doc->text + from, n);
  out[n] = '\0';
  return out;
}
