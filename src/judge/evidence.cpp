// Runtime evidence: the diagnostic build's additions and the reading of what its run wrote.
#include "judge/evidence.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
bool diagnose_supported() { return false; }
#else
bool diagnose_supported() { return true; }
#endif

// -fsanitize=undefined brings GCC's bounds, division, null and overflow checks; its runtime
// needs no shadow memory, so it fits the run's memory limit (the address sanitizer does not).
// Frame pointers keep the crash reporter's stack walk through the learner's frames.
const char* const diagnose_flags =
    " -g -fsanitize=undefined -fno-sanitize-recover=all -fno-omit-frame-pointer diagnose_helper.c";
const char* const diagnose_helper_name = "diagnose_helper.c";

// On a fatal signal: one line with the signal, the faulting address, the stack pointer, the
// program's load address, the faulting instruction and the return addresses on the stack;
// then the program dies of the same signal. Only async-signal-safe calls in the handler.
const char* const diagnose_helper_source = R"helper(
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include <execinfo.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <ucontext.h>
#include <unistd.h>
#ifdef __cplusplus
extern "C" {
#endif
extern char __executable_start[];
#ifdef __cplusplus
}
#endif
static char diagnose_stack_[65536];
static void diagnose_hex_(char **p, uintptr_t v) {
  char t[2 + 2 * sizeof v];
  int n = 0;
  do { t[n++] = "0123456789abcdef"[v & 15]; v >>= 4; } while (v);
  *(*p)++ = '0'; *(*p)++ = 'x';
  while (n) *(*p)++ = t[--n];
}
static void diagnose_put_(char **p, const char *s) {
  size_t n = strlen(s);
  memcpy(*p, s, n);
  *p += n;
}
static void diagnose_report_(int sig, siginfo_t *info, void *context) {
  char line[1024], *p = line;
  void *frames[24];
  int n = backtrace(frames, 24), k;
  uintptr_t pc = 0, sp = 0;
  ucontext_t *uc = (ucontext_t *)context;
#if defined(__x86_64__)
  pc = (uintptr_t)uc->uc_mcontext.gregs[REG_RIP];
  sp = (uintptr_t)uc->uc_mcontext.gregs[REG_RSP];
#elif defined(__i386__)
  pc = (uintptr_t)uc->uc_mcontext.gregs[REG_EIP];
  sp = (uintptr_t)uc->uc_mcontext.gregs[REG_ESP];
#elif defined(__aarch64__)
  pc = (uintptr_t)uc->uc_mcontext.pc;
  sp = (uintptr_t)uc->uc_mcontext.sp;
#else
  (void)uc;
#endif
  diagnose_put_(&p, "\n==diagnose== signal "); diagnose_hex_(&p, (uintptr_t)sig);
  diagnose_put_(&p, " address "); diagnose_hex_(&p, (uintptr_t)info->si_addr);
  diagnose_put_(&p, " sp "); diagnose_hex_(&p, sp);
  diagnose_put_(&p, " base "); diagnose_hex_(&p, (uintptr_t)__executable_start);
  diagnose_put_(&p, " pc "); diagnose_hex_(&p, pc);
  diagnose_put_(&p, " frames");
  for (k = 0; k < n; ++k) { *p++ = ' '; diagnose_hex_(&p, (uintptr_t)frames[k]); }
  *p++ = '\n';
  if (write(2, line, (size_t)(p - line)) < 0) p = line;
  signal(sig, SIG_DFL);
  raise(sig);
}
__attribute__((constructor)) static void diagnose_watch_(void) {
  stack_t alt;
  struct sigaction act;
  void *warm[1];
  int sigs[4] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL}, k;
  backtrace(warm, 1); /* loads the unwinder now, not inside the handler */
  memset(&alt, 0, sizeof alt);
  alt.ss_sp = diagnose_stack_;
  alt.ss_size = sizeof diagnose_stack_;
  sigaltstack(&alt, 0);
  memset(&act, 0, sizeof act);
  act.sa_sigaction = diagnose_report_;
  act.sa_flags = SA_SIGINFO | SA_ONSTACK;
  for (k = 0; k < 4; ++k) sigaction(sigs[k], &act, 0);
}
)helper";

