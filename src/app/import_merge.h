// The pure steps of the bank import: reading its argument, merging two bank texts and
// listing the questions whose judging basis survived. No files, no log.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

constexpr int import_path_max_units = 259;  // package path, in the system's path units
constexpr int import_exe_max_units = 199;   // the executable's full path

// The package path after "--import-bank" in the full command line: blanks skipped, then a
// quoted path up to the next quote (or the end), else up to the next space. nullopt when
// the option is absent or the path is empty or longer than import_path_max_units.
std::optional<std::string> import_argument(std::string_view command_line);

// Program folder from the executable's full path: the text before its last separator.
// nullopt when the path is empty, too long or has no separator.
std::optional<std::string> import_app_root(const std::string& exe);

// The merged bank: the package's questions in order, then the installed questions (when
// installed is not null and parses) whose string id the package lacks, under a fixed head
// with the package's title ("Tavrin" when missing) and revision ("" when missing). Every
// question is copied byte for byte. nullopt when the package does not parse or has no
// "questions" array.
std::optional<std::string> bank_merge(const char* package, const char* installed);

// restamp.ids content: the merged questions, in order, whose installed namesake has the same
// tests (count, inputs, outputs) and the same compare, one id and "\n" each. nullopt when
// either text does not parse or lacks "questions" (then no list is written).
std::optional<std::string> restamp_list(const char* installed, const char* merged);
