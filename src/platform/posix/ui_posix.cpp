#include "platform/ui.h"

#include <cstdio>

namespace plat {

void message_box_error(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace plat
