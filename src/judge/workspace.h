// One submission's place to work, shared by the judge and the own-input runs: the language it
// is written in, a private folder, the two run files kept open, the compile and the runs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "json/json.h"
#include "json/text_buffer.h"
#include "judge/evidence.h"
#include "judge/judge_internal.h"

struct judge_language {
  const char* label;          // in the log
  const char* compiler_name;  // in the log
  const std::string* compiler;
  const char* source_name;
  uint32_t compile_ms;
  const char* arguments;      // after the quoted compiler path and one blank
  const char* missing_message;
};
const judge_language& judge_language_for(bool cpp);
// The compiler file is there (the path is chosen once at start; the file may go since).
bool compiler_present(const judge_language& lang);

// A buffer freed with its owner.
struct owned_buffer : text_buffer {
  owned_buffer() = default;
  owned_buffer(const owned_buffer&) = delete;
  owned_buffer& operator=(const owned_buffer&) = delete;
  ~owned_buffer() { b_free(this); }
};

// A private (0700) folder under a name no one can guess in the temporary folder (another user
// could otherwise make it first, or watch it), the code saved in it and the run files made and
// kept open: nothing the learner's program leaves behind is ever reopened by name. The
// destructor removes the folder with whatever the program left in it.
class workspace {
 public:
  workspace() = default;
  ~workspace();
  workspace(const workspace&) = delete;
  workspace& operator=(const workspace&) = delete;

  // Makes the folder and saves the code in it; nullptr, or the error answer (malloc'ed).
  // log_tag names the submission in the log.
  char* open(const judge_language& lang, const char* code, std::string log_tag);

  struct build {
    run_result result{};
    cstr diagnostics;  // never null
    bool ok = false;   // a program to run was made
  };
  // Compiles the code (through the compile cache) and writes the answer's head:
  // {"compiled":…,"diagnostics":…,"compileMs":… (left open).
  build compile(text_buffer* answer);

  // How many runs of the program follow (lets the platform set up each next one ahead).
  void expect_runs(uint32_t count) { files_.expect_runs(count); }
  // Runs the program once on input under the run limits. *output gets what it wrote (never
  // null; "" when it did not start) and *had_nul whether that held a NUL byte. A run that could
  // not start is logged with the reason.
  run_result run(const char* input, cstr* output, int* had_nul);

  // After a failing run: builds the code once more as a diagnostic program (through the compile
  // cache) and runs it on input under the same limits and sandbox, to find the line where it
  // crashed or broke a rule. At most once per workspace; never changes what run() reported.
  runtime_evidence diagnose(const char* input);
  // A diagnostic run was made (or tried) on this workspace.
  bool diagnosed() const { return diagnosed_; }

 private:
  // A new private folder in the work folder, named prefix and random hex; "" on failure.
  std::string new_folder(const char* prefix);
  std::vector<std::string> map_addresses(const std::string& program,
                                         const std::vector<uint64_t>& addresses);

  const judge_language* lang_ = nullptr;
  const char* code_ = nullptr;
  std::string log_tag_, compiler_, dir_, exe_path_, run_line_;
  bool made_ = false, diagnosed_ = false;
  plat::run_files files_;
};
