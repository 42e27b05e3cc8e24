// Account routes: register, log in, recover with the one-time code, log out.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "json/text_buffer.h"
#include "signin.h"
#include "net.h"
#include "service_internal.h"

namespace {

// Names as they are compared: the canonical form, or for a name that has none (only an
// account made before names were checked can have one) its exact text.
std::string lookup_key(const std::string& typed, bool* canonical) {
  auto c = canonical_name(typed, name_max);
  *canonical = c.has_value();
  return c ? *c : "exact:" + typed;
}

std::string identity(const std::string& id, const std::string& name, const std::string& token,
                     const std::string* recovery) {
  text_buffer b{};
  b_add(&b, "{\"user\":{\"id\":");
  b_json(&b, id.c_str());
  b_add(&b, ",\"username\":");
  b_json(&b, name.c_str());
  b_add(&b, "},\"token\":");
  b_json(&b, token.c_str());
  if (recovery) {
    b_add(&b, ",\"recovery\":");
    b_json(&b, recovery->c_str());
  }
  b_add(&b, "}");
  cstr out(b_release(&b));
  std::string s(out.get());
  std::memset(out.get(), 0, s.size());
  return s;
}

signin_limits limits_of(const service_config& cfg) {
  signin_limits l;
  l.free_failures = cfg.free_failures;
  l.max_failures = cfg.max_failures;
  l.max_names_per_address = cfg.max_failures_per_address;
  l.lockout_ms = int64_t{cfg.lockout_seconds} * 1000;
  for (const std::string& n : cfg.school_networks) {
    ip_network net;
    if (parse_network(n, &net)) l.schools.push_back(net);
  }
  return l;
}

const signin_limits& limits() {
  static const signin_limits l = limits_of(svc->cfg);
  return l;
}

// Reserves the attempt; false after answering 429 or 503.
bool may_try(const std::string& key, const std::string& address, httplib::Response& res) {
  int wait = signin_reserve(svc->db, limits(), key, address);
  if (wait == 0) return true;
  if (wait < 0) {
    fail(res, 503, msg::storage);
    return false;
  }
  fail(res, 429, msg::too_many);
  res.set_header("Retry-After", std::to_string(wait));
  return false;
}

void finished_try(const std::string& key, const std::string& address, bool success) {
  signin_finish(svc->db, limits(), key, address, success);
}

// The account a typed name signs in to: the account whose name has the same canonical form,
// or, first, one whose stored name is exactly what was typed (an older account that shares
// its canonical form with another keeps working that way).
db_result find_account(db_conn* c, const char* columns_sql_canonical, const char* columns_sql_exact,
                       const std::string& key, bool canonical, const std::string& typed) {
  if (canonical) return db_query(c, columns_sql_canonical, {key, typed});
  return db_query(c, columns_sql_exact, {typed});
}

// Sign-ins kept per account: a new one beyond this ends the oldest, so an account that
// signs in on computer after computer without signing out cannot grow without bound.
constexpr int tokens_per_account = 50;

// Stores a fresh token for the account inside the caller's transaction.
bool add_token(db_conn* c, const std::string& account, const std::string& token) {
  std::string digest = token_digest(token);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch()).count();
  return db_query(c, "INSERT INTO tokens (token_hash, account_id, created_ms) VALUES ($1, $2, $3)",
                  {digest, account, std::to_string(static_cast<long long>(ms))}).ok() &&
         db_query(c, "DELETE FROM tokens WHERE account_id = $1 AND token_hash <> $2 AND token_hash NOT IN "
                     "(SELECT token_hash FROM tokens WHERE account_id = $1 AND token_hash <> $2 "
                     "ORDER BY created_ms DESC, token_hash LIMIT $3)",
                  {account, digest, std::to_string(tokens_per_account - 1)}).ok();
}

}  // namespace

// ---- routes ---------------------------------------------------------------------------

