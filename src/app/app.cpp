#include "app/app.h"

#include <cstdio>
#include <new>
#include <thread>

#include "app/import.h"
#include "cloud/cloud.h"
#include "desktop/desktop.h"
#include "http/server.h"
#include "json/json.h"
#include "json/text_buffer.h"
#include "judge/compile_cache.h"
#include "log/log.h"
#include "platform/fs.h"
#include "platform/instance.h"
#include "platform/net.h"
#include "platform/sys.h"
#include "platform/ui.h"
#include "shell/brand.h"
#include "shell/refresh.h"
#include "store/store.h"

namespace {

constexpr int listen_backlog = 16;
constexpr size_t session_read_limit = 4096;
constexpr int browser_read_wait_ms = 30000;

struct start_options {
  bool no_browser;
  bool browser;
  bool stop;
};

int second_instance(const start_options& o, uint32_t id, const std::string& data_dir) {
  log_write("I", "已有程序在运行，本次只打开已有窗口");
  cstr url(read_utf8(store_path("session.txt"), session_read_limit));
  // --no-browser: the running instance already serves; nothing to open.
  if (url && !o.no_browser) {
    if (o.browser) {
      plat::open_url(url.get());
      // This process ends now: its redirect page goes as soon as the browser has it.
      plat::open_url_hand_over(browser_read_wait_ms);
    } else if (!desktop_show_existing(id) && plat::stop_attach_running(id, data_dir)) {
      // A window of our own, talking to the running service; closing it ends that
      // instance. A window that never opened must not end the running program.
      if (desktop_run(url.get(), id) == 0) plat::stop_set();
    }
  }
  plat::instance_abandon();
  return 0;
}

void orderly_end(uint32_t start_tick) {
  plat::file_delete(store_path("session.txt"));
  compile_cache_end();
  plat::stop_close();
  plat::instance_release();
  plat::open_url_forget();
  plat::net_cleanup();
  log_shutdown(closing_reason(start_tick, plat::tick_ms()).c_str());
}

void log_started(const char* mode) { log_write("I", "本地服务已启动: http://%s（%s）", host_value.c_str(), mode); }

int serve_in_mode(const start_options& o, plat::socket_t listener, const std::string& url, uint32_t id) {
  if (o.no_browser || o.browser) {
    log_started(o.no_browser ? "仅本地服务" : "浏览器模式");
    if (o.browser) plat::open_url(url);
    serve(listener);
    return 0;
  }
  log_started("独立窗口");
  std::thread server;
  try {
    server = std::thread(serve, listener);
  } catch (...) {
    plat::net_close(listener);
    return 1;
  }
  desktop_run(url, id);
  plat::stop_set();
  server.join();
  return 0;
}

}  // namespace

bool has_option(const std::string& text, const char* option) { return text.find(option) != std::string::npos; }

std::string closing_reason(uint32_t start_tick, uint32_t now_tick) {
  char text[128];
  snprintf(text, sizeof text, "窗口关闭，正常退出；本次运行 %lu 秒",
           static_cast<unsigned long>(static_cast<uint32_t>(now_tick - start_tick) / 1000u));
  return text;
}

std::string make_token() {
  unsigned char bytes[24];
  if (!plat::random_bytes(bytes, sizeof bytes)) return "";
  std::string hex;
  char two[3];
  for (unsigned char b : bytes) {
    snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  plat::secure_wipe(bytes, sizeof bytes);
  return hex;
}

int app_main() {
  uint32_t start_tick = plat::tick_ms();
  // No allocation failure is ever thrown out of the program's functions: where no failure
  // result can tell it, the program ends with exit code 2.
  std::set_new_handler(out_of_memory);
  std::string args = plat::command_args();
  start_options o{has_option(args, "--no-browser"), has_option(args, "--browser"), has_option(args, "--stop")};
  shell_brand_init();
  desktop_boxes();

  // Shortcut and icon repair: the folder is the third of exactly three arguments, split by
  // the system's own rules (the second is not looked at).
  if (has_option(args, "--refresh-icons-in")) {
    std::vector<std::string> argv = plat::command_argv();
    return argv.size() == 3 ? shell_brand_refresh_directory(argv[2]) : refresh_bad_folder;
  }
  if (has_option(args, "--refresh-icons")) return shell_brand_refresh();
  plat::process_error_mode();
  std::string full = plat::command_line();
  if (has_option(full, "--import-bank")) return import_bank(full);

  if (!store_init()) {
    log_write("E", "启动失败：题库未能加载，程序退出");
    plat::message_box_error("C 语言学习助手", "无法加载题库。请整体保留程序文件夹，并检查 data/bank.json。");
    return 1;
  }
  uint32_t id = plat::instance_id(app_root);
  const std::string data_dir = path_join(app_root, "data");
  if (o.stop) {
    if (plat::stop_notify_running(id, data_dir)) log_write("I", "收到 --stop：已通知正在运行的程序退出");
    else log_write("W", "收到 --stop：没有找到正在运行的程序");
    return 0;
  }
  cloud_init();

  // A stop signal from now on waits until we know whether we own the folder: the owner then
  // ends in order however early it came, a second instance ends as it would have.
  plat::stop_prepare();
  plat::instance_state lock = plat::instance_lock(id, data_dir);
  if (lock == plat::instance_state::taken) return second_instance(o, id, data_dir);
  // A lock that cannot be taken at all (a folder we cannot write) must not stop the start.
  plat::stop_create(id);

  if (!plat::net_init()) {
    log_write("E", "网络组件初始化失败（WSAStartup）");
    return 1;
  }
  int port = 0;
  plat::socket_t listener = plat::net_listen_loopback(listen_backlog, &port);
  if (listener == plat::bad_socket) {
    log_write("E", "本地服务无法启动（绑定端口失败）");
    return 1;
  }
  host_value = "127.0.0.1:" + std::to_string(port);
  token = make_token();
  if (token.empty()) {
    log_write("E", "无法生成会话密钥（CryptGenRandom 失败）");
    return 1;
  }
  log_secret(token);
  std::string url = "http://" + host_value + "/#token=" + token;
  plat::write_private_file(store_path("session.txt"), url);
  plat::announce_url(url);

  int rc = serve_in_mode(o, listener, url, id);
  if (rc != 0) return rc;
  orderly_end(start_tick);
  return 0;
}
