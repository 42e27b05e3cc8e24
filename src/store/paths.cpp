#include <cstdlib>
#include <cstring>

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
  std::optional<std::string> content = plat::file_read_all(path, limit);
  if (!content) return nullptr;
  const char* data = content->data();
  size_t size = content->size();
  if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
    data += 3;
    size -= 3;
  }
  char* out = static_cast<char*>(std::malloc(size + 1));
  if (!out) return nullptr;
  std::memcpy(out, data, size);
  out[size] = '\0';
  return out;
}

int write_atomic(const std::string& path, const char* text) {
  return plat::file_replace_atomic(path, std::string_view(text, std::strlen(text))) ? 1 : 0;
}
