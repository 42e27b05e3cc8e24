// The page in the program's own window on Linux: a GTK 3 window with a WebKitGTK 4.1
// view. The page talks to it through the same window.chrome.webview interface as on
// Windows, given to it by a script injected at document start.
#include <fcntl.h>
#include <gio/gunixsocketaddress.h>
#include <gtk/gtk.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "desktop/bridge.h"
#include "desktop/desktop.h"
#include "log/log.h"
#include "platform/instance.h"
#include "platform/posix/private_dir.h"
#include "platform/ui.h"
#include "shell/brand.h"
#include "store/store.h"

namespace {

// ---- module state (main thread only) ----------------------------------------------

GtkWidget* window = nullptr;
WebKitWebView* view = nullptr;
std::string page_url;
std::string page_origin;
int closing = 0;
int app_ready = 0;
guint stop_timer = 0;   // timer 1: the stop signal
guint close_timer = 0;  // timer 2: the page's answer to "request-close"
GtkWidget* close_box = nullptr;
GtkWidget* save_dialog = nullptr;
std::unique_ptr<save_request> save_pending;
std::deque<std::string> save_queue;
GSocketService* show_service = nullptr;
std::string show_socket;

constexpr const char* handler_name = "tavrin";

// window.chrome.webview for the page: postMessage sends the value as JSON text to the
// host; the host answers through __tavrinHost, which raises a "message" event whose
// data is the string or the parsed JSON value, as in the other host.
constexpr const char* bridge_script = R"JS((() => {
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = handlers && handlers.tavrin;
  if (!channel || (window.chrome && window.chrome.webview)) return;
  const target = new EventTarget();
  const webview = Object.freeze({
    postMessage(value) {
      const text = JSON.stringify(value);
      if (typeof text === 'string') channel.postMessage(text);
    },
    addEventListener(type, listener, options) { target.addEventListener(type, listener, options); },
    removeEventListener(type, listener, options) { target.removeEventListener(type, listener, options); },
  });
  const chrome = Object.freeze({ webview });
  Object.defineProperty(window, 'chrome', { value: chrome, configurable: false, writable: false });
  Object.defineProperty(window, '__tavrinHost', {
    value: (data) => { target.dispatchEvent(new MessageEvent('message', { data })); },
    configurable: false, writable: false, enumerable: false,
  });
})();)JS";

bool local_source(const char* uri) { return same_origin(page_origin, uri); }

void destroy_window() {
  if (window) gtk_widget_destroy(window);
}

gboolean destroy_later(gpointer) {
  destroy_window();
  return G_SOURCE_REMOVE;
}

// Host to page: a string or a JSON text, delivered as a "message" event.
void post_to_page(const std::string& literal) {
  if (!view) return;
  std::string script = "window.__tavrinHost && window.__tavrinHost(" + literal + ");";
  webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
}

void stop_close_timer() {
  if (close_timer) g_source_remove(close_timer);
  close_timer = 0;
}

// ---- export ------------------------------------------------------------------------

void reply_save(int id, bool ok, bool cancelled, const char* message) {
  post_to_page(save_reply_json(id, ok, cancelled, message));
}

void next_save();

gboolean next_save_later(gpointer) {
  next_save();
  return G_SOURCE_REMOVE;
}

