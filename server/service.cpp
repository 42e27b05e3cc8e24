#include "service.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "db.h"
#include "json/json.h"
#include "net.h"
#include "json/text_buffer.h"

#include "service_internal.h"

namespace {

void do_health(const httplib::Request&, httplib::Response& res) {
  // A database that does not answer within the second is as good as none to a load balancer.
  if (!db_ping(svc->db, 800)) return fail(res, 503, msg::storage);
  answer(res, 200, "{\"status\":\"ok\",\"schema\":" + std::to_string(db_schema_version(svc->db)) + "}");
}

struct route {
  const char* path;
  const char* method;
  void (*run)(const httplib::Request&, httplib::Response&);
};

const route routes[] = {
    {"/v1/register", "POST", do_register},
    {"/v1/login", "POST", do_login},
    {"/v1/recover", "POST", do_recover},
    {"/v1/logout", "POST", do_logout},
    {"/v1/progress", "GET", do_progress_get},
    {"/v1/progress", "PUT", do_progress_put},
    {"/health", "GET", do_health},
};

void dispatch(const httplib::Request& req, httplib::Response& res) {
  std::string allow;
  for (const route& r : routes) {
    if (req.path != r.path) continue;
    if (req.method == r.method || (req.method == "HEAD" && std::strcmp(r.method, "GET") == 0))
      return r.run(req, res);
    allow += allow.empty() ? r.method : std::string(", ") + r.method;
  }
  if (allow.empty()) return fail(res, 404, msg::no_route);
  res.set_header("Allow", allow);
  fail(res, 405, msg::no_method);
}

// ---- access log -----------------------------------------------------------------------

std::mutex log_lock;
thread_local int64_t request_started_us = 0;

int64_t steady_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A log field as text that cannot pass for another field or line.
std::string log_field(std::string_view v, size_t most, bool spaces = false) {
  std::string out;
  for (char c : v.substr(0, most)) {
    unsigned char u = static_cast<unsigned char>(c);
    bool shown = u > 0x20 ? (c != '"' && c != '\\' && u != 0x7F) : (spaces && c == ' ');
    out += shown ? c : '?';
  }
  if (v.size() > most) out += "...";
  return out;
}

// One line per request: time, client, method, path (never the query, headers or body),
// status, answer bytes, milliseconds. A request refused before it was understood shows the
// connection's address and the start of what it sent.
void access_log(const httplib::Request& req, const httplib::Response& res) {
  char when[32];
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
  double ms = request_started_us ? (steady_us() - request_started_us) / 1000.0 : 0.0;
  request_started_us = 0;
  connection_note& note = current_connection();
  if (res.get_header_value("Connection") == "close") note.close = true;
  std::string who, what;
  if (req.method.empty() || req.remote_addr.empty()) {
    // Nothing more can be trusted about the connection's stream: end it.
    note.close = true;
    who = log_field(note.peer.empty() ? "-" : note.peer, 64);
    std::string_view line = note.first_line;
    size_t q = line.find('?');
    if (q != std::string_view::npos) line = line.substr(0, q);  // never a query
    what = "(refused) " + log_field(line, 120, true);
  } else {
    who = log_field(client_address(req), 64);
    what = log_field(req.method, 16) + " " + log_field(req.path, 200);
  }
  std::lock_guard<std::mutex> g(log_lock);
  std::printf("%s %s \"%s\" %d %zu %.1fms\n", when, who.c_str(), what.c_str(), res.status, res.body.size(), ms);
  std::fflush(stdout);
}

const char* message_for(int status) {
  switch (status) {
    case 404: return msg::no_route;
    case 405: return msg::no_method;
    case 411: return msg::need_length;
    case 413: return msg::too_large;
    case 500: return msg::internal;
    case 503: return msg::storage;
    default: return msg::bad_request;
  }
}

// The listening socket, as the library made it (for its backlog, see service_run).
int listening = -1;

// A body length as the standard writes it: digits only, and no more than fit.
bool plain_length(const std::string& v) {
  return !v.empty() && v.size() <= 18 && v.find_first_not_of("0123456789") == std::string::npos;
}

void configure(httplib::Server& srv) {
  // The library's default would be SO_REUSEPORT, which lets a second service on the same
  // port take half of the connections: a mistake in a deployment must fail loudly instead.
  srv.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening = sock;
  });
  srv.set_payload_max_length(body_limit);
  srv.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    request_started_us = steady_us();
    // A refusal here leaves the body unread: the connection ends with the answer, so the
    // body can never be taken for a next request.
    auto refuse = [&](int status, const char* message) {
      fail(res, status, message);
      res.set_header("Connection", "close");
      return httplib::Server::HandlerResponse::Handled;
    };
    // Chunked bodies would slip past the size limit; every client we serve sends a length.
    if (req.has_header("Transfer-Encoding")) return refuse(411, msg::need_length);
    size_t lengths = req.get_header_value_count("Content-Length");
    if (lengths > 1 || (lengths == 1 && !plain_length(req.get_header_value("Content-Length"))))
      return refuse(400, msg::bad_request);
    bool takes_body = req.method == "POST" || req.method == "PUT" || req.method == "PATCH" || req.method == "DELETE";
    if (!takes_body && lengths == 1 && req.get_header_value("Content-Length") != "0")
      return refuse(400, msg::bad_request);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  srv.Get(".*", dispatch);
  srv.Post(".*", httplib::Server::Handler(dispatch));
  srv.Put(".*", httplib::Server::Handler(dispatch));
  srv.Delete(".*", httplib::Server::Handler(dispatch));
  srv.Patch(".*", httplib::Server::Handler(dispatch));
  srv.Options(".*", dispatch);
  srv.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        fail(res, res.status, message_for(res.status));
        return httplib::Server::HandlerResponse::Handled;
      }));
  srv.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    fail(res, 500, msg::internal);
  });
  srv.set_logger(access_log);
}

