// The data store: paths, whole-file reads, atomic replacement, bank and progress reads.
#pragma once
#include <mutex>
#include <string>

constexpr int path_max_units = 259;             // paths are cut here without report
constexpr unsigned long long store_file_limit = 4194304;  // bank and progress reads

extern std::string app_root;   // the executable's folder, no trailing separator
extern std::string gcc_path;   // chosen C compiler (may not exist)
extern std::string gpp_path;   // chosen C++ compiler (may not exist)
extern std::mutex store_lock;  // bank file, progress files and the profile switch
extern std::string profile;    // "" for the guest, else 32 lower-case hex digits; under store_lock

// folder + separator + name, cut at 259 bytes.
std::string path_join(const std::string& folder, const std::string& name);
// name inside app_root/data.
std::string store_path(const std::string& name);
// Whole file with a leading UTF-8 BOM dropped, or nullptr (missing, over limit, unreadable).
// malloc'ed; the caller frees.
char* read_utf8(const std::string& path, unsigned long long limit);
// Replaces the file atomically; 1 on success, 0 on failure (the file then unchanged).
int write_atomic(const std::string& path, const char* text);

// nullptr when the bank text is valid, else a malloc'ed Chinese message.
char* bank_validate(const char* text);
struct json_doc;
int field_length(const json_doc* doc, int object_index, const char* key, int minimum, int maximum);

char* bank_load();   // bank.json text or nullptr
char* state_load();  // the current profile's progress text, "{}" when unreadable
std::string cloud_state_path();                 // caller holds store_lock
int cloud_profile_matches(const char* name);    // caller holds store_lock

// Fixes app_root, starts the log, finds the compilers, checks the bank; 1 ready, 0 must not start.
int store_init();
