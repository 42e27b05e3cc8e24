// A stand-in for the WebView2 runtime's client library (EmbeddedBrowserWebView.dll), for the
// Wine suite only (the real runtime cannot run there). The suite registers it the way the
// runtime registers itself, so the window reaches it through our WebView2Loader.dll. It
// implements the few interfaces the window uses and acts out a script: completions
// delivered later on the window's thread, navigations, pop-ups and page messages, answers
// to "request-close", and a runtime that fails at a chosen step. Everything the host and
// the loader do to it is written to a log.
//
// TAVRIN_STANDIN_SCRIPT: a file of lines "command argument..."; TAVRIN_STANDIN_LOG: the log.
//   env fail_sync|fail|null [hresult]      controller fail_sync|fail|null [hresult]
//   view null                               answer close-ready|close-cancel|none
//   navigate URI     popup URI     message SOURCE JSON     close      boxes yes|no
//   dialog cancel | dialog save PATH
// The page steps run one by one after Navigate, 100 ms apart.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "desktop/webview2.h"

namespace {

using namespace wv2;

std::vector<std::wstring> steps;  // page steps
std::wstring env_mode, env_code, controller_mode, controller_code, view_mode, answer = L"none";
std::wstring box_answer = L"yes", dialog_mode, dialog_path;
HWND parent = nullptr;
IUnknown* environment_done = nullptr;
IUnknown* controller_done = nullptr;
IUnknown* navigation_handler = nullptr;
IUnknown* popup_handler = nullptr;
IUnknown* message_handler = nullptr;
std::wstring origin;
FILE* log_file = nullptr;

void log(const wchar_t* format, ...) {
  if (!log_file) return;
  wchar_t line[8192];
  va_list args;
  va_start(args, format);
  vswprintf(line, 8192, format, args);
  va_end(args);
  int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), n, nullptr, nullptr);
  fprintf(log_file, "%s\n", text.c_str());
  fflush(log_file);
}

HRESULT hresult(const std::wstring& text, HRESULT fallback) {
  return text.empty() ? fallback : static_cast<HRESULT>(wcstoul(text.c_str(), nullptr, 0));
}

LPWSTR task_copy(const std::wstring& s) {
  auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
  wmemcpy(out, s.c_str(), s.size() + 1);
  return out;
}

template <typename T>
HRESULT STDMETHODCALLTYPE invoke2(IUnknown* handler, HRESULT a, T* b) {
  using fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, HRESULT, T*);
  return reinterpret_cast<fn*>(*reinterpret_cast<void***>(handler))[3](handler, a, b);
}
template <typename T>
HRESULT STDMETHODCALLTYPE invoke_event(IUnknown* handler, ICoreWebView2* sender, T* args) {
  using fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, ICoreWebView2*, T*);
  return reinterpret_cast<fn*>(*reinterpret_cast<void***>(handler))[3](handler, sender, args);
}

// Calls f later on the thread that asked (the window's), from its message loop.
std::vector<std::pair<UINT_PTR, std::function<void()>>> jobs;

void CALLBACK job_tick(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  for (auto it = jobs.begin(); it != jobs.end(); ++it) {
    if (it->first == id) {
      std::function<void()> f = std::move(it->second);
      jobs.erase(it);
      f();
      return;
    }
  }
}

void later(UINT ms, std::function<void()> f) {
  UINT_PTR id = SetTimer(nullptr, 0, ms, job_tick);
  jobs.push_back({id, std::move(f)});
}

struct settings_t : ICoreWebView2Settings {
  std::atomic<LONG> refs{1};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { log(L"settings release"); return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL v) override { log(L"status bar %d", v); return S_OK; }
  HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL v) override { log(L"context menus %d", v); return S_OK; }
} settings;

struct navigation_args_t : ICoreWebView2NavigationStartingEventArgs {
  std::wstring uri;
  BOOL cancel = FALSE;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* out) override { *out = task_copy(uri); return S_OK; }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* v) override { *v = TRUE; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* v) override { *v = FALSE; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_RequestHeaders(loose*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* v) override { *v = cancel; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override { cancel = v; return S_OK; }
};

struct popup_args_t : ICoreWebView2NewWindowRequestedEventArgs {
  std::wstring uri;
  BOOL handled = FALSE;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* out) override { *out = task_copy(uri); return S_OK; }
  HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** v) override { *v = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL v) override { handled = v; return S_OK; }
};

struct message_args_t : ICoreWebView2WebMessageReceivedEventArgs {
  std::wstring source, json;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* out) override { *out = task_copy(source); return S_OK; }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* out) override { *out = task_copy(json); return S_OK; }
};

void page_message(const std::wstring& source, const std::wstring& json);

