#include "http/server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "http/api.h"
#include "json/json.h"
#include "platform/fs.h"
#include "platform/instance.h"
#include "platform/sys.h"
#include "store/store.h"

std::string host_value;
std::string token;
std::atomic<int32_t> active_connections{0};

namespace {

constexpr int accept_wait_ms = 500;
constexpr int accept_backoff_ms = 50;  // after a failed accept (e.g. out of descriptors)
constexpr int drain_poll_ms = 20;
constexpr size_t font_max = 8388608;
constexpr size_t small_answer = 65536;  // head and body go out in one send below this

const char* const security_policy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

const char* const json_type = "application/json; charset=utf-8";

struct font_row {
  const char* path;
  const char* file;
};
const font_row fonts[] = {
    {"/fonts/mesk-sans-sc.woff2", "mesk-sans-sc.woff2"},
    {"/fonts/mesk-inter.woff2", "mesk-inter.woff2"},
    {"/fonts/mesk-jetbrains-mono.woff2", "mesk-jetbrains-mono.woff2"},
};

struct text_row {
  const char* path;
  const char* file;
  const char* type;
};
const text_row text_files[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/index.html", "index.html", "text/html; charset=utf-8"},
    {"/style.css", "style.css", "text/css; charset=utf-8"},
    {"/studio.css", "studio.css", "text/css; charset=utf-8"},
    {"/app.js", "app.js", "text/javascript; charset=utf-8"},
    {"/cloud.js", "cloud.js", "text/javascript; charset=utf-8"},
    {"/sync-merge.js", "sync-merge.js", "text/javascript; charset=utf-8"},
    {"/icon.svg", "icon.svg", "image/svg+xml"},
};

int ms_left(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

// Position of the first "\r\n\r\n" in text[from, to), or -1. Searching resumes
// where the last search stopped, so a request that trickles in is not rescanned.
int find_blank_line(const char* text, int from, int to) {
  for (int i = from; i + 4 <= to; ++i)
    if (text[i] == '\r' && text[i + 1] == '\n' && text[i + 2] == '\r' && text[i + 3] == '\n') return i;
  return -1;
}

bool ascii_equal_nocase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The request line as "%11s %255s" reads it: blanks (line ends too) are skipped
// before each word, a word longer than its room is cut and the rest read next.
bool parse_request_line(const char* text, char method[12], char path[256]) {
  const char* p = text;
  auto word = [&p](char* out, int room) {
    while (is_space(*p)) ++p;
    int n = 0;
    while (*p && !is_space(*p) && n < room) out[n++] = *p++;
    out[n] = 0;
    return n > 0;
  };
  return word(method, 11) && word(path, 255);
}

// Content-Length: a whole decimal number from 0 to 4 MiB; empty counts as 0.
bool content_length_ok(const char* value, int32_t* out) {
  char* end = nullptr;
  long long v = strtoll(value, &end, 10);
  if (*end != 0) return false;
  if (static_cast<unsigned long long>(v) > static_cast<unsigned long long>(request_body_max)) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

void serve_static(const http_io& io, const char* method, const char* path) {
  if (strcmp(method, "GET") != 0) return respond(io, 405, "application/json", "{}");
  std::string web = path_join(app_root, "web");
  for (const auto& f : fonts) {
    if (strcmp(path, f.path) != 0) continue;
    auto bytes = plat::file_read_all(path_join(path_join(web, "fonts"), f.file), font_max);
    if (!bytes || bytes->empty()) return respond(io, 404, "text/plain; charset=utf-8", "Not found");
    return respond_bytes(io, 200, "font/woff2", bytes->data(), bytes->size());
  }
  for (const auto& t : text_files) {
    if (strcmp(path, t.path) != 0) continue;
    cstr text(read_utf8(path_join(web, t.file), store_file_limit));
    if (!text) return respond(io, 404, t.type, "Not found");
    return respond(io, 200, t.type, text.get());
  }
  respond(io, 404, "text/html; charset=utf-8", "Not found");
}

// Token and Origin, then the route.
void serve_api(const http_io& io, const api_request& r) {
  char value[header_value_max + 1];
  std::string expected = "Bearer " + token;
  bool authorised = header_value(r.request, "Authorization", value) && expected == value;
  plat::secure_wipe(value, sizeof value);
  plat::secure_wipe(expected.data(), expected.size());
  if (!authorised) return respond(io, 403, json_type, "{\"error\":\"会话已失效。请重新打开程序。\"}");
  if (header_value(r.request, "Origin", value) && ("http://" + host_value) != value)
    return respond(io, 403, "application/json", "{}");
  api_handle(io, r);
}

// The request buffer. Not zero-filled: only received bytes are ever read (each
// receive puts a NUL behind them), and zeroing 4 MiB per connection cost two
// thirds of the throughput. The received bytes are zeroed before it goes back
// (they may hold the token).
struct request_buffer {
  char* data = static_cast<char*>(malloc(request_buffer_size));
  int held = 0;
  ~request_buffer() {
    if (!data) return;
    plat::secure_wipe(data, static_cast<size_t>(held) + 1);
    free(data);
  }
};

void handle(const http_io& io, request_buffer& buf) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request_deadline_ms);
  auto receive = [&](int len) {
    int wait = ms_left(deadline);
    if (wait > receive_timeout_ms) wait = receive_timeout_ms;
    if (wait <= 0) return -1;
    int n = io.recv(io.ctx, buf.data + buf.held, len, wait);
    if (n > 0) {
      buf.held += n;
      buf.data[buf.held] = 0;
    }
    return n;
  };

  // Head: up to the blank line.
  int head_len = 0;
  int searched = 0;
  for (;;) {
    if (receive(request_buffer_size - 1 - buf.held) <= 0) return;
    int hit = find_blank_line(buf.data, searched, buf.held);
    // The head is text: a NUL ends it before any blank line could follow, so the request
    // cannot be parsed and gets no answer (the body after the blank line may hold anything).
    int text_end = hit >= 0 ? hit : buf.held;
    if (std::memchr(buf.data + searched, 0, static_cast<size_t>(text_end - searched))) return;
    if (hit >= 0) {
      head_len = hit + 4;
      break;
    }
    if (buf.held > request_head_max) return;
    searched = buf.held > 3 ? buf.held - 3 : 0;
  }

  char method[12], path[256];
  if (!parse_request_line(buf.data, method, path)) return;

  char value[header_value_max + 1];
  if (!header_value(buf.data, "Host", value) || host_value != value)
    return respond(io, 403, json_type, "{\"error\":\"请求来源无效。\"}");

  int32_t content_length = 0;
  if (header_value(buf.data, "Content-Length", value) && !content_length_ok(value, &content_length))
    return respond(io, 413, "application/json", "{\"error\":\"请求超过 2 MB。\"}");
  // A head that arrived past 16 KiB in one piece leaves less room than a full body needs.
  if (static_cast<int64_t>(head_len) + content_length > request_buffer_size - 1)
    return respond(io, 413, "application/json", "{\"error\":\"请求超过 2 MB。\"}");

  int end = head_len + content_length;
  while (buf.held < end)
    if (receive(end - buf.held) <= 0) return;
  buf.data[end] = 0;  // bytes beyond the declared body are ignored

  if (strncmp(path, "/api/", 5) == 0)
    serve_api(io, api_request{method, path, buf.data, buf.data + head_len, content_length});
  else
    serve_static(io, method, path);
}

int socket_recv(void* ctx, char* buf, int len, int timeout_ms) {
  return plat::net_recv(*static_cast<plat::socket_t*>(ctx), buf, len, timeout_ms);
}
int socket_send(void* ctx, const char* buf, int len) {
  return plat::net_send(*static_cast<plat::socket_t*>(ctx), buf, len);
}

}  // namespace

