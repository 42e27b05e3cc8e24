#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/wide.h"
#include "shell/brand_win32.h"
#include "shell/refresh.h"

namespace {

using plat::win::narrow;
using plat::win::widen;

constexpr size_t path_chars = MAX_PATH;  // 260: paths, link targets
constexpr size_t argument_chars = 512;
constexpr size_t command_chars = 1024;
const wchar_t backup_folder_name[] = L"icon-link-backups";
const wchar_t old_program_name[] = L"Mesk.exe";
const wchar_t uninstaller_name[] = L"unins000.exe";
const wchar_t pinned_folder[] = L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar";

// Failed steps on the program's own shortcuts during one refresh.
int brand_errors = 0;

struct program_files {
  std::wstring exe, folder, icon, backups;
};

template <typename T>
struct com_ref {
  T* p = nullptr;
  com_ref() = default;
  com_ref(const com_ref&) = delete;
  com_ref& operator=(const com_ref&) = delete;
  ~com_ref() {
    if (p) p->Release();
  }
  void** put() { return reinterpret_cast<void**>(&p); }
  T* operator->() const { return p; }
};

bool same_path(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
  return folder + L"\\" + name;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The running executable and what lies beside it; false when the path has no folder part.
bool locate_program(program_files& p) {
  wchar_t exe[path_chars];
  DWORD n = GetModuleFileNameW(nullptr, exe, path_chars);
  if (n == 0 || n >= path_chars) return false;
  p.exe.assign(exe, n);
  size_t slash = p.exe.find_last_of(L'\\');
  if (slash == std::wstring::npos) return false;
  p.folder = p.exe.substr(0, slash);
  p.icon = join(p.folder, brand_icon_w);
  p.backups = join(p.folder, backup_folder_name);
  return true;
}

std::optional<std::wstring> special_folder(int csidl) {
  wchar_t path[path_chars];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::nullopt;
  return std::wstring(path);
}

// Document number 0 to 2 when target is one of the program's documents, else -1.
int owned_document(const std::wstring& target, const program_files& p) {
  for (int i = 0; i < 3; ++i)
    if (same_path(target, join(p.folder, widen(owned_document_names[i])))) return i;
  return -1;
}

std::optional<link_kind> owned_kind(const std::wstring& target, const program_files& p) {
  if (same_path(target, p.exe) || same_path(target, join(p.folder, old_program_name))) return link_kind::program;
  if (same_path(target, join(p.folder, uninstaller_name))) return link_kind::uninstaller;
  int document = owned_document(target, p);
  if (document >= 0) return static_cast<link_kind>(document);
  return std::nullopt;
}

struct shell_link {
  com_ref<IShellLinkW> link;
  com_ref<IPersistFile> file;
  std::wstring target;
};

// Loads a shortcut and reads its target; false when any step fails.
bool open_link(const std::wstring& path, DWORD mode, shell_link& s) {
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, s.link.put())))
    return false;
  if (FAILED(s.link->QueryInterface(IID_IPersistFile, s.file.put()))) return false;
  if (FAILED(s.file->Load(path.c_str(), mode))) return false;
  wchar_t target[path_chars] = L"";
  if (FAILED(s.link->GetPath(target, path_chars, nullptr, 0))) return false;
  s.target = target;
  return true;
}

// The first backup of a shortcut is kept for good: an existing one counts as done.
bool back_up(const std::wstring& path, const program_files& p) {
  CreateDirectoryW(p.backups.c_str(), nullptr);
  std::wstring copy = join(p.backups, widen(backup_file_name(fnv1a_units(path), ".lnk")));
  if (CopyFileW(path.c_str(), copy.c_str(), TRUE)) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

void set_link_properties(IShellLinkW* link, const std::wstring& display, const std::wstring& target,
                         const wchar_t* arguments) {
  com_ref<IPropertyStore> store;
  if (FAILED(link->QueryInterface(IID_IPropertyStore, store.put())) || !store.p) return;
  std::wstring command = L"\"" + target + L"\" " + arguments;
  if (command.size() >= command_chars) command.resize(command_chars - 1);
  set_text(store.p, key_id, brand_id_w);
  set_text(store.p, key_name, display.c_str());
  set_text(store.p, key_title, display.c_str());
  set_text(store.p, key_command, command.c_str());
  store->Commit();
}

// Tells the shell that the icon of path changed.
void refresh_file(const std::wstring& path) {
  SHFILEINFOW index{}, location{};
  DWORD_PTR list = SHGetFileInfoW(path.c_str(), 0, &index, sizeof index, SHGFI_SYSICONINDEX);
  DWORD_PTR found = SHGetFileInfoW(path.c_str(), 0, &location, sizeof location, SHGFI_ICONLOCATION);
  if (list && found) SHUpdateImageW(location.szDisplayName, location.iIcon, 0, index.iIcon);
  SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSH, path.c_str(), nullptr);
}

