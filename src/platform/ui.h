// Messages shown to the user when the program cannot go on (before any window exists).
#pragma once
#include <string>

namespace plat {

// Modal error box without owner window (OK button only); returns when it is closed.
// Linux: the same text on stderr until the desktop module brings a dialog.
void message_box_error(const std::string& caption, const std::string& text);

}  // namespace plat
