// The compile cache. One file per entry, "<key>.bin" in a private folder beside the work folders:
//   "TAVCC1 <run tag> <diagnostics bytes> <program bytes>\n", a 32-byte seal, the diagnostics,
//   the program. The run tag (a digest of the seal key) tells entries of an earlier run apart.
// The seal is an HMAC-SHA-256 under a key drawn at random when the program starts, over the
// entry's name and everything after the seal. An entry that does not carry a good seal (cut
// short, damaged on disk, altered, left by an earlier run of the program) is removed and the
// code compiled anew, so no program is ever run that this run of the program did not compile.
// Entries are written under a temporary name of their own and renamed into place, so a reader sees a whole
// entry or none, and two compiles of the same code at once leave one whole entry.
#include "judge/compile_cache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "judge/judge_internal.h"
#include "log/log.h"
#include "platform/crypto.h"
#include "platform/fs.h"
#include "platform/sys.h"
#include "store/store.h"

namespace {

constexpr char magic[] = "TAVCC1";
constexpr size_t seal_size = 32;

std::mutex state_lock;
compile_cache_limits limits;
uint8_t seal_key[64];
bool seal_key_ready = false;

std::string run_tag;

std::string hex(const uint8_t* bytes, size_t n);

bool ensure_key() {  // under state_lock
  if (!seal_key_ready) {
    uint8_t digest[32];
    seal_key_ready = plat::random_bytes(seal_key, sizeof seal_key) &&
                     plat::sha256(std::string_view(reinterpret_cast<const char*>(seal_key), sizeof seal_key), digest);
    if (seal_key_ready) run_tag = hex(digest, 8);
  }
  return seal_key_ready;
}

std::string hex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t k = 0; k < n; ++k) {
    out += digits[bytes[k] >> 4];
    out += digits[bytes[k] & 15];
  }
  return out;
}

// HMAC-SHA-256 (RFC 2104) under the run's key of head followed by body.
bool seal(std::string_view head, std::string_view body, uint8_t out[32]) {
  std::string inner(64, '\0'), outer(64, '\0');
  for (size_t k = 0; k < 64; ++k) {
    inner[k] = char(seal_key[k] ^ 0x36);
    outer[k] = char(seal_key[k] ^ 0x5c);
  }
  inner.reserve(64 + head.size() + body.size());
  inner.append(head);
  inner.append(body);
  uint8_t inner_digest[32];
  if (!plat::sha256(inner, inner_digest)) return false;
  outer.append(reinterpret_cast<const char*>(inner_digest), sizeof inner_digest);
  const bool ok = plat::sha256(outer, out);
  plat::secure_wipe(inner.data(), 64);
  plat::secure_wipe(outer.data(), 64);
  return ok;
}

bool same_bytes(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t k = 0; k < n; ++k) diff |= uint8_t(a[k] ^ b[k]);
  return diff == 0;
}

// The folder this run keeps its entries in, once chosen; own_folder when it is one this run made
// for itself (removed at the end, see compile_cache_end).
std::string chosen_folder;
bool own_folder = false;

std::string folder_now() {  // under state_lock
  if (!limits.folder.empty()) return limits.folder;
  if (!chosen_folder.empty()) return chosen_folder;
  const std::string temp = plat::temp_dir();
  if (temp.empty()) return {};
  // "Mesk-cache" with the user's id where the temporary folder is shared. Should that name be
  // held by somebody else (another user's folder, a link, a folder others may enter), this run
  // uses a new folder of its own with a name no one can guess, so nobody can turn the cache off
  // for another user or make it read their files.
  const std::string usual = path_join(temp, "Mesk-cache" + plat::temp_user_suffix());
  if (plat::dir_ensure_private(usual)) return chosen_folder = usual;
  for (int attempt = 0; attempt < 8; ++attempt) {
    uint8_t random[8];
    if (!plat::random_bytes(random, sizeof random)) break;
    const std::string fresh = usual + "-" + hex(random, sizeof random);
    if (plat::dir_create_private(fresh)) {
      log_write("W", "编译缓存文件夹 %s 不属于当前用户，本次改用 %s", usual.c_str(), fresh.c_str());
      own_folder = true;
      return chosen_folder = fresh;
    }
  }
  return {};
}

