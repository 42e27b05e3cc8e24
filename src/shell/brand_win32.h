// Windows side of the program's identity: the property keys of a window's or a
// shortcut's relaunch information, and the helpers that set them.
#pragma once
#include <windows.h>
#include <propsys.h>

#include "shell/brand.h"

// brand_id and brand_icon as the Windows calls take them.
extern const wchar_t brand_id_w[];    // L"Qy9.Tavrin"
extern const wchar_t brand_icon_w[];  // L"Tavrin-brand.ico"
extern const wchar_t brand_name_w[];  // L"Tavrin"

extern const PROPERTYKEY key_command;  // PKEY_AppUserModel_RelaunchCommand
extern const PROPERTYKEY key_icon;     // PKEY_AppUserModel_RelaunchIconResource
extern const PROPERTYKEY key_name;     // PKEY_AppUserModel_RelaunchDisplayNameResource
extern const PROPERTYKEY key_id;       // PKEY_AppUserModel_ID
extern const PROPERTYKEY key_title;    // PKEY_Title

// Stores text as a VT_LPWSTR value; the result of SetValue is ignored.
void set_text(IPropertyStore* store, const PROPERTYKEY& key, const wchar_t* text);

// Gives the desktop window its two icons and the relaunch properties of its
// taskbar button (command, name, icon when the icon file exists, id).
void shell_brand_window(HWND window, HICON big_icon, HICON small_icon);
