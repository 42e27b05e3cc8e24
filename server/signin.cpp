#include "signin.h"

#include <arpa/inet.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "auth.h"
#include "net.h"

// ---- client networks ---------------------------------------------------------------------

bool parse_network(const std::string& text, ip_network* out) {
  std::string addr = text;
  int prefix = -1;
  size_t slash = text.find('/');
  if (slash != std::string::npos) {
    std::string p = text.substr(slash + 1);
    if (p.empty() || p.size() > 3 || p.find_first_not_of("0123456789") != std::string::npos) return false;
    prefix = std::atoi(p.c_str());
    addr = text.substr(0, slash);
  }
  ip_network n;
  if (inet_pton(AF_INET, addr.c_str(), n.addr) == 1) {
    n.family = AF_INET;
    n.prefix = prefix < 0 ? 32 : prefix;
    if (n.prefix > 32) return false;
  } else if (inet_pton(AF_INET6, addr.c_str(), n.addr) == 1) {
    n.family = AF_INET6;
    n.prefix = prefix < 0 ? 128 : prefix;
    if (n.prefix > 128) return false;
  } else {
    return false;
  }
  *out = n;
  return true;
}

bool in_network(const ip_network& n, const std::string& address) {
  unsigned char a[16];
  int bytes;
  if (n.family == AF_INET) {
    if (inet_pton(AF_INET, address.c_str(), a) != 1) {
      unsigned char v6[16];
      static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
      if (inet_pton(AF_INET6, address.c_str(), v6) != 1 || std::memcmp(v6, mapped, 12) != 0) return false;
      std::memcpy(a, v6 + 12, 4);
    }
    bytes = 4;
  } else {
    if (inet_pton(AF_INET6, address.c_str(), a) != 1) return false;
    bytes = 16;
  }
  int bits = n.prefix;
  for (int i = 0; i < bytes && bits > 0; i++, bits -= 8) {
    unsigned char mask = bits >= 8 ? 0xff : static_cast<unsigned char>(0xff << (8 - bits));
    if ((a[i] & mask) != (n.addr[i] & mask)) return false;
  }
  return true;
}

// ---- sign-in limits ------------------------------------------------------------------------

namespace {

int64_t wall_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
}

// The keys the limits are kept under: a digest of the name (bounded whatever was typed) and
// the client's address group, or "" when the address is not limited (a school network).
struct signin_keys {
  std::string name, address;
};

signin_keys keys_for(const signin_limits& l, const std::string& name_key, const std::string& address) {
  signin_keys k;
  k.name = token_digest("signin-name:" + name_key);
  bool school = std::any_of(l.schools.begin(), l.schools.end(),
                            [&](const ip_network& n) { return in_network(n, address); });
  if (!school) {
    k.address = address_group(address);
    if (k.address.empty()) k.address = token_digest("signin-address:" + address).substr(0, 32);
  }
  return k;
}

// Every process takes the same locks in the same order (address, then name), so two
// attempts on one key wait for each other instead of both reading the old count.
bool lock_keys(db_conn* c, const signin_keys& k) {
  if (db_conn_kind(c) != db_kind::postgresql) return true;  // SQLite: the write lock
  if (!k.address.empty() &&
      !db_query(c, "SELECT pg_advisory_xact_lock(hashtextextended($1, 7157))", {"a:" + k.address}).ok())
    return false;
  return db_query(c, "SELECT pg_advisory_xact_lock(hashtextextended($1, 7157))", {"n:" + k.name}).ok();
}

std::atomic<unsigned> reservations{0};

// One sign-in's bookkeeping at a time in this process: a burst then waits here, not holding
// database connections while it waits for the same rows (which would starve other requests).
// Bounded like every database wait, so a stalled database still gets a quick 503.
std::timed_mutex bookkeeping;

int seconds_until(int64_t when_ms, int64_t now_ms) {
  return when_ms > now_ms ? static_cast<int>((when_ms - now_ms + 999) / 1000) : 0;
}

}  // namespace

