// Shared between the cloud module's files: its state and the pieces each file offers.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

constexpr size_t service_max = 511;    // longest service address, in bytes
constexpr size_t user_name_max = 127;  // longest account name, in bytes
constexpr unsigned long long config_limit = 8192;
constexpr unsigned long long session_limit = 8192;
// The answer to a path under /api/cloud/ that names nothing.
inline constexpr const char* msg_no_such_endpoint = "云端接口不存在。";

// Module state. The identity fields (user_id, user_name, access_token and store's profile, plus
// remembered) change together and only while store_lock is held.
extern std::string service;       // "" or an address valid_url accepted
extern std::string user_id;       // "" or 36 characters of hex digits and '-'
extern std::string user_name;     // "" or 1 to 127 bytes
extern std::string access_token;  // "" or 43 characters of letters, digits, '_' and '-'
extern int remembered;            // 1 when the sign-in is stored in cloud-session.bin
extern int backup_sequence;       // backups made since start
extern std::string restore_problem;  // why a stored sign-in was not restored at start, "" if none
extern std::string restore_user;     // the account name that sign-in had, when known
extern std::mutex cloud_lock;     // held over every cloud request

// ---- transport.cpp
int valid_url(const char* text);  // 1 when text is an acceptable service root address
// The service's answer (malloc'ed JSON object text; the caller frees, wiping when it may hold a
// secret) or nullptr when no acceptable answer came; status is the HTTP status once known.
char* remote(const char* method, const char* path, const char* body, bool with_token, uint32_t* status);
char* wrapped_remote(const char* method, const char* body);  // /v1/progress, wrapped for the page
void wipe_free(char* text);                                  // zeroes a secret text, then frees it

// ---- account.cpp
char* public_status();
int valid_identity(const char* id, const char* name, const char* token);
void make_profile();  // under store_lock
char* handle_locked(const char* method, const char* path, const char* body);

// ---- sync.cpp
char* sync_base();
char* sync_guest();
char* sync_pull();
char* sync_backups();  // this account's backups, newest first
char* sync_post(const char* path, const char* body);
