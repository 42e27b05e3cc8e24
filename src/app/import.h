// Command-line bank import: --import-bank <file> merges a bank package into data/bank.json.
#pragma once
#include <string>

// Runs the whole import for the full command line; returns the process exit code (0 or 1).
int import_bank(const std::string& command_line);
