// Pieces of the store's start-up, open to tests.
#pragma once
#include <string>

// The executable's folder from its full path: 1 and the folder, or 0 when the path is empty,
// longer than 199 units, or has no separator.
int store_root_from_exe(const std::string& exe, std::string* root);

// store_init for a given program folder (what store_init does after fixing app_root).
int store_init_at(const std::string& root);

// folder first in a PATH-like list value, at most limit units; whole entries that no longer
// fit are dropped from the end rather than cut in half.
std::string path_list_prepend(const std::string& folder, const std::string& old_value, size_t limit);

// Shows the start-up error; tests replace it to keep the box off screen and read the text.
extern void (*store_error_box)(const std::string& caption, const std::string& text);
