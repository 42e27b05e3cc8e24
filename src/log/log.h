// The daily log: logs/Tavrin-YYYY-MM-DD.log beside the executable, one flushed line per call.
#pragma once
#include <cstdint>
#include <string>

constexpr int log_line_max = 4092;  // prefix and message together; CR LF follows

extern std::string log_dir;  // app_root joined with "logs"

// Starts logging (needs app_root). Leaves logging off when today's file cannot be opened.
void log_init();
// A secret (the session token) no line may hold: a line is cut before it. Any thread.
void log_secret(const std::string& secret);
// level is "I", "W" or "E". No-op while logging is off. Any thread.
void log_write(const char* level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// One line: text followed by a path or other system text (UTF-8, as every text here).
void log_wide(const char* level, const char* text, const std::string& wide);
// Closing banner with reason, then logging off.
void log_shutdown(const char* reason);
// Full path of the file for a date key (year * 10000 + month * 100 + day).
std::string log_name(int32_t day_key);
// Closes the open file and opens the file of day_key; 1 on success, 0 on failure.
int log_open(int32_t day_key);
