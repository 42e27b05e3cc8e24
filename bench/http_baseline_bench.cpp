// Baseline for bench/http_bench.py: the smallest loopback server of the same
// shape (thread per connection, one request, close) answering one fixed body
// read once at start. Prints its port, serves until killed.
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/fs.h"
#include "platform/net.h"

int main(int argc, char** argv) {
  std::string body = argc > 1 ? plat::file_read_all(argv[1], 1u << 26).value_or("") : "ok";
  plat::net_init();
  int port = 0;
  plat::socket_t listener = plat::net_listen_loopback(128, &port);
  if (listener == plat::bad_socket) return 1;
  std::printf("%d\n", port);
  std::fflush(stdout);
  std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  for (;;) {
    plat::socket_t s = plat::net_accept(listener);
    if (s == plat::bad_socket) continue;
    std::thread([s, &answer] {
      char buf[16384];
      std::string got;
      int n;
      while (got.find("\r\n\r\n") == std::string::npos && (n = plat::net_recv(s, buf, sizeof buf, 15000)) > 0)
        got.append(buf, static_cast<size_t>(n));
      size_t off = 0;
      while (off < answer.size() && (n = plat::net_send(s, answer.data() + off, static_cast<int>(answer.size() - off))) > 0)
        off += static_cast<size_t>(n);
      plat::net_shutdown_close(s);
    }).detach();
  }
}
