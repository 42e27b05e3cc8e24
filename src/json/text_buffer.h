// Growable NUL-terminated byte buffer; every JSON text the program writes is built here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

// A zero-initialised record is a valid empty buffer without storage.
struct text_buffer {
  char* data = nullptr;   // heap block (malloc/realloc), nullptr until the first append
  uint64_t length = 0;    // bytes in use, terminator not counted
  uint64_t capacity = 0;  // size of the block
};

// Ends the process with exit code 2: what the program does wherever memory runs out and no
// failure result could say so (also installed as the new-handler at start).
[[noreturn]] void out_of_memory();
// A malloc'ed NUL-terminated copy of text (never nullptr: out of memory ends the process).
char* text_copy(std::string_view text);

// Room for extra more bytes plus the terminator; grows to 2 * (length + extra) + 130.
// Out of memory ends the process with exit code 2.
void grow(text_buffer* b, uint64_t extra);
void b_add(text_buffer* b, const char* s);
// printf-style; bytes appended, or negative (buffer unchanged) when formatting fails.
int b_fmt(text_buffer* b, const char* format, ...) __attribute__((format(printf, 2, 3)));
// s as a JSON string literal with quotes; nullptr writes "".
void b_json(text_buffer* b, const char* s);
// Hands the block over as a malloc'ed NUL-terminated string (never nullptr) and empties b.
char* b_release(text_buffer* b);
// The error object {"error":message} that every failure answer uses (malloc'ed; caller frees).
char* json_error(const char* message);
// {"ok":true}, malloc'ed.
char* json_ok();
// Releases the block and empties b.
void b_free(text_buffer* b);
