// Environment, clocks and randomness.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace plat {

std::optional<std::string> env_get(const std::string& name);  // nullopt when unset
bool env_set(const std::string& name, const std::string& value);
// Removes the variable (true also when it was not set).
bool env_unset(const std::string& name);
// Separator of PATH-like lists: ';' on Windows, ':' on Linux.
extern const char path_list_sep;

struct local_time {
  int year, month, day, hour, minute, second, millisecond;
};
local_time time_local();
// Current UTC time as a Windows file time (100 ns units since 1601-01-01).
int64_t time_now_filetime();
// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount / CLOCK_MONOTONIC).
uint32_t tick_ms();

// Fills out with bytes from the system's secure random source; false on failure.
bool random_bytes(void* out, size_t n);

// Overwrites a secret before its memory is released; never optimised away.
void secure_wipe(void* p, size_t n);

}  // namespace plat
