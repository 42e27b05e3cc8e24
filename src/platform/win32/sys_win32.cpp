// Environment, clocks and randomness on Windows (the wide environment, read and set as UTF-8).
#include "platform/sys.h"

#include "platform/win32/wide.h"  // windows.h first: bcrypt.h needs its types

#include <bcrypt.h>

namespace plat {

const char path_list_sep = ';';

std::optional<std::string> env_get(const std::string& name) {
  std::wstring wname = win::widen(name);
  std::wstring buf(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetEnvironmentVariableW(wname.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();  // set to the empty text
    }
    if (n < buf.size()) {
      buf.resize(n);
      return win::narrow(buf);
    }
    buf.resize(n);  // n is the size needed, terminator included
  }
}

bool env_set(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::SetEnvironmentVariableW(win::widen(name).c_str(), win::widen(value).c_str()) != 0;
}

bool env_unset(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  if (::SetEnvironmentVariableW(win::widen(name).c_str(), nullptr)) return true;
  return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
}

local_time time_local() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

int64_t time_now_filetime() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

uint32_t tick_ms() { return ::GetTickCount(); }

bool random_bytes(void* out, size_t n) {
  auto* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    ULONG chunk = n > 0x10000000u ? 0x10000000u : static_cast<ULONG>(n);
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return false;
    p += chunk;
    n -= chunk;
  }
  return true;
}

void secure_wipe(void* p, size_t n) {
  if (p && n) ::SecureZeroMemory(p, n);
}

}  // namespace plat
