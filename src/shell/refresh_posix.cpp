// The program's launchers on Linux: freedesktop desktop entries (.desktop files) on the
// desktop and in the applications menu, read and written with GLib's key file parser so
// that unknown keys, comments and other locales' names survive.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/instance.h"
#include "shell/brand.h"
#include "shell/refresh.h"

namespace {

constexpr uint64_t launcher_limit = 1 << 20;  // a desktop entry is a few hundred bytes
constexpr size_t path_limit = 4096;
const char entry_group[] = "Desktop Entry";
const char backup_folder_name[] = "icon-link-backups";
const char old_program_name[] = "Mesk";
const char uninstaller_name[] = "unins000";
// Characters that make the desktop entry spec quote an Exec argument.
const char exec_reserved[] = " \t\n\"'\\><~|&;$*?#()`";

// Failed steps on the program's own launchers during one refresh.
int brand_errors = 0;

struct program_files {
  std::string exe, folder, icon, backups;
};

struct key_file_deleter {
  void operator()(GKeyFile* k) const { g_key_file_free(k); }
};
using key_file = std::unique_ptr<GKeyFile, key_file_deleter>;

struct g_text {
  char* p = nullptr;
  g_text() = default;
  explicit g_text(char* x) : p(x) {}
  g_text(const g_text&) = delete;
  g_text& operator=(const g_text&) = delete;
  ~g_text() { g_free(p); }
};

std::string join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string base_name(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An absolute path with its links and dots resolved; a file that is gone (an old
// "Mesk") keeps its name in its resolved folder. Relative names stay as they are.
std::string resolved(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  if (char* real = realpath(path.c_str(), nullptr)) {
    std::string out(real);
    free(real);
    return out;
  }
  size_t slash = path.rfind('/');
  std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  if (char* real = realpath(folder.c_str(), nullptr)) {
    std::string out = join(real, path.substr(slash + 1));
    free(real);
    return out;
  }
  return path;
}

bool locate_program(program_files& p) {
  p.exe = plat::exe_path();
  size_t slash = p.exe.rfind('/');
  if (p.exe.empty() || slash == std::string::npos) return false;
  p.folder = slash == 0 ? "/" : p.exe.substr(0, slash);
  p.icon = join(p.folder, brand_icon);
  p.backups = join(p.folder, backup_folder_name);
  return true;
}

// Document number 0 to 2 when target is one of the program's documents, else -1.
int owned_document(const std::string& target, const program_files& p) {
  std::string path = resolved(target);
  for (int i = 0; i < 3; ++i)
    if (path == join(p.folder, owned_document_names[i])) return i;
  return -1;
}

// "%%" stands for "%" in an Exec line.
std::string exec_unescape(const std::string& arg) {
  std::string out;
  for (size_t i = 0; i < arg.size(); ++i) {
    out += arg[i];
    if (arg[i] == '%' && i + 1 < arg.size() && arg[i + 1] == '%') ++i;
  }
  return out;
}

struct launch {
  std::vector<std::string> argv;  // the Exec line split as the launcher would
  std::string exec;                // the Exec line as stored
};

std::optional<launch> read_exec(GKeyFile* k) {
  g_text exec(g_key_file_get_string(k, entry_group, "Exec", nullptr));
  if (!exec.p) return std::nullopt;
  int argc = 0;
  char** argv = nullptr;
  if (!g_shell_parse_argv(exec.p, &argc, &argv, nullptr)) return std::nullopt;
  launch l;
  l.exec = exec.p;
  for (int i = 0; i < argc; ++i) l.argv.push_back(exec_unescape(argv[i]));
  g_strfreev(argv);
  return l;
}

// What the launcher starts, when it is the program's; its arguments go to *arguments.
std::optional<link_kind> owned_kind(const launch& l, const program_files& p, std::string* arguments = nullptr) {
  if (l.argv.empty()) return std::nullopt;
  std::string target = resolved(l.argv[0]);
  if (target == p.exe || target == join(p.folder, old_program_name)) {
    if (arguments) {
      for (size_t i = 1; i < l.argv.size(); ++i) *arguments += (i > 1 ? " " : "") + l.argv[i];
    }
    return link_kind::program;
  }
  if (target == join(p.folder, uninstaller_name)) return link_kind::uninstaller;
  // A document opens through xdg-open, given as a path or a file: URI.
  if (base_name(l.argv[0]) == "xdg-open" && l.argv.size() == 2) {
    std::string document = l.argv[1];
    if (document.rfind("file://", 0) == 0) {
      g_text path(g_filename_from_uri(document.c_str(), nullptr, nullptr));
      if (!path.p) return std::nullopt;
      document = path.p;
    }
    int number = owned_document(document, p);
    if (number >= 0) return static_cast<link_kind>(number);
  }
  return std::nullopt;
}

struct launcher {
  key_file keys;
  std::string bytes;
  launch exec;
};

// Reads and parses a desktop entry; nullopt when it is no regular file, cannot be read or
// has no Exec line.
std::optional<launcher> open_launcher(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;  // a FIFO would never end
  auto bytes = plat::file_read_all(path, launcher_limit);
  if (!bytes) return std::nullopt;
  launcher l{key_file(g_key_file_new()), std::move(*bytes), {}};
  if (!g_key_file_load_from_data(l.keys.get(), l.bytes.data(), l.bytes.size(),
                                 GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), nullptr))
    return std::nullopt;
  auto exec = read_exec(l.keys.get());
  if (!exec) return std::nullopt;
  l.exec = std::move(*exec);
  return l;
}

// A path as one Exec argument: quoted by the desktop entry rules when it needs it.
std::string exec_quote(const std::string& path) {
  bool plain = path.find_first_of(exec_reserved) == std::string::npos;
  std::string out = plain ? "" : "\"";
  for (char c : path) {
    if (c == '%') out += '%';
    else if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (!plain) out += '"';
  return out;
}

// The Exec line with its program replaced and the rest kept as written.
std::string exec_with_program(const std::string& exec, const std::string& program) {
  size_t i = exec.find_first_not_of(" \t");
  if (i == std::string::npos) return exec_quote(program);
  if (exec[i] == '"') {
    for (++i; i < exec.size() && exec[i] != '"'; ++i)
      if (exec[i] == '\\') ++i;
    ++i;
  } else {
    i = exec.find_first_of(" \t", i);
  }
  return exec_quote(program) + (i < exec.size() ? exec.substr(i) : "");
}

bool back_up(const std::string& path, const program_files& p) {
  plat::dir_create(p.backups);
  std::string copy = join(p.backups, backup_file_name(plat::instance_id(path), ".desktop"));
  if (plat::path_exists(copy)) return true;  // the first backup is kept for good
  return plat::file_copy_new(path, copy);
}

// Writes the launcher back in place when its text changed, keeping its permissions
// (a launcher on the desktop is often executable so that it may start).
bool save_launcher(const std::string& path, const std::string& old_bytes, const std::string& new_bytes) {
  if (new_bytes == old_bytes) return true;
  struct stat st;
  bool had_mode = ::stat(path.c_str(), &st) == 0;
  if (!plat::file_replace_atomic(path, new_bytes)) return false;
  if (had_mode) ::chmod(path.c_str(), st.st_mode & 07777);
  return true;
}

// One launcher: skipped silently unless it is the program's; each failure after that counts.
void refresh_launcher(const std::string& path, const program_files& p, const std::string* destination) {
  auto l = open_launcher(path);
  if (!l) return;
  std::string arguments;
  std::optional<link_kind> kind = owned_kind(l->exec, p, &arguments);
  if (!kind) return;

  std::string display = shortcut_display(*kind, arguments);
  std::string new_path = destination ? join(*destination, display + ".desktop") : path;
  bool moving = destination && path != new_path;

  // The name may be taken only by another launcher of the program, which this one replaces.
  if (moving && plat::path_exists(new_path)) {
    auto other = open_launcher(new_path);
    if (!other || !owned_kind(other->exec, p)) {
      ++brand_errors;
      return;
    }
  }
  if (!back_up(path, p)) {
    ++brand_errors;
    return;
  }

  GKeyFile* k = l->keys.get();
  if (resolved(l->exec.argv[0]) == join(p.folder, old_program_name)) {
    g_key_file_set_string(k, entry_group, "Exec", exec_with_program(l->exec.exec, p.exe).c_str());
    if (g_key_file_has_key(k, entry_group, "TryExec", nullptr))
      g_key_file_set_string(k, entry_group, "TryExec", p.exe.c_str());
  }
  g_key_file_set_string(k, entry_group, "Name", display.c_str());
  g_key_file_set_string(k, entry_group, "Comment", display.c_str());
  g_key_file_set_string(k, entry_group, "Icon", p.icon.c_str());
  g_key_file_set_string(k, entry_group, "StartupWMClass", brand_id);
  gsize size = 0;
  g_text text(g_key_file_to_data(k, &size, nullptr));
  if (!text.p || !save_launcher(path, l->bytes, std::string(text.p, size))) {
    ++brand_errors;
    return;
  }
  if (moving && ::rename(path.c_str(), new_path.c_str()) != 0) ++brand_errors;
}

// The launchers directly in folder; with a destination, each is renamed into it. Every
// path is listed before any launcher changes, so renames cannot disturb the listing.
void refresh_folder(const std::string& folder, const program_files& p, const std::string* destination) {
  std::vector<std::string> paths;
  for (const plat::dir_entry& e : plat::dir_list(folder, "*.desktop")) {
    if (e.is_dir) continue;
    std::string path = join(folder, e.name);
    if (path.size() >= path_limit) continue;
    paths.push_back(std::move(path));
  }
  for (const std::string& path : paths) refresh_launcher(path, p, destination);
}

// Output of a helper program found on PATH, without its line end; nullopt when it is
// missing or fails.
std::optional<std::string> program_output(const std::vector<std::string>& args) {
  g_text program(g_find_program_in_path(args[0].c_str()));
  if (!program.p) return std::nullopt;
  std::vector<char*> argv{program.p};
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
  argv.push_back(nullptr);
  char* out = nullptr;
  int status = 0;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr, &out, nullptr,
                    &status, nullptr))
    return std::nullopt;
  g_text text(out);
  if (!g_spawn_check_wait_status(status, nullptr)) return std::nullopt;
  std::string s = text.p ? text.p : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// The user's desktop folder as xdg-user-dir names it (GLib reads the same settings when
// the tool is missing). A desktop set to the home folder means "no desktop".
std::optional<std::string> desktop_folder() {
  std::optional<std::string> desktop = program_output({"xdg-user-dir", "DESKTOP"});
  if (!desktop) {
    const char* glib_desktop = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
    if (glib_desktop) desktop = glib_desktop;
  }
  if (!desktop || desktop->empty() || (*desktop)[0] != '/') return std::nullopt;
  if (resolved(*desktop) == resolved(g_get_home_dir())) return std::nullopt;
  return desktop;
}

// Steps shared by both entry points before anything is touched: 0 when ready, else the exit code.
int prepare(program_files& p) {
  if (!locate_program(p)) return refresh_bad_folder;
  if (!plat::path_exists(p.icon)) return refresh_no_icon;
  brand_errors = 0;
  return 0;
}

int finish() { return brand_errors ? refresh_errors : refresh_ok; }

}  // namespace

int shell_brand_refresh() {
  program_files p;
  if (int code = prepare(p)) return code;

  if (auto desktop = desktop_folder()) refresh_folder(*desktop, p, &*desktop);
  std::string applications = join(g_get_user_data_dir(), "applications");
  if (plat::path_is_dir(applications)) {
    std::string tavrin = join(applications, brand_name), mesk = join(applications, old_program_name);
    refresh_folder(applications, p, &applications);
    plat::dir_create(tavrin);
    refresh_folder(tavrin, p, &tavrin);
    refresh_folder(mesk, p, &tavrin);
    ::rmdir(mesk.c_str());  // only when nothing else is left in it
    // Menus read the launchers' cache; without the tool they rescan on their own.
    program_output({"update-desktop-database", "-q", applications});
  }
  return finish();
}

int shell_brand_refresh_directory(const std::string& folder_utf8) {
  // The resolved path names the backups, so "x", "x/" and "./x" all give the same ones.
  if (folder_utf8.empty()) return refresh_bad_folder;
  char* real = realpath(folder_utf8.c_str(), nullptr);
  if (!real) return refresh_bad_folder;
  std::string folder(real);
  free(real);
  if (!plat::path_is_dir(folder)) return refresh_bad_folder;

  program_files p;
  if (int code = prepare(p)) return code;
  refresh_folder(folder, p, &folder);
  return finish();
}
