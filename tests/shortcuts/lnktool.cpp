// Test helper for the shortcut suite under Wine: makes and reads real shell links with
// IShellLinkW, and points the user's desktop, Start menu and application data folders
// at a test's own folders. Reads one UTF-8 script of tab-separated lines:
//   folders <desktop> <programs> <appdata>      User Shell Folders of this prefix's user
//   make <path> <target> <arguments> <description>
//   read <path>                                 prints one line, fields separated by tabs:
//     ok <target> <arguments> <description> <icon file> <icon index> <app id>, where the
//     app id is "-" when the link holds none and "no-store" when it has no property store
//     or "fail" when the link cannot be loaded
// Exit code 0 when every line worked.
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// PKEY_AppUserModel_ID
const PROPERTYKEY app_id_key = {{0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void say(const std::string& line) {
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool set_folders(const std::vector<std::string>& f) {
  const wchar_t* keys[] = {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                           L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
  const wchar_t* names[] = {L"Desktop", L"Programs", L"AppData"};
  for (const wchar_t* key : keys) {
    HKEY k;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
      return false;
    for (int i = 0; i < 3; ++i) {
      std::wstring v = widen(f[1 + i]);
      RegSetValueExW(k, names[i], 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                     static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(k);
  }
  return true;
}

bool make(const std::vector<std::string>& f) {
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link))) &&
            SUCCEEDED(link->SetPath(widen(f[2]).c_str())) && SUCCEEDED(link->SetArguments(widen(f[3]).c_str())) &&
            SUCCEEDED(link->SetDescription(widen(f[4]).c_str())) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Save(widen(f[1]).c_str(), TRUE));
  if (file) file->Release();
  if (link) link->Release();
  return ok;
}

std::string app_id(IShellLinkW* link) {
  IPropertyStore* store = nullptr;
  if (FAILED(link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store))) || !store) return "no-store";
  PROPVARIANT value;
  PropVariantInit(&value);
  std::string id = "-";
  if (SUCCEEDED(store->GetValue(app_id_key, &value)) && value.vt == VT_LPWSTR && value.pwszVal)
    id = narrow(value.pwszVal);
  PropVariantClear(&value);
  store->Release();
  return id;
}

bool read(const std::vector<std::string>& f) {
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t target[MAX_PATH] = L"", arguments[1024] = L"", description[1024] = L"", icon[MAX_PATH] = L"";
  int index = -1;
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link))) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Load(widen(f[1]).c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0)) &&
            SUCCEEDED(link->GetArguments(arguments, 1024)) && SUCCEEDED(link->GetDescription(description, 1024)) &&
            SUCCEEDED(link->GetIconLocation(icon, MAX_PATH, &index));
  if (ok)
    say("ok\t" + narrow(target) + "\t" + narrow(arguments) + "\t" + narrow(description) + "\t" + narrow(icon) + "\t" +
        std::to_string(index) + "\t" + app_id(link));
  else
    say("fail");
  if (file) file->Release();
  if (link) link->Release();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* script = fopen(argv[1], "rb");
  if (!script) return 2;
  std::string all;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, script)) > 0) all.append(buf, n);
  fclose(script);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  int rc = 0;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> f = split(line);
    bool ok = false;
    if (f[0] == "folders" && f.size() == 4) ok = set_folders(f);
    else if (f[0] == "make" && f.size() == 5) ok = make(f);
    else if (f[0] == "read" && f.size() == 2) ok = read(f);
    if (!ok) {
      say("error\t" + line);
      rc = 1;
    }
  }
  CoUninitialize();
  return rc;
}