int signin_reserve(db_pool* db, const signin_limits& l, const std::string& name_key, const std::string& address) {
  signin_keys k = keys_for(l, name_key, address);
  std::unique_lock<std::timed_mutex> one_at_a_time(bookkeeping, std::chrono::milliseconds(db_lease_ms));
  if (!one_at_a_time.owns_lock()) return -1;
  int64_t now = wall_ms();
  std::string now_s = std::to_string(now), expired = std::to_string(now - l.lockout_ms);
  db_lease lease(db);
  if (!lease.conn) return -1;
  db_conn* c = lease.conn;
  db_tx tx(c, true, false);
  if (!tx.open || !lock_keys(c, k)) return -1;
  // Keys quiet for a whole lockout are forgotten, so the tables stay small.
  if (reservations++ % 256 == 0) {
    if (!db_query(c, "DELETE FROM signin_names WHERE last_ms < $1", {expired}).ok() ||
        !db_query(c, "DELETE FROM signin_addresses WHERE last_ms < $1", {expired}).ok())
      return -1;
  }

  int64_t failures = 0, last = 0;
  db_result r = db_query(c, "SELECT failures, last_ms FROM signin_names WHERE name_hash = $1", {k.name});
  if (!r.ok()) return -1;
  if (!r.rows.empty() && r.rows[0][0] && r.rows[0][1]) {
    failures = std::atoll(r.rows[0][0]->c_str());
    last = std::atoll(r.rows[0][1]->c_str());
    if (now - last >= l.lockout_ms) failures = 0;  // quiet long enough: forgiven
  }
  int wait = 0;
  if (failures >= l.max_failures) {
    wait = seconds_until(last + l.lockout_ms, now);
  } else if (failures >= l.free_failures) {
    int steps = static_cast<int>(std::min<int64_t>(failures - l.free_failures, 6));
    wait = seconds_until(last + (int64_t{1000} << steps), now);
  }

  if (!k.address.empty()) {
    if (!db_query(c, "DELETE FROM signin_addresses WHERE address = $1 AND last_ms < $2", {k.address, expired}).ok())
      return -1;
    // (SQLite numbers parameters in the order they first appear)
    r = db_query(c, "SELECT COUNT(*), MAX(last_ms), SUM(CASE WHEN name_hash = $1 THEN 1 ELSE 0 END), "
                    "SUM(CASE WHEN failed = 1 THEN 1 ELSE 0 END) "
                    "FROM signin_addresses WHERE address = $2 AND (failed = 1 OR pending > 0)",
                 {k.name, k.address});
    if (!r.ok() || r.rows.empty()) return -1;
    int64_t names = r.rows[0][0] ? std::atoll(r.rows[0][0]->c_str()) : 0;
    int64_t newest = r.rows[0][1] ? std::atoll(r.rows[0][1]->c_str()) : now;
    bool known = r.rows[0][2] && std::atoll(r.rows[0][2]->c_str()) > 0;
    int64_t failed_names = r.rows[0][3] ? std::atoll(r.rows[0][3]->c_str()) : 0;
    // Failures on this one name are the name's own business; only a new name beyond the
    // limit (guessing across many accounts, in turn or all at once) is refused here. When it
    // is the attempts under way that fill the limit, they end within moments.
    if (!known && names >= l.max_names_per_address)
      wait = std::max(wait, failed_names >= l.max_names_per_address
                                ? std::max(1, seconds_until(newest + l.lockout_ms, now)) : 1);
  }
  if (wait > 0) return wait;

  // The attempt counts as a failure until it is known to have succeeded.
  if (!db_query(c, "INSERT INTO signin_names (name_hash, failures, last_ms) VALUES ($1, $2, $3) "
                   "ON CONFLICT (name_hash) DO UPDATE SET failures = excluded.failures, last_ms = excluded.last_ms",
                {k.name, std::to_string(failures + 1), now_s}).ok())
    return -1;
  if (!k.address.empty() &&
      !db_query(c, "INSERT INTO signin_addresses (address, name_hash, pending, failed, last_ms) "
                   "VALUES ($1, $2, 1, 0, $3) ON CONFLICT (address, name_hash) DO UPDATE SET "
                   "pending = signin_addresses.pending + 1, last_ms = excluded.last_ms",
                {k.address, k.name, now_s}).ok())
    return -1;
  return tx.commit() ? 0 : -1;
}

