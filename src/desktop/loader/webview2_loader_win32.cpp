// Our own WebView2Loader.dll: finds the installed WebView2 runtime (or a fixed-version
// runtime folder), loads the runtime's client library by its full path and hands the
// environment request to it. The program folder then needs nothing from an SDK.
//
// It reads only the runtime's registration keys, the environment variables
// WEBVIEW2_BROWSER_EXECUTABLE_FOLDER, WEBVIEW2_USER_DATA_FOLDER and
// WEBVIEW2_RELEASE_CHANNEL_PREFERENCE, and the runtime folders those name.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "desktop/loader/runtime_search.h"

using namespace wv2loader;

namespace {

enum class runtime_kind : int { installed = 0, fixed = 1 };

// The client library's entry point that does the real work.
using internal_create_fn = HRESULT(STDMETHODCALLTYPE*)(bool check_running_instance, runtime_kind kind,
                                                      PCWSTR user_data_folder, IUnknown* options,
                                                      IUnknown* handler);
using can_unload_fn = HRESULT(STDMETHODCALLTYPE*)();

constexpr DWORD text_limit = 32767;

std::wstring environment(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0 || n > text_limit + 1) return L"";
  std::wstring value(n, L'\0');
  DWORD got = GetEnvironmentVariableW(name, value.data(), n);
  if (got == 0 || got >= n) return L"";
  value.resize(got);
  return value;
}

std::wstring exe_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L"";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= text_limit) return L"";
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

bool is_file(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder a channel's registration names, or empty.
std::wstring registered_folder(const place& p) {
  std::wstring key = std::wstring(client_state_key) + channels[p.channel].guid;
  HKEY opened = nullptr;
  // The updater is a 32-bit program: its machine-wide keys live in the 32-bit view.
  if (RegOpenKeyExW(p.machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key.c_str(), 0,
                    KEY_QUERY_VALUE | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS)
    return L"";
  std::wstring value;
  DWORD bytes = 0;
  if (RegGetValueW(opened, nullptr, registration_value, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) ==
          ERROR_SUCCESS &&
      bytes >= sizeof(wchar_t) && bytes <= (text_limit + 1) * sizeof(wchar_t)) {
    value.assign(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(opened, nullptr, registration_value, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) ==
        ERROR_SUCCESS) {
      value.resize(wcsnlen(value.c_str(), value.size()));
    } else {
      value.clear();
    }
  }
  RegCloseKey(opened);
  return value;
}

std::optional<version> file_version(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0 || size > (1u << 20)) return std::nullopt;
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD)
    return std::nullopt;
  return version{{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                  LOWORD(info->dwFileVersionLS)}};
}

struct found_runtime {
  HRESULT result = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::wstring library;
  version at;
  const wchar_t* channel_name = L"";
  runtime_kind kind = runtime_kind::installed;
};

// The browser folder of the call, unless the environment names one.
std::wstring chosen_browser_folder(PCWSTR given) {
  std::wstring from_environment = environment(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER");
  if (!from_environment.empty()) return from_environment;
  return given ? std::wstring(given) : L"";
}

found_runtime find_runtime(PCWSTR browser_folder) {
  found_runtime out;
  std::wstring fixed = chosen_browser_folder(browser_folder);
  if (!fixed.empty()) {
    out.kind = runtime_kind::fixed;
    std::wstring folder = fixed_runtime_folder(fixed, exe_folder());
    if (folder.empty()) {
      out.result = E_INVALIDARG;
      return out;
    }
    if (inside_browser_install(folder)) {
      out.result = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
      return out;
    }
    std::wstring library = client_library(folder);
    auto v = is_file(library) ? file_version(library) : std::nullopt;
    if (!v || *v < minimum_version) return out;  // not found, or too old to use
    out.result = S_OK;
    out.library = library;
    out.at = *v;
    return out;
  }
  for (const place& p : search_order(prefers_least_stable(environment(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE")))) {
    std::wstring folder = registered_folder(p);
    auto v = registered_version(folder);
    if (!v) continue;
    std::wstring library = client_library(folder);
    if (!is_file(library)) continue;  // a registration left behind by an uninstall
    out.result = S_OK;
    out.library = library;
    out.at = *v;
    out.channel_name = channels[p.channel].name;
    return out;
  }
  return out;
}

// The calling thread must be a single-threaded COM apartment, as for Microsoft's loader.
HRESULT apartment_check() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  HRESULT hr = CoGetApartmentType(&type, &qualifier);
  if (FAILED(hr)) return hr;  // CO_E_NOTINITIALIZED when COM was never initialised
  if (type == APTTYPE_STA || type == APTTYPE_MAINSTA) return S_OK;
  return RPC_E_CHANGED_MODE;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browser_folder, PCWSTR user_data_folder, IUnknown* options, IUnknown* handler) {
  if (!handler) return E_POINTER;
  HRESULT hr = apartment_check();
  if (FAILED(hr)) return hr;
  found_runtime runtime = find_runtime(browser_folder);
  if (FAILED(runtime.result)) return runtime.result;

  std::wstring data_folder = environment(L"WEBVIEW2_USER_DATA_FOLDER");
  PCWSTR data = !data_folder.empty() ? data_folder.c_str() : user_data_folder;

  // The full path, and its own folder first for what it needs in turn: never a search
  // of the current folder or PATH for a library of this name.
  HMODULE client = LoadLibraryExW(runtime.library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!client) {
    DWORD error = GetLastError();
    return HRESULT_FROM_WIN32(error ? error : ERROR_MOD_NOT_FOUND);
  }
  auto create = reinterpret_cast<internal_create_fn>(
      reinterpret_cast<void*>(GetProcAddress(client, "CreateWebViewEnvironmentWithOptionsInternal")));
  if (!create) {
    FreeLibrary(client);
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  hr = create(true, runtime.kind, data, options, handler);
  if (FAILED(hr)) {
    // Nothing of it is in use after a refusal, unless it says otherwise.
    auto can_unload = reinterpret_cast<can_unload_fn>(reinterpret_cast<void*>(GetProcAddress(client, "DllCanUnloadNow")));
    if (can_unload && can_unload() == S_OK) FreeLibrary(client);
  }
  // On success the library stays loaded: the environment and its browser live in it.
  return hr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2Environment(IUnknown* handler) {
  return CreateCoreWebView2EnvironmentWithOptions(nullptr, nullptr, nullptr, handler);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(
    PCWSTR browser_folder, LPWSTR* version_info) {
  if (!version_info) return E_POINTER;
  *version_info = nullptr;
  found_runtime runtime = find_runtime(browser_folder);
  if (FAILED(runtime.result)) return runtime.result;
  std::wstring text = version_text(runtime.at);
  if (*runtime.channel_name) text += std::wstring(L" ") + runtime.channel_name;
  auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (!out) return E_OUTOFMEMORY;
  wmemcpy(out, text.c_str(), text.size() + 1);
  *version_info = out;
  return S_OK;
}