// One shortcut: skipped silently unless it is the program's; each failure after that counts.
void refresh_link(const std::wstring& path, const program_files& p, const std::wstring* destination) {
  shell_link s;
  if (!open_link(path, STGM_READWRITE, s)) return;
  std::optional<link_kind> kind = owned_kind(s.target, p);
  if (!kind) return;

  wchar_t arguments[argument_chars] = L"";
  if (FAILED(s.link->GetArguments(arguments, argument_chars))) arguments[0] = L'\0';
  std::wstring display = widen(shortcut_display(*kind, narrow(arguments)));
  std::wstring new_path = destination ? join(*destination, display + L".lnk") : path;
  bool moving = destination && !same_path(path, new_path);

  // The name may be taken only by another shortcut of the program, which this one replaces.
  if (moving && exists(new_path)) {
    shell_link other;
    if (!open_link(new_path, STGM_READ, other) || !owned_kind(other.target, p)) {
      ++brand_errors;
      return;
    }
  }
  if (!back_up(path, p)) {
    ++brand_errors;
    return;
  }

  std::wstring target = same_path(s.target, join(p.folder, old_program_name)) ? p.exe : s.target;
  if (FAILED(s.link->SetPath(target.c_str())) || FAILED(s.link->SetDescription(display.c_str())) ||
      FAILED(s.link->SetIconLocation(p.icon.c_str(), 0))) {
    ++brand_errors;
    return;
  }
  set_link_properties(s.link.p, display, target, arguments);
  if (FAILED(s.file->Save(path.c_str(), TRUE))) {
    ++brand_errors;
    return;
  }
  refresh_file(path);

  if (!moving) return;
  if (!MoveFileExW(path.c_str(), new_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ++brand_errors;
    return;
  }
  SHChangeNotify(SHCNE_RENAMEITEM, SHCNF_PATHW | SHCNF_FLUSH, path.c_str(), new_path.c_str());
  refresh_file(new_path);
}

// The shortcuts directly in folder; with a destination, each is renamed into it.
// Every path is listed before any shortcut changes, so renames cannot disturb the listing.
void refresh_folder(const std::wstring& folder, const program_files& p, const std::wstring* destination) {
  std::vector<std::wstring> paths;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(join(folder, L"*.lnk").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring path = join(folder, found.cFileName);
    if (path.size() >= path_chars) continue;  // no shortcut API opens it
    try {
      paths.push_back(std::move(path));
    } catch (const std::bad_alloc&) {
      ++brand_errors;
      break;
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  for (const std::wstring& path : paths) refresh_link(path, p, destination);
}

// Steps shared by both entry points before anything is touched: 0 when ready, else the exit code.
int prepare(program_files& p) {
  if (!locate_program(p)) return refresh_bad_folder;
  if (!exists(p.icon)) return refresh_no_icon;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return refresh_no_com;
  brand_errors = 0;
  return 0;
}

int finish() {
  CoUninitialize();
  return brand_errors ? refresh_errors : refresh_ok;
}

}  // namespace

int shell_brand_refresh() {
  program_files p;
  if (int code = prepare(p)) return code;

  if (auto desktop = special_folder(CSIDL_DESKTOPDIRECTORY)) refresh_folder(*desktop, p, &*desktop);
  if (auto programs = special_folder(CSIDL_PROGRAMS)) {
    std::wstring tavrin = join(*programs, brand_name_w), mesk = join(*programs, L"Mesk");
    CreateDirectoryW(tavrin.c_str(), nullptr);
    refresh_folder(tavrin, p, &tavrin);
    refresh_folder(mesk, p, &tavrin);
    RemoveDirectoryW(mesk.c_str());  // only when nothing else is left in it
  }
  if (auto appdata = special_folder(CSIDL_APPDATA)) refresh_folder(join(*appdata, pinned_folder), p, nullptr);

  refresh_file(p.exe);
  refresh_file(p.icon);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
  return finish();
}

int shell_brand_refresh_directory(const std::string& folder_utf8) {
  // The full path names the backups, so "x", "x\" and ".\x" all give the same ones.
  std::wstring given = widen(folder_utf8);
  wchar_t full[path_chars];
  DWORD n = given.empty() ? 0 : GetFullPathNameW(given.c_str(), path_chars, full, nullptr);
  if (n == 0 || n >= path_chars) return refresh_bad_folder;
  std::wstring folder(full, n);
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return refresh_bad_folder;

  program_files p;
  if (int code = prepare(p)) return code;
  refresh_folder(folder, p, &folder);
  return finish();
}