void write_export(const save_request& req, const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    reply_save(req.id, false, false, save_no_create);
    return;
  }
  size_t done = 0;
  while (done < req.data.size()) {
    ssize_t n = write(fd, req.data.data() + done, req.data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool closed = close(fd) == 0;
  if (done == req.data.size() && closed) reply_save(req.id, true, false, save_done);
  else reply_save(req.id, false, false, save_short);
}

// A typed name without an extension gets the proposed one, as the Windows dialog does;
// a file of that longer name the dialog has not asked about is asked about here.
bool complete_name(std::string* path, const char* extension) {
  size_t slash = path->rfind('/');
  std::string base = path->substr(slash == std::string::npos ? 0 : slash + 1);
  if (base.find('.') != std::string::npos) return true;
  *path += std::string(".") + extension;
  if (access(path->c_str(), F_OK) != 0) return true;
  GtkWidget* ask = gtk_message_dialog_new(GTK_WINDOW(window), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                          GTK_BUTTONS_YES_NO, "“%s.%s”已存在。要替换它吗？", base.c_str(), extension);
  gtk_window_set_title(GTK_WINDOW(ask), "导出学习文件");
  int answer = gtk_dialog_run(GTK_DIALOG(ask));
  gtk_widget_destroy(ask);
  return answer == GTK_RESPONSE_YES;
}

void on_save_response(GtkDialog* dialog, int response, gpointer) {
  std::unique_ptr<save_request> req = std::move(save_pending);
  if (!req) return;
  std::unique_ptr<char, decltype(&g_free)> file(
      response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog)) : nullptr, g_free);
  gtk_widget_destroy(GTK_WIDGET(dialog));
  save_dialog = nullptr;
  if (response != GTK_RESPONSE_ACCEPT) {
    reply_save(req->id, false, true, save_not_saved);
  } else if (!file) {
    reply_save(req->id, false, false, save_not_saved);  // not a local file
  } else {
    std::string path = file.get();
    if (complete_name(&path, export_extension(req->name))) write_export(*req, path);
    else reply_save(req->id, false, true, save_not_saved);
  }
  g_idle_add(next_save_later, nullptr);
}

void add_filter(GtkFileChooser* chooser, const char* name, std::initializer_list<const char*> patterns) {
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, name);
  for (const char* p : patterns) gtk_file_filter_add_pattern(filter, p);
  gtk_file_chooser_add_filter(chooser, filter);
}

// One save dialog at a time; further requests wait in order.
void next_save() {
  if (save_dialog || save_queue.empty() || !window) return;
  std::string text = std::move(save_queue.front());
  save_queue.pop_front();
  auto req = std::make_unique<save_request>();
  int id = 0;
  switch (check_save(text, req.get(), &id)) {
    case save_check::unreadable:
      return next_save();
    case save_check::invalid:
      reply_save(id, false, false, save_invalid);
      return next_save();
    case save_check::no_memory:
      reply_save(id, false, false, save_no_memory);
      return next_save();
    case save_check::ok:
      break;
  }
  std::string folder = path_join(app_root, export_folder(req->name));
  mkdir(folder.c_str(), 0755);
  GtkWidget* dialog = gtk_file_chooser_dialog_new("导出学习文件", GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_SAVE,
                                                  "取消", GTK_RESPONSE_CANCEL, "保存", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  add_filter(chooser, "学习文件", {"*.c", "*.json"});
  add_filter(chooser, "所有文件", {"*"});
  gtk_file_chooser_set_current_folder(chooser, folder.c_str());
  gtk_file_chooser_set_current_name(chooser, req->name.c_str());
  save_pending = std::move(req);
  save_dialog = dialog;
  g_signal_connect(dialog, "response", G_CALLBACK(on_save_response), nullptr);
  gtk_widget_show(dialog);
}

// ---- page messages ---------------------------------------------------------------

// The message names no frame: since every navigation off the origin is refused,
// subframes included, the view's own address tells where it comes from.
void on_page_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
  if (!view || !local_source(webkit_web_view_get_uri(view))) return;
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!value || !jsc_value_is_string(value)) return;
  std::unique_ptr<char, decltype(&g_free)> text(jsc_value_to_string(value), g_free);
  if (!text) return;
  std::string json = text.get();
  switch (classify_message(json)) {
    case page_message::ready:
      app_ready = 1;
      log_write("I", "界面加载完成，可以开始练习");
      break;
    case page_message::close_ready:
      g_idle_add(destroy_later, nullptr);  // not from inside the view's own signal
      break;
    case page_message::close_cancel:
      closing = 0;
      stop_close_timer();
      break;
    case page_message::save:
      save_queue.push_back(std::move(json));
      g_idle_add(next_save_later, nullptr);
      break;
    case page_message::none:
      break;
  }
}

// ---- navigation ----------------------------------------------------------------------

gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);  // pop-ups are dropped
    return TRUE;
  }
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  if (local_source(request ? webkit_uri_request_get_uri(request) : nullptr)) return FALSE;
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

GtkWidget* on_create(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

// ---- close protocol ----------------------------------------------------------------

void on_close_box(GtkDialog* box, int response, gpointer) {
  gtk_widget_destroy(GTK_WIDGET(box));
  close_box = nullptr;
  if (response == GTK_RESPONSE_YES) destroy_window();
}

gboolean on_close_timeout(gpointer) {
  close_timer = 0;
  closing = 0;
  close_box = gtk_message_dialog_new(GTK_WINDOW(window), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                     GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, "%s", close_question);
  gtk_window_set_title(GTK_WINDOW(close_box), "Tavrin");
  g_signal_connect(close_box, "response", G_CALLBACK(on_close_box), nullptr);
  gtk_widget_show(close_box);
  return G_SOURCE_REMOVE;
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) {
  if (!view || !app_ready) {
    destroy_window();
    return TRUE;
  }
  if (closing || close_box) return TRUE;
  closing = 1;
  post_to_page("\"request-close\"");
  close_timer = g_timeout_add(close_timeout_ms, on_close_timeout, nullptr);
  return TRUE;
}

gboolean on_stop_poll(gpointer) {
  if (plat::stop_is_set()) {
    stop_timer = 0;
    destroy_window();
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

void on_destroy(GtkWidget*, gpointer) {
  if (stop_timer) g_source_remove(stop_timer);
  stop_timer = 0;
  stop_close_timer();
  window = nullptr;
  view = nullptr;
  save_dialog = nullptr;
  close_box = nullptr;
  gtk_main_quit();
}

// ---- a second start brings this window to the front ----------------------------------

std::string show_socket_path(uint32_t id) {
  std::string dir = plat::private_dir();
  if (dir.empty()) return "";
  char name[48];
  snprintf(name, sizeof name, "/MeskDesktop-%08x.sock", id);
  std::string path = dir + name;
  return path.size() < sizeof(sockaddr_un{}.sun_path) ? path : "";
}

void present_window(const std::string& startup_id) {
  if (!window) return;
  gtk_window_deiconify(GTK_WINDOW(window));
  if (!startup_id.empty()) gtk_window_set_startup_id(GTK_WINDOW(window), startup_id.c_str());
  gtk_window_present_with_time(GTK_WINDOW(window), GDK_CURRENT_TIME);
}

// The request is one line: "show", optionally a blank and the starter's activation id.
gboolean on_show_request(GSocketService*, GSocketConnection* connection, GObject*, gpointer) {
  GSocket* socket = g_socket_connection_get_socket(connection);
  g_socket_set_timeout(socket, 2);
  char line[512];
  gssize n = g_socket_receive(socket, line, sizeof line - 1, nullptr, nullptr);
  if (n <= 0) return TRUE;
  line[n] = 0;
  std::string request(line, strcspn(line, "\r\n"));
  if (request.rfind("show", 0) != 0) return TRUE;
  present_window(request.size() > 5 ? request.substr(5) : "");
  g_socket_send(socket, "ok\n", 3, nullptr, nullptr);
  return TRUE;
}

void listen_for_show(uint32_t id) {
  show_socket = show_socket_path(id);
  if (show_socket.empty()) return;
  unlink(show_socket.c_str());  // only the instance that owns the folder gets here
  GSocketAddress* address = g_unix_socket_address_new(show_socket.c_str());
  show_service = g_socket_service_new();
  if (!g_socket_listener_add_address(G_SOCKET_LISTENER(show_service), address, G_SOCKET_TYPE_STREAM,
                                     G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, nullptr)) {
    g_clear_object(&show_service);
    show_socket.clear();
  } else {
    chmod(show_socket.c_str(), 0600);
    g_signal_connect(show_service, "incoming", G_CALLBACK(on_show_request), nullptr);
    g_socket_service_start(show_service);
  }
  g_object_unref(address);
}

void stop_listening() {
  if (show_service) {
    g_socket_service_stop(show_service);
    g_socket_listener_close(G_SOCKET_LISTENER(show_service));
    g_clear_object(&show_service);
  }
  if (!show_socket.empty()) unlink(show_socket.c_str());
  show_socket.clear();
}

// ---- the window --------------------------------------------------------------------

rect_i work_area() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 1920, 1080};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  return {area.x, area.y, area.width, area.height};
}

WebKitWebView* make_view() {
  std::string profile = store_path("desktop-profile");
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
      "base-data-directory", profile.c_str(), "base-cache-directory", profile.c_str(), nullptr);
  WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
  g_object_unref(data);
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);

  WebKitUserContentManager* content = webkit_user_content_manager_new();
  g_signal_connect(content, "script-message-received::tavrin", G_CALLBACK(on_page_message), nullptr);
  webkit_user_content_manager_register_script_message_handler(content, handler_name);
  WebKitUserScript* script = webkit_user_script_new(bridge_script, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);

  auto* web = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager",
                                           content, nullptr));
  g_object_unref(context);
  g_object_unref(content);
  WebKitSettings* settings = webkit_web_view_get_settings(web);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  g_signal_connect(web, "decide-policy", G_CALLBACK(on_decide_policy), nullptr);
  g_signal_connect(web, "create", G_CALLBACK(on_create), nullptr);
  return web;
}

