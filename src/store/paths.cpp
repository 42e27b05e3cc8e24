#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/fs.h"
#include "platform/locate.h"
#include "store/store.h"

std::string path_join(const std::string& folder, const std::string& name) {
  std::string out;
  out.reserve(folder.size() + 1 + name.size());
  out += folder;
  out += plat::path_sep;
  out += name;
  out.resize(plat::path_prefix_bytes(out, path_max_units));
  return out;
}

std::string store_path(const std::string& name) {
  return path_join(path_join(app_root, "data"), name);
}

char* read_utf8(const std::string& path, unsigned long long limit) {
  // One block, read in place: a file that does not fit in memory is a failed read, never the
  // end of the program.
  size_t size = 0;
  char* text = plat::file_read_block(path, limit, &size);
  if (!text) return nullptr;
  if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) std::memmove(text, text + 3, size - 2);
  return text;
}

int write_atomic(const std::string& path, const char* text) {
  try {
    return plat::file_replace_atomic(path, std::string_view(text, std::strlen(text))) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;  // not even the temporary name could be formed: nothing was written
  }
}
