#include <cstdlib>
#include <cstring>

#include "store/store.h"

std::string gcc_path;
std::string gpp_path;
std::mutex store_lock;
std::string profile;

namespace {
constexpr size_t state_name_max = 63;  // the name is formed in a 64-character buffer
}

char* bank_load() {
  std::string path = store_path("bank.json");
  std::lock_guard<std::mutex> hold(store_lock);
  return read_utf8(path, store_file_limit);
}

char* state_load() {
  char* text;
  {
    std::lock_guard<std::mutex> hold(store_lock);
    text = read_utf8(cloud_state_path(), store_file_limit);
  }
  if (text) return text;
  char* empty = static_cast<char*>(std::malloc(3));
  if (empty) std::memcpy(empty, "{}", 3);
  return empty;
}

std::string cloud_state_path() {
  std::string name = profile.empty() ? std::string("state.json") : "state-" + profile + ".json";
  if (name.size() > state_name_max) name.resize(state_name_max);
  return store_path(name);
}

int cloud_profile_matches(const char* name) {
  if (!name) return 0;
  const char* expected = profile.empty() ? "guest" : profile.c_str();
  return std::strcmp(name, expected) == 0 ? 1 : 0;
}
