#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

thread_local connection_note note;
// Set while the accept loop hands a socket over: the socket is admitted (or refused) on the
// accepting thread, and served later by a worker of our own.
thread_local bool admitting = false;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Waits for fd to become ready for events until deadline_ms; also wakes when stop_fd is
// readable. 1 ready, 0 timed out or stopping, -1 error.
int wait_fd(int fd, short events, int64_t deadline_ms, int stop_fd = -1) {
  for (;;) {
    int64_t left = deadline_ms - now_ms();
    if (left <= 0) return 0;
    pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
    int n = ::poll(p, stop_fd >= 0 ? 2 : 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) continue;
    // What a client already sent is answered even while the service stops.
    if (p[0].revents & (events | POLLHUP | POLLERR)) return 1;
    if (stop_fd >= 0 && (p[1].revents & POLLIN)) return 0;
  }
}

// One connection as the library's request parser sees it: reads come from our own buffer
// (so pipelined requests are kept, in order), the head is bounded in size and lines, and
// every read and write has a deadline.
class guarded_stream : public httplib::Stream {
 public:
  guarded_stream(int sock, SSL* ssl, const std::string& peer, int port, const net_limits& l)
      : sock_(sock), ssl_(ssl), peer_(peer), port_(port), limits_(l) {}

  bool broken = false;  // a limit or deadline was hit, or the peer went away

  bool buffered() const { return pos_ < len_ || (ssl_ && SSL_pending(ssl_) > 0); }

  void begin_request() {
    int64_t now = now_ms();
    head_deadline_ = now + limits_.head_timeout_ms;
    request_deadline_ = now + limits_.request_timeout_ms;
    in_head_ = true;
    head_bytes_ = 0;
    head_lines_ = 0;
    line_len_ = 0;
    note.first_line.clear();
    note.close = false;
  }

  // Waits for the first byte of the next request.
  bool wait_next(int stop_fd) {
    if (buffered()) return true;
    return wait_fd(sock_, POLLIN, now_ms() + limits_.idle_timeout_ms, stop_fd) == 1;
  }

  bool is_readable() const override {
    if (buffered()) return true;
    return wait_fd(sock_, POLLIN, deadline()) == 1;
  }

  bool is_writable() const override { return wait_fd(sock_, POLLOUT, now_ms() + limits_.write_timeout_ms) == 1; }

