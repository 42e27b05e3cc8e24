// Compiled programs kept for a repeat: the same compiler file, the same command line and the
// same source give back the program and the messages of the first compile.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct compile_cache_limits {
  std::string folder;        // "" = "Mesk-cache-<user id>" in the user's temporary folder
  size_t max_entries = 64;   // the oldest used entries go first when either bound is passed
  uint64_t max_bytes = 128ull << 20;
};
// For tests and tools; the default suits the program.
void compile_cache_configure(const compile_cache_limits& limits);
std::string compile_cache_folder();
// At the orderly end: removes the folder this run used (its entries are of no use to a later run).
void compile_cache_end();

// The entry name for one compile, "" when the compiler file cannot be looked at (then nothing
// is cached).
std::string compile_cache_key(const std::string& compiler, const std::string& command_line,
                              const char* source);
// On a hit writes the program to exe_path, sets *diagnostics and returns true. An entry that is
// damaged, altered or written by another run of the program is removed and reported as a miss.
bool compile_cache_fetch(const std::string& key, const std::string& exe_path,
                         std::string* diagnostics);
// Keeps the program at exe_path and the diagnostics under key; bounded afterwards.
void compile_cache_store(const std::string& key, const std::string& exe_path,
                         const char* diagnostics);

// --- the compile step of the judge and the run-only mode ---
#include "platform/proc.h"
struct compile_outcome {
  plat::run_result result{};  // a hit reads as a clean exit after the time the lookup took
  char* diagnostics = nullptr;  // malloc'ed, never nullptr after compile_with_cache
  bool from_cache = false;
};
// Compiles source (already saved in the work folder) with command_line through the cache, its
// messages going to the output file of files: a hit writes the program to exe_path; a clean
// miss is kept for next time.
compile_outcome compile_with_cache(const std::string& compiler, const std::string& command_line,
                                   const char* source, const std::string& work_dir,
                                   const std::string& exe_path, plat::run_files& files,
                                   uint32_t time_limit_ms);