void signin_finish(db_pool* db, const signin_limits& l, const std::string& name_key, const std::string& address,
                   bool success) {
  signin_keys k = keys_for(l, name_key, address);
  std::unique_lock<std::timed_mutex> one_at_a_time(bookkeeping, std::chrono::milliseconds(db_lease_ms));
  if (!one_at_a_time.owns_lock()) return;  // the attempt stays counted as a failure
  std::string now_s = std::to_string(wall_ms());
  db_lease lease(db);
  if (!lease.conn) return;
  db_conn* c = lease.conn;
  db_tx tx(c, true, false);
  if (!tx.open || !lock_keys(c, k)) return;
  if (success) {
    if (!db_query(c, "DELETE FROM signin_names WHERE name_hash = $1", {k.name}).ok()) return;
    if (!k.address.empty() &&
        (!db_query(c, "UPDATE signin_addresses SET pending = pending - 1, failed = 0 "
                      "WHERE address = $1 AND name_hash = $2 AND pending > 0", {k.address, k.name}).ok() ||
         !db_query(c, "DELETE FROM signin_addresses WHERE address = $1 AND name_hash = $2 AND pending <= 0 "
                      "AND failed = 0", {k.address, k.name}).ok()))
      return;
  } else {
    // The wait before the next try runs from the failure.
    if (!db_query(c, "UPDATE signin_names SET last_ms = $1 WHERE name_hash = $2", {now_s, k.name}).ok()) return;
    if (!k.address.empty() &&
        !db_query(c, "UPDATE signin_addresses SET pending = CASE WHEN pending > 0 THEN pending - 1 ELSE 0 END, "
                     "failed = 1, last_ms = $1 WHERE address = $2 AND name_hash = $3",
                  {now_s, k.address, k.name}).ok())
      return;
  }
  tx.commit();
}

// ---- user names ------------------------------------------------------------------------

namespace {

bool forbidden(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:        // C0, DEL, C1
    case U_FORMAT_CHAR:         // zero-width, direction overrides, byte-order mark
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:          // also the noncharacters
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return c != 0x20;  // after width mapping the ideographic space is a plain one
    default:
      break;
  }
  return u_hasBinaryProperty(c, UCHAR_NONCHARACTER_CODE_POINT) ||
         u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT);
}

bool visible(UChar32 c) {
  int8_t t = u_charType(c);
  return !(t == U_SPACE_SEPARATOR || t == U_NON_SPACING_MARK || t == U_ENCLOSING_MARK ||
           t == U_COMBINING_SPACING_MARK || forbidden(c));
}

bool combining(UChar32 c) {
  int8_t t = u_charType(c);
  return t == U_NON_SPACING_MARK || t == U_ENCLOSING_MARK || t == U_COMBINING_SPACING_MARK;
}

icu::UnicodeString trimmed(const icu::UnicodeString& s) {
  int32_t a = 0, z = s.length();
  while (a < z && s.charAt(a) == 0x20) a++;
  while (z > a && s.charAt(z - 1) == 0x20) z--;
  return icu::UnicodeString(s, a, z - a);
}

}  // namespace

