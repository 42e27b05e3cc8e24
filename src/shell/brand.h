// The program's one identity in the desktop shell: the id that groups its windows,
// launchers and shortcuts, and the icon file beside the executable.
#pragma once
#include <string>

// "Qy9.Tavrin": the application user model id on Windows; the WM_CLASS and
// application id of the window (and StartupWMClass of launchers) on Linux.
extern const char brand_id[];
// The icon file in the executable's folder: "Tavrin-brand.ico" on Windows,
// "Tavrin-brand.png" on Linux (with "Tavrin-brand.svg" beside it).
extern const char brand_icon[];
// "Tavrin": the name a relaunch or a launcher shows.
extern const char brand_name[];

// Declares the process's identity. Runs at every start, before any option is acted on.
void shell_brand_init();

// Full path of brand_icon in the folder of the running executable; "" when that
// folder cannot be found.
std::string brand_icon_path();