void do_register(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto password = text_member(&doc, "password");
  if (!name || !password) return fail(res, 400, msg::need_credentials);
  auto canon = canonical_name(*name, name_max);
  std::string shown = canon ? display_name(*name) : "";
  if (!canon || shown.size() > name_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_name);
  }
  if (password->size() < password_min || password->size() > password_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_password);
  }
  // Each registration costs a password hash and a row: one address gets a bounded number
  // an hour, generous enough for a whole school behind one NAT address.
  std::string address = address_group(client_address(req));
  int64_t now_ms = steady_ms();
  if (int wait = limiter_check(&svc->registrations, address, now_ms)) {
    wipe(*password);
    fail(res, 429, msg::too_many);
    return res.set_header("Retry-After", std::to_string(wait));
  }
  limiter_fail(&svc->registrations, address, now_ms);
  // Of the name as shown: capitals that look like other capitals are caught too.
  std::string skeleton = name_skeleton(shown);
  std::string recovery = new_recovery_code();
  std::string password_hash = hash_secret(*password);
  std::string recovery_hash = recovery_digest(recovery);
  wipe(*password);
  if (password_hash.empty()) return fail(res, 500, msg::internal);
  std::string id = new_uuid(), token = new_token(), now = unix_now();

  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  // Two names that look alike are refused; registrations of look-alikes wait for each other.
  if (db_pool_kind(svc->db) == db_kind::postgresql &&
      !db_query(l.conn, "SELECT pg_advisory_xact_lock(hashtextextended($1, 7158))", {skeleton}).ok())
    return fail(res, 503, msg::storage);
  db_result same = db_query(l.conn, "SELECT name_key FROM accounts WHERE skeleton = $1 OR name_key = $2 LIMIT 1",
                            {skeleton, *canon});
  if (!same.ok()) return fail(res, 503, msg::storage);
  if (!same.rows.empty())
    return fail(res, 409, same.rows[0][0] && *same.rows[0][0] == *canon ? msg::name_taken : msg::name_alike);
  db_result r = db_query(l.conn,
      "INSERT INTO accounts (id, username, name_key, password_hash, recovery_hash, created_at, skeleton) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7)", {id, shown, *canon, password_hash, recovery_hash, now, skeleton});
  if (r.status == db_status::unique_violation) return fail(res, 409, msg::name_taken);
  if (!r.ok() || !add_token(l.conn, id, token) ||
      !db_query(l.conn, "INSERT INTO progress (account_id, revision, state, updated_at) VALUES ($1, 0, '{}', $2)",
                {id, now}).ok() ||
      !tx.commit())
    return fail(res, 503, msg::storage);
  answer(res, 201, identity(id, shown, token, &recovery));
  wipe(token);
  wipe(recovery);
}

void do_login(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto password = text_member(&doc, "password");
  if (!name || !password) return fail(res, 400, msg::need_credentials);
  // No stored password is longer, and no name could be: answered at once, nothing kept.
  if (password->size() > password_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_password);
  }
  if (name->size() > name_max * 4) {
    wipe(*password);
    return fail(res, 401, msg::wrong_login);
  }
  bool canonical = false;
  std::string key = lookup_key(*name, &canonical), address = client_address(req);
  if (!may_try(key, address, res)) return wipe(*password);

  std::optional<std::string> id, stored_name, hash;
  {
    db_lease l(svc->db);
    db_result r = find_account(l.conn,
        "SELECT id, username, password_hash FROM accounts WHERE name_key = $1 OR username = $2 "
        "ORDER BY CASE WHEN username = $2 THEN 0 ELSE 1 END LIMIT 1",
        "SELECT id, username, password_hash FROM accounts WHERE username = $1 LIMIT 1", key, canonical, *name);
    if (!r.ok()) {
      wipe(*password);
      finished_try(key, address, false);
      return fail(res, 503, msg::storage);
    }
    if (!r.rows.empty()) id = r.rows[0][0], stored_name = r.rows[0][1], hash = r.rows[0][2];
  }
  // A missing account costs the same hash as a wrong password and answers the same.
  int ok = 0;
  if (hash && id && stored_name) ok = verify_secret(*hash, *password);
  else verify_nothing(*password);
  finished_try(key, address, ok != 0);
  if (!ok) {
    wipe(*password);
    return fail(res, 401, msg::wrong_login);
  }
  std::string fresh_hash = hash_outdated(*hash) ? hash_secret(*password) : "";
  wipe(*password);

  std::string token = new_token();
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open || !add_token(l.conn, *id, token)) return fail(res, 503, msg::storage);
  if (!fresh_hash.empty())  // parameters were raised since this password was stored
    db_query(l.conn, "UPDATE accounts SET password_hash = $1 WHERE id = $2 AND password_hash = $3",
             {fresh_hash, *id, *hash});
  if (!tx.commit()) return fail(res, 503, msg::storage);
  answer(res, 200, identity(*id, *stored_name, token, nullptr));
  wipe(token);
}

