// The account service: accounts, sign-in tokens and one progress record per account,
// served over HTTP(S) with cpp-httplib.
#pragma once
#include <string>
#include <vector>

#include "auth.h"

struct service_config {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string data_dir;       // holds the SQLite file when no --database is given
  std::string database;       // "postgresql://..." or empty for SQLite
  std::string tls_cert, tls_key;
  int threads = 256;          // connection workers (a connection holds one while it lasts)
  int db_connections = 8;
  argon2_params argon2;
  int parallel_hashes = 0;    // 0: the number of processors
  int free_failures = 3;
  int max_failures = 10;      // per user name
  int max_failures_per_address = 100;
  int lockout_seconds = 900;
  int max_registrations_per_address = 300;  // per hour
  bool trust_proxy = false;   // take the client address from X-Forwarded-For of a loopback peer
  // Client networks (a school's own addresses, "203.0.113.0/24") where many learners share
  // one address: sign-in failures there are limited per name only.
  std::vector<std::string> school_networks;
  int max_connections_per_address = 32;
  int head_timeout = 10;      // seconds for a request's line and headers
  int request_timeout = 30;   // seconds for a whole request, body included
  int idle_timeout = 5;       // seconds a kept-alive connection may wait for its next request
  int token_idle_days = 180;  // a sign-in unused this long ends
};

// Runs until SIGTERM/SIGINT; the process's exit code (0 after a clean stop).
int service_run(const service_config& cfg);
