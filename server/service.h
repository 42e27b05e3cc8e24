// The account service: accounts, sign-in tokens and one progress record per account,
// served over HTTP(S) with cpp-httplib.
#pragma once
#include <string>

#include "auth.h"

struct service_config {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string data_dir;       // holds the SQLite file when no --database is given
  std::string database;       // "postgresql://..." or empty for SQLite
  std::string tls_cert, tls_key;
  int threads = 64;           // connection workers (a keep-alive connection holds one)
  int db_connections = 8;
  argon2_params argon2;
  int parallel_hashes = 0;    // 0: the number of processors
  int free_failures = 3;
  int max_failures = 10;      // per user name
  int max_failures_per_address = 100;
  int lockout_seconds = 900;
  bool trust_proxy = false;   // take the client address from X-Forwarded-For of a loopback peer
};

// Runs until SIGTERM/SIGINT; the process's exit code (0 after a clean stop).
int service_run(const service_config& cfg);
