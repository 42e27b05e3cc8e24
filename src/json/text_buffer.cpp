#include "json/text_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Callers never see a failed append: without memory there is nothing sensible left to answer.
// _Exit: static destructors must not run under threads that are still working.
[[noreturn]] void out_of_memory() { std::_Exit(2); }

char* text_copy(std::string_view text) {
  char* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (!out) out_of_memory();
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

}  // namespace

void grow(text_buffer* b, uint64_t extra) {
  // A size that wraps around could never be allocated either.
  if (extra > UINT64_MAX / 4 - b->length) out_of_memory();
  if (b->length + extra + 1 <= b->capacity) return;
  uint64_t wanted = 2 * (b->length + extra) + 130;
  if (wanted > PTRDIFF_MAX) out_of_memory();  // no allocator hands out more than that
  char* p = static_cast<char*>(std::realloc(b->data, static_cast<size_t>(wanted)));
  if (!p) out_of_memory();
  b->data = p;
  b->capacity = wanted;
}

void b_add(text_buffer* b, const char* s) {
  size_t n = std::strlen(s);
  grow(b, n);
  std::memcpy(b->data + b->length, s, n + 1);
  b->length += n;
}

int b_fmt(text_buffer* b, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n < 0) return n;
  grow(b, static_cast<uint64_t>(n));
  va_start(args, format);
  int r = std::vsnprintf(b->data + b->length, static_cast<size_t>(b->capacity - b->length), format,
                         args);
  va_end(args);
  if (r < 0 || r > n) {
    // The second pass disagreed with the first: keep the buffer as it was.
    b->data[b->length] = '\0';
    return r < 0 ? r : -1;
  }
  b->length += static_cast<uint64_t>(r);
  return r;
}

void b_json(text_buffer* b, const char* s) {
  b_add(b, "\"");
  if (s) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
      unsigned char c = *p;
      if (c == '"' || c == '\\') {
        grow(b, 2);
        b->data[b->length++] = '\\';
        b->data[b->length++] = static_cast<char>(c);
      } else if (c < 0x20) {
        grow(b, 6);
        char* d = b->data + b->length;
        d[0] = '\\';
        d[1] = 'u';
        d[2] = '0';
        d[3] = '0';
        d[4] = hex_digits[c >> 4];
        d[5] = hex_digits[c & 15];
        b->length += 6;
      } else {
        grow(b, 1);
        b->data[b->length++] = static_cast<char>(c);
      }
    }
  }
  grow(b, 1);
  b->data[b->length++] = '"';
  b->data[b->length] = '\0';
}

char* b_release(text_buffer* b) {
  char* out = b->data ? b->data : text_copy("");
  *b = text_buffer{};
  return out;
}

char* json_error(const char* message) {
  text_buffer b{};
  b_add(&b, "{\"error\":");
  b_json(&b, message);
  b_add(&b, "}");
  return b_release(&b);
}

void b_free(text_buffer* b) {
  std::free(b->data);
  *b = text_buffer{};
}

char* json_ok() { return text_copy("{\"ok\":true}"); }