void respond_bytes(const http_io& io, int status, const char* content_type, const char* body, size_t len) {
  char head[768];
  int n = snprintf(head, sizeof head,
                   "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n"
                   "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                   "Content-Security-Policy: %s\r\n\r\n",
                   status, status == 200 ? "OK" : "Error", content_type, static_cast<int>(len), security_policy);
  if (n < 0 || n >= static_cast<int>(sizeof head)) return;
  auto send_all = [&io](const char* p, size_t left) {
    while (left > 0) {
      int chunk = left > (1u << 20) ? (1 << 20) : static_cast<int>(left);
      int sent = io.send(io.ctx, p, chunk);
      if (sent <= 0) return false;
      p += sent;
      left -= static_cast<size_t>(sent);
    }
    return true;
  };
  if (len <= small_answer) {
    // One segment for small answers: a head sent alone would wait for the peer's
    // delayed acknowledgement before the body could follow.
    std::string whole(head, static_cast<size_t>(n));
    whole.append(body, len);
    send_all(whole.data(), whole.size());
    return;
  }
  if (send_all(head, static_cast<size_t>(n))) send_all(body, len);
}

void respond(const http_io& io, int status, const char* content_type, const char* text) {
  respond_bytes(io, status, content_type, text, strlen(text));
}

int header_value(const char* request, const char* name, char out[header_value_max + 1]) {
  size_t name_len = strlen(name);
  const char* line = strstr(request, "\r\n");
  if (!line) return 0;
  line += 2;
  for (;;) {
    const char* eol = strstr(line, "\r\n");
    if (!eol || eol == line) return 0;
    size_t len = static_cast<size_t>(eol - line);
    if (len > name_len && ascii_equal_nocase(line, name, name_len) && line[name_len] == ':') {
      const char* v = line + name_len + 1;
      while (v < eol && (*v == ' ' || *v == '\t')) ++v;
      size_t vlen = static_cast<size_t>(eol - v);
      if (vlen > header_value_max) return 0;
      memcpy(out, v, vlen);
      out[vlen] = 0;
      return 1;
    }
    line = eol + 2;
  }
}

void handle_request(const http_io& io) {
  request_buffer buf;
  if (!buf.data) return;
  handle(io, buf);
}

void connection(plat::socket_t s) {
  plat::net_set_timeouts(s, receive_timeout_ms);
  handle_request(http_io{&s, socket_recv, socket_send});
  plat::net_shutdown_close(s);
  active_connections.fetch_sub(1);
}

int serve(plat::socket_t listener) {
  while (!plat::stop_is_set()) {
    if (plat::net_wait_readable(listener, accept_wait_ms) <= 0) continue;
    plat::socket_t s = plat::net_accept(listener);
    if (s == plat::bad_socket) {
      std::this_thread::sleep_for(std::chrono::milliseconds(accept_backoff_ms));
      continue;
    }
    active_connections.fetch_add(1);
    try {
      std::thread(connection, s).detach();
    } catch (...) {
      plat::net_close(s);
      active_connections.fetch_sub(1);
    }
  }
  plat::net_close(listener);
  while (active_connections.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(drain_poll_ms));
  return 0;
}
