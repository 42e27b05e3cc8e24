// Account routes: register, log in, recover with the one-time code, log out.
#include <cstring>
#include <chrono>

#include "json/text_buffer.h"
#include "service_internal.h"

namespace {

bool valid_name(const std::string& n) {
  if (n.empty() || n.size() > name_max || !valid_utf8(n)) return false;
  for (unsigned char c : n)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// Names are unique without regard to the case of Latin letters.
std::string name_key(const std::string& n) {
  std::string k = n;
  for (char& c : k)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return k;
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

bool may_try(const std::string& key, const std::string& address, httplib::Response& res) {
  int64_t now = steady_ms();
  int wait = std::max(limiter_check(&svc->by_name, key, now), limiter_check(&svc->by_address, address, now));
  if (!wait) return true;
  fail(res, 429, msg::too_many);
  res.set_header("Retry-After", std::to_string(wait));
  return false;
}

void failed_try(const std::string& key, const std::string& address) {
  int64_t now = steady_ms();
  limiter_fail(&svc->by_name, key, now);
  limiter_fail(&svc->by_address, address, now);
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
  if (!valid_name(*name)) return fail(res, 400, msg::bad_name);
  if (password->size() < password_min || password->size() > password_max) {
    wipe(*password);
    return fail(res, 400, msg::bad_password);
  }
  // Each registration costs a password hash and a row: one address gets a bounded number
  // an hour, generous enough for a whole school behind one NAT address.
  std::string address = client_address(req);
  int64_t now_ms = steady_ms();
  if (int wait = limiter_check(&svc->registrations, address, now_ms)) {
    wipe(*password);
    fail(res, 429, msg::too_many);
    return res.set_header("Retry-After", std::to_string(wait));
  }
  limiter_fail(&svc->registrations, address, now_ms);
  std::string recovery = new_recovery_code();
  std::string password_hash = hash_secret(*password);
  std::string recovery_hash = recovery_digest(recovery);
  wipe(*password);
  if (password_hash.empty()) return fail(res, 500, msg::internal);
  std::string id = new_uuid(), token = new_token(), now = unix_now();

  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return fail(res, 503, msg::storage);
  db_result r = db_query(l.conn,
      "INSERT INTO accounts (id, username, name_key, password_hash, recovery_hash, created_at) "
      "VALUES ($1, $2, $3, $4, $5, $6)", {id, *name, name_key(*name), password_hash, recovery_hash, now});
  if (r.status == db_status::unique_violation) return fail(res, 409, msg::name_taken);
  if (!r.ok() || !add_token(l.conn, id, token) ||
      !db_query(l.conn, "INSERT INTO progress (account_id, revision, state, updated_at) VALUES ($1, 0, '{}', $2)",
                {id, now}).ok() ||
      !tx.commit())
    return fail(res, 503, msg::storage);
  answer(res, 201, identity(id, *name, token, &recovery));
  wipe(token);
  wipe(recovery);
}

void do_login(const httplib::Request& req, httplib::Response& res) {
  json_doc doc;
  if (!parse_body(req, res, &doc)) return;
  auto name = text_member(&doc, "username");
  auto password = text_member(&doc, "password");
  if (!name || !password) return fail(res, 400, msg::need_credentials);
  std::string key = name_key(*name), address = client_address(req);
  if (!may_try(key, address, res)) return wipe(*password);

  std::optional<std::string> id, stored_name, hash;
  {
    db_lease l(svc->db);
    db_result r = db_query(l.conn, "SELECT id, username, password_hash FROM accounts WHERE name_key = $1", {key});
    if (!r.ok()) return fail(res, 503, msg::storage);
    if (!r.rows.empty()) id = r.rows[0][0], stored_name = r.rows[0][1], hash = r.rows[0][2];
  }
  // A missing account costs the same hash as a wrong password and answers the same.
  int ok = 0;
  if (hash && id && stored_name) ok = verify_secret(*hash, *password);
  else verify_nothing(*password);
  if (!ok) {
    wipe(*password);
    failed_try(key, address);
    return fail(res, 401, msg::wrong_login);
  }
  limiter_clear(&svc->by_name, key);
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
  std::string key = name_key(*name), address = client_address(req);
  if (!may_try(key, address, res)) return wipe(*password);
  std::string code = recovery_canonical(*typed);
  wipe(*typed);

  std::optional<std::string> id, stored_name, old_hash;
  {
    db_lease l(svc->db);
    db_result r = db_query(l.conn, "SELECT id, username, recovery_hash FROM accounts WHERE name_key = $1", {key});
    if (!r.ok()) return fail(res, 503, msg::storage);
    if (!r.rows.empty()) id = r.rows[0][0], stored_name = r.rows[0][1], old_hash = r.rows[0][2];
  }
  // The digest is computed whether or not the account exists, and compared in constant time.
  std::string digest = recovery_digest(code);
  int ok = old_hash && id && stored_name && !code.empty() && same_secret(*old_hash, digest);
  wipe(code);
  if (!ok) {
    wipe(*password);
    failed_try(key, address);
    return fail(res, 401, msg::wrong_recovery);
  }
  limiter_clear(&svc->by_name, key);
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

