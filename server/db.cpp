#include "db.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "schema.h"

struct db_conn {
  db_pool* pool = nullptr;
  sqlite3* sq = nullptr;
  PGconn* pg = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> cached;  // SQLite statements by their text
  std::unordered_map<const char*, std::string> prepared;  // PostgreSQL statement names by text
  bool holds_writer = false;
  bool in_tx = false;
  bool lost = false;  // PostgreSQL: the session was given up (a time-out); open a new one
};

struct db_pool {
  db_kind kind = db_kind::sqlite;
  std::string target;
  std::vector<db_conn*> all;
  std::vector<db_conn*> idle;
  std::mutex lock;
  std::condition_variable returned;
  // SQLite has one writer at a time; queueing writers here is fairer and quicker than
  // letting them spin in SQLite's busy handler.
  std::timed_mutex writer;
  int version = 0;
};

namespace {

bool is_postgres_url(const std::string& t) {
  return t.rfind("postgresql://", 0) == 0 || t.rfind("postgres://", 0) == 0;
}

db_result sqlite_fail(sqlite3* sq, int rc) {
  db_result r;
  int ext = sqlite3_extended_errcode(sq);
  r.status = (ext == SQLITE_CONSTRAINT_UNIQUE || ext == SQLITE_CONSTRAINT_PRIMARYKEY)
                 ? db_status::unique_violation : db_status::error;
  r.error = std::string(sqlite3_errstr(rc)) + ": " + sqlite3_errmsg(sq);
  return r;
}

db_result sqlite_query(db_conn* c, const char* sql, std::initializer_list<std::string_view> params) {
  sqlite3_stmt*& st = c->cached[sql];
  if (!st) {
    int rc = sqlite3_prepare_v3(c->sq, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) {
      db_result r = sqlite_fail(c->sq, rc);
      c->cached.erase(sql);
      return r;
    }
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  int i = 1;
  for (std::string_view p : params)
    sqlite3_bind_text(st, i++, p.data(), static_cast<int>(p.size()), SQLITE_STATIC);
  db_result r;
  int rc;
  int cols = sqlite3_column_count(st);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    auto& row = r.rows.emplace_back();
    for (int k = 0; k < cols; k++) {
      if (sqlite3_column_type(st, k) == SQLITE_NULL) {
        row.emplace_back();
      } else {
        const unsigned char* t = sqlite3_column_text(st, k);
        row.emplace_back(std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(st, k)));
      }
    }
  }
  if (rc != SQLITE_DONE) {
    db_result f = sqlite_fail(c->sq, rc);
    sqlite3_reset(st);
    return f;
  }
  r.changes = sqlite3_changes64(c->sq);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return r;
}

int64_t clock_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

db_result failed(const std::string& why) {
  db_result r;
  r.status = db_status::error;
  r.error = why;
  return r;
}

db_result pg_take(PGresult* res, PGconn* pg) {
  db_result r;
  ExecStatusType s = PQresultStatus(res);
  if (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK) {
    int n = PQntuples(res), cols = PQnfields(res);
    for (int i = 0; i < n; i++) {
      auto& row = r.rows.emplace_back();
      for (int k = 0; k < cols; k++) {
        if (PQgetisnull(res, i, k)) row.emplace_back();
        else row.emplace_back(std::string(PQgetvalue(res, i, k), PQgetlength(res, i, k)));
      }
    }
    const char* ct = PQcmdTuples(res);
    r.changes = ct && *ct ? std::atoll(ct) : 0;
  } else {
    const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    r.status = state && std::strcmp(state, "23505") == 0 ? db_status::unique_violation : db_status::error;
    r.error = res ? PQresultErrorMessage(res) : PQerrorMessage(pg);
  }
  PQclear(res);
  return r;
}

