// The local API behind the request gate: bank, progress, restamp list, status,
// code export, shutdown; judge and cloud requests are handed on.
#pragma once
#include <cstdint>

#include "http/server.h"

struct api_request {
  const char* method;      // at most 11 characters
  const char* path;        // at most 255 characters, query string included
  const char* request;     // the whole request text, for header_value
  const char* body;        // NUL-terminated, starts right after the head
  int32_t content_length;  // 0 when the header was absent
};

// Answers one request whose path begins with "/api/" and that passed the token
// and Origin checks.
void api_handle(const http_io& io, const api_request& r);
