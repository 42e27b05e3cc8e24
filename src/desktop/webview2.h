// The few WebView2 interfaces the window uses, declared here because the SDK header
// does not come with the compiler. Slots are in the published order up to the last
// one used; the ones we never call take loose parameter types.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <cstdint>

namespace wv2 {

struct token {
  int64_t value;
};
using loose = void*;

// Interface ids of the released SDK.
extern const IID iid_environment;
extern const IID iid_controller;
extern const IID iid_webview;
extern const IID iid_settings;
extern const IID iid_navigation_args;
extern const IID iid_new_window_args;
extern const IID iid_message_args;
extern const IID iid_environment_completed;
extern const IID iid_controller_completed;
extern const IID iid_navigation_starting;
extern const IID iid_new_window_requested;
extern const IID iid_message_received;

struct ICoreWebView2;
struct ICoreWebView2Controller;

struct ICoreWebView2Settings : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL) = 0;
};

struct ICoreWebView2NavigationStartingEventArgs : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RequestHeaders(loose*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Cancel(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Cancel(BOOL) = 0;
};

struct ICoreWebView2NewWindowRequestedEventArgs : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2**) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Handled(BOOL) = 0;
};

struct ICoreWebView2WebMessageReceivedEventArgs : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR*) = 0;
};

struct ICoreWebView2 : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings**) = 0;            // 3
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR*) = 0;                              // 4
  virtual HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR) = 0;                                // 5
  virtual HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) = 0;                        // 6
  virtual HRESULT STDMETHODCALLTYPE add_NavigationStarting(IUnknown*, token*) = 0;        // 7
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationStarting(token) = 0;                 // 8
  virtual HRESULT STDMETHODCALLTYPE add_ContentLoading(IUnknown*, token*) = 0;            // 9
  virtual HRESULT STDMETHODCALLTYPE remove_ContentLoading(token) = 0;                     // 10
  virtual HRESULT STDMETHODCALLTYPE add_SourceChanged(IUnknown*, token*) = 0;             // 11
  virtual HRESULT STDMETHODCALLTYPE remove_SourceChanged(token) = 0;                      // 12
  virtual HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown*, token*) = 0;            // 13
  virtual HRESULT STDMETHODCALLTYPE remove_HistoryChanged(token) = 0;                     // 14
  virtual HRESULT STDMETHODCALLTYPE add_NavigationCompleted(IUnknown*, token*) = 0;       // 15
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(token) = 0;                // 16
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(IUnknown*, token*) = 0;   // 17
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(token) = 0;            // 18
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown*, token*) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(token) = 0;           // 20
  virtual HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown*, token*) = 0;       // 21
  virtual HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(token) = 0;                // 22
  virtual HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown*, token*) = 0;       // 23
  virtual HRESULT STDMETHODCALLTYPE remove_PermissionRequested(token) = 0;                // 24
  virtual HRESULT STDMETHODCALLTYPE add_ProcessFailed(IUnknown*, token*) = 0;             // 25
  virtual HRESULT STDMETHODCALLTYPE remove_ProcessFailed(token) = 0;                      // 26
  virtual HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(LPCWSTR, loose) = 0;  // 27
  virtual HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) = 0;      // 28
  virtual HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR, loose) = 0;                        // 29
  virtual HRESULT STDMETHODCALLTYPE CapturePreview(int, loose, loose) = 0;                    // 30
  virtual HRESULT STDMETHODCALLTYPE Reload() = 0;                                             // 31
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) = 0;                        // 32
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) = 0;                      // 33
  virtual HRESULT STDMETHODCALLTYPE add_WebMessageReceived(IUnknown*, token*) = 0;            // 34
  virtual HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(token) = 0;                     // 35
  virtual HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, loose) = 0;  // 36
  virtual HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) = 0;                        // 37
  virtual HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) = 0;                                 // 38
  virtual HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) = 0;                              // 39
  virtual HRESULT STDMETHODCALLTYPE GoBack() = 0;                                             // 40
  virtual HRESULT STDMETHODCALLTYPE GoForward() = 0;                                          // 41
  virtual HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, loose*) = 0;    // 42
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                               // 43
  virtual HRESULT STDMETHODCALLTYPE add_NewWindowRequested(IUnknown*, token*) = 0;            // 44
  virtual HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(token) = 0;                     // 45
};

enum move_focus_reason { move_focus_programmatic = 0, move_focus_next = 1, move_focus_previous = 2 };

struct ICoreWebView2Controller : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL*) = 0;                          // 3
  virtual HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL) = 0;                           // 4
  virtual HRESULT STDMETHODCALLTYPE get_Bounds(RECT*) = 0;                             // 5
  virtual HRESULT STDMETHODCALLTYPE put_Bounds(RECT) = 0;                              // 6
  virtual HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) = 0;                       // 7
  virtual HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) = 0;                        // 8
  virtual HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*, token*) = 0;      // 9
  virtual HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(token) = 0;               // 10
  virtual HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) = 0;          // 11
  virtual HRESULT STDMETHODCALLTYPE MoveFocus(int) = 0;                                // 12
  virtual HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*, token*) = 0;     // 13
  virtual HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(token) = 0;              // 14
  virtual HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, token*) = 0;               // 15
  virtual HRESULT STDMETHODCALLTYPE remove_GotFocus(token) = 0;                        // 16
  virtual HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, token*) = 0;              // 17
  virtual HRESULT STDMETHODCALLTYPE remove_LostFocus(token) = 0;                       // 18
  virtual HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown*, token*) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(token) = 0;           // 20
  virtual HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND*) = 0;                       // 21
  virtual HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) = 0;                        // 22
  virtual HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() = 0;           // 23
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                       // 24
  virtual HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2**) = 0;             // 25
};

struct ICoreWebView2Environment : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(HWND, IUnknown* handler) = 0;  // 3
};

// The loader's one export.
using create_environment_fn = HRESULT(STDAPICALLTYPE*)(PCWSTR browser_folder, PCWSTR user_data_folder,
                                                       IUnknown* options, IUnknown* handler);

}  // namespace wv2