  ssize_t read(char* ptr, size_t size) override {
    if (broken) return -1;
    if (pos_ == len_) {
      int got = fill();
      if (got <= 0) {
        broken = true;
        return got;
      }
    }
    size_t k = std::min(size, len_ - pos_);
    if (in_head_) {
      for (size_t i = 0; i < k; i++) {
        char c = buf_[pos_ + i];
        if (++head_bytes_ > limits_.head_bytes) return refuse();
        if (head_lines_ == 0 && c != '\r' && c != '\n' && note.first_line.size() < 200) note.first_line += c;
        if (c == '\n') {
          if (line_len_ == 0 && head_lines_ > 0) {  // the empty line: the head is complete
            in_head_ = false;
            k = i + 1;
            break;
          }
          if (++head_lines_ > limits_.head_lines) return refuse();
          line_len_ = 0;
        } else if (c != '\r') {
          line_len_++;
        }
      }
    }
    std::memcpy(ptr, buf_ + pos_, k);
    pos_ += k;
    return static_cast<ssize_t>(k);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (broken) return -1;
    int64_t deadline = now_ms() + limits_.write_timeout_ms;
    size_t done = 0;
    while (done < size) {
      short want = POLLOUT;
      if (ssl_) {
        int n = SSL_write(ssl_, ptr + done, static_cast<int>(std::min<size_t>(size - done, 1 << 20)));
        if (n > 0) {
          done += static_cast<size_t>(n);
          continue;
        }
        int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_WANT_READ) want = POLLIN;
        else if (e != SSL_ERROR_WANT_WRITE) return fail_write();
      } else {
        ssize_t n = ::send(sock_, ptr + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
          done += static_cast<size_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return fail_write();
      }
      if (wait_fd(sock_, want, deadline) != 1) return fail_write();
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = peer_;
    port = port_;
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    ip.clear();
    port = -1;
    if (getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &n) != 0) return;
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
      auto* s = reinterpret_cast<sockaddr_in*>(&a);
      inet_ntop(AF_INET, &s->sin_addr, text, sizeof text);
      port = ntohs(s->sin_port);
    } else if (a.ss_family == AF_INET6) {
      auto* s = reinterpret_cast<sockaddr_in6*>(&a);
      inet_ntop(AF_INET6, &s->sin6_addr, text, sizeof text);
      port = ntohs(s->sin6_port);
    }
    ip = text;
  }

  socket_t socket() const override { return sock_; }

 private:
  int64_t deadline() const { return in_head_ ? head_deadline_ : request_deadline_; }

  ssize_t refuse() {
    broken = true;
    return -1;
  }
  ssize_t fail_write() {
    broken = true;
    return -1;
  }

  // Fills the empty buffer: >0 bytes, 0 at the end of the stream, -1 on error or deadline.
  int fill() {
    pos_ = len_ = 0;
    for (;;) {
      short want = POLLIN;
      if (ssl_) {
        int n = SSL_read(ssl_, buf_, sizeof buf_);
        if (n > 0) return static_cast<int>(len_ = static_cast<size_t>(n));
        int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        if (e == SSL_ERROR_WANT_WRITE) want = POLLOUT;
        else if (e != SSL_ERROR_WANT_READ) return -1;
      } else {
        ssize_t n = ::recv(sock_, buf_, sizeof buf_, 0);
        if (n > 0) return static_cast<int>(len_ = static_cast<size_t>(n));
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      }
      if (wait_fd(sock_, want, deadline()) != 1) return -1;
    }
  }

  int sock_;
  SSL* ssl_;
  std::string peer_;
  int port_;
  const net_limits& limits_;
  char buf_[16384];
  size_t pos_ = 0, len_ = 0;
  bool in_head_ = true;
  size_t head_bytes_ = 0;
  int head_lines_ = 0;
  size_t line_len_ = 0;
  int64_t head_deadline_ = 0, request_deadline_ = 0;
};

bool peer_of(int sock, std::string* ip, int* port) {
  sockaddr_storage a{};
  socklen_t n = sizeof a;
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&a), &n) != 0) return false;
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    auto* s = reinterpret_cast<sockaddr_in*>(&a);
    inet_ntop(AF_INET, &s->sin_addr, text, sizeof text);
    *port = ntohs(s->sin_port);
  } else if (a.ss_family == AF_INET6) {
    auto* s = reinterpret_cast<sockaddr_in6*>(&a);
    inet_ntop(AF_INET6, &s->sin6_addr, text, sizeof text);
    *port = ntohs(s->sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&s->sin6_addr)) {
      in_addr v4;
      std::memcpy(&v4, &s->sin6_addr.s6_addr[12], 4);
      inet_ntop(AF_INET, &v4, text, sizeof text);
    }
  } else {
    return false;
  }
  *ip = text;
  return true;
}