struct view_t : ICoreWebView2 {
  std::atomic<LONG> refs{1};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { log(L"view release"); return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** out) override { *out = &settings; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override;
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(IUnknown* h, token* t) override { navigation_handler = h; h->AddRef(); t->value = 1; log(L"add NavigationStarting"); return S_OK; }
  HRESULT STDMETHODCALLTYPE remove_NavigationStarting(token) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE add_ContentLoading(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ContentLoading(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_SourceChanged(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_SourceChanged(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_HistoryChanged(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_PermissionRequested(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ProcessFailed(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(LPCWSTR, loose) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR, loose) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CapturePreview(int, loose, loose) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reload() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) override { log(L"json %ls", json); return S_OK; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR text) override {
    log(L"string %ls", text);
    if (wcscmp(text, L"request-close") == 0 && answer != L"none") {
      std::wstring reply = L"{\"type\":\"" + answer + L"\"}";
      later(100, [reply] { page_message(origin + L"/", reply); });
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(IUnknown* h, token* t) override { message_handler = h; h->AddRef(); t->value = 2; log(L"add WebMessageReceived"); return S_OK; }
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(token) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, loose) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, loose*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NewWindowRequested(IUnknown* h, token* t) override { popup_handler = h; h->AddRef(); t->value = 3; log(L"add NewWindowRequested"); return S_OK; }
  HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(token) override { return S_OK; }
} view;

void page_message(const std::wstring& source, const std::wstring& json) {
  if (!message_handler) return;
  message_args_t args;
  args.source = source;
  args.json = json;
  invoke_event(message_handler, &view, &args);
}

// ORIGIN and PORT in a step stand for the page's origin and port, known after Navigate.
std::wstring expand(std::wstring step) {
  std::wstring port = origin.substr(origin.rfind(L':') + 1);
  for (auto [key, value] : {std::pair<std::wstring, std::wstring>{L"ORIGIN", origin}, {L"PORT", port}}) {
    for (size_t at = step.find(key); at != std::wstring::npos; at = step.find(key, at + value.size()))
      step.replace(at, key.size(), value);
  }
  return step;
}

void run_step(size_t i) {
  if (i >= steps.size()) return;
  const std::wstring step = expand(steps[i]);
  size_t blank = step.find(L' ');
  std::wstring command = step.substr(0, blank);
  std::wstring rest = blank == std::wstring::npos ? L"" : step.substr(blank + 1);
  if (command == L"navigate" && navigation_handler) {
    navigation_args_t args;
    args.uri = rest;
    invoke_event(navigation_handler, &view, &args);
    log(L"navigate %ls cancel=%d", rest.c_str(), args.cancel);
  } else if (command == L"popup" && popup_handler) {
    popup_args_t args;
    args.uri = rest;
    invoke_event(popup_handler, &view, &args);
    log(L"popup %ls handled=%d", rest.c_str(), args.handled);
  } else if (command == L"message") {
    size_t cut = rest.find(L' ');
    std::wstring source = rest.substr(0, cut);
    if (source == L"origin") source = origin + L"/";
    page_message(source, cut == std::wstring::npos ? L"" : rest.substr(cut + 1));
  } else if (command == L"close") {
    PostMessageW(parent, WM_CLOSE, 0, 0);
  }
  later(100, [i] { run_step(i + 1); });
}

HRESULT STDMETHODCALLTYPE view_t::Navigate(LPCWSTR uri) {
  log(L"navigate-to %ls", uri);
  std::wstring u = uri;
  size_t slash = u.find(L'/', 7);
  origin = u.substr(0, slash);
  later(100, [] { run_step(0); });
  return S_OK;
}

struct controller_t : ICoreWebView2Controller {
  std::atomic<LONG> refs{1};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { log(L"controller release"); return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL v) override { log(L"visible %d", v); return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT r) override { log(L"bounds %ldx%ld", r.right - r.left, r.bottom - r.top); return S_OK; }
  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveFocus(int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_GotFocus(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_LostFocus(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown*, token*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(token) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close() override { log(L"controller close"); return S_OK; }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** out) override {
    *out = view_mode == L"null" ? nullptr : &view;
    if (*out) view.AddRef();
    return S_OK;
  }
} controller;

struct environment_t : ICoreWebView2Environment {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(HWND window, IUnknown* handler) override {
    parent = window;
    log(L"create controller");
    if (controller_mode == L"fail_sync") return hresult(controller_code, E_FAIL);
    controller_done = handler;
    handler->AddRef();
    later(100, [] {
      if (controller_mode == L"fail") invoke2<ICoreWebView2Controller>(controller_done, hresult(controller_code, E_FAIL), nullptr);
      else if (controller_mode == L"null") invoke2<ICoreWebView2Controller>(controller_done, S_OK, nullptr);
      else invoke2<ICoreWebView2Controller>(controller_done, S_OK, &controller);
    });
    return S_OK;
  }
} environment;

// Answers the message boxes and the save dialog of the process, as a user would.
BOOL CALLBACK each_window(HWND hwnd, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[64] = {}, title[256] = {};
  GetClassNameW(hwnd, cls, 64);
  if (pid != GetCurrentProcessId() || wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
  GetWindowTextW(hwnd, title, 256);
  if (wcscmp(title, L"导出学习文件") == 0) {
    log(L"dialog %ls", title);
    if (dialog_mode == L"save") {
      HWND edit = GetDlgItem(hwnd, 0x47c);  // file name combo box
      if (edit) SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dialog_path.c_str()));
      HWND inner = edit ? FindWindowExW(edit, nullptr, L"Edit", nullptr) : nullptr;
      if (!edit || inner) SendMessageW(inner ? inner : GetDlgItem(hwnd, 0x480), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dialog_path.c_str()));
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else {
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    return TRUE;
  }
  // A loaded machine may not close a box before the next look: log and answer each box once.
  static std::set<HWND> answered;
  if (!answered.insert(hwnd).second) return TRUE;
  wchar_t text[1024] = {};
  GetDlgItemTextW(hwnd, 0xFFFF, text, 1024);
  log(L"box %ls: %ls", title, text);
  UINT button = IDOK;
  if (GetDlgItem(hwnd, IDYES)) button = box_answer == L"yes" ? IDYES : IDNO;
  PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, static_cast<int>(button))));
  return TRUE;
}

void watch_dialogs() {
  // The library must outlive anyone's FreeLibrary: this thread's code stays in use.
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&watch_dialogs), &self);
  std::thread([] {
    for (;;) {
      Sleep(200);
      EnumWindows(each_window, 0);
    }
  }).detach();
}

void read_script() {
  wchar_t path[1024];
  if (!GetEnvironmentVariableW(L"TAVRIN_STANDIN_SCRIPT", path, 1024)) return;
  FILE* f = _wfopen(path, L"rb");
  if (!f) return;
  std::string all;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  fclose(f);
  int wn = MultiByteToWideChar(CP_UTF8, 0, all.data(), static_cast<int>(all.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(wn), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, all.data(), static_cast<int>(all.size()), text.data(), wn);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty()) continue;
    size_t b1 = line.find(L' ');
    std::wstring command = line.substr(0, b1);
    std::wstring rest = b1 == std::wstring::npos ? L"" : line.substr(b1 + 1);
    size_t b2 = rest.find(L' ');
    std::wstring first = rest.substr(0, b2);
    std::wstring second = b2 == std::wstring::npos ? L"" : rest.substr(b2 + 1);
    if (command == L"env") env_mode = first, env_code = second;
    else if (command == L"controller") controller_mode = first, controller_code = second;
    else if (command == L"view") view_mode = first;
    else if (command == L"answer") answer = first;
    else if (command == L"boxes") box_answer = first;
    else if (command == L"dialog") dialog_mode = first, dialog_path = second;
    else steps.push_back(line);
  }
}

}  // namespace

// The client library's entry point, as the loader calls it.
extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool check_running_instance, int runtime_kind, PCWSTR user_data_folder, IUnknown* options, IUnknown* handler) {
  wchar_t path[1024];
  if (GetEnvironmentVariableW(L"TAVRIN_STANDIN_LOG", path, 1024)) log_file = _wfopen(path, L"ab");
  read_script();
  watch_dialogs();
  wchar_t self[1024] = L"?";
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&watch_dialogs), &module))
    GetModuleFileNameW(module, self, 1024);
  log(L"create environment kind=%d check=%d data=%ls options=%d", runtime_kind, check_running_instance ? 1 : 0,
      user_data_folder ? user_data_folder : L"(null)", options != nullptr);
  log(L"client %ls", self);
  if (env_mode == L"fail_sync") return hresult(env_code, E_FAIL);
  environment_done = handler;
  handler->AddRef();
  later(100, [] {
    if (env_mode == L"fail") invoke2<ICoreWebView2Environment>(environment_done, hresult(env_code, E_FAIL), nullptr);
    else if (env_mode == L"null") invoke2<ICoreWebView2Environment>(environment_done, S_OK, nullptr);
    else invoke2<ICoreWebView2Environment>(environment_done, S_OK, &environment);
  });
  return S_OK;
}

// The objects above are static and the dialog watcher runs for the process's life.
extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return S_FALSE; }
