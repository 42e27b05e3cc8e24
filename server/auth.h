// Secrets of the account service: password and recovery hashes (Argon2id), bearer tokens,
// ids, and the limiter that slows and then refuses repeated failed sign-ins.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

struct argon2_params {
  unsigned long long ops = 3;          // passes over memory
  size_t mem_bytes = 64u << 20;        // 64 MiB
};

// 0 when libsodium is ready; sets the parameters and how many hashes may run at once
// (each holds mem_bytes while it runs).
int auth_init(const argon2_params& p, int parallel_hashes);
const argon2_params& auth_params();

// Argon2id in libsodium's encoded form, or "" when memory runs out.
std::string hash_secret(std::string_view secret);
// 1 when secret matches the encoded hash; a malformed hash never matches.
int verify_secret(const std::string& encoded, std::string_view secret);
// 1 when the hash was made with other parameters than the current ones.
int hash_outdated(const std::string& encoded);
// A verify against a throw-away hash, so a missing account costs as long as a wrong password.
void verify_nothing(std::string_view secret);

std::string new_token();           // 43 characters of base64url over 32 random bytes
std::string token_digest(std::string_view token);  // SHA-256 as 64 hex digits
std::string new_uuid();            // random (version 4), lower-case, 36 characters
std::string new_recovery_code();   // 25 characters of Crockford base32 in groups of 5
// The canonical form a learner's typed recovery code is hashed in: upper case, without
// spaces or dashes, O read as 0 and I/L as 1. "" when it cannot be a code.
std::string recovery_canonical(std::string_view typed);
// Constant-time equality of two texts of the same length (different lengths: 0).
int same_secret(std::string_view a, std::string_view b);
// Overwrites a string's bytes before it is released.
void wipe(std::string& s);

// Failed sign-ins per key (a user name, or a client address). The first `free` failures
// cost nothing; each further one doubles the wait before the next try (1 s, 2 s, 4 s ...,
// at most 64 s); after `limit` failures the key is refused until `lockout` seconds have
// passed since its last failure. A success clears a name's count.
struct attempt_limiter {
  int free = 3;
  int limit = 10;
  int64_t lockout_ms = 15 * 60 * 1000;
  struct entry {
    int failures = 0;
    int64_t last_ms = 0;
  };
  std::mutex lock;
  std::unordered_map<std::string, entry> entries;
};

// 0 when the key may try now, else the seconds to wait (for Retry-After).
int limiter_check(attempt_limiter* l, const std::string& key, int64_t now_ms);
void limiter_fail(attempt_limiter* l, const std::string& key, int64_t now_ms);
void limiter_clear(attempt_limiter* l, const std::string& key);
