// Baseline for bench/cloud_bench.py: the same HTTP library and worker set-up as
// tavrin-cloud, answering GET /v1/progress with a fixed body and doing nothing else.
// Prints its port, serves until killed.
#include <httplib.h>

#include <sys/socket.h>

#include <cstdio>

int main() {
  httplib::Server srv;
  srv.new_task_queue = [] { return new httplib::ThreadPool(64); };
  srv.set_keep_alive_max_count(1000);
  srv.set_keep_alive_timeout(5);
  srv.set_tcp_nodelay(true);
  int listening = -1;
  srv.set_socket_options([&](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening = sock;
  });
  srv.Get("/v1/progress", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"revision\":0,\"state\":{}}", "application/json; charset=utf-8");
  });
  int port = srv.bind_to_any_port("127.0.0.1");
  if (listening >= 0) ::listen(listening, 1024);  // as tavrin-cloud does
  std::printf("%d\n", port);
  std::fflush(stdout);
  return srv.listen_after_bind() ? 0 : 1;
}
