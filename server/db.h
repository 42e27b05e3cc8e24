// Storage for the account service: one small SQL driver over SQLite or PostgreSQL,
// a pool of connections, and the schema with its migrations (the same for both).
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class db_kind { sqlite, postgresql };

enum class db_status {
  ok,
  unique_violation,  // a UNIQUE or PRIMARY KEY constraint refused the write
  error,             // anything else: the caller answers 500/503
};

struct db_result {
  db_status status = db_status::ok;
  int64_t changes = 0;  // rows changed by INSERT/UPDATE/DELETE
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::string error;
  bool ok() const { return status == db_status::ok; }
};

struct db_conn;
struct db_pool;

// Opens the pool and brings the schema up to date. target is "postgresql://..." (or
// "postgres://...") for PostgreSQL, else the path of the SQLite file. nullptr with *err set.
db_pool* db_open(const std::string& target, int connections, std::string* err);
void db_close(db_pool* pool);
db_kind db_pool_kind(const db_pool* pool);
db_kind db_conn_kind(const db_conn* conn);

// How long the database may take before a request gives up and answers 503: a statement
// (PostgreSQL: also its statement_timeout), opening a connection, waiting for a free one.
constexpr int db_statement_ms = 5000;
constexpr int db_connect_ms = 3000;
constexpr int db_lease_ms = 5000;

// A borrowed connection; back to the pool when it goes out of scope. conn stays nullptr
// when none came free within wait_ms (every query on it then fails).
struct db_lease {
  db_pool* pool = nullptr;
  db_conn* conn = nullptr;
  explicit db_lease(db_pool* p, int wait_ms = db_lease_ms);
  ~db_lease();
  db_lease(const db_lease&) = delete;
  db_lease& operator=(const db_lease&) = delete;
};

// One statement with $1, $2, ... parameters (all passed as text; SQLite and PostgreSQL
// both accept that spelling, numbered in the order of first use).
db_result db_query(db_conn* c, const char* sql, std::initializer_list<std::string_view> params = {});

// A transaction on the leased connection. write=true takes the write lock at once (SQLite:
// BEGIN IMMEDIATE under the process's writer mutex), so a writer never waits half-way.
// durable=false (SQLite): the commit is not synced to disk at once (it survives a crash of
// the service, maybe not a power cut); for bookkeeping such as sign-in counts.
struct db_tx {
  db_conn* conn;
  bool open = false;
  bool relaxed = false;
  db_tx(db_conn* c, bool write, bool durable = true);
  ~db_tx();  // rolls back unless committed
  bool commit();
  db_tx(const db_tx&) = delete;
  db_tx& operator=(const db_tx&) = delete;
};

// Health probe: 1 when a trivial query answers within timeout_ms.
int db_ping(db_pool* pool, int timeout_ms);

// The schema's version after db_open (the number of migrations applied).
int db_schema_version(db_pool* pool);
