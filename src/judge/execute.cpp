// Execution helpers of the judge: the limited run itself lives in the platform layer.
#include <cstdlib>
#include <cstring>

#include "judge/judge_internal.h"
#include "platform/fs.h"
#include "platform/text.h"

run_result execute(const std::string& command_line, const std::string& work_dir,
                   plat::run_files& files, uint32_t time_limit_ms, int compile_mode) {
  return plat::process_run_limited(command_line, work_dir, files, time_limit_ms, compile_mode != 0);
}

// Length of the text without a final multi-byte character the cap cut short; the whole
// length when the end is not such a cut.
static size_t without_cut_character(const std::string& s) {
  size_t n = s.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    unsigned char c = static_cast<unsigned char>(s[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    size_t need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    return need > back ? n - back : n;
  }
  return n;
}

static char* capture_read(std::optional<std::string> read, int* had_nul);

char* capture(const std::string& path, int* had_nul) {
  // One byte past the cap tells whether the cap cut the text.
  return capture_read(plat::file_read_head(path, uint64_t(capture_cap) + 1), had_nul);
}

char* capture(const plat::run_files& files, int* had_nul) {
  return capture_read(files.output_head(uint64_t(capture_cap) + 1), had_nul);
}

static char* capture_read(std::optional<std::string> read, int* had_nul) {
  if (had_nul) *had_nul = 0;
  if (!read) return text_copy("");
  std::string text = std::move(*read);
  const bool cut = text.size() > capture_cap;
  if (cut) text.resize(capture_cap);
  for (char& c : text) {
    if (c == '\0') {
      c = '?';
      if (had_nul) *had_nul = 1;
    }
  }
  if (plat::utf8_valid(text)) return text_copy(text);
  if (cut) {
    size_t keep = without_cut_character(text);
    if (keep < text.size() && plat::utf8_valid(std::string_view(text).substr(0, keep))) {
      text.resize(keep);
      return text_copy(text);
    }
  }
  // What a console program prints in the local code page reaches the page as UTF-8.
  return text_copy(plat::gb18030_to_utf8(text));
}

int file_write(const std::string& path, const char* text) {
  return plat::file_write(path, text ? std::string_view(text) : std::string_view()) ? 1 : 0;
}

void log_text(char* buf, size_t size, const char* text) {
  if (!buf || size == 0) return;
  if (!text) text = "";
  size_t n = 0;
  for (; n + 1 < size && text[n] != '\0'; ++n) {
    unsigned char c = static_cast<unsigned char>(text[n]);
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    else if (c < 0x20 || c == 0x7F) c = '.';
    buf[n] = static_cast<char>(c);
  }
  // Drop the whole trailing run of non-ASCII bytes, so a cut never leaves half a character.
  while (n > 0 && static_cast<unsigned char>(buf[n - 1]) >= 0x80) --n;
  buf[n] = '\0';
}
