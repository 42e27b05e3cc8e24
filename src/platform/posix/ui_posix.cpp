#include "platform/ui.h"

#include <cstdio>

namespace plat {

static message_box_handler box_handler = nullptr;

void message_box_use(message_box_handler handler) { box_handler = handler; }

void message_box_error(const std::string& caption, const std::string& text) {
  if (box_handler && box_handler(caption, text)) return;
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace plat
