// One running instance per program folder, the stop signal between processes
// of the same folder, the command line, and handing the start URL to a browser.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The whole command line as UTF-8: GetCommandLineW on Windows; on Linux the
// arguments of /proc/self/cmdline joined with single spaces.
std::string command_line();
// The text after the program name, leading blanks skipped (what WinMain is given).
std::string command_args();
// The command line split by the system's own rules (CommandLineToArgvW on Windows,
// the process's argv on Linux); empty when splitting fails.
std::vector<std::string> command_argv();

// 32-bit FNV-1a over the UTF-16 code units of the folder path (each unit taken whole).
uint32_t instance_id(const std::string& folder_utf8);

enum class instance_state { owned, taken, failed };
// Takes the instance lock of the program folder whose data folder is data_dir: the named
// mutex "Local\Mesk-%08x" of id on Windows; on Linux an exclusive lock on data_dir/instance.lock
// (holding our pid), so one folder has one owner whatever the environment it is started from.
// taken: another process of the same folder holds it.
instance_state instance_lock(uint32_t id, const std::string& data_dir);
// Orderly end: release and close the lock.
void instance_release();
// Second instance: close the handle without releasing anything.
void instance_abandon();

// Called before instance_lock: from here on a stop signal (SIGTERM/SIGINT on Linux) waits
// instead of ending the process at once. stop_create lets it through to the stop flag (the
// owner ends in order, however early it comes); instance_abandon lets it end a second
// instance as it would have. Nothing on Windows, where the stop is an event.
void stop_prepare();

// The stop signal: a manual-reset event "Local\MeskStop-%08x" on Windows, an
// in-process flag set by SIGTERM/SIGINT on Linux. Once set it stays set.
bool stop_create(uint32_t id);
void stop_set();
bool stop_is_set();
// Closes the event. On Linux the signals keep setting the flag until the process ends, so a
// late stop signal never cuts the orderly end short.
void stop_close();
// --stop: signals the instance of the same folder; false when none runs.
bool stop_notify_running(uint32_t id, const std::string& data_dir);
// Second instance: makes stop_set() stop the running instance of id; false when
// there is none to stop.
bool stop_attach_running(uint32_t id, const std::string& data_dir);
// Pid of the process holding the instance lock of data_dir (Linux), 0 when none does (and
// always 0 on Windows). Only looks: never takes the lock, not even for a moment.
long instance_owner(const std::string& data_dir);

// No system error dialogs for this process; a closed peer never kills it (SIGPIPE).
void process_error_mode();

// Writes path atomically (temporary sibling, flush, rename), readable by the
// user only on Linux (0600); false on failure.
bool write_private_file(const std::string& path, const std::string& bytes);

// Opens url in a browser: an app-mode window of Edge (Windows) or Chromium/Chrome
// (Linux) when installed, else the default browser. On Linux the URL goes through
// a redirect page readable only by the user, so the token never stands on a
// command line. The result is not reported.
void open_url(const std::string& url);
// Removes what open_url left behind (the redirect page).
void open_url_forget();
// For a process that ends right after open_url (a second instance): waits until the browser
// has opened the redirect page (at most timeout_ms), then removes it.
void open_url_hand_over(int timeout_ms);
// Prints the start URL where the user sees it (stdout on Linux; nothing for the
// windowed Windows program).
void announce_url(const std::string& url);

}  // namespace plat
