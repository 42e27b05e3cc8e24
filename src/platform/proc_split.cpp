// Command-line splitting by the Windows C runtime's rules, so one command line means the same
// arguments on both platforms.
#include "platform/proc.h"

namespace plat {

static bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string> command_line_split(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0, n = line.size();
  // The program name: quotes only group, backslashes are plain.
  while (i < n && is_blank(line[i])) ++i;
  if (i == n) return args;
  std::string first;
  if (line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') first += line[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !is_blank(line[i])) first += line[i++];
  }
  args.push_back(std::move(first));

  for (;;) {
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !is_blank(line[i]))) {
      if (line[i] == '\\') {
        size_t run = 0;
        while (i < n && line[i] == '\\') ++run, ++i;
        if (i < n && line[i] == '"') {
          arg.append(run / 2, '\\');
          if (run % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(run, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {  // "" inside quotes: one literal quote
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace plat
