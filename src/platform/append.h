// Append-only files shared between processes (the daily log).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

struct append_file;

// Opens path for appending. A missing file is created holding first_bytes, and appears under
// its name only with them in place: every other process that opens or creates it at the same
// moment appends after them, never before. *created is true when this call made the file.
// nullptr on failure. On Linux the file (0600) and its folder (0700) are its user's alone.
append_file* append_open(const std::string& path, std::string_view first_bytes, bool* created);
// Appends the bytes with one system write, so lines of several processes never mix.
// false on failure or a short write.
bool append_write(append_file* file, const char* data, size_t size);
void append_close(append_file* file);  // nullptr is fine

}  // namespace plat