namespace {

constexpr size_t text_cap = 240;  // bytes of the source line shown

// The source's line number n (1-based), without its line break; false past the end.
bool source_line(const char* source, int n, std::string* out) {
  if (n < 1) return false;
  const char* p = source;
  for (int k = 1; k < n; ++k) {
    p = std::strchr(p, '\n');
    if (!p) return false;
    ++p;
  }
  if (!*p && n > 1) return false;
  const char* end = std::strchr(p, '\n');
  out->assign(p, end ? size_t(end - p) : std::strlen(p));
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return true;
}

std::string trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  std::string t = s.substr(a, b - a);
  if (t.size() > text_cap) {
    size_t n = text_cap;
    while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;  // whole characters
    t.resize(n);
    t += "…";
  }
  return t;
}

bool ident_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The array and the indexing expression at column col (1-based) of a source line: the
// compiler points at the array's name or at its '['. Both empty when nothing fits.
void indexing_at(const std::string& line, int col, std::string* name, std::string* expr) {
  name->clear();
  expr->clear();
  if (col < 1 || size_t(col) > line.size()) return;
  size_t at = size_t(col - 1);
  if (line[at] == ']') {  // C++ points at the closing bracket
    int depth = 0;
    for (size_t k = at + 1; k-- > 0;) {
      if (line[k] == ']') ++depth;
      if (line[k] == '[' && --depth == 0) {
        at = k;
        break;
      }
    }
    if (line[at] != '[') return;
  } else if (line[at] != '[') {
    while (at < line.size() && ident_char(line[at])) ++at;
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size() || line[at] != '[') return;
  }
  size_t end = at;  // the identifier right before '['
  while (end > 0 && line[end - 1] == ' ') --end;
  size_t start = end;
  while (start > 0 && ident_char(line[start - 1])) --start;
  if (start == end || (line[start] >= '0' && line[start] <= '9')) return;
  int depth = 0;
  size_t close = at;
  for (; close < line.size(); ++close) {
    if (line[close] == '[') ++depth;
    if (line[close] == ']' && --depth == 0) break;
  }
  *name = line.substr(start, end - start);
  if (close < line.size() && close - start < 48) *expr = line.substr(start, close + 1 - start);
}

bool read_int(const char*& p, long long* v) {
  bool neg = *p == '-';
  const char* q = neg ? p + 1 : p;
  if (*q < '0' || *q > '9') return false;
  unsigned long long x = 0;
  for (; *q >= '0' && *q <= '9'; ++q) {
    if (x > 100000000000000000ull) return false;  // far past any array this program can have
    x = x * 10 + unsigned(*q - '0');
  }
  *v = neg ? -static_cast<long long>(x) : static_cast<long long>(x);
  p = q;
  return true;
}

bool read_hex(const char*& p, uint64_t* v) {
  if (p[0] != '0' || p[1] != 'x') return false;
  const char* q = p + 2;
  uint64_t x = 0;
  int digits = 0;
  for (;; ++q, ++digits) {
    int d = (*q >= '0' && *q <= '9') ? *q - '0' : (*q >= 'a' && *q <= 'f') ? *q - 'a' + 10 : -1;
    if (d < 0) break;
    if (digits >= 16) return false;
    x = x * 16 + uint64_t(d);
  }
  if (digits == 0) return false;
  *v = x;
  p = q;
  return true;
}

std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* f, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, f);
  std::vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

// A sanitizer report: "<path>solution.c:<line>:<col>: runtime error: <what>".
struct check_report {
  const char* at = nullptr;  // where in the output it starts
  int line = 0, col = 0;
  std::string what;
};

check_report last_check_report(const char* output, const char* source_name) {
  check_report best;
  static const char marker[] = ": runtime error: ";
  const size_t name_len = std::strlen(source_name);
  for (const char* m = std::strstr(output, marker); m; m = std::strstr(m + 1, marker)) {
    const char* start = m;
    while (start > output && start[-1] != '\n') --start;
    // "<path>solution.c:L:C" right before the marker
    const char* p = m;
    const char* colon2 = nullptr;
    const char* colon1 = nullptr;
    for (const char* q = m - 1; q >= start; --q) {
      if (*q == ':') {
        if (!colon2) colon2 = q;
        else { colon1 = q; break; }
      }
    }
    if (!colon1 || size_t(colon1 - start) < name_len) continue;
    const char* name = colon1 - name_len;
    if (std::strncmp(name, source_name, name_len) != 0) continue;
    if (name != start && name[-1] != '/' && name[-1] != '\\') continue;
    long long line = 0, col = 0;
    const char* r = colon1 + 1;
    if (!read_int(r, &line) || r != colon2) continue;
    r = colon2 + 1;
    if (!read_int(r, &col) || r != m) continue;
    (void)p;
    if (line < 1 || line > 1000000 || col < 0 || col > 100000) continue;
    check_report c;
    c.at = start;
    c.line = int(line);
    c.col = int(col);
    const char* what = m + sizeof marker - 1;
    const char* eol = std::strchr(what, '\n');
    c.what.assign(what, eol ? size_t(eol - what) : std::strlen(what));
    best = c;
  }
  return best;
}

