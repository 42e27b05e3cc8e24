// Digests with OpenSSL; secrets sealed with AES-256-GCM under a key that belongs to the user.
#include "platform/crypto.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/sys.h"

namespace plat {

namespace {

constexpr size_t key_bytes = 32;
constexpr size_t nonce_bytes = 12;
constexpr size_t tag_bytes = 16;
constexpr char magic[4] = {'T', 'V', 'S', '1'};

struct ctx_free {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using cipher_ctx = std::unique_ptr<EVP_CIPHER_CTX, ctx_free>;

struct key_block {
  uint8_t bytes[key_bytes];
  ~key_block() { secure_wipe(bytes, sizeof bytes); }
};

// $XDG_CONFIG_HOME/tavrin, else ~/.config/tavrin; "" when neither can be named.
std::string key_folder() {
  std::string base;
  if (auto x = env_get("XDG_CONFIG_HOME"); x && !x->empty() && (*x)[0] == '/') base = *x;
  else if (auto home = env_get("HOME"); home && !home->empty()) base = *home + "/.config";
  else return {};
  return base + "/tavrin";
}

// Reads the key only from a regular 0600-or-stricter file of our own user, exactly 32 bytes.
bool read_key(const std::string& path, key_block& key) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 077) == 0 && st.st_size == static_cast<off_t>(key_bytes);
  size_t got = 0;
  while (ok && got < key_bytes) {
    ssize_t n = ::read(fd, key.bytes + got, key_bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else got += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

// A new random key, published with link() so two programs starting at once agree on one key.
bool make_key(const std::string& folder, const std::string& path) {
  size_t cut = folder.find_last_of('/');
  if (cut != std::string::npos && cut > 0) ::mkdir(folder.substr(0, cut).c_str(), 0700);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  key_block fresh;
  if (!random_bytes(fresh.bytes, key_bytes)) return false;
  std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, fresh.bytes, key_bytes) == static_cast<ssize_t>(key_bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  ::unlink(temp.c_str());
  return ok;
}

bool user_key(bool create, key_block& key) {
  std::string folder = key_folder();
  if (folder.empty()) return false;
  std::string path = folder + "/cloud.key";
  if (read_key(path, key)) return true;
  if (!create || !make_key(folder, path)) return false;
  return read_key(path, key);
}

}  // namespace

bool sha256(std::string_view bytes, uint8_t out[32]) {
  unsigned int n = 0;
  return EVP_Digest(bytes.data(), bytes.size(), out, &n, EVP_sha256(), nullptr) == 1 && n == 32;
}

std::optional<std::string> secret_seal(std::string_view plain, const std::string& context) {
  key_block key;
  if (!user_key(true, key)) return std::nullopt;
  std::string out(sizeof magic + nonce_bytes + plain.size() + tag_bytes, '\0');
  std::memcpy(out.data(), magic, sizeof magic);
  uint8_t* nonce = reinterpret_cast<uint8_t*>(out.data() + sizeof magic);
  uint8_t* body = nonce + nonce_bytes;
  if (!random_bytes(nonce, nonce_bytes)) return std::nullopt;
  cipher_ctx c(EVP_CIPHER_CTX_new());
  int n = 0;
  bool ok = c && EVP_EncryptInit_ex(c.get(), EVP_aes_256_gcm(), nullptr, key.bytes, nonce) == 1 &&
            EVP_EncryptUpdate(c.get(), nullptr, &n, reinterpret_cast<const uint8_t*>(context.data()),
                              static_cast<int>(context.size())) == 1 &&
            EVP_EncryptUpdate(c.get(), body, &n, reinterpret_cast<const uint8_t*>(plain.data()),
                              static_cast<int>(plain.size())) == 1 &&
            static_cast<size_t>(n) == plain.size() && EVP_EncryptFinal_ex(c.get(), body + n, &n) == 1 &&
            EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_GET_TAG, tag_bytes, body + plain.size()) == 1;
  if (!ok) return std::nullopt;
  return out;
}

std::optional<std::string> secret_open(std::string_view sealed, const std::string& context) {
  if (sealed.size() < sizeof magic + nonce_bytes + tag_bytes || sealed.compare(0, sizeof magic, std::string_view(magic, sizeof magic)) != 0)
    return std::nullopt;
  key_block key;
  if (!user_key(false, key)) return std::nullopt;
  const uint8_t* nonce = reinterpret_cast<const uint8_t*>(sealed.data() + sizeof magic);
  const uint8_t* body = nonce + nonce_bytes;
  size_t length = sealed.size() - sizeof magic - nonce_bytes - tag_bytes;
  std::string plain(length, '\0');
  cipher_ctx c(EVP_CIPHER_CTX_new());
  int n = 0;
  uint8_t tag[tag_bytes];
  std::memcpy(tag, body + length, tag_bytes);
  bool ok = c && EVP_DecryptInit_ex(c.get(), EVP_aes_256_gcm(), nullptr, key.bytes, nonce) == 1 &&
            EVP_DecryptUpdate(c.get(), nullptr, &n, reinterpret_cast<const uint8_t*>(context.data()),
                              static_cast<int>(context.size())) == 1 &&
            EVP_DecryptUpdate(c.get(), reinterpret_cast<uint8_t*>(plain.data()), &n, body,
                              static_cast<int>(length)) == 1 &&
            EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_SET_TAG, tag_bytes, tag) == 1 &&
            EVP_DecryptFinal_ex(c.get(), reinterpret_cast<uint8_t*>(plain.data()) + n, &n) == 1;
  if (!ok) {
    secure_wipe(plain.data(), plain.size());
    return std::nullopt;
  }
  return plain;
}

}  // namespace plat
