// Digests with CryptoAPI; secrets sealed with DPAPI for the current Windows user.
#include "platform/crypto.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "platform/sys.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

// The context's UTF-16 units without a terminator, as DPAPI's optional entropy.
struct entropy {
  std::wstring wide;
  DATA_BLOB blob{};
  explicit entropy(const std::string& context) : wide(win::widen(context)) {
    blob.pbData = reinterpret_cast<BYTE*>(wide.data());
    blob.cbData = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
  }
};

}  // namespace

bool sha256(std::string_view bytes, uint8_t out[32]) {
  HCRYPTPROV prov = 0;
  if (!::CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  DWORD size = 32;
  bool ok = ::CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash) &&
            ::CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
            ::CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == 32;
  if (hash) ::CryptDestroyHash(hash);
  ::CryptReleaseContext(prov, 0);
  return ok;
}

std::optional<std::string> secret_seal(std::string_view plain, const std::string& context) {
  entropy e(context);
  DATA_BLOB in{static_cast<DWORD>(plain.size()), reinterpret_cast<BYTE*>(const_cast<char*>(plain.data()))};
  DATA_BLOB out{};
  if (!::CryptProtectData(&in, L"Mesk cloud session", &e.blob, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  std::string sealed(reinterpret_cast<char*>(out.pbData), out.cbData);
  ::LocalFree(out.pbData);
  return sealed;
}

std::optional<std::string> secret_open(std::string_view sealed, const std::string& context) {
  entropy e(context);
  DATA_BLOB in{static_cast<DWORD>(sealed.size()), reinterpret_cast<BYTE*>(const_cast<char*>(sealed.data()))};
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, &e.blob, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  std::string plain(reinterpret_cast<char*>(out.pbData), out.cbData);
  secure_wipe(out.pbData, out.cbData);
  ::LocalFree(out.pbData);
  return plain;
}

}  // namespace plat
