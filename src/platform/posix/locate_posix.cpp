#include "platform/locate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace plat {

const char* const exe_suffix = "";
const char* const known_compiler_dir = "";
const char* const math_link_flags = " -lm";

std::string search_program(const std::string& file_name) {
  const char* path = std::getenv("PATH");
  if (!path || file_name.empty()) return "";
  std::string_view rest(path);
  while (true) {
    size_t colon = rest.find(':');
    std::string_view dir = rest.substr(0, colon);
    // An empty entry would mean the current folder, which is not where we look for compilers.
    if (!dir.empty()) {
      std::string candidate(dir);
      if (candidate.back() != '/') candidate += '/';
      candidate += file_name;
      struct stat st;
      if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          access(candidate.c_str(), X_OK) == 0)
        return candidate;
    }
    if (colon == std::string_view::npos) return "";
    rest.remove_prefix(colon + 1);
  }
}

size_t path_units(std::string_view text) { return text.size(); }

size_t path_prefix_bytes(std::string_view text, size_t max_units) {
  if (text.size() <= max_units) return text.size();
  size_t n = max_units;
  // Step back over continuation bytes so the cut never splits a character.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace plat
