// Load generator for bench/cloud_bench.py: N clients on keep-alive connections, each in a
// loop of one request kind against the account service (or the bare baseline server),
// for a fixed time. Prints one JSON line: requests, failures, requests/s, latency p50/p99.
//
// cloud_load URL MODE CLIENTS SECONDS [FILE]
//   MODE get    GET /v1/progress with the tokens in FILE (one per line, client i uses line i)
//   MODE put    PUT /v1/progress, each client on its own account, revision by revision
//   MODE login  POST /v1/login with the user names in FILE and the password "benchmark-pw"
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using clock_type = std::chrono::steady_clock;

struct client_result {
  std::vector<double> latencies_ms;
  long failures = 0;
};

static long revision_of(const std::string& body) {
  size_t at = body.find("\"revision\":");
  return at == std::string::npos ? -1 : std::atol(body.c_str() + at + 11);
}

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: cloud_load URL get|put|login CLIENTS SECONDS [FILE]\n");
    return 2;
  }
  std::string url = argv[1], mode = argv[2];
  int clients = std::atoi(argv[3]);
  double seconds = std::atof(argv[4]);
  std::vector<std::string> lines;
  if (argc > 5) {
    std::ifstream in(argv[5]);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) lines.push_back(l);
  }
  if (mode != "get" && mode != "put" && mode != "login") return 2;
  if (mode != "get" || !lines.empty()) {
    if (static_cast<int>(lines.size()) < clients) {
      std::fprintf(stderr, "cloud_load: need %d lines in the file\n", clients);
      return 2;
    }
  }

  std::vector<client_result> results(static_cast<size_t>(clients));
  std::atomic<bool> go{false};
  auto deadline = clock_type::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; i++) {
    threads.emplace_back([&, i] {
      httplib::Client cli(url);
      cli.set_keep_alive(true);
      cli.set_tcp_nodelay(true);  // as libcurl and WinHTTP do; else Nagle and delayed ACKs add 40 ms
      cli.set_read_timeout(30, 0);
      httplib::Headers headers;
      if (mode != "login" && !lines.empty())
        headers.emplace("Authorization", "Bearer " + lines[static_cast<size_t>(i)]);
      long revision = 0;
      if (mode == "put") {
        auto r = cli.Get("/v1/progress", headers);
        revision = r ? revision_of(r->body) : 0;
      }
      std::string login = mode == "login" ? "{\"username\":\"" + lines[static_cast<size_t>(i)] +
                                                "\",\"password\":\"benchmark-pw\"}" : "";
      auto& out = results[static_cast<size_t>(i)];
      while (!go) std::this_thread::yield();
      while (clock_type::now() < deadline) {
        auto t0 = clock_type::now();
        bool ok = false;
        if (mode == "get") {
          auto r = cli.Get("/v1/progress", headers);
          ok = r && r->status == 200;
        } else if (mode == "put") {
          std::string body = "{\"revision\":" + std::to_string(revision) +
                             ",\"state\":{\"records\":{\"ex-" + std::to_string(revision % 50) +
                             "\":{\"best\":\"AC\",\"code\":\"int main(void){return 0;}\"}},\"n\":" +
                             std::to_string(revision) + "}}";
          auto r = cli.Put("/v1/progress", headers, body, "application/json");
          ok = r && r->status == 200;
          if (ok) revision = revision_of(r->body);
        } else {
          auto r = cli.Post("/v1/login", login, "application/json");
          ok = r && r->status == 200;
        }
        double ms = std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
        if (ok) out.latencies_ms.push_back(ms);
        else out.failures++;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // connections set up
  auto start = clock_type::now();
  deadline = start + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
  go = true;
  for (auto& t : threads) t.join();
  double elapsed = std::chrono::duration<double>(clock_type::now() - start).count();

  std::vector<double> all;
  long failures = 0;
  for (auto& r : results) {
    all.insert(all.end(), r.latencies_ms.begin(), r.latencies_ms.end());
    failures += r.failures;
  }
  std::sort(all.begin(), all.end());
  auto pct = [&](double p) { return all.empty() ? 0.0 : all[std::min(all.size() - 1, static_cast<size_t>(p * all.size()))]; };
  std::printf("{\"requests\":%zu,\"failures\":%ld,\"rps\":%.1f,\"p50_ms\":%.2f,\"p99_ms\":%.2f}\n", all.size(),
              failures, all.size() / elapsed, pct(0.50), pct(0.99));
  return 0;
}
