// The page in the program's own window on Windows: a top-level window hosting the
// WebView2 control, loaded through WebView2Loader.dll in the program folder.
#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "desktop/bridge.h"
#include "desktop/desktop.h"
#include "desktop/webview2.h"
#include "log/log.h"
#include "platform/instance.h"
#include "shell/brand_win32.h"
#include "store/store.h"

namespace {

// ---- module state (the window's thread only) ---------------------------------------

HWND window = nullptr;
wv2::ICoreWebView2Controller* controller = nullptr;
wv2::ICoreWebView2* view = nullptr;
wchar_t page_url[page_url_limit + 1];
wchar_t page_origin[page_origin_limit + 1];
int closing = 0;
int app_ready = 0;

constexpr UINT msg_save = WM_APP + 20;
constexpr UINT msg_ready = WM_APP + 21;
constexpr UINT msg_close_ready = WM_APP + 22;
constexpr UINT msg_failed = WM_APP + 23;
constexpr UINT_PTR timer_stop = 1;
constexpr UINT_PTR timer_close = 2;
constexpr int icon_resource = 101;

std::wstring widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "";
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

bool local_source(const wchar_t* uri) {
  if (!uri) return false;
  size_t n = wcslen(page_origin);
  if (wcsncmp(uri, page_origin, n) != 0) return false;
  return uri[n] == L'\0' || uri[n] == L'/';
}

void fail(HRESULT code) { PostMessageW(window, msg_failed, 0, static_cast<LPARAM>(code)); }

// ---- the five static callback objects ------------------------------------------------

// A WebView2 handler: one pointer to a table of QueryInterface, AddRef, Release, Invoke.
struct handler;
struct handler_vtable {
  HRESULT(STDMETHODCALLTYPE* query)(handler*, REFIID, void**);
  ULONG(STDMETHODCALLTYPE* add)(handler*);
  ULONG(STDMETHODCALLTYPE* release)(handler*);
  void* invoke;
};
struct handler {
  const handler_vtable* vtable;
};

template <std::atomic<LONG>& refs, const IID& iid>
HRESULT STDMETHODCALLTYPE handler_query(handler* self, REFIID wanted, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(wanted, IID_IUnknown) && !IsEqualIID(wanted, iid)) return E_NOINTERFACE;
  *out = self;
  ++refs;
  return S_OK;
}
template <std::atomic<LONG>& refs>
ULONG STDMETHODCALLTYPE handler_add(handler*) {
  return static_cast<ULONG>(++refs);
}
// Static objects: reaching 0 frees nothing.
template <std::atomic<LONG>& refs>
ULONG STDMETHODCALLTYPE handler_release(handler*) {
  return static_cast<ULONG>(--refs);
}

std::atomic<LONG> environment_refs{1}, created_refs{1}, navigation_refs{1}, popup_refs{1}, message_refs{1};

HRESULT STDMETHODCALLTYPE environment_invoke(handler*, HRESULT result, wv2::ICoreWebView2Environment* environment);
HRESULT STDMETHODCALLTYPE created_invoke(handler*, HRESULT result, wv2::ICoreWebView2Controller* created);
HRESULT STDMETHODCALLTYPE navigation_invoke(handler*, wv2::ICoreWebView2*, wv2::ICoreWebView2NavigationStartingEventArgs* args);
HRESULT STDMETHODCALLTYPE popup_invoke(handler*, wv2::ICoreWebView2*, wv2::ICoreWebView2NewWindowRequestedEventArgs* args);
HRESULT STDMETHODCALLTYPE message_invoke(handler*, wv2::ICoreWebView2*, wv2::ICoreWebView2WebMessageReceivedEventArgs* args);

#define TAVRIN_HANDLER(stem, iid)                                                                  \
  const handler_vtable stem##_vtable = {handler_query<stem##_refs, iid>, handler_add<stem##_refs>, \
                                        handler_release<stem##_refs>, reinterpret_cast<void*>(stem##_invoke)}; \
  handler stem##_handler = {&stem##_vtable};

