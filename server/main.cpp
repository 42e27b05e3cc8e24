// tavrin-cloud: the account and progress service that the desktop program syncs with.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "signin.h"
#include "service.h"

namespace {

const char* const usage =
    "用法：tavrin-cloud --listen 地址:端口 --data 文件夹 [选项]\n"
    "  --listen HOST:PORT        监听地址（默认 127.0.0.1:8080；IPv6 写作 [::1]:8080；端口 0 表示任选）\n"
    "  --data FOLDER             数据文件夹，SQLite 数据库 tavrin-cloud.sqlite3 放在这里\n"
    "  --database URL            改用 PostgreSQL，例如 postgresql://tavrin@db.example/tavrin\n"
    "  --tls-cert FILE --tls-key FILE   直接提供 HTTPS（PEM 证书链与私钥）\n"
    "  --trust-proxy             来自本机反向代理的请求按 X-Forwarded-For 识别客户端地址\n"
    "  --threads N               连接工作线程数（默认 256）\n"
    "  --db-connections N        数据库连接数（默认 8）\n"
    "  --argon2-ops N            Argon2id 迭代次数（默认 2）\n"
    "  --argon2-mem-kib N        Argon2id 内存，KiB（默认 19456）\n"
    "  --parallel-hashes N       同时计算的 Argon2id 数（默认为处理器数）\n"
    "  --free-failures N         同一用户名失败几次后开始限速（默认 3）\n"
    "  --max-failures N          同一用户名失败几次后暂停登录（默认 10）\n"
    "  --max-failures-per-address N  同一客户端地址在多少个不同用户名上登录失败后，暂停该地址尝试新用户名（默认 100）\n"
    "  --lockout SECONDS         暂停时长，秒（默认 900）\n"
    "  --max-registrations-per-address N  同一客户端地址每小时可注册的账号数（默认 300）\n"
    "  --school-network CIDR     学校自己的出口地址段（如 203.0.113.0/24，可重复）：只按用户名限制登录失败\n"
    "  --max-connections-per-address N  同一客户端地址同时打开的连接数（默认 32）\n"
    "  --head-timeout SECONDS    请求行与请求头须在此时间内收齐（默认 10）\n"
    "  --request-timeout SECONDS 整个请求（含内容）须在此时间内收齐（默认 30）\n"
    "  --idle-timeout SECONDS    保持的连接等待下一个请求的时间（默认 5）\n"
    "  --token-idle-days N       登录多少天未使用即失效（默认 180）\n"
    "不加 --tls-cert 时只允许监听本机回环地址，由反向代理提供 HTTPS。\n";

// Only an address literal of the loopback networks (or "localhost"): a name such as
// 127.example.com could resolve anywhere.
bool loopback_host(const std::string& h) {
  if (h == "localhost") return true;
  unsigned char a[16];
  if (inet_pton(AF_INET, h.c_str(), a) == 1) return a[0] == 127;
  static const unsigned char one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return inet_pton(AF_INET6, h.c_str(), a) == 1 && std::memcmp(a, one, 16) == 0;
}

bool parse_listen(const std::string& v, service_config* cfg) {
  std::string host, port;
  if (!v.empty() && v[0] == '[') {
    size_t close = v.find(']');
    if (close == std::string::npos || close + 1 >= v.size() || v[close + 1] != ':') return false;
    host = v.substr(1, close - 1);
    port = v.substr(close + 2);
  } else {
    size_t colon = v.rfind(':');
    if (colon == std::string::npos) return false;
    host = v.substr(0, colon);
    port = v.substr(colon + 1);
  }
  if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  int p = std::atoi(port.c_str());
  if (p > 65535) return false;
  cfg->host = host;
  cfg->port = p;
  return true;
}

bool parse_count(const char* v, long long lo, long long hi, long long* out) {
  char* end = nullptr;
  long long n = std::strtoll(v, &end, 10);
  if (!*v || *end || n < lo || n > hi) return false;
  *out = n;
  return true;
}

// The numeric options: name, allowed range, where the value goes.
struct count_option {
  const char* name;
  long long lo, hi;
  void (*set)(service_config*, long long);
};

const count_option count_options[] = {
    {"--threads", 2, 4096, [](service_config* c, long long n) { c->threads = static_cast<int>(n); }},
    {"--db-connections", 1, 512, [](service_config* c, long long n) { c->db_connections = static_cast<int>(n); }},
    {"--argon2-ops", 1, 1000, [](service_config* c, long long n) { c->argon2.ops = static_cast<unsigned long long>(n); }},
    {"--argon2-mem-kib", 8, 4 << 20, [](service_config* c, long long n) { c->argon2.mem_bytes = static_cast<size_t>(n) << 10; }},
    {"--parallel-hashes", 1, 1024, [](service_config* c, long long n) { c->parallel_hashes = static_cast<int>(n); }},
    {"--free-failures", 0, 1000000, [](service_config* c, long long n) { c->free_failures = static_cast<int>(n); }},
    {"--max-failures", 1, 1000000, [](service_config* c, long long n) { c->max_failures = static_cast<int>(n); }},
    {"--max-failures-per-address", 1, 1000000,
     [](service_config* c, long long n) { c->max_failures_per_address = static_cast<int>(n); }},
    {"--max-registrations-per-address", 1, 100000000,
     [](service_config* c, long long n) { c->max_registrations_per_address = static_cast<int>(n); }},
    {"--lockout", 1, 86400 * 30, [](service_config* c, long long n) { c->lockout_seconds = static_cast<int>(n); }},
    {"--max-connections-per-address", 1, 100000,
     [](service_config* c, long long n) { c->max_connections_per_address = static_cast<int>(n); }},
    {"--head-timeout", 1, 600, [](service_config* c, long long n) { c->head_timeout = static_cast<int>(n); }},
    {"--request-timeout", 1, 3600, [](service_config* c, long long n) { c->request_timeout = static_cast<int>(n); }},
    {"--idle-timeout", 1, 600, [](service_config* c, long long n) { c->idle_timeout = static_cast<int>(n); }},
    {"--token-idle-days", 1, 3650, [](service_config* c, long long n) { c->token_idle_days = static_cast<int>(n); }},
};

// 1 when the option was taken, 0 when its value is invalid, -1 when the option is unknown.
int take_option(const std::string& a, const char* v, service_config* cfg) {
  if (a == "--listen") return parse_listen(v, cfg) ? 1 : 0;
  if (a == "--data") return cfg->data_dir = v, 1;
  if (a == "--database") return cfg->database = v, 1;
  if (a == "--tls-cert") return cfg->tls_cert = v, 1;
  if (a == "--tls-key") return cfg->tls_key = v, 1;
  if (a == "--school-network") {
    ip_network n;
    if (!parse_network(v, &n)) return 0;
    cfg->school_networks.push_back(v);
    return 1;
  }
  for (const count_option& o : count_options) {
    if (a != o.name) continue;
    long long n = 0;
    if (!parse_count(v, o.lo, o.hi, &n)) return 0;
    o.set(cfg, n);
    return 1;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  service_config cfg;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (a == "--trust-proxy") {
      cfg.trust_proxy = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "tavrin-cloud: 参数 %s 缺少取值。\n%s", a.c_str(), usage);
      return 2;
    }
    const char* v = argv[++i];
    int taken = take_option(a, v, &cfg);
    if (taken < 0) {
      std::fprintf(stderr, "tavrin-cloud: 未知参数 %s\n%s", a.c_str(), usage);
      return 2;
    }
    if (taken == 0) {
      std::fprintf(stderr, "tavrin-cloud: 参数 %s 的取值 %s 无效。\n", a.c_str(), v);
      return 2;
    }
  }
  if (cfg.database.empty() && cfg.data_dir.empty()) {
    std::fprintf(stderr, "tavrin-cloud: 请用 --data 指定数据文件夹，或用 --database 指定 PostgreSQL。\n%s", usage);
    return 2;
  }
  if (cfg.tls_cert.empty() != cfg.tls_key.empty()) {
    std::fprintf(stderr, "tavrin-cloud: --tls-cert 与 --tls-key 需要一起提供。\n");
    return 2;
  }
  // Passwords and tokens must not cross a network in the clear: without TLS of our own,
  // only a reverse proxy on this machine may talk to us.
  if (cfg.tls_cert.empty() && !loopback_host(cfg.host)) {
    std::fprintf(stderr, "tavrin-cloud: 未提供 TLS 证书时只能监听本机回环地址（如 127.0.0.1），"
                         "请用反向代理提供 HTTPS，或加上 --tls-cert 和 --tls-key。\n");
    return 2;
  }
  return service_run(cfg);
}
