// Append-only files shared between processes (the daily log).
#pragma once
#include <cstddef>
#include <string>

namespace plat {

struct append_file;

// Opens path for appending, creating it when missing; *created is true when this call made
// the file. nullptr on failure.
append_file* append_open(const std::string& path, bool* created);
// Appends the bytes with one system write, so lines of several processes never mix.
// false on failure or a short write.
bool append_write(append_file* file, const char* data, size_t size);
void append_close(append_file* file);  // nullptr is fine

}  // namespace plat
