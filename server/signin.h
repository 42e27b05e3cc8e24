// Sign-in limits kept in the database, so every service process on one PostgreSQL database
// counts the same attempts; client networks; the canonical form of user names.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db.h"

struct ip_network {
  int family = 0;  // AF_INET or AF_INET6
  unsigned char addr[16] = {};
  int prefix = 0;
};
// "192.0.2.0/24", "2001:db8::/48" or a single address.
bool parse_network(const std::string& text, ip_network* out);
bool in_network(const ip_network& n, const std::string& address);

struct signin_limits {
  int free_failures = 3;
  int max_failures = 10;            // per name
  int max_names_per_address = 100;  // names with failures, from one client address
  int64_t lockout_ms = 15 * 60 * 1000;
  std::vector<ip_network> schools;  // addresses limited per name only
};

// One attempt for a name (its canonical key) from a client address, reserved before the
// password is checked, so parallel tries cannot pass the limits: 0 when it may go ahead
// (then call signin_finish), else the seconds to wait, or -1 when storage failed.
int signin_reserve(db_pool* db, const signin_limits& l, const std::string& name_key, const std::string& address);
// A success clears the name's count and releases the address's reservation; a failure
// keeps both counted.
void signin_finish(db_pool* db, const signin_limits& l, const std::string& name_key, const std::string& address,
                   bool success);

// ---- user names --------------------------------------------------------------------------

enum class name_problem { none, bad, too_long };
// The form names are compared in: full- and half-width forms mapped, case folded, NFC,
// spaces trimmed at both ends. nullopt when the name has a control, format or unassigned
// character, a noncharacter, an odd space, starts with a combining mark, has nothing
// visible, or is longer than max_bytes in that form.
std::optional<std::string> canonical_name(std::string_view typed, size_t max_bytes, name_problem* why = nullptr);
// How the name is shown and stored: trimmed and NFC, its case kept.
std::string display_name(std::string_view typed);
// Unicode's confusable skeleton of a name, case folded: two names that look alike share it.
std::string name_skeleton(const std::string& name);