std::string entry_path(const std::string& folder, const std::string& key) {
  return path_join(folder, key + ".bin");
}

// Drops the least recently used entries until both bounds hold.
void trim(const std::string& folder) {
  struct item {
    std::string path;
    int64_t time;
    uint64_t size;
  };
  std::vector<item> items;
  uint64_t total = 0;
  for (const plat::dir_entry& e : plat::dir_list(folder, "*.bin")) {
    if (e.is_dir) continue;
    const std::string path = path_join(folder, e.name);
    const uint64_t size = plat::file_size(path).value_or(0);
    items.push_back({path, e.write_time, size});
    total += size;
  }
  std::sort(items.begin(), items.end(), [](const item& a, const item& b) {
    return a.time != b.time ? a.time < b.time : a.path < b.path;
  });
  size_t count = items.size();
  for (const item& it : items) {
    if (count <= limits.max_entries && total <= limits.max_bytes) break;
    plat::file_delete(it.path);
    --count;
    total -= it.size;
  }
  // A writer that died between its temporary file and the rename leaves the file behind.
  const int64_t hour_ago = plat::time_now_filetime() - 36000000000LL;
  for (const plat::dir_entry& e : plat::dir_list(folder, "*.tmp"))
    if (!e.is_dir && e.write_time < hour_ago) plat::file_delete(path_join(folder, e.name));
}

}  // namespace

void compile_cache_configure(const compile_cache_limits& l) {
  std::lock_guard<std::mutex> hold(state_lock);
  limits = l;
  chosen_folder.clear();
  own_folder = false;
}

void compile_cache_end() {
  std::lock_guard<std::mutex> hold(state_lock);
  // Entries are sealed with this run's key: no later run can use them, so the folder goes
  // (the usual name too; another running copy that shares it only recompiles).
  if (!chosen_folder.empty() && limits.folder.empty()) plat::dir_delete_tree(chosen_folder);
  chosen_folder.clear();
  own_folder = false;
}

std::string compile_cache_folder() {
  std::lock_guard<std::mutex> hold(state_lock);
  return folder_now();
}

std::string compile_cache_key(const std::string& compiler, const std::string& command_line,
                              const char* source) {
  const std::string identity = plat::file_identity(compiler);
  if (identity.empty() || !source) return {};
  std::string text = "tavrin compile cache 1";
  for (const std::string* part : {&identity, &command_line}) {
    text += '\0';
    text += std::to_string(part->size());
    text += '\0';
    text += *part;
  }
  text += '\0';
  text += source;
  uint8_t digest[32];
  if (!plat::sha256(text, digest)) return {};
  return hex(digest, sizeof digest);
}

