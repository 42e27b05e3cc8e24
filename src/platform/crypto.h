// Digests and the sealing of secrets kept on disk for the current user.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// SHA-256 of bytes into out; false when the system's provider fails.
bool sha256(std::string_view bytes, uint8_t out[32]);

// Seals plain for the current user with context bound in (Windows: DPAPI with context as entropy;
// Linux: AES-256-GCM under a per-user key file, 0600 in the user's config folder, context as
// associated data). The sealed block opens only for the same user and the same context.
std::optional<std::string> secret_seal(std::string_view plain, const std::string& context);
// The plain bytes back, or nullopt (another user or context, damaged block, no key).
// The caller wipes the result.
std::optional<std::string> secret_open(std::string_view sealed, const std::string& context);

}  // namespace plat
