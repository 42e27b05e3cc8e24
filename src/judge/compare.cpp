// Output comparison: token by token, layout never matters.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "judge/judge_internal.h"

static bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static const char* token_end(const char* p) {
  while (*p && !is_space(*p)) ++p;
  return p;
}

// The token as a finite number, or false when it is not wholly one.
static bool whole_number(const char* begin, const char* end, double* value) {
  char* stop = nullptr;
  *value = std::strtod(begin, &stop);
  return stop == end && std::isfinite(*value);
}

int outputs_match(const char* actual, const char* expected, bool float_mode) {
  const char* a = actual;
  const char* e = expected;
  for (;;) {
    while (is_space(*a)) ++a;
    while (is_space(*e)) ++e;
    if (!*a) return *e ? 0 : 1;
    if (!*e) return 0;
    const char* a_end = token_end(a);
    const char* e_end = token_end(e);
    const size_t a_len = size_t(a_end - a), e_len = size_t(e_end - e);
    if (a_len != e_len || std::memcmp(a, e, a_len) != 0) {
      if (!float_mode) return 0;
      double av, ev;
      if (!whole_number(a, a_end, &av) || !whole_number(e, e_end, &ev)) return 0;
      if (std::fabs(av - ev) > 1e-6 * std::fmax(1.0, std::fabs(ev))) return 0;
    }
    a = a_end;
    e = e_end;
  }
}