bool is_loopback(const std::string& ip) {
  in_addr v4;
  if (inet_pton(AF_INET, ip.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  return inet_pton(AF_INET6, ip.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// Said to a connection that is refused at the door (too many from its address, or too many
// waiting): short enough never to block the accepting thread.
void turn_away(int sock) {
  static const std::string answer = [] {
    std::string body = "{\"error\":\"连接过多，请稍后再试。\"}";
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\n"
           "Retry-After: 5\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  }();
  (void)!::send(sock, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  ::shutdown(sock, SHUT_WR);
  ::close(sock);
}

}  // namespace

connection_note& current_connection() { return note; }

std::string address_group(const std::string& address) {
  in_addr v4;
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &v4, text, sizeof text);
    return text;
  }
  in6_addr v6;
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return "";
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    std::memcpy(&v4, &v6.s6_addr[12], 4);
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &v4, text, sizeof text);
    return text;
  }
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return "::1";
  std::memset(&v6.s6_addr[8], 0, 8);  // one subscriber gets a whole /64
  char text[INET6_ADDRSTRLEN];
  inet_ntop(AF_INET6, &v6, text, sizeof text);
  return std::string(text) + "/64";
}

// The library's task queue: each accepted socket is admitted on the accepting thread.
struct admission_queue : httplib::TaskQueue {
  guarded_server* server;
  explicit admission_queue(guarded_server* s) : server(s) {}
  void enqueue(std::function<void()> fn) override {
    admitting = true;
    fn();
    admitting = false;
  }
  void shutdown() override { server->stop_workers(); }
};

guarded_server::guarded_server(const net_limits& limits, int workers, SSL_CTX* tls)
    : limits_(limits), tls_(tls), workers_(workers) {
  if (pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
  new_task_queue = [this] { return new admission_queue(this); };
  for (int i = 0; i < workers_; i++) threads_.emplace_back([this] { worker(); });
}

guarded_server::~guarded_server() {
  stop_workers();
  if (stop_pipe_[0] >= 0) ::close(stop_pipe_[0]);
  if (stop_pipe_[1] >= 0) ::close(stop_pipe_[1]);
  if (tls_) SSL_CTX_free(tls_);
}

void guarded_server::stop_workers() {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
  }
  if (stop_pipe_[1] >= 0) (void)!::write(stop_pipe_[1], "x", 1);
  ready_.notify_all();
  for (auto& t : threads_) t.join();
  threads_.clear();
  std::lock_guard<std::mutex> g(lock_);
  for (auto& j : jobs_) ::close(j.sock);
  jobs_.clear();
}

bool guarded_server::process_and_close_socket(socket_t sock) {
  std::string peer;
  int port = -1;
  if (!admitting || !peer_of(sock, &peer, &port)) {
    ::close(sock);
    return false;
  }
  std::string group = address_group(peer);
  bool capped = !(limits_.exempt_loopback && is_loopback(peer));
  {
    std::lock_guard<std::mutex> g(lock_);
    bool full = stopping_ || jobs_.size() >= limits_.waiting_max;
    auto it = open_by_group_.find(group);
    if (!full && capped && it != open_by_group_.end() && it->second >= limits_.per_address) full = true;
    if (!full) {
      open_by_group_[group]++;
      jobs_.push_back({sock, std::move(peer), port, std::move(group)});
      ready_.notify_one();
      return true;
    }
  }
  turn_away(sock);
  return false;
}

void guarded_server::worker() {
  for (;;) {
    job j;
    {
      std::unique_lock<std::mutex> g(lock_);
      ready_.wait(g, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, nothing left
      j = std::move(jobs_.front());
      jobs_.pop_front();
    }
    serve(j.sock, j.peer, j.port);
    ::close(j.sock);
    std::lock_guard<std::mutex> g(lock_);
    auto it = open_by_group_.find(j.group);
    if (it != open_by_group_.end() && --it->second <= 0) open_by_group_.erase(it);
  }
}

void guarded_server::serve(int sock, const std::string& peer, int port) {
  int flags = fcntl(sock, F_GETFL, 0);
  fcntl(sock, F_SETFL, flags | O_NONBLOCK);
  int yes = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  note.peer = peer;
  note.first_line.clear();

  SSL* ssl = nullptr;
  if (tls_) {
    ssl = SSL_new(tls_);
    if (!ssl) return;
    SSL_set_fd(ssl, sock);
    // The handshake has the same deadline as a request's head.
    int64_t deadline = now_ms() + limits_.head_timeout_ms;
    for (;;) {
      int r = SSL_accept(ssl);
      if (r == 1) break;
      int e = SSL_get_error(ssl, r);
      short want = e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
      if (!want || wait_fd(sock, want, deadline, stop_pipe_[0]) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return;
      }
    }
  }
  guarded_stream strm(sock, ssl, peer, port, limits_);
  for (int n = 0; n < limits_.requests_per_connection; n++) {
    if (!strm.wait_next(stop_pipe_[0])) break;
    bool stopping;
    {
      std::lock_guard<std::mutex> g(lock_);
      stopping = stopping_;
    }
    strm.begin_request();
    bool last = stopping || n + 1 == limits_.requests_per_connection;
    bool closed = false;
    bool ok = process_request(strm, last, closed, [&](httplib::Request& req) {
      req.remote_addr = peer;
      req.remote_port = port;
      if (ssl) req.ssl = ssl;
    });
    if (!ok || closed || strm.broken || last || note.close) break;
  }
  if (ssl) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
  }
}

// ---- TLS set-up ---------------------------------------------------------------------------

namespace {

// Why a file cannot be used, or "" when it is a readable, non-empty regular file.
std::string file_problem(const std::string& path, const char* what) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return std::string("找不到") + what + "文件 " + path;
  if (S_ISDIR(st.st_mode)) return path + " 是文件夹，不是" + what + "文件";
  if (!S_ISREG(st.st_mode)) return path + " 不是普通文件";
  std::ifstream f(path);
  if (!f) return std::string("无法读取") + what + "文件 " + path + "（权限不足？）";
  if (st.st_size == 0) return what + std::string("文件 ") + path + " 是空的";
  return "";
}

bool file_holds(const std::string& path, const char* marker) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str().find(marker) != std::string::npos;
}