TAVRIN_HANDLER(environment, wv2::iid_environment_completed)
TAVRIN_HANDLER(created, wv2::iid_controller_completed)
TAVRIN_HANDLER(navigation, wv2::iid_navigation_starting)
TAVRIN_HANDLER(popup, wv2::iid_new_window_requested)
TAVRIN_HANDLER(message, wv2::iid_message_received)
#undef TAVRIN_HANDLER

IUnknown* as_unknown(handler& h) { return reinterpret_cast<IUnknown*>(&h); }

HRESULT STDMETHODCALLTYPE environment_invoke(handler*, HRESULT result, wv2::ICoreWebView2Environment* environment) {
  if (!IsWindow(window)) return S_OK;
  if (SUCCEEDED(result) && environment)
    result = environment->CreateCoreWebView2Controller(window, as_unknown(created_handler));
  if (FAILED(result) || !environment) {
    if (!FAILED(result)) result = E_FAIL;
    log_write("E", "WebView2 运行环境创建失败 (0x%08lx)，请确认已安装 WebView2 运行时", static_cast<unsigned long>(result));
    fail(result);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE created_invoke(handler*, HRESULT result, wv2::ICoreWebView2Controller* created) {
  if (!IsWindow(window)) return S_OK;
  if (FAILED(result) || !created) {
    if (!FAILED(result)) result = E_FAIL;
    log_write("E", "WebView2 控制器创建失败 (0x%08lx)", static_cast<unsigned long>(result));
    fail(result);
    return S_OK;
  }
  controller = created;
  controller->AddRef();
  controller->get_CoreWebView2(&view);
  if (!view) {
    log_write("E", "WebView2 核心对象不可用");
    fail(E_FAIL);
    return S_OK;
  }
  wv2::ICoreWebView2Settings* settings = nullptr;
  view->get_Settings(&settings);
  if (settings) {
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_AreDefaultContextMenusEnabled(TRUE);
    settings->Release();
  }
  wv2::token token{};
  view->add_WebMessageReceived(as_unknown(message_handler), &token);
  view->add_NavigationStarting(as_unknown(navigation_handler), &token);
  view->add_NewWindowRequested(as_unknown(popup_handler), &token);
  RECT bounds;
  GetClientRect(window, &bounds);
  controller->put_Bounds(bounds);
  controller->put_IsVisible(TRUE);
  view->Navigate(page_url);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE navigation_invoke(handler*, wv2::ICoreWebView2*,
                                            wv2::ICoreWebView2NavigationStartingEventArgs* args) {
  LPWSTR uri = nullptr;
  args->get_Uri(&uri);
  if (!local_source(uri)) args->put_Cancel(TRUE);
  CoTaskMemFree(uri);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE popup_invoke(handler*, wv2::ICoreWebView2*, wv2::ICoreWebView2NewWindowRequestedEventArgs* args) {
  args->put_Handled(TRUE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE message_invoke(handler*, wv2::ICoreWebView2*, wv2::ICoreWebView2WebMessageReceivedEventArgs* args) {
  LPWSTR source = nullptr;
  LPWSTR json = nullptr;
  args->get_Source(&source);
  if (local_source(source) && SUCCEEDED(args->get_WebMessageAsJson(&json)) && json) {
    int size = WideCharToMultiByte(CP_UTF8, 0, json, -1, nullptr, 0, nullptr, nullptr);
    if (size > 0 && static_cast<size_t>(size) <= message_size_limit) {
      std::string text = narrow(json);
      switch (classify_message(text)) {
        case page_message::ready:
          PostMessageW(window, msg_ready, 0, 0);
          break;
        case page_message::close_ready:
          PostMessageW(window, msg_close_ready, 0, 0);
          break;
        case page_message::close_cancel:
          closing = 0;
          KillTimer(window, timer_close);
          break;
        case page_message::save: {
          auto* owned = new std::string(std::move(text));
          if (!PostMessageW(window, msg_save, 0, reinterpret_cast<LPARAM>(owned))) delete owned;
          break;
        }
        case page_message::none:
          break;
      }
    }
  }
  CoTaskMemFree(json);
  CoTaskMemFree(source);
  return S_OK;
}

// ---- export ----------------------------------------------------------------------------

void reply_save(int id, bool ok, bool cancelled, const char* message) {
  std::wstring reply = widen(save_reply_json(id, ok, cancelled, message));
  if (view) view->PostWebMessageAsJson(reply.c_str());
}

void export_file(std::string* text) {
  save_request req;
  int id = 0;
  switch (check_save(*text, &req, &id)) {
    case save_check::unreadable:
      return;
    case save_check::invalid:
      return reply_save(id, false, false, save_invalid);
    case save_check::no_memory:
      return reply_save(id, false, false, save_no_memory);
    case save_check::ok:
      break;
  }
  wchar_t file[MAX_PATH] = {};
  std::wstring name = widen(req.name);
  wcsncpy(file, name.c_str(), MAX_PATH - 1);
  std::wstring folder = widen(path_join(app_root, export_folder(req.name)));
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring extension = widen(export_extension(req.name));

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window;
  dialog.lpstrFilter = L"学习文件\0*.c;*.json\0所有文件\0*.*\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = folder.c_str();
  dialog.lpstrTitle = L"导出学习文件";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  dialog.lpstrDefExt = extension.c_str();
  if (!GetSaveFileNameW(&dialog)) return reply_save(req.id, false, CommDlgExtendedError() == 0, save_not_saved);

  HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return reply_save(req.id, false, false, save_no_create);
  DWORD written = 0;
  BOOL wrote = WriteFile(out, req.data.data(), static_cast<DWORD>(req.data.size()), &written, nullptr);
  CloseHandle(out);
  if (wrote && written == req.data.size()) reply_save(req.id, true, false, save_done);
  else reply_save(req.id, false, false, save_short);
}

// ---- the window ---------------------------------------------------------------------------

void close_request() {
  if (!view || !app_ready) {
    DestroyWindow(window);
    return;
  }
  if (closing) return;
  closing = 1;
  view->PostWebMessageAsString(L"request-close");
  SetTimer(window, timer_close, close_timeout_ms, nullptr);
}

void close_timed_out() {
  KillTimer(window, timer_close);
  closing = 0;
  std::wstring question = widen(close_question);
  if (MessageBoxW(window, question.c_str(), L"Tavrin", MB_YESNO | MB_ICONQUESTION) == IDYES) DestroyWindow(window);
}

void setup_failed(LPARAM code) {
  unsigned long value = static_cast<unsigned long>(static_cast<uint32_t>(code));
  log_write("E", "桌面界面初始化失败 (0x%08lx)", value);
  wchar_t text[600];
  swprintf(text, 600,
           L"桌面界面初始化失败 (0x%08lx)。\n请检查 Microsoft Edge WebView2 Runtime 是否安装。\n也可使用“浏览器模式.bat”继续学习。",
           value);
  MessageBoxW(window, text, L"Tavrin", MB_ICONERROR);
  DestroyWindow(window);
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_DESTROY:
      KillTimer(hwnd, timer_stop);
      KillTimer(hwnd, timer_close);
      if (controller) controller->Close();
      PostQuitMessage(0);
      return 0;
    case WM_MOVE:
      if (controller) controller->NotifyParentWindowPositionChanged();
      break;
    case WM_SIZE:
      if (controller) {
        RECT bounds;
        GetClientRect(hwnd, &bounds);
        controller->put_Bounds(bounds);
      }
      return 0;
    case WM_SETFOCUS:
      if (controller) controller->MoveFocus(wv2::move_focus_programmatic);
      break;
    case WM_CLOSE:
      close_request();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      info->ptMinTrackSize.x = window_min_width;
      info->ptMinTrackSize.y = window_min_height;
      return 0;
    }
    case WM_TIMER:
      if (wparam == timer_stop && plat::stop_is_set()) DestroyWindow(hwnd);
      else if (wparam == timer_close) close_timed_out();
      return 0;
    case WM_DPICHANGED: {
      const RECT* r = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case msg_save: {
      auto* text = reinterpret_cast<std::string*>(lparam);
      export_file(text);
      delete text;
      return 0;
    }
    case msg_ready:
      app_ready = 1;
      log_write("I", "界面加载完成，可以开始练习");
      return 0;
    case msg_close_ready:
      DestroyWindow(hwnd);
      return 0;
    case msg_failed:
      setup_failed(lparam);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void class_name(uint32_t id, wchar_t (&name)[80]) { swprintf(name, 80, L"MeskDesktop-%08x", id); }

rect_i window_place() {
  RECT work{0, 0, 1920, 1040};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return window_rect(dpi > 0 ? dpi : 96, {work.left, work.top, work.right - work.left, work.bottom - work.top});
}

// Which runtime the loader finds, so that the log tells "no runtime" from other failures.
void log_runtime_version(HMODULE loader) {
  using version_fn = HRESULT(STDAPICALLTYPE*)(PCWSTR, LPWSTR*);
  auto version_of = reinterpret_cast<version_fn>(
      reinterpret_cast<void*>(GetProcAddress(loader, "GetAvailableCoreWebView2BrowserVersionString")));
  if (!version_of) return;
  LPWSTR text = nullptr;
  HRESULT hr = version_of(nullptr, &text);
  if (SUCCEEDED(hr) && text) log_wide("I", "WebView2 运行时版本: ", narrow(text));
  else log_write("E", "未找到可用的 WebView2 运行时 (0x%08lx)", static_cast<unsigned long>(hr));
  CoTaskMemFree(text);
}

}  // namespace

void desktop_boxes() {}

int desktop_run(const std::string& url, uint32_t id) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  std::string loader_path = path_join(app_root, "WebView2Loader.dll");
  HMODULE loader = LoadLibraryExW(widen(loader_path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  auto create_environment = loader ? reinterpret_cast<wv2::create_environment_fn>(reinterpret_cast<void*>(
                                         GetProcAddress(loader, "CreateCoreWebView2EnvironmentWithOptions")))
                                   : nullptr;
  if (!create_environment) {
    log_wide("E", "缺少 WebView2Loader.dll: ", loader_path);
    MessageBoxW(nullptr, L"缺少 WebView2Loader.dll，请保留完整程序目录。", L"Tavrin", MB_ICONERROR);
    if (loader) FreeLibrary(loader);
    return 1;
  }
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(com)) {
    log_write("E", "桌面窗口初始化失败: CoInitializeEx 0x%08lx", static_cast<unsigned long>(com));
    FreeLibrary(loader);
    return 1;
  }

  std::wstring wide_url = widen(url.substr(0, page_url_limit));
  wcsncpy(page_url, wide_url.c_str(), page_url_limit);
  page_url[page_url_limit] = L'\0';
  std::wstring origin = widen(page_origin_of(url));
  wcsncpy(page_origin, origin.c_str(), page_origin_limit);
  page_origin[page_origin_limit] = L'\0';
  std::wstring profile = widen(store_path("desktop-profile"));

  wchar_t name[80];
  class_name(id, name);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = module;
  wc.hIcon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(icon_resource), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
  wc.hIconSm = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(icon_resource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);

  rect_i r = window_place();
  std::wstring title = widen(window_title);
  window = CreateWindowExW(0, name, title.c_str(), WS_OVERLAPPEDWINDOW, r.x, r.y, r.width, r.height, nullptr, nullptr,
                           module, nullptr);
  if (window) {
    shell_brand_window(window, wc.hIcon, wc.hIconSm);
    log_write("I", "桌面窗口已创建（%dx%d）", r.width, r.height);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, timer_stop, stop_poll_ms, nullptr);
    log_runtime_version(loader);
    HRESULT started = create_environment(nullptr, profile.c_str(), nullptr, as_unknown(environment_handler));
    if (FAILED(started)) fail(started);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (view) view->Release();
  view = nullptr;
  if (controller) controller->Release();
  controller = nullptr;
  CoUninitialize();
  FreeLibrary(loader);
  if (window) {
    log_write("I", "桌面窗口已关闭");
    return 0;
  }
  log_write("E", "桌面窗口创建失败，可改用“浏览器模式.bat”继续学习");
  return 1;
}

bool desktop_show_existing(uint32_t id) {
  wchar_t name[80];
  class_name(id, name);
  HWND found = FindWindowW(name, nullptr);
  if (!found) return false;
  ShowWindow(found, IsIconic(found) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(found);
  return true;
}