void do_recover(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto typed = text_member(&doc, "recovery");
  auto password = text_member(&doc, "password");
  if (!name || !typed || !password) return fail(res, 400, msg::need_recovery);
  if (password->size() < password_min || password->size() > password_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_password);
  }
  if (name->size() > name_max * 4) {
    wipe(*password);
    return fail(res, 401, msg::wrong_recovery);
  }
  bool canonical = false;
  std::string key = lookup_key(*name, &canonical), address = client_address(req);
  if (!may_try(key, address, res)) return wipe(*password);
  std::string code = recovery_canonical(*typed);
  wipe(*typed);

  std::optional<std::string> id, stored_name, old_hash;
  {
    db_lease l(svc->db);
    db_result r = find_account(l.conn,
        "SELECT id, username, recovery_hash FROM accounts WHERE name_key = $1 OR username = $2 "
        "ORDER BY CASE WHEN username = $2 THEN 0 ELSE 1 END LIMIT 1",
        "SELECT id, username, recovery_hash FROM accounts WHERE username = $1 LIMIT 1", key, canonical, *name);
    if (!r.ok()) {
      wipe(*password);
      finished_try(key, address, false);
      return fail(res, 503, msg::storage);
    }
    if (!r.rows.empty()) id = r.rows[0][0], stored_name = r.rows[0][1], old_hash = r.rows[0][2];
  }
  // The digest is computed whether or not the account exists, and compared in constant time.
  std::string digest = recovery_digest(code);
  int ok = old_hash && id && stored_name && !code.empty() && same_secret(*old_hash, digest);
  wipe(code);
  finished_try(key, address, ok != 0);
  if (!ok) {
    wipe(*password);
    return fail(res, 401, msg::wrong_recovery);
  }
  std::string recovery = new_recovery_code();
  std::string password_hash = hash_secret(*password);
  std::string recovery_hash = recovery_digest(recovery);
  wipe(*password);
  if (password_hash.empty()) return fail(res, 500, msg::internal);

  // The code is spent: the update only lands while the old code is still the stored one,
  // so two recoveries with the same code cannot both succeed. Every earlier sign-in ends.
  std::string token = new_token();
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  db_result r = db_query(l.conn,
      "UPDATE accounts SET password_hash = $1, recovery_hash = $2 WHERE id = $3 AND recovery_hash = $4",
      {password_hash, recovery_hash, *id, *old_hash});
  if (!r.ok()) return fail(res, 503, msg::storage);
  if (r.changes != 1) return fail(res, 401, msg::wrong_recovery);
  if (!db_query(l.conn, "DELETE FROM tokens WHERE account_id = $1", {*id}).ok() ||
      !add_token(l.conn, *id, token) || !tx.commit())
    return fail(res, 503, msg::storage);
  answer(res, 200, identity(*id, *stored_name, token, &recovery));
  wipe(token);
  wipe(recovery);
}

void do_logout(const httplib::Request& req, httplib::Response& res) {
  std::string digest;
  if (!signed_in(req, res, &digest)) return;
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  db_result r = db_query(l.conn, "DELETE FROM tokens WHERE token_hash = $1", {digest});
  if (!r.ok() || !tx.commit()) return fail(res, 503, msg::storage);
  if (r.changes != 1) return fail(res, 401, msg::bad_token);  // a racing logout got there first
  answer(res, 200, "{\"ok\":true}");
}


// Accounts stored before names had a canonical form get it now, oldest first. When two of
// them share one form, the older keeps it; the newer keeps its data and sign-ins and signs
// in by typing its name exactly as it was registered.
bool canonicalise_stored_names(db_pool* db, std::string* err, std::vector<std::string>* notes) {
  db_lease l(db);
  db_tx tx(l.conn, true);
  if (!tx.open) return *err = "cannot begin", false;
  if (db_pool_kind(db) == db_kind::postgresql &&
      !db_query(l.conn, "SELECT pg_advisory_xact_lock(71577157)").ok())
    return *err = "cannot take the lock", false;
  db_result r = db_query(l.conn, "SELECT id, username FROM accounts WHERE skeleton IS NULL ORDER BY created_at, id");
  if (!r.ok()) return *err = r.error, false;
  if (r.rows.empty()) return true;
  // First every old key is set aside, so no old spelling stands in a canonical one's way.
  if (!db_query(l.conn, "UPDATE accounts SET name_key = 'old:' || id WHERE skeleton IS NULL").ok())
    return *err = "cannot set the old names aside", false;
  for (auto& row : r.rows) {
    if (!row[0] || !row[1]) continue;
    const std::string &id = *row[0], &name = *row[1];
    auto canon = canonical_name(name, 1 << 20);
    std::string key = canon ? *canon : "exact:" + name;
    db_result taken = db_query(l.conn, "SELECT id FROM accounts WHERE name_key = $1", {key});
    if (!taken.ok()) return *err = taken.error, false;
    if (!taken.rows.empty()) {
      notes->push_back("tavrin-cloud: 账号 " + id + " 的用户名与较早注册的账号 " +
                       (taken.rows[0][0] ? *taken.rows[0][0] : "?") +
                       " 规范化后相同；它的数据与登录保留，需逐字输入原用户名登录。");
      key = "exact:" + id;
    }
    if (!db_query(l.conn, "UPDATE accounts SET name_key = $1, skeleton = $2 WHERE id = $3",
                  {key, name_skeleton(display_name(name)), id}).ok())
      return *err = "cannot store the canonical name", false;
  }
  if (!tx.commit()) return *err = "cannot commit", false;
  return true;
}
