// Where programs live and how long a path is, as the system counts it.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// Suffix of executable files: ".exe" on Windows, "" on Linux.
extern const char* const exe_suffix;

// Folder of a well-known local compiler install tried before the search path
// (with trailing separator), "" where the system has none.
extern const char* const known_compiler_dir;

// Link flags a C or C++ program needs for the maths functions, appended after the sources:
// " -lm" where they live in a library of their own (Linux), "" where the C runtime has them.
extern const char* const math_link_flags;

// Full path of an executable file found the way the system looks programs up, or "".
std::string search_program(const std::string& file_name);

// Length of text as the system's path limits count it: UTF-16 units on Windows, bytes on Linux.
size_t path_units(std::string_view text);

// Bytes of the longest prefix of text that holds at most max_units units and ends on a
// character boundary (never splits a UTF-8 sequence).
size_t path_prefix_bytes(std::string_view text, size_t max_units);

}  // namespace plat