// Waits until the socket is ready or the deadline passes.
bool pg_wait(PGconn* pg, short events, int64_t deadline) {
  for (;;) {
    int64_t left = deadline - clock_ms();
    if (left <= 0) return false;
    pollfd p{PQsocket(pg), events, 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

// The session is given up: a server that stopped answering must not hold the service.
void pg_drop(db_conn* c) {
  if (c->pg) PQfinish(c->pg);
  c->pg = nullptr;
  c->prepared.clear();
  c->lost = true;
}

// Sends what PQsend* queued and collects the last result, all before the deadline.
db_result pg_finish_send(db_conn* c, int sent, int64_t deadline) {
  if (!sent) {
    db_result r = failed(PQerrorMessage(c->pg));
    if (PQstatus(c->pg) == CONNECTION_BAD) pg_drop(c);
    return r;
  }
  for (;;) {
    int f = PQflush(c->pg);
    if (f == 0) break;
    if (f < 0 || !pg_wait(c->pg, POLLOUT | POLLIN, deadline)) {
      pg_drop(c);
      return failed("the database did not take the statement in time");
    }
    if (!PQconsumeInput(c->pg)) break;
  }
  PGresult* last = nullptr;
  for (;;) {
    while (PQisBusy(c->pg)) {
      if (!pg_wait(c->pg, POLLIN, deadline)) {
        if (last) PQclear(last);
        pg_drop(c);
        return failed("the database did not answer in time");
      }
      if (!PQconsumeInput(c->pg)) {
        if (last) PQclear(last);
        db_result r = failed(PQerrorMessage(c->pg));
        pg_drop(c);
        return r;
      }
    }
    PGresult* res = PQgetResult(c->pg);
    if (!res) break;
    // A script's results: the first failure is the answer, else the last result.
    if (last && PQresultStatus(last) != PGRES_COMMAND_OK && PQresultStatus(last) != PGRES_TUPLES_OK) {
      PQclear(res);
      continue;
    }
    if (last) PQclear(last);
    last = res;
  }
  if (!last) {
    db_result r = failed(PQerrorMessage(c->pg));
    if (PQstatus(c->pg) == CONNECTION_BAD) pg_drop(c);
    return r;
  }
  db_result r = pg_take(last, c->pg);
  if (PQstatus(c->pg) == CONNECTION_BAD) pg_drop(c);
  return r;
}

const char* const pg_session_setup =
    "SET client_encoding = 'UTF8'; SET synchronous_commit = on; SET statement_timeout = 5000; "
    "SET idle_in_transaction_session_timeout = 30000";

// Opens the session without blocking past the deadline: a paused server cannot hold us.
bool pg_connect(db_conn* c, int64_t deadline, std::string* err) {
  const std::string& target = c->pool->target;
  std::string timeout = std::to_string(std::max<int64_t>(2, (deadline - clock_ms() + 999) / 1000));
  const char* keys[] = {"dbname", "connect_timeout", "keepalives", "keepalives_idle", nullptr};
  const char* values[] = {target.c_str(), timeout.c_str(), "1", "30", nullptr};
  PGconn* pg = PQconnectStartParams(keys, values, 1);
  if (!pg || PQstatus(pg) == CONNECTION_BAD) {
    *err = pg ? PQerrorMessage(pg) : "out of memory";
    if (pg) PQfinish(pg);
    return false;
  }
  PostgresPollingStatusType st = PGRES_POLLING_WRITING;
  while (st != PGRES_POLLING_OK) {
    if (st == PGRES_POLLING_FAILED) {
      *err = PQerrorMessage(pg);
      PQfinish(pg);
      return false;
    }
    if (!pg_wait(pg, st == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
      *err = "the database did not answer in time";
      PQfinish(pg);
      return false;
    }
    st = PQconnectPoll(pg);
  }
  if (PQsetnonblocking(pg, 1) != 0) {
    *err = PQerrorMessage(pg);
    PQfinish(pg);
    return false;
  }
  c->pg = pg;
  c->lost = false;
  c->prepared.clear();
  db_result r = pg_finish_send(c, PQsendQuery(pg, pg_session_setup), deadline);
  if (!r.ok()) {
    *err = r.error;
    pg_drop(c);
    return false;
  }
  return true;
}

// A connection that PostgreSQL dropped (a restart, a fail-over) or that we gave up is opened
// again, unless it belonged to a transaction that went down with it.
bool pg_ready(db_conn* c, int64_t deadline) {
  if (c->pg && PQstatus(c->pg) == CONNECTION_OK) return true;
  if (c->in_tx) return false;
  if (c->pg) pg_drop(c);
  std::string err;
  return pg_connect(c, std::min(deadline, clock_ms() + db_connect_ms), &err);
}

db_result pg_query(db_conn* c, const char* sql, std::initializer_list<std::string_view> params,
                   int64_t deadline) {
  std::vector<std::string> copies(params.begin(), params.end());
  std::vector<const char*> values;
  for (auto& s : copies) values.push_back(s.c_str());
  for (int attempt = 0;; attempt++) {
    if (!pg_ready(c, deadline)) return failed("the database is not reachable");
    // Each statement is parsed and planned once per session.
    auto it = c->prepared.find(sql);
    if (it == c->prepared.end()) {
      std::string name = "s" + std::to_string(c->prepared.size());
      db_result p = pg_finish_send(c, PQsendPrepare(c->pg, name.c_str(), sql, 0, nullptr), deadline);
      if (!p.ok()) {
        if (attempt > 0 || c->in_tx || !c->lost) return p;
        continue;
      }
      it = c->prepared.emplace(sql, name).first;
    }
    db_result r = pg_finish_send(c, PQsendQueryPrepared(c->pg, it->second.c_str(), static_cast<int>(values.size()),
                                                        values.data(), nullptr, nullptr, 0), deadline);
    // Retried once on a fresh session only when the old one was lost outside a transaction
    // and not by a time-out (a statement that timed out may have run).
    if (r.ok() || attempt > 0 || c->in_tx || c->pg || r.error.find("in time") != std::string::npos) return r;
  }
}

db_result run_script(db_conn* c, const char* sql) {
  if (c->pool->kind == db_kind::postgresql) {
    int64_t deadline = clock_ms() + db_statement_ms;
    if (!pg_ready(c, deadline)) return failed("the database is not reachable");
    return pg_finish_send(c, PQsendQuery(c->pg, sql), deadline);
  }
  char* msg = nullptr;
  int rc = sqlite3_exec(c->sq, sql, nullptr, nullptr, &msg);
  db_result r;
  if (rc != SQLITE_OK) {
    r = sqlite_fail(c->sq, rc);
    if (msg) r.error = msg;
  }
  sqlite3_free(msg);
  return r;
}

void close_conn(db_conn* c) {
  for (auto& [sql, st] : c->cached) sqlite3_finalize(st);
  if (c->sq) sqlite3_close_v2(c->sq);
  if (c->pg) PQfinish(c->pg);
  delete c;
}

db_conn* open_conn(db_pool* p, std::string* err) {
  auto* c = new db_conn;
  c->pool = p;
  if (p->kind == db_kind::postgresql) {
    if (!pg_connect(c, clock_ms() + 10000, err)) {
      close_conn(c);
      return nullptr;
    }
    return c;
  }
  int rc = sqlite3_open_v2(p->target.c_str(), &c->sq,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *err = c->sq ? sqlite3_errmsg(c->sq) : sqlite3_errstr(rc);
    close_conn(c);
    return nullptr;
  }
  sqlite3_busy_timeout(c->sq, 2000);
  // WAL lets readers run beside the writer; synchronous=FULL syncs the log on every commit,
  // so an acknowledged write survives a crash or a power cut.
  db_result r = run_script(c, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
  if (!r.ok()) {
    *err = r.error;
    close_conn(c);
    return nullptr;
  }
  return c;
}

bool migrate(db_pool* p, std::string* err) {
  db_lease l(p);
  db_tx tx(l.conn, true);
  if (!tx.open) {
    *err = "cannot begin the migration transaction";
    return false;
  }
  // Several service processes may start at once against one PostgreSQL database.
  if (p->kind == db_kind::postgresql) {
    db_result r = db_query(l.conn, "SELECT pg_advisory_xact_lock(71577157)");
    if (!r.ok()) {
      *err = r.error;
      return false;
    }
  }
  db_result r = run_script(l.conn,
      "CREATE TABLE IF NOT EXISTS schema_migrations (version BIGINT PRIMARY KEY, applied_at BIGINT NOT NULL)");
  if (!r.ok()) {
    *err = r.error;
    return false;
  }
  r = db_query(l.conn, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
  if (!r.ok() || r.rows.empty() || !r.rows[0][0]) {
    *err = r.error;
    return false;
  }
  int have = std::atoi(r.rows[0][0]->c_str());
  int count = static_cast<int>(sizeof schema_migrations / sizeof schema_migrations[0]);
  if (have > count) {
    *err = "the database was made by a newer tavrin-cloud (schema version " + std::to_string(have) + ")";
    return false;
  }
  std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
  for (int v = have + 1; v <= count; v++) {
    r = run_script(l.conn, schema_migrations[v - 1]);
    if (r.ok()) {
      std::string ver = std::to_string(v);
      r = db_query(l.conn, "INSERT INTO schema_migrations (version, applied_at) VALUES ($1, $2)", {ver, now});
    }
    if (!r.ok()) {
      *err = "migration " + std::to_string(v) + ": " + r.error;
      return false;
    }
  }
  if (!tx.commit()) {
    *err = "cannot commit the migrations";
    return false;
  }
  p->version = count;
  return true;
}

}  // namespace

db_pool* db_open(const std::string& target, int connections, std::string* err) {
  auto* p = new db_pool;
  p->kind = is_postgres_url(target) ? db_kind::postgresql : db_kind::sqlite;
  p->target = target;
  if (connections < 1) connections = 1;
  for (int i = 0; i < connections; i++) {
    db_conn* c = open_conn(p, err);
    if (!c) {
      db_close(p);
      return nullptr;
    }
    p->all.push_back(c);
    p->idle.push_back(c);
  }
  if (!migrate(p, err)) {
    db_close(p);
    return nullptr;
  }
  return p;
}

void db_close(db_pool* pool) {
  if (!pool) return;
  for (db_conn* c : pool->all) close_conn(c);
  delete pool;
}

db_kind db_pool_kind(const db_pool* pool) { return pool->kind; }
int db_schema_version(db_pool* pool) { return pool->version; }

db_lease::db_lease(db_pool* p, int wait_ms) : pool(p) {
  std::unique_lock<std::mutex> g(p->lock);
  if (!p->returned.wait_for(g, std::chrono::milliseconds(wait_ms), [p] { return !p->idle.empty(); })) return;
  conn = p->idle.back();
  p->idle.pop_back();
}

db_lease::~db_lease() {
  if (!conn) return;
  std::lock_guard<std::mutex> g(pool->lock);
  pool->idle.push_back(conn);
  pool->returned.notify_one();
}

db_kind db_conn_kind(const db_conn* conn) { return conn->pool->kind; }

db_result db_query(db_conn* c, const char* sql, std::initializer_list<std::string_view> params) {
  if (!c) return failed("no database connection came free in time");
  return c->pool->kind == db_kind::postgresql ? pg_query(c, sql, params, clock_ms() + db_statement_ms)
                                              : sqlite_query(c, sql, params);
}

namespace {
// A relaxed transaction's connection goes back to syncing every commit.
void end_relaxed(db_tx* tx) {
  if (!tx->relaxed) return;
  tx->relaxed = false;
  run_script(tx->conn, "PRAGMA synchronous=FULL");
}
}  // namespace

db_tx::db_tx(db_conn* c, bool write, bool durable) : conn(c) {
  if (!c) return;
  if (c->pool->kind == db_kind::sqlite && write) {
    if (!c->pool->writer.try_lock_for(std::chrono::milliseconds(db_lease_ms))) return;
    c->holds_writer = true;
  }
  // (SQLite takes the setting only outside a transaction)
  if (c->pool->kind == db_kind::sqlite && !durable) relaxed = run_script(c, "PRAGMA synchronous=NORMAL").ok();
  const char* begin = c->pool->kind == db_kind::sqlite ? (write ? "BEGIN IMMEDIATE" : "BEGIN")
                                                       : "BEGIN ISOLATION LEVEL READ COMMITTED";
  open = run_script(c, begin).ok();
  c->in_tx = open;
  if (!open && c->holds_writer) {
    c->holds_writer = false;
    c->pool->writer.unlock();
  }
}

db_tx::~db_tx() {
  if (!conn) return;
  if (open) run_script(conn, "ROLLBACK");
  end_relaxed(this);
  conn->in_tx = false;
  if (conn->holds_writer) {
    conn->holds_writer = false;
    conn->pool->writer.unlock();
  }
}

bool db_tx::commit() {
  if (!open) return false;
  db_result r = run_script(conn, "COMMIT");
  open = false;
  if (!r.ok()) run_script(conn, "ROLLBACK");
  conn->in_tx = false;
  end_relaxed(this);
  if (conn->holds_writer) {
    conn->holds_writer = false;
    conn->pool->writer.unlock();
  }
  return r.ok();
}

int db_ping(db_pool* pool, int timeout_ms) {
  int64_t deadline = clock_ms() + timeout_ms;
  db_lease l(pool, timeout_ms);
  if (!l.conn) return 0;
  if (pool->kind == db_kind::sqlite) {
    db_result r = db_query(l.conn, "SELECT 1");
    return r.ok() && !r.rows.empty() ? 1 : 0;
  }
  db_result r = pg_query(l.conn, "SELECT 1", {}, deadline);
  return r.ok() && !r.rows.empty() ? 1 : 0;
}
