// Repair of the program's own shortcuts after it was moved, copied or re-installed:
// Windows shell links (.lnk) and freedesktop launchers (.desktop) on Linux. Each
// shortcut that starts the program, its uninstaller or one of its documents is backed
// up once, then gets the brand icon, the brand id, a fixed name and file name; every
// other shortcut is left exactly as it is. Nothing is logged or shown.
#pragma once
#include <cstdint>
#include <string>

// Exit codes of both entry points.
enum : int {
  refresh_ok = 0,
  refresh_bad_folder = 1,  // folder missing or not a folder; no folder part in the executable path
  refresh_no_icon = 2,     // the brand icon is missing beside the executable; nothing changed
  refresh_no_com = 3,      // COM could not start (Windows); nothing changed
  refresh_errors = 4,      // at least one of the program's shortcuts failed; the rest were done
};

// The desktop, the applications menu (Start menu "Tavrin", with "Mesk" moved into it)
// and, on Windows, the pinned taskbar items. Returns one of the codes above.
int shell_brand_refresh();
// The shortcuts directly inside folder (UTF-8), renamed within it. Returns one of the codes above.
int shell_brand_refresh_directory(const std::string& folder);

// What a shortcut of the program starts.
enum class link_kind { document0, document1, document2, uninstaller, program };

// The documents in the program's folder, numbered 0 to 2.
extern const char* const owned_document_names[3];

// The name a shortcut of the program gets (also its file name, before the extension):
// by document, uninstaller, or for the program by its arguments ("--browser", "--stop").
const char* shortcut_display(link_kind kind, const std::string& arguments);

// 32-bit FNV-1a over 16-bit code units, each unit taken whole.
template <typename Units>
uint32_t fnv1a_units(const Units& units) {
  uint32_t hash = 2166136261u;
  for (auto unit : units) {
    hash ^= static_cast<uint16_t>(unit);
    hash *= 16777619u;
  }
  return hash;
}

// "%08x" of the hash followed by extension: the backup's file name.
std::string backup_file_name(uint32_t hash, const char* extension);