// The crash reporter's line.
struct crash_report {
  const char* at = nullptr;
  uint64_t signal = 0, address = 0, sp = 0, base = 0, pc = 0;
  std::vector<uint64_t> frames;
};

crash_report last_crash_report(const char* output) {
  static const char marker[] = "==diagnose== signal ";
  const char* last = nullptr;
  for (const char* m = std::strstr(output, marker); m; m = std::strstr(m + 1, marker)) last = m;
  crash_report c;
  if (!last) return c;
  const char* p = last + sizeof marker - 1;
  auto field = [&](const char* label, uint64_t* v) {
    const size_t n = std::strlen(label);
    if (std::strncmp(p, label, n) != 0) return false;
    p += n;
    return read_hex(p, v);
  };
  if (!read_hex(p, &c.signal) || !field(" address ", &c.address) || !field(" sp ", &c.sp) ||
      !field(" base ", &c.base) || !field(" pc ", &c.pc) || std::strncmp(p, " frames", 7) != 0)
    return c;
  p += 7;
  uint64_t f;
  while (*p == ' ' && c.frames.size() < 24) {
    ++p;
    if (!read_hex(p, &f)) break;
    c.frames.push_back(f);
  }
  c.at = last;
  return c;
}

// The line number in a mapped "path/solution.c:12 (discriminator 1)", 0 when it names
// another file or no line.
int mapped_line(const std::string& mapped, const char* source_name) {
  const size_t colon = mapped.rfind(':', mapped.find(' ') == std::string::npos
                                            ? std::string::npos
                                            : mapped.find(' '));
  if (colon == std::string::npos) return 0;
  const std::string path = mapped.substr(0, colon);
  const size_t name_len = std::strlen(source_name);
  if (path.size() < name_len || path.compare(path.size() - name_len, name_len, source_name) != 0)
    return 0;
  if (path.size() > name_len) {
    const char before = path[path.size() - name_len - 1];
    if (before != '/' && before != '\\') return 0;
  }
  const char* p = mapped.c_str() + colon + 1;
  long long line = 0;
  if (!read_int(p, &line) || line < 1 || line > 1000000) return 0;
  return int(line);
}

std::string check_message(const check_report& c, const std::string& line_text, std::string* kind) {
  const int n = c.line;
  const char* w = c.what.c_str();
  if (std::strncmp(w, "index ", 6) == 0) {
    *kind = "bounds";
    const char* p = w + 6;
    long long index = 0, size = 0;
    bool have = read_int(p, &index) && std::strncmp(p, " out of bounds for type '", 25) == 0;
    if (have) {
      const char* br = std::strchr(p + 25, '[');
      p = br ? br + 1 : "";
      have = read_int(p, &size) && *p == ']' && size > 0;
    }
    std::string name, expr;
    indexing_at(line_text, c.col, &name, &expr);
    if (!have)
      return name.empty() ? format("第 %d 行：数组下标越界。", n)
                          : format("第 %d 行：数组 %s 的下标越界。", n, name.c_str());
    if (name.empty())
      return format("第 %d 行：数组下标越界：下标 %lld，数组只有 %lld 个元素，合法下标是 0 到 %lld。",
                    n, index, size, size - 1);
    return format("第 %d 行：%s 越界：下标 %lld，数组 %s 只有 %lld 个元素，合法下标是 0 到 %lld。", n,
                  expr.empty() ? name.c_str() : expr.c_str(), index, name.c_str(), size, size - 1);
  }
  if (std::strstr(w, "division by zero")) {
    *kind = "divide";
    return format("第 %d 行：除数为 0。做除法或取余（/ 或 %%）之前，先确认除数不是 0。", n);
  }
  if (std::strstr(w, "null pointer")) {
    *kind = "null";
    return format("第 %d 行：使用了空指针（NULL）：指针没有指向任何变量或内存就被读写了。检查它在使用前是否已经赋值。", n);
  }
  if (std::strncmp(w, "signed integer overflow", 23) == 0 || std::strncmp(w, "negation of", 11) == 0 ||
      (std::strncmp(w, "division of", 11) == 0 && std::strstr(w, "cannot be represented"))) {
    *kind = "overflow";
    return format("第 %d 行：整数溢出：计算结果超出了这个整数类型能表示的范围（int 约为 ±21 亿），结果已经不可信。可以改用 long long，或检查计算过程。", n);
  }
  *kind = "undefined";
  return format("第 %d 行：这一行的运算在 C/C++ 里没有定义（例如移位的位数超出范围、越过数组的指针运算），结果不可信。", n);
}

}  // namespace

