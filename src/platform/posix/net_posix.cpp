#include "platform/net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace plat {

bool net_init() { return true; }
void net_cleanup() {}

static sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

socket_t net_listen_loopback(int backlog, int* port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return bad_socket;
  sockaddr_in a = loopback(0);
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(s);
    return bad_socket;
  }
  if (port) *port = ntohs(a.sin_port);
  return s;
}

int net_wait_readable(socket_t s, int timeout_ms) {
  pollfd p{static_cast<int>(s), POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r > 0 ? 1 : 0;
}

static void no_delay(int s) {
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

socket_t net_accept(socket_t listener) {
  int c = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return bad_socket;
  no_delay(c);
  return c;
}

socket_t net_connect_loopback(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return bad_socket;
  sockaddr_in a = loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return bad_socket;
  }
  no_delay(s);
  return s;
}

void net_set_timeouts(socket_t s, int timeout_ms) {
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int net_recv(socket_t s, char* buf, int len, int timeout_ms) {
  pollfd p{static_cast<int>(s), POLLIN, 0};
  int r;
  do r = poll(&p, 1, timeout_ms);
  while (r < 0 && errno == EINTR);
  if (r <= 0) return -1;
  ssize_t n;
  do n = recv(static_cast<int>(s), buf, static_cast<size_t>(len), 0);
  while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int net_send(socket_t s, const char* buf, int len) {
  ssize_t n;
  do n = send(static_cast<int>(s), buf, static_cast<size_t>(len), MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

void net_shutdown_close(socket_t s) {
  shutdown(static_cast<int>(s), SHUT_RDWR);
  close(static_cast<int>(s));
}

void net_close(socket_t s) { close(static_cast<int>(s)); }

}  // namespace plat
