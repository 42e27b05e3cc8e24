// Start-up, the three modes (window, browser, service only), the second instance,
// and the orderly end.
#pragma once
#include <cstdint>
#include <string>

// The whole program: reads the command line, runs a duty or serves; returns the exit code.
int app_main();

// Command-line options are found by plain substring search wherever they stand.
bool has_option(const std::string& text, const char* option);

// "窗口关闭，正常退出；本次运行 %lu 秒" with (now - start) / 1000 in 32-bit arithmetic.
std::string closing_reason(uint32_t start_tick, uint32_t now_tick);

// 24 random bytes as 48 lower-case hex digits; "" when the random source fails.
std::string make_token();