// OpenSSL would prompt on the terminal for an encrypted key's pass phrase; a service
// never prompts. Records that a pass phrase was wanted.
int no_passphrase(char*, int, int, void* asked) {
  *static_cast<bool*>(asked) = true;
  return 0;
}

}  // namespace

SSL_CTX* tls_context(const std::string& cert, const std::string& key, std::string* why) {
  if (std::string p = file_problem(cert, "证书"); !p.empty()) return *why = p, nullptr;
  if (std::string p = file_problem(key, "私钥"); !p.empty()) return *why = p, nullptr;
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return *why = "无法初始化 TLS", nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  bool asked = false;
  SSL_CTX_set_default_passwd_cb(ctx, no_passphrase);
  SSL_CTX_set_default_passwd_cb_userdata(ctx, &asked);
  auto give_up = [&](std::string message) {
    SSL_CTX_free(ctx);
    ERR_clear_error();
    *why = std::move(message);
    return nullptr;
  };
  if (SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1) {
    if (file_holds(cert, "PRIVATE KEY") && file_holds(key, "CERTIFICATE"))
      return give_up("证书与私钥似乎写反了：" + cert + " 里是私钥，" + key + " 里是证书");
    return give_up(cert + " 不是 PEM 格式的证书");
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    // A key that reads well on its own was refused for not belonging to the certificate.
    if (FILE* f = std::fopen(key.c_str(), "r")) {
      EVP_PKEY* k = PEM_read_PrivateKey(f, nullptr, no_passphrase, &asked);
      std::fclose(f);
      if (k) {
        EVP_PKEY_free(k);
        return give_up("私钥 " + key + " 与证书 " + cert + " 不匹配");
      }
    }
    if (asked) return give_up("私钥 " + key + " 设有口令，服务无法输入口令；请提供不加密的私钥（权限设为 0600）");
    if (file_holds(key, "CERTIFICATE") && !file_holds(key, "PRIVATE KEY"))
      return give_up(key + " 里是证书而不是私钥（--tls-key 是否给错了文件？）");
    return give_up(key + " 不是 PEM 格式的私钥");
  }
  if (SSL_CTX_check_private_key(ctx) != 1) return give_up("私钥 " + key + " 与证书 " + cert + " 不匹配");
  SSL_CTX_set_default_passwd_cb(ctx, nullptr);
  SSL_CTX_set_default_passwd_cb_userdata(ctx, nullptr);
  return ctx;
}
