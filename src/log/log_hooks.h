// Clocks the log reads; tests replace them to cross midnight or the clean-up boundary at will.
#pragma once
#include <cstdint>

#include "platform/sys.h"

extern plat::local_time (*log_clock)();  // local time of each line (plat::time_local)
extern int64_t (*log_now_filetime)();    // UTC now for the clean-up (plat::time_now_filetime)