bool open_display() {
  gdk_set_program_class(brand_id);
  return gtk_init_check(nullptr, nullptr);
}

}  // namespace

// A GTK dialog for the boxes shown when the program cannot go on.
static bool gtk_error_box(const std::string& caption, const std::string& text) {
  if (!open_display()) return false;
  GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(window), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
                                          "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  while (gtk_events_pending()) gtk_main_iteration();
  return true;
}

void desktop_boxes() { plat::message_box_use(gtk_error_box); }

int desktop_run(const std::string& url, uint32_t id) {
  if (!open_display()) {
    log_write("E", "桌面窗口创建失败，可改用“浏览器模式.bat”继续学习");
    plat::message_box_error("Tavrin", "无法打开桌面窗口（没有可用的图形显示）。可改用 tavrin --browser 在浏览器中继续学习。");
    return 1;
  }
  page_url = url.substr(0, page_url_limit);
  page_origin = page_origin_of(page_url);

  rect_i r = window_rect(96, work_area());  // GTK's pixels already carry the monitor's scale
  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), window_title);
  gtk_window_set_default_size(GTK_WINDOW(window), r.width, r.height);
  GdkGeometry hints{};
  hints.min_width = window_min_width;
  hints.min_height = window_min_height;
  gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &hints, GDK_HINT_MIN_SIZE);
  gtk_window_move(GTK_WINDOW(window), r.x, r.y);
  std::string icon = brand_icon_path();
  if (!icon.empty() && access(icon.c_str(), R_OK) == 0) gtk_window_set_icon_from_file(GTK_WINDOW(window), icon.c_str(), nullptr);
  g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), nullptr);

  view = make_view();
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  log_write("I", "桌面窗口已创建（%dx%d）", r.width, r.height);
  gtk_widget_show_all(window);
  stop_timer = g_timeout_add(stop_poll_ms, on_stop_poll, nullptr);
  listen_for_show(id);
  webkit_web_view_load_uri(view, page_url.c_str());

  gtk_main();

  stop_listening();
  save_queue.clear();
  save_pending.reset();
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  log_write("I", "桌面窗口已关闭");
  return 0;
}

bool desktop_show_existing(uint32_t id) {
  std::string path = show_socket_path(id);
  if (path.empty()) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  timeval wait{3, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  bool shown = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "show";
    const char* token = getenv("XDG_ACTIVATION_TOKEN");
    if (!token || !*token) token = getenv("DESKTOP_STARTUP_ID");
    if (token && *token && strlen(token) < 400 && !strpbrk(token, "\r\n")) request += std::string(" ") + token;
    request += "\n";
    char reply[8] = {};
    shown = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()) &&
            recv(fd, reply, sizeof reply - 1, 0) >= 2 && strncmp(reply, "ok", 2) == 0;
  }
  close(fd);
  return shown;
}
