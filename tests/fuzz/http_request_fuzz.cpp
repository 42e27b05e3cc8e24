// Request reading and the gate on arbitrary bytes arriving in arbitrary pieces:
// no crash, no read past the buffer, and every answer has a well-formed head.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/server.h"
#include "store/store.h"

namespace {

struct fuzz_conn {
  const uint8_t* data;
  size_t size;
  size_t pos;
  std::string sent;
};

// The first byte of the input sets the piece length, so the fuzzer also explores
// how a request is split across receives.
int fuzz_recv(void* ctx, char* buf, int len, int) {
  auto* c = static_cast<fuzz_conn*>(ctx);
  if (c->pos >= c->size) return 0;
  size_t piece = 1 + (c->size ? c->data[0] % 64 : 0) * 37;
  size_t n = std::min({piece, c->size - c->pos, static_cast<size_t>(len)});
  std::memcpy(buf, c->data + c->pos, n);
  c->pos += n;
  return static_cast<int>(n);
}

int fuzz_send(void* ctx, const char* buf, int len) {
  static_cast<fuzz_conn*>(ctx)->sent.append(buf, static_cast<size_t>(len));
  return len;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  host_value = "127.0.0.1:4321";
  token = "00112233445566778899aabbccddeeff0011223344556677";
  app_root = "/nonexistent-tavrin-fuzz";
  fuzz_conn c{data, size, 1, {}};
  handle_request(http_io{&c, fuzz_recv, fuzz_send});
  if (!c.sent.empty()) {
    if (c.sent.compare(0, 9, "HTTP/1.1 ") != 0) abort();
    size_t end = c.sent.find("\r\n\r\n");
    if (end == std::string::npos) abort();
    const char* cl = std::strstr(c.sent.c_str(), "Content-Length: ");
    if (!cl || static_cast<size_t>(std::atol(cl + 16)) != c.sent.size() - end - 4) abort();
  }
  return 0;
}
