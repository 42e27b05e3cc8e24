// Loopback TCP sockets for the local service. Every socket is created not
// inheritable, so no child process (compiler, learner's program) holds one open.
#pragma once
#include <cstdint>

namespace plat {

using socket_t = intptr_t;
constexpr socket_t bad_socket = -1;

// Starts the socket layer (WSAStartup 2.2 on Windows); false on failure.
bool net_init();
void net_cleanup();

// A listener on 127.0.0.1 at a port the system picks; port receives the bound port.
// bad_socket when creating, binding or listening fails.
socket_t net_listen_loopback(int backlog, int* port);

// 1 readable (or a pending connection), 0 time-out, -1 error.
int net_wait_readable(socket_t s, int timeout_ms);

// Accepted connection (not inheritable, small writes not delayed), or bad_socket.
socket_t net_accept(socket_t listener);

// Client side, for tests and tools: a connection to 127.0.0.1:port, or bad_socket.
socket_t net_connect_loopback(int port);

// Receive and send time-outs of the socket (SO_RCVTIMEO / SO_SNDTIMEO).
void net_set_timeouts(socket_t s, int timeout_ms);

// Waits at most timeout_ms for data, then receives up to len bytes.
// Bytes received; 0 when the peer closed; -1 on error or time-out.
int net_recv(socket_t s, char* buf, int len, int timeout_ms);

// One send of up to len bytes; bytes sent, or -1 on error or send time-out.
// A peer that went away never raises a signal.
int net_send(socket_t s, const char* buf, int len);

// Shuts both directions down, then closes.
void net_shutdown_close(socket_t s);
void net_close(socket_t s);

}  // namespace plat
