#include "auth.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <semaphore>

namespace {

argon2_params params;
std::unique_ptr<std::counting_semaphore<1024>> hashing;
std::string dummy_hash;

// Each Argon2id run holds its whole memory; a burst of sign-ins waits here instead of
// taking the machine's memory all at once.
struct hashing_slot {
  hashing_slot() { hashing->acquire(); }
  ~hashing_slot() { hashing->release(); }
};

}  // namespace

int auth_init(const argon2_params& p, int parallel_hashes) {
  if (sodium_init() < 0) return -1;
  params = p;
  hashing = std::make_unique<std::counting_semaphore<1024>>(std::clamp(parallel_hashes, 1, 1024));
  dummy_hash = hash_secret("tavrin-cloud: no such account");
  return dummy_hash.empty() ? -1 : 0;
}

const argon2_params& auth_params() { return params; }

std::string hash_secret(std::string_view secret) {
  char out[crypto_pwhash_STRBYTES];
  hashing_slot slot;
  if (crypto_pwhash_str_alg(out, secret.data(), secret.size(), params.ops, params.mem_bytes,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    return "";
  return out;
}

int verify_secret(const std::string& encoded, std::string_view secret) {
  if (encoded.rfind("$argon2id$", 0) != 0) return 0;
  hashing_slot slot;
  return crypto_pwhash_str_verify(encoded.c_str(), secret.data(), secret.size()) == 0 ? 1 : 0;
}

int hash_outdated(const std::string& encoded) {
  return crypto_pwhash_str_needs_rehash(encoded.c_str(), params.ops, params.mem_bytes) != 0 ? 1 : 0;
}

void verify_nothing(std::string_view secret) { (void)verify_secret(dummy_hash, secret); }

std::string new_token() {
  unsigned char raw[32];
  randombytes_buf(raw, sizeof raw);
  char out[sodium_base64_ENCODED_LEN(32, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
  sodium_bin2base64(out, sizeof out, raw, sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
  sodium_memzero(raw, sizeof raw);
  std::string t(out);
  sodium_memzero(out, sizeof out);
  return t;
}

std::string token_digest(std::string_view token) {
  unsigned char d[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(d, reinterpret_cast<const unsigned char*>(token.data()), token.size());
  char hex[crypto_hash_sha256_BYTES * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, d, sizeof d);
  return hex;
}

std::string new_uuid() {
  unsigned char b[16];
  randombytes_buf(b, sizeof b);
  b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
  char hex[33];
  sodium_bin2hex(hex, sizeof hex, b, sizeof b);
  std::string h(hex);
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" +
         h.substr(20, 12);
}

static const char crockford[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

std::string new_recovery_code() {
  std::string code;
  for (int i = 0; i < 25; i++) {
    if (i && i % 5 == 0) code += '-';
    code += crockford[randombytes_uniform(32)];
  }
  return code;
}

std::string recovery_canonical(std::string_view typed) {
  std::string out;
  for (char ch : typed) {
    if (ch == ' ' || ch == '-' || ch == '\t') continue;
    char c = (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
    if (c == 'O') c = '0';
    if (c == 'I' || c == 'L') c = '1';
    if (c == 'U' || !std::strchr(crockford, c) || c == 0) return "";
    out += c;
    if (out.size() > 25) return "";
  }
  return out.size() == 25 ? out : "";
}

int same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return 0;
  return sodium_memcmp(a.data(), b.data(), a.size()) == 0 ? 1 : 0;
}

void wipe(std::string& s) {
  if (!s.empty()) sodium_memzero(s.data(), s.size());
  s.clear();
}

int limiter_check(attempt_limiter* l, const std::string& key, int64_t now_ms) {
  std::lock_guard<std::mutex> g(l->lock);
  auto it = l->entries.find(key);
  if (it == l->entries.end()) return 0;
  auto& e = it->second;
  if (now_ms - e.last_ms >= l->lockout_ms) {  // quiet long enough: forgiven
    l->entries.erase(it);
    return 0;
  }
  int64_t wait_ms = 0;
  if (e.failures >= l->limit) {
    wait_ms = e.last_ms + l->lockout_ms - now_ms;
  } else if (e.failures >= l->free) {
    int steps = std::min(e.failures - l->free, 6);
    wait_ms = e.last_ms + (int64_t{1000} << steps) - now_ms;
  }
  return wait_ms > 0 ? static_cast<int>((wait_ms + 999) / 1000) : 0;
}

void limiter_fail(attempt_limiter* l, const std::string& key, int64_t now_ms) {
  std::lock_guard<std::mutex> g(l->lock);
  // Forget keys that have been quiet for a whole lockout, so the table stays small.
  if (l->entries.size() > 100000) {
    std::erase_if(l->entries, [&](auto& kv) { return now_ms - kv.second.last_ms >= l->lockout_ms; });
  }
  auto& e = l->entries[key];
  if (e.failures && now_ms - e.last_ms >= l->lockout_ms) e.failures = 0;
  e.failures++;
  e.last_ms = now_ms;
}

void limiter_clear(attempt_limiter* l, const std::string& key) {
  std::lock_guard<std::mutex> g(l->lock);
  l->entries.erase(key);
}