bool compile_cache_fetch(const std::string& key, const std::string& exe_path,
                         std::string* diagnostics) {
  if (key.empty()) return false;
  std::lock_guard<std::mutex> hold(state_lock);
  const std::string folder = folder_now();
  if (folder.empty() || !ensure_key() || !plat::dir_ensure_private(folder)) return false;
  const std::string path = entry_path(folder, key);
  if (!plat::path_exists(path)) return false;
  std::optional<std::string> entry = plat::file_read_all(path, limits.max_bytes);
  bool good = false, earlier_run = false;
  size_t diag_size = 0, exe_size = 0, body = 0;
  if (entry) {
    const size_t line_end = entry->find('\n');
    char tag[8] = {}, run[17] = {};
    unsigned long long d = 0, e = 0;
    int used = 0;
    if (line_end != std::string::npos && line_end < 96 &&
        std::sscanf(entry->substr(0, line_end).c_str(), "%7s %16s %llu %llu%n", tag, run, &d, &e,
                    &used) == 4 &&
        size_t(used) == line_end && std::strcmp(tag, magic) == 0) {
      earlier_run = run_tag != run;
      body = line_end + 1 + seal_size;
      diag_size = size_t(d);
      exe_size = size_t(e);
      if (d <= entry->size() && e <= entry->size() && body + diag_size + exe_size == entry->size() &&
          exe_size > 0) {
        const std::string head = key + "\n" + entry->substr(0, line_end + 1);
        uint8_t expected[32];
        good = seal(head, std::string_view(*entry).substr(body), expected) &&
               same_bytes(expected, reinterpret_cast<const uint8_t*>(entry->data() + line_end + 1),
                          seal_size);
      }
    }
  }
  if (!good) {
    if (!earlier_run)
      log_write("W", "编译缓存条目 %.12s 已损坏或被改动，已删除并重新编译", key.c_str());
    plat::file_delete(path);
    return false;
  }
  if (!plat::file_write_executable(exe_path,
                                   std::string_view(entry->data() + body + diag_size, exe_size))) {
    plat::file_delete(exe_path);
    return false;
  }
  diagnostics->assign(*entry, body, diag_size);
  plat::file_set_write_time(path, plat::time_now_filetime());  // recently used: dropped last
  return true;
}

void compile_cache_store(const std::string& key, const std::string& exe_path,
                         const char* diagnostics) {
  if (key.empty()) return;
  std::lock_guard<std::mutex> hold(state_lock);
  const std::string folder = folder_now();
  if (folder.empty() || !ensure_key() || !plat::dir_ensure_private(folder)) return;
  std::optional<std::string> program = plat::file_read_all(exe_path, limits.max_bytes);
  if (!program || program->empty()) return;
  const std::string diag = diagnostics ? diagnostics : "";
  char head[96];
  std::snprintf(head, sizeof head, "%s %s %llu %llu\n", magic, run_tag.c_str(),
                (unsigned long long)diag.size(),
                (unsigned long long)program->size());
  const size_t head_size = std::strlen(head);
  std::string entry;
  entry.reserve(head_size + seal_size + diag.size() + program->size());
  entry.append(head, head_size);
  entry.append(seal_size, '\0');
  entry += diag;
  entry += *program;
  program.reset();
  if (entry.size() > limits.max_bytes) return;
  uint8_t mac[32];
  if (!seal(key + "\n" + head, std::string_view(entry).substr(head_size + seal_size), mac)) return;
  std::memcpy(entry.data() + head_size, mac, sizeof mac);
  // Not flushed to disk: an entry a crash cuts short fails its seal and is compiled anew.
  uint8_t salt[8];
  if (!plat::random_bytes(salt, sizeof salt)) return;
  const std::string temp = path_join(folder, key + "-" + hex(salt, sizeof salt) + ".tmp");
  if (!plat::file_write(temp, entry, true) || !plat::file_rename_replace(temp, entry_path(folder, key))) {
    plat::file_delete(temp);
    return;
  }
  trim(folder);
}

compile_outcome compile_with_cache(const std::string& compiler, const std::string& command_line,
                                   const char* source, const std::string& work_dir,
                                   const std::string& exe_path, plat::run_files& files,
                                   uint32_t time_limit_ms) {
  compile_outcome out;
  const uint32_t start = plat::tick_ms();
  const std::string key = compile_cache_key(compiler, command_line, source);
  std::string kept;
  if (compile_cache_fetch(key, exe_path, &kept)) {
    out.from_cache = true;
    out.result.started = 1;
    out.result.elapsed_ms = plat::tick_ms() - start;
    out.diagnostics = static_cast<char*>(std::malloc(kept.size() + 1));
    if (out.diagnostics) {
      std::memcpy(out.diagnostics, kept.c_str(), kept.size() + 1);
      return out;
    }
    out = compile_outcome{};  // no memory for the text: compile as if nothing were kept
  }
  out.result = execute(command_line, work_dir, files, time_limit_ms, 1);
  out.diagnostics = capture(files, nullptr);
  if (ended_well(out.result)) compile_cache_store(key, exe_path, out.diagnostics);
  return out;
}
