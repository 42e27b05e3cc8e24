// Messages shown to the user when the program cannot go on (before any window exists).
#pragma once
#include <string>

namespace plat {

// Modal error box without owner window (OK button only); returns when it is closed.
// Linux: a dialog of the handler below when it can show one, else the text on stderr.
void message_box_error(const std::string& caption, const std::string& text);

// A graphical box the desktop module offers (Linux: a GTK dialog when a display is
// there); it returns false when it could not show one.
using message_box_handler = bool (*)(const std::string& caption, const std::string& text);
void message_box_use(message_box_handler handler);

}  // namespace plat
