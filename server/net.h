// The connection side of the account service: our own handling of each accepted socket
// (plain or TLS), so that a few slow, idle or oversized clients cannot hold the workers
// that everybody else needs. The HTTP parsing and routing stay the library's.
#pragma once
#include <httplib.h>
#include <openssl/ssl.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct net_limits {
  size_t head_bytes = 32 * 1024;  // request line and headers together
  int head_lines = 100;
  int head_timeout_ms = 10000;     // from a request's first byte to the end of its head
  int request_timeout_ms = 30000;  // from the first byte to the end of its body
  int idle_timeout_ms = 5000;      // a kept-alive connection waiting for its next request
  int write_timeout_ms = 10000;
  int per_address = 32;            // open connections from one client address (IPv6: per /64)
  size_t waiting_max = 4096;       // accepted connections waiting for a worker
  int requests_per_connection = 1000;
  bool exempt_loopback = false;    // a local reverse proxy carries many clients
};

// Who sent the request being handled on this thread, for the access log of requests that
// were refused before their head was understood.
struct connection_note {
  std::string peer;
  std::string first_line;  // the request line as received (at most 200 bytes)
  bool close = false;      // end the connection after this answer
};
connection_note& current_connection();

// The key that limits per client address are counted under: the address itself, or for
// IPv6 its /64 network (one subscriber's share); "" when it is not an address.
std::string address_group(const std::string& address);

class guarded_server : public httplib::Server {
 public:
  // tls may be nullptr (plain HTTP); the server takes it over.
  guarded_server(const net_limits& limits, int workers, SSL_CTX* tls);
  ~guarded_server() override;

 private:
  bool process_and_close_socket(socket_t sock) override;
  void serve(int sock, const std::string& peer, int port);
  void worker();
  void stop_workers();

  friend struct admission_queue;
  net_limits limits_;
  SSL_CTX* tls_ = nullptr;
  int workers_ = 0;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::condition_variable ready_;
  struct job {
    int sock;
    std::string peer;
    int port;
    std::string group;
  };
  std::deque<job> jobs_;
  std::map<std::string, int> open_by_group_;
  bool stopping_ = false;
  int stop_pipe_[2] = {-1, -1};  // readable once the server stops: idle connections end at once
};

// The TLS context for --tls-cert/--tls-key, or nullptr with a message saying what is wrong.
SSL_CTX* tls_context(const std::string& cert, const std::string& key, std::string* why);
