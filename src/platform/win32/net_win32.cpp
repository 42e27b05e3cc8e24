#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/net.h"

namespace plat {

bool net_init() {
  WSADATA wsa;
  return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

void net_cleanup() { WSACleanup(); }

static SOCKET as_socket(socket_t s) { return static_cast<SOCKET>(s); }

static sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

static void not_inheritable(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

static void no_delay(SOCKET s) {
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

socket_t net_listen_loopback(int backlog, int* port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return bad_socket;
  not_inheritable(s);
  sockaddr_in a = loopback(0);
  int len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    closesocket(s);
    return bad_socket;
  }
  if (port) *port = ntohs(a.sin_port);
  return static_cast<socket_t>(s);
}

static int wait_for(SOCKET s, bool read, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int r = read ? select(0, &set, nullptr, nullptr, &tv) : select(0, nullptr, &set, nullptr, &tv);
  if (r == SOCKET_ERROR) return -1;
  return r > 0 ? 1 : 0;
}

int net_wait_readable(socket_t s, int timeout_ms) { return wait_for(as_socket(s), true, timeout_ms); }

socket_t net_accept(socket_t listener) {
  SOCKET c = accept(as_socket(listener), nullptr, nullptr);
  if (c == INVALID_SOCKET) return bad_socket;
  not_inheritable(c);
  no_delay(c);
  return static_cast<socket_t>(c);
}

socket_t net_connect_loopback(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return bad_socket;
  not_inheritable(s);
  sockaddr_in a = loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    return bad_socket;
  }
  no_delay(s);
  return static_cast<socket_t>(s);
}

void net_set_timeouts(socket_t s, int timeout_ms) {
  DWORD ms = static_cast<DWORD>(timeout_ms);
  setsockopt(as_socket(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
  setsockopt(as_socket(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

int net_recv(socket_t s, char* buf, int len, int timeout_ms) {
  if (wait_for(as_socket(s), true, timeout_ms) <= 0) return -1;
  int n = recv(as_socket(s), buf, len, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int net_send(socket_t s, const char* buf, int len) {
  int n = send(as_socket(s), buf, len, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void net_shutdown_close(socket_t s) {
  shutdown(as_socket(s), SD_BOTH);
  closesocket(as_socket(s));
}

void net_close(socket_t s) { closesocket(as_socket(s)); }

}  // namespace plat
