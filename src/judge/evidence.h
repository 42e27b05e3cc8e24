// Runtime evidence: where a failing program crashed or broke a rule of the language, found by
// running it once more as a diagnostic build (debug information, bounds and arithmetic checks
// and a small crash reporter linked in) and read back from what that run wrote.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "json/text_buffer.h"

struct runtime_evidence {
  bool found = false;
  std::string kind;     // bounds, divide, null, overflow, stack, library, memory, undefined
  int line = 0;         // 1-based line of the learner's source
  std::string text;     // that line, from our own copy of the source
  std::string message;  // Chinese, naming the line
};

// Whether this build of the program can make diagnostic builds at all.
bool diagnose_supported();
// What the diagnostic compile adds to the normal compile line (after it), and the crash
// reporter's source, saved in the work folder under diagnose_helper_name.
extern const char* const diagnose_flags;
extern const char* const diagnose_helper_name;
extern const char* const diagnose_helper_source;

// Maps addresses in the diagnostic program (file offsets as addr2line takes them) to
// "file:line" texts, one per address, in order; empty when the lookup failed.
using address_mapper = std::function<std::vector<std::string>(const std::vector<uint64_t>&)>;

// Reads the diagnostic run's output (untrusted: the program may print anything, so only a
// line inside source is ever reported, its text always taken from source) and turns the last
// report in it into evidence. exe_is_pie: the program's addresses are relative to its load
// address.
runtime_evidence read_evidence(const char* output, const char* source, const char* source_name,
                               bool exe_is_pie, const address_mapper& map);

// Appends ,"evidence":{"kind","line","text","message"} when found.
void evidence_json(text_buffer* b, const runtime_evidence& e);
