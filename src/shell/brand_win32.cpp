#include "shell/brand_win32.h"

#include <cwchar>

#include "store/store.h"

const char brand_id[] = "Qy9.Tavrin";
const char brand_icon[] = "Tavrin-brand.ico";
const char brand_name[] = "Tavrin";
const wchar_t brand_id_w[] = L"Qy9.Tavrin";
const wchar_t brand_icon_w[] = L"Tavrin-brand.ico";
const wchar_t brand_name_w[] = L"Tavrin";

namespace {
constexpr GUID relaunch_format = {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};
constexpr GUID summary_format = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
constexpr size_t relaunch_chars = 264;

// Functions that older systems lack are looked up in the already loaded shell32.
template <typename F>
F shell_function(const char* name) {
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  if (!shell) return nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(shell, name)));
}

std::wstring exe_path() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"";
  return std::wstring(path, n);
}

std::wstring widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}
}  // namespace

const PROPERTYKEY key_command = {relaunch_format, 2};
const PROPERTYKEY key_icon = {relaunch_format, 3};
const PROPERTYKEY key_name = {relaunch_format, 4};
const PROPERTYKEY key_id = {relaunch_format, 5};
const PROPERTYKEY key_title = {summary_format, 2};

void shell_brand_init() {
  using set_id_fn = HRESULT(WINAPI*)(PCWSTR);
  if (auto set_id = shell_function<set_id_fn>("SetCurrentProcessExplicitAppUserModelID")) set_id(brand_id_w);
}

std::string brand_icon_path() {
  std::wstring exe = exe_path();
  size_t slash = exe.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return "";
  return narrow(exe.substr(0, slash + 1)) + brand_icon;
}

void set_text(IPropertyStore* store, const PROPERTYKEY& key, const wchar_t* text) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  value.pwszVal = const_cast<wchar_t*>(text);  // SetValue copies it
  store->SetValue(key, value);
}

void shell_brand_window(HWND window, HICON big_icon, HICON small_icon) {
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));

  wchar_t command[relaunch_chars];
  swprintf(command, relaunch_chars, L"\"%ls\"", exe_path().c_str());
  std::wstring icon_file = widen(path_join(app_root, brand_icon));
  wchar_t icon[relaunch_chars];
  swprintf(icon, relaunch_chars, L"%ls,0", icon_file.c_str());

  using store_fn = HRESULT(WINAPI*)(HWND, REFIID, void**);
  auto for_window = shell_function<store_fn>("SHGetPropertyStoreForWindow");
  IPropertyStore* store = nullptr;
  if (!for_window || FAILED(for_window(window, IID_IPropertyStore, reinterpret_cast<void**>(&store))) || !store)
    return;
  set_text(store, key_command, command);
  set_text(store, key_name, brand_name_w);
  if (GetFileAttributesW(icon_file.c_str()) != INVALID_FILE_ATTRIBUTES) set_text(store, key_icon, icon);
  set_text(store, key_id, brand_id_w);
  store->Commit();
  store->Release();
}
