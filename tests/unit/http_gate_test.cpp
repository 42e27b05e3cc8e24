// The request gate over an in-memory connection: header lookup, reading in
// pieces, size checks and what is answered (or not).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "http/server.h"

namespace {

struct memory_conn {
  std::vector<std::string> pieces;  // what each receive returns, in order
  size_t next = 0;
  std::string sent;
};

int mem_recv(void* ctx, char* buf, int len, int) {
  auto* c = static_cast<memory_conn*>(ctx);
  if (c->next >= c->pieces.size()) return 0;  // peer closed
  std::string& p = c->pieces[c->next];
  int n = static_cast<int>(std::min<size_t>(p.size(), static_cast<size_t>(len)));
  std::memcpy(buf, p.data(), static_cast<size_t>(n));
  p.erase(0, static_cast<size_t>(n));
  if (p.empty()) ++c->next;
  return n;
}

int mem_send(void* ctx, const char* buf, int len) {
  static_cast<memory_conn*>(ctx)->sent.append(buf, static_cast<size_t>(len));
  return len;
}

std::string run(std::vector<std::string> pieces) {
  memory_conn c{std::move(pieces)};
  handle_request(http_io{&c, mem_recv, mem_send});
  return c.sent;
}

std::string status_line(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

class Gate : public ::testing::Test {
 protected:
  void SetUp() override {
    host_value = "127.0.0.1:4321";
    token = std::string(48, 'a');
  }
};

TEST(HeaderValue, FindsHeadersByTheRules) {
  struct row {
    const char* request;
    const char* name;
    int found;
    const char* value;
  } rows[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", "Host", 1, "a"},
      {"GET / HTTP/1.1\r\nhOsT:\t  a b \r\n\r\n", "Host", 1, "a b "},
      {"GET / HTTP/1.1\r\nHost : a\r\n\r\n", "Host", 0, ""},
      {"GET / HTTP/1.1\r\nHostname: a\r\n\r\n", "Host", 0, ""},
      {"GET / HTTP/1.1\r\nHost:\r\n\r\n", "Host", 1, ""},  // present and empty
      {"GET / HTTP/1.1\r\nHost:   \r\n\r\n", "Host", 1, ""},
      {"GET / HTTP/1.1\r\nX: 1\r\nHost: first\r\nHost: second\r\n\r\n", "Host", 1, "first"},
      {"GET / HTTP/1.1\r\n\r\nHost: body\r\n\r\n", "Host", 0, ""},
      {"GET / HTTP/1.1\r\nHost: no line end", "Host", 0, ""},
      {"GET / HTTP/1.1", "Host", 0, ""},
      {"Host: on the request line\r\n\r\n", "Host", 0, ""},
  };
  for (const auto& r : rows) {
    char out[256] = "untouched";
    int found = header_value(r.request, r.name, out);
    EXPECT_EQ(found, r.found) << r.request;
    if (r.found) {
      EXPECT_STREQ(out, r.value) << r.request;
    }
  }
}

TEST(HeaderValue, LengthLimitIs255Bytes) {
  for (size_t len : {254u, 255u, 256u, 300u}) {
    std::string req = "GET / HTTP/1.1\r\nOrigin: " + std::string(len, 'o') + "\r\n\r\n";
    char out[256];
    EXPECT_EQ(header_value(req.c_str(), "Origin", out), len <= 255 ? 1 : 0) << len;
    if (len <= 255) {
      EXPECT_EQ(std::strlen(out), len);
    }
  }
}

TEST_F(Gate, EveryPrefixOfAValidRequestIsIncomplete) {
  const std::string req = "POST /api/nothing HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nAuthorization: Bearer " + token +
                          "\r\nContent-Length: 4\r\n\r\n{}{}";
  for (size_t cut = 0; cut < req.size(); ++cut) EXPECT_EQ(run({req.substr(0, cut)}), "") << cut;
  EXPECT_EQ(status_line(run({req})), "HTTP/1.1 200 OK");
}

TEST_F(Gate, RequestArrivingByteByByteIsRead) {
  std::string req = "GET /api/nothing HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nAuthorization: Bearer " + token + "\r\n\r\n";
  std::vector<std::string> bytes;
  for (char c : req) bytes.emplace_back(1, c);
  std::string answer = run(bytes);
  EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(answer.find("接口不存在或文件不可读取。"), std::string::npos);
}

TEST_F(Gate, AnswersByCase) {
  struct row {
    std::string request;
    const char* status;
    const char* body;  // expected at the end of the answer, or "" for no answer
  } rows[] = {
      {"GET / HTTP/1.1\r\nHost: 127.0.0.1:4322\r\n\r\n", "HTTP/1.1 403 Error", "{\"error\":\"请求来源无效。\"}"},
      {"GET / HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nContent-Length: 4194305\r\n\r\n", "HTTP/1.1 413 Error",
       "{\"error\":\"请求超过 2 MB。\"}"},
      {"GET / HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nContent-Length: 0x10\r\n\r\n", "HTTP/1.1 413 Error",
       "{\"error\":\"请求超过 2 MB。\"}"},
      {"GET /api/x HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nAuthorization: Bearer " + std::string(47, 'a') + "\r\n\r\n",
       "HTTP/1.1 403 Error", "{\"error\":\"会话已失效。请重新打开程序。\"}"},
      {"GET /api/x HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nAuthorization: Bearer " + std::string(48, 'a') +
           "\r\nOrigin: http://127.0.0.1:4321\r\n\r\n",
       "HTTP/1.1 200 OK", "{\"error\":\"接口不存在或文件不可读取。\"}"},
      {"GET /api/x HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nAuthorization: Bearer " + std::string(48, 'a') +
           "\r\nOrigin: https://127.0.0.1:4321\r\n\r\n",
       "HTTP/1.1 403 Error", "{}"},
      {"PUT /x HTTP/1.1\r\nHost: 127.0.0.1:4321\r\n\r\n", "HTTP/1.1 405 Error", "{}"},
      {std::string("GET / HTTP/1.1\r\nX: ") + std::string(17000, 'x'), "", ""},
      {"\r\n\r\n", "", ""},
      // A NUL ends the text of the head before its blank line: unparsable, never answered,
      // wherever it stands (before or after Host, in the request line, in a value).
      {std::string("GET / HTTP/1.1\r\nX-Bad: \0\xff\r\nHost: 127.0.0.1:4321\r\n\r\n", 51), "", ""},
      {std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nX-Bad: \0\r\n\r\n", 50), "", ""},
      {std::string("GET /\0 HTTP/1.1\r\nHost: 127.0.0.1:4321\r\n\r\n", 41), "", ""},
      {std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1:4321\r\n\0\r\n\r\n", 43), "", ""},
  };
  for (const auto& r : rows) {
    std::string answer = run({r.request});
    if (!*r.status) {
      EXPECT_EQ(answer, "") << r.request.substr(0, 60);
      continue;
    }
    EXPECT_EQ(status_line(answer), r.status) << r.request;
    std::string body = r.body;
    ASSERT_GE(answer.size(), body.size());
    EXPECT_EQ(answer.substr(answer.size() - body.size()), body) << r.request;
    EXPECT_NE(answer.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  }
}

TEST_F(Gate, BodyReadOnlyUpToItsDeclaredLength) {
  // Four declared bytes come in two receives; a fifth byte and a pipelined request are ignored.
  std::string head = "POST /index.html HTTP/1.1\r\nHost: 127.0.0.1:4321\r\nContent-Length: 4\r\n\r\n";
  std::string answer = run({head + "ab", "cdE", "GET / HTTP/1.1\r\n\r\n"});
  EXPECT_EQ(status_line(answer), "HTTP/1.1 405 Error");
  EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos);
  // A body that never completes gets no answer.
  EXPECT_EQ(run({head + "ab"}), "");
}

}  // namespace