runtime_evidence read_evidence(const char* output, const char* source, const char* source_name,
                               bool exe_is_pie, const address_mapper& map) {
  runtime_evidence e;
  if (!output || !source) return e;
  const check_report check = last_check_report(output, source_name);
  const crash_report crash = last_crash_report(output);
  std::string line_text;
  if (check.at && (!crash.at || check.at > crash.at)) {
    if (!source_line(source, check.line, &line_text)) return e;
    e.message = check_message(check, line_text, &e.kind);
    e.line = check.line;
  } else if (crash.at) {
    // The faulting instruction exactly; return addresses point just past their call.
    std::vector<uint64_t> where;
    const uint64_t bias = exe_is_pie ? crash.base : 0;
    auto add = [&](uint64_t address, uint64_t back) {
      if (address < bias + back || where.size() >= 24) return;
      where.push_back(address - bias - back);
    };
    add(crash.pc, 0);
    for (uint64_t f : crash.frames) add(f, 1);
    if (where.empty()) return e;
    const std::vector<std::string> mapped = map(where);
    int line = 0;
    bool own = false;  // the fault is in the learner's own code, not in a library it called
    for (size_t k = 0; k < mapped.size() && k < where.size(); ++k) {
      line = mapped_line(mapped[k], source_name);
      if (line) {
        own = k == 0;
        break;
      }
    }
    if (!line || !source_line(source, line, &line_text)) return e;
    e.line = line;
    const uint64_t gap = crash.address > crash.sp ? crash.address - crash.sp : crash.sp - crash.address;
    if (crash.signal == 11 && gap < 65536) {
      e.kind = "stack";
      e.message = format("第 %d 行：递归太深，栈空间用完了（栈溢出）。检查递归是否一定能走到结束条件。", line);
    } else if (crash.signal == 8) {
      e.kind = "divide";
      e.message = format("第 %d 行：除数为 0，或除法结果超出范围（如 INT_MIN / -1）。做除法或取余之前先检查除数。", line);
    } else if (!own) {
      e.kind = "library";
      e.message = format("第 %d 行：这一行调用的库函数访问了不属于程序的内存。常见原因是 scanf 的参数漏写了 &（应写成 scanf(\"%%d\", &n)），或传入的指针、数组无效。", line);
    } else if (crash.address < 4096) {
      e.kind = "null";
      e.message = format("第 %d 行：使用了空指针（NULL）：指针没有指向任何变量或内存就被读写了。检查它在使用前是否已经赋值。", line);
    } else {
      e.kind = "memory";
      e.message = format("第 %d 行：程序在这一行访问了不属于它的内存（地址 0x%llx）。检查数组下标和指针。",
                         line, (unsigned long long)crash.address);
    }
  } else {
    return e;
  }
  e.text = trimmed(line_text);
  e.found = true;
  return e;
}

void evidence_json(text_buffer* b, const runtime_evidence& e) {
  if (!e.found) return;
  b_add(b, ",\"evidence\":{\"kind\":");
  b_json(b, e.kind.c_str());
  b_fmt(b, ",\"line\":%d,\"text\":", e.line);
  b_json(b, e.text.c_str());
  b_add(b, ",\"message\":");
  b_json(b, e.message.c_str());
  b_add(b, "}");
}
