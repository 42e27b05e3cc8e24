#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "platform/fs.h"
#include "platform/instance.h"
#include "platform/win32/wide.h"

namespace plat {

using win::narrow;
using win::widen;

// ---- command line ---------------------------------------------------------

std::string command_line() { return narrow(GetCommandLineW()); }

// What WinMain gets as its argument text: the program name skipped (quoted or up
// to the first blank), then the blanks after it.
std::string command_args() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return narrow(p);
}

std::vector<std::string> command_argv() {
  std::vector<std::string> out;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return out;
  for (int i = 0; i < count; ++i) out.push_back(narrow(argv[i]));
  LocalFree(argv);
  return out;
}

// ---- instance lock and stop event -------------------------------------------

static HANDLE instance_mutex = nullptr;
static HANDLE stop_event = nullptr;

static std::wstring object_name(const wchar_t* prefix, uint32_t id) {
  wchar_t name[100];
  swprintf(name, 100, L"%ls%08x", prefix, id);
  return name;
}

instance_state instance_lock(uint32_t id, const std::string&) {
  instance_mutex = CreateMutexW(nullptr, TRUE, object_name(L"Local\\Mesk-", id).c_str());
  if (!instance_mutex) return instance_state::failed;
  return GetLastError() == ERROR_ALREADY_EXISTS ? instance_state::taken : instance_state::owned;
}

void instance_release() {
  if (!instance_mutex) return;
  ReleaseMutex(instance_mutex);
  CloseHandle(instance_mutex);
  instance_mutex = nullptr;
}

void instance_abandon() {
  if (instance_mutex) CloseHandle(instance_mutex);
  instance_mutex = nullptr;
}

void stop_prepare() {}

long instance_owner(const std::string&) { return 0; }

bool stop_create(uint32_t id) {
  stop_event = CreateEventW(nullptr, TRUE, FALSE, object_name(L"Local\\MeskStop-", id).c_str());
  return stop_event != nullptr;
}

void stop_set() {
  if (stop_event) SetEvent(stop_event);
}

bool stop_is_set() { return stop_event && WaitForSingleObject(stop_event, 0) == WAIT_OBJECT_0; }

void stop_close() {
  if (stop_event) CloseHandle(stop_event);
  stop_event = nullptr;
}

bool stop_notify_running(uint32_t id, const std::string&) {
  HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, object_name(L"Local\\MeskStop-", id).c_str());
  if (!e) return false;
  SetEvent(e);
  CloseHandle(e);
  return true;
}

bool stop_attach_running(uint32_t id, const std::string&) {
  HANDLE e = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, object_name(L"Local\\MeskStop-", id).c_str());
  if (!e) return false;
  stop_event = e;
  return true;
}

void process_error_mode() { SetErrorMode(0x8003); }

bool write_private_file(const std::string& path, const std::string& bytes) {
  return file_replace_atomic(path, bytes);
}

// ---- browser ---------------------------------------------------------------------

void open_url(const std::string& url) {
  std::wstring wide_url = widen(url);
  if (wide_url.size() >= 2048) wide_url.resize(2047);
  const wchar_t* edge = L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
  if (GetFileAttributesW(edge) != INVALID_FILE_ATTRIBUTES) {
    wchar_t params[2048];
    swprintf(params, 2048, L"--app=\"%ls\" --window-size=1360,900", wide_url.c_str());
    ShellExecuteW(nullptr, L"open", edge, params, nullptr, SW_SHOWNORMAL);
    return;
  }
  ShellExecuteW(nullptr, L"open", wide_url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void open_url_forget() {}

void open_url_hand_over(int) {}

// A windowed program has no console to print to; the URL is in session.txt.
void announce_url(const std::string&) {}

}  // namespace plat
