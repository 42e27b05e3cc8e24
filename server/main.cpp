// tavrin-cloud: the account and progress service that the desktop program syncs with.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service.h"

namespace {

const char* const usage =
    "用法：tavrin-cloud --listen 地址:端口 --data 文件夹 [选项]\n"
    "  --listen HOST:PORT        监听地址（默认 127.0.0.1:8080；IPv6 写作 [::1]:8080；端口 0 表示任选）\n"
    "  --data FOLDER             数据文件夹，SQLite 数据库 tavrin-cloud.sqlite3 放在这里\n"
    "  --database URL            改用 PostgreSQL，例如 postgresql://tavrin@db.example/tavrin\n"
    "  --tls-cert FILE --tls-key FILE   直接提供 HTTPS（PEM 证书链与私钥）\n"
    "  --trust-proxy             来自本机反向代理的请求按 X-Forwarded-For 识别客户端地址\n"
    "  --threads N               连接工作线程数（默认 64）\n"
    "  --db-connections N        数据库连接数（默认 8）\n"
    "  --argon2-ops N            Argon2id 迭代次数（默认 3）\n"
    "  --argon2-mem-kib N        Argon2id 内存，KiB（默认 65536）\n"
    "  --parallel-hashes N       同时计算的 Argon2id 数（默认为处理器数）\n"
    "  --free-failures N         同一用户名失败几次后开始限速（默认 3）\n"
    "  --max-failures N          同一用户名失败几次后暂停登录（默认 10）\n"
    "  --max-failures-per-address N  同一客户端地址失败几次后暂停（默认 100）\n"
    "  --lockout SECONDS         暂停时长，秒（默认 900）\n"
    "不加 --tls-cert 时只允许监听本机回环地址，由反向代理提供 HTTPS。\n";

bool loopback_host(const std::string& h) {
  return h == "localhost" || h == "::1" || h.rfind("127.", 0) == 0;
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
    long long n = 0;
    bool ok = true;
    if (a == "--listen") ok = parse_listen(v, &cfg);
    else if (a == "--data") cfg.data_dir = v;
    else if (a == "--database") cfg.database = v;
    else if (a == "--tls-cert") cfg.tls_cert = v;
    else if (a == "--tls-key") cfg.tls_key = v;
    else if (a == "--threads" && (ok = parse_count(v, 2, 4096, &n))) cfg.threads = static_cast<int>(n);
    else if (a == "--db-connections" && (ok = parse_count(v, 1, 512, &n))) cfg.db_connections = static_cast<int>(n);
    else if (a == "--argon2-ops" && (ok = parse_count(v, 1, 1000, &n))) cfg.argon2.ops = static_cast<unsigned long long>(n);
    else if (a == "--argon2-mem-kib" && (ok = parse_count(v, 8, 4 << 20, &n))) cfg.argon2.mem_bytes = static_cast<size_t>(n) << 10;
    else if (a == "--parallel-hashes" && (ok = parse_count(v, 1, 1024, &n))) cfg.parallel_hashes = static_cast<int>(n);
    else if (a == "--free-failures" && (ok = parse_count(v, 0, 1000000, &n))) cfg.free_failures = static_cast<int>(n);
    else if (a == "--max-failures" && (ok = parse_count(v, 1, 1000000, &n))) cfg.max_failures = static_cast<int>(n);
    else if (a == "--max-failures-per-address" && (ok = parse_count(v, 1, 1000000, &n))) cfg.max_failures_per_address = static_cast<int>(n);
    else if (a == "--lockout" && (ok = parse_count(v, 1, 86400 * 30, &n))) cfg.lockout_seconds = static_cast<int>(n);
    else if (ok && (a == "--threads" || a == "--db-connections" || a == "--argon2-ops" || a == "--argon2-mem-kib" ||
                    a == "--parallel-hashes" || a == "--free-failures" || a == "--max-failures" ||
                    a == "--max-failures-per-address" || a == "--lockout")) ok = false;
    else if (ok) {
      std::fprintf(stderr, "tavrin-cloud: 未知参数 %s\n%s", a.c_str(), usage);
      return 2;
    }
    if (!ok) {
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