std::optional<std::string> canonical_name(std::string_view typed, size_t max_bytes, name_problem* why) {
  auto refuse = [&](name_problem p) -> std::optional<std::string> {
    if (why) *why = p;
    return std::nullopt;
  };
  // Mapping can only shrink a name to a quarter: anything longer is refused before work.
  if (typed.size() > 4 * max_bytes + 64) return refuse(name_problem::too_long);
  UErrorCode st = U_ZERO_ERROR;
  icu::UnicodeString in = icu::UnicodeString::fromUTF8(icu::StringPiece(typed.data(), static_cast<int32_t>(typed.size())));
  const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(st);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(st);
  if (U_FAILURE(st)) return refuse(name_problem::bad);
  // Full- and half-width forms become their ordinary letters; nothing else is mapped.
  icu::UnicodeString mapped;
  for (int32_t i = 0; i < in.length();) {
    UChar32 c = in.char32At(i);
    i += U16_LENGTH(c);
    if (c == 0xFFFD) return refuse(name_problem::bad);  // invalid UTF-8 came in
    int dt = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
    icu::UnicodeString d;
    if ((dt == U_DT_WIDE || dt == U_DT_NARROW) && nfkc->getDecomposition(c, d)) mapped += d;
    else mapped += c;
  }
  icu::UnicodeString folded = trimmed(mapped).foldCase(U_FOLD_CASE_DEFAULT);
  icu::UnicodeString canon = nfc->normalize(folded, st);
  if (U_FAILURE(st) || canon.isEmpty()) return refuse(name_problem::bad);
  bool seen = false;
  for (int32_t i = 0; i < canon.length();) {
    UChar32 c = canon.char32At(i);
    if (i == 0 && combining(c)) return refuse(name_problem::bad);
    if (forbidden(c)) return refuse(name_problem::bad);
    seen = seen || visible(c);
    i += U16_LENGTH(c);
  }
  if (!seen) return refuse(name_problem::bad);
  std::string out;
  canon.toUTF8String(out);
  if (out.size() > max_bytes) return refuse(name_problem::too_long);
  if (why) *why = name_problem::none;
  return out;
}

std::string display_name(std::string_view typed) {
  UErrorCode st = U_ZERO_ERROR;
  icu::UnicodeString in = icu::UnicodeString::fromUTF8(icu::StringPiece(typed.data(), static_cast<int32_t>(typed.size())));
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(st);
  icu::UnicodeString out = U_SUCCESS(st) ? nfc->normalize(trimmed(in), st) : trimmed(in);
  std::string s;
  (U_SUCCESS(st) ? out : trimmed(in)).toUTF8String(s);
  return s;
}

std::string name_skeleton(const std::string& canonical_or_shown) {
  const std::string& canonical = canonical_or_shown;
  static std::mutex lock;
  static USpoofChecker* checker = nullptr;
  std::lock_guard<std::mutex> g(lock);
  UErrorCode st = U_ZERO_ERROR;
  if (!checker) {
    checker = uspoof_open(&st);
    if (U_FAILURE(st)) {
      checker = nullptr;
      return canonical;
    }
  }
  st = U_ZERO_ERROR;
  std::string out(canonical.size() * 4 + 64, '\0');
  int32_t n = uspoof_getSkeletonUTF8(checker, 0, canonical.c_str(), static_cast<int32_t>(canonical.size()),
                                     out.data(), static_cast<int32_t>(out.size()), &st);
  if (st == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(n) + 1, '\0');
    st = U_ZERO_ERROR;
    n = uspoof_getSkeletonUTF8(checker, 0, canonical.c_str(), static_cast<int32_t>(canonical.size()), out.data(),
                               static_cast<int32_t>(out.size()), &st);
  }
  if (U_FAILURE(st)) return canonical;
  out.resize(static_cast<size_t>(n));
  // Skeletons keep case apart: "B" and Greek capital beta share one, "b" another.
  icu::UnicodeString s = icu::UnicodeString::fromUTF8(out).foldCase(U_FOLD_CASE_DEFAULT);
  std::string folded;
  s.toUTF8String(folded);
  return folded;
}
