// Any text: the validator answers null or one of its messages, never crashes or leaks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store/store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  char* message = bank_validate(text.c_str());
  if (message) {
    if (std::strlen(message) == 0) std::abort();  // a failure always says something
    std::free(message);
  }
  return 0;
}