bool make_folder(const std::string& dir) {
  struct stat st{};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return mkdir(dir.c_str(), 0700) == 0;
}

}  // namespace

int service_run(const service_config& cfg) {
  static service s;
  s.cfg = cfg;
  svc = &s;
  umask(077);
  // SIGTERM and SIGINT end the service in order: stop accepting, finish what runs, close.
  // Blocked before any thread starts, so only the waiter below ever takes them.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);
  s.registrations.free = s.registrations.limit = cfg.max_registrations_per_address;
  s.registrations.lockout_ms = 3600 * 1000;

  int hashes = cfg.parallel_hashes > 0 ? cfg.parallel_hashes
                                       : std::max(1u, std::thread::hardware_concurrency());
  if (auth_init(cfg.argon2, hashes) != 0) {
    std::fprintf(stderr, "tavrin-cloud: 无法初始化 libsodium 或 Argon2id 参数无效。\n");
    return 1;
  }
  std::string target = cfg.database;
  if (target.empty()) {
    if (cfg.data_dir.empty() || !make_folder(cfg.data_dir)) {
      std::fprintf(stderr, "tavrin-cloud: 无法使用数据文件夹 %s\n", cfg.data_dir.c_str());
      return 1;
    }
    target = cfg.data_dir + "/tavrin-cloud.sqlite3";
  }
  std::string err;
  s.db = db_open(target, cfg.db_connections, &err);
  if (!s.db) {
    std::fprintf(stderr, "tavrin-cloud: 无法打开数据库：%s\n", err.c_str());
    return 1;
  }

  std::string why;
  std::vector<std::string> notes;
  if (!canonicalise_stored_names(s.db, &why, &notes)) {
    std::fprintf(stderr, "tavrin-cloud: 无法更新已有账号的用户名索引：%s\n", why.c_str());
    db_close(s.db);
    return 1;
  }

  bool tls = !cfg.tls_cert.empty();
  SSL_CTX* ctx = nullptr;
  if (tls && !(ctx = tls_context(cfg.tls_cert, cfg.tls_key, &why))) {
    std::fprintf(stderr, "tavrin-cloud: 无法启用 HTTPS：%s。\n", why.c_str());
    db_close(s.db);
    return 1;
  }
  net_limits limits;
  limits.head_timeout_ms = cfg.head_timeout * 1000;
  limits.request_timeout_ms = std::max(cfg.request_timeout, cfg.head_timeout) * 1000;
  limits.idle_timeout_ms = cfg.idle_timeout * 1000;
  limits.per_address = cfg.max_connections_per_address;
  // Behind our own reverse proxy every client arrives from it.
  limits.exempt_loopback = cfg.trust_proxy;
  auto srv = std::make_unique<guarded_server>(limits, cfg.threads, ctx);
  configure(*srv);
  // What the Keep-Alive header tells clients (the connection loop itself enforces both).
  srv->set_keep_alive_timeout(cfg.idle_timeout);
  srv->set_keep_alive_max_count(static_cast<size_t>(limits.requests_per_connection));

  int port = cfg.port;
  if (port == 0) port = srv->bind_to_any_port(cfg.host);
  else if (!srv->bind_to_port(cfg.host, port)) port = -1;
  if (port <= 0) {
    std::fprintf(stderr, "tavrin-cloud: 无法监听 %s:%d\n", cfg.host.c_str(), cfg.port);
    db_close(s.db);
    return 1;
  }
  // The library listens with a backlog of 5: a class signing in at once would overflow it
  // (and with SYN cookies the extra clients are reset). Listening again only raises it.
  if (listening >= 0) ::listen(listening, 1024);

  std::atomic<bool> finished{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stops, &sig);
    // A signal that comes before the accept loop runs must not be lost: stopping a server
    // that is not running yet does nothing, so keep asking until the loop has ended.
    while (!finished) {
      srv->stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  std::string shown = cfg.host.find(':') != std::string::npos ? "[" + cfg.host + "]" : cfg.host;
  std::printf("tavrin-cloud 已启动：%s://%s:%d （%s）\n", tls ? "https" : "http", shown.c_str(), port,
              db_pool_kind(s.db) == db_kind::postgresql ? "PostgreSQL" : "SQLite");
  for (const std::string& n : notes) std::printf("%s\n", n.c_str());
  std::fflush(stdout);
  srv->listen_after_bind();
  finished = true;
  pthread_kill(waiter.native_handle(), SIGTERM);  // wakes the waiter if no signal came
  waiter.join();
  db_close(s.db);
  std::printf("tavrin-cloud 已停止。\n");
  std::fflush(stdout);
  return 0;
}

