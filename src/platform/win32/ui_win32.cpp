#include "platform/ui.h"

#include <windows.h>

#include <string>

namespace plat {

namespace {
// Converted text cut to limit units, terminator included; "" when the text is not UTF-8.
std::wstring widen_cut(const std::string& text, int limit) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), n);
  if (wide.size() > static_cast<size_t>(limit - 1)) {
    size_t cut = static_cast<size_t>(limit - 1);
    if (cut > 0 && wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF) --cut;  // keep pairs whole
    wide.resize(cut);
  }
  return wide;
}
}  // namespace

// MessageBoxW is the graphical box here.
void message_box_use(message_box_handler) {}

void message_box_error(const std::string& caption, const std::string& text) {
  std::wstring wtext = widen_cut(text, 2048);
  std::wstring wcaption = widen_cut(caption, 256);
  MessageBoxW(nullptr, wtext.c_str(), wcaption.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace plat
