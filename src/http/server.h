// The loopback server: accept loop, one thread per connection, the request gate,
// static files, and the one response format every answer uses.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net.h"

constexpr int request_head_max = 16384;
constexpr int request_body_max = 4194304;                                 // 4 MiB
constexpr int request_buffer_size = request_head_max + request_body_max + 1;  // NUL at the end
constexpr int receive_timeout_ms = 15000;   // per receive and per send
constexpr int request_deadline_ms = 30000;  // the whole request, so a trickling client cannot hold a thread
constexpr int header_value_max = 255;

extern std::string host_value;  // "127.0.0.1:<port>"; set before serve starts
extern std::string token;       // 48 lower-case hex digits; set before serve starts
extern std::atomic<int32_t> active_connections;

// Where an answer goes. A connection writes to its socket; tests and the fuzzer
// read from and write to memory.
struct http_io {
  void* ctx;
  // Bytes received (at most len), waiting at most timeout_ms; 0 peer closed, -1 error or time-out.
  int (*recv)(void* ctx, char* buf, int len, int timeout_ms);
  // Bytes sent by one send (at most len), or -1.
  int (*send)(void* ctx, const char* buf, int len);
};

// Runs the accept loop until the stop signal is set and every connection thread
// has finished; closes the listener; returns 0.
int serve(plat::socket_t listener);

// Handles one request on an accepted socket and closes it; decrements active_connections last.
void connection(plat::socket_t s);

// Reads one request from io, passes the gate and answers it (or not, for what
// cannot be parsed). Everything connection does except owning the socket.
void handle_request(const http_io& io);

// Sends head and counted body; a failed send drops the rest.
void respond_bytes(const http_io& io, int status, const char* content_type, const char* body, size_t len);
// respond_bytes with the text up to its NUL.
void respond(const http_io& io, int status, const char* content_type, const char* text);

// Finds a header in the request text (NUL-terminated); 1 and the value in out
// (NUL-terminated, at most 255 bytes), or 0 when absent or longer than 255 bytes.
int header_value(const char* request, const char* name, char out[header_value_max + 1]);
