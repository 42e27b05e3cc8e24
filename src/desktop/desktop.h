// The program's own window showing the page of the local service: WebView2 on
// Windows (desktop_win32.cpp), WebKitGTK on Linux (desktop_gtk.cpp).
#pragma once
#include <cstdint>
#include <string>

// Runs the whole window life on the calling thread for the start URL (token in
// the fragment) of the instance id; returns when the window is gone.
// 0 when a window was created, 1 when none was shown (no loader or display,
// set-up failed before the window existed).
int desktop_run(const std::string& url, uint32_t id);

// Brings the window of the program running from the same folder to the front;
// true when there was one.
bool desktop_show_existing(uint32_t id);

// Lets the boxes shown when the program cannot go on be the desktop's own dialogs
// (GTK on Linux when a display is there; Windows has its message boxes already).
void desktop_boxes();
