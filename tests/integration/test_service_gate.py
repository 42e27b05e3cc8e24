"""The request gate, response head and static files, driven with raw request texts."""
import pytest

import tavrin as tv

JSON = "application/json; charset=utf-8"
ORIGIN_BAD = (403, JSON, '{"error":"请求来源无效。"}')
TOO_BIG = (413, "application/json", '{"error":"请求超过 2 MB。"}')
NO_SESSION = (403, JSON, '{"error":"会话已失效。请重新打开程序。"}')
FOREIGN_ORIGIN = (403, "application/json", "{}")
NOT_FOUND_API = (200, JSON, '{"error":"接口不存在或文件不可读取。"}')
INDEX = (200, "text/html; charset=utf-8", "<p>首页</p>")
POLICY = ("default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
          "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'")

WEB = {
    "index.html": "\ufeff<p>首页</p>",  # the byte order mark is not served
    "style.css": "body{}",
    "app.js": "let a = 1;\x00hidden",     # served up to the NUL
    "icon.svg": "<svg/>",
    "fonts/mesk-inter.woff2": b"wOF2\x00\x01\x02\xff",
    "fonts/mesk-sans-sc.woff2": b"",  # empty font: not served
    "cloud.js": None,                  # missing files, whatever the built page holds
    "fonts/mesk-jetbrains-mono.woff2": None,
}


@pytest.fixture(scope="module")
def app(tmp_path_factory):
    folder = tv.copy_app(tmp_path_factory.mktemp("gate") / "app", web=WEB)
    a = tv.Tavrin.start(folder)
    yield a
    assert a.stop() == 0


def fill(text, app):
    return text.replace("{host}", app.host).replace("{token}", app.token).encode("utf-8")


def answer(app, raw):
    r = tv.parse_response(app.raw(raw))
    return None if r is None else (r.status, r.headers["content-type"], r.body.decode("utf-8"))


# Request texts: {host} is 127.0.0.1:<port>, {token} the session token.
GATE_CASES = [
    ("plain", "GET / HTTP/1.1\r\nHost: {host}\r\n\r\n", INDEX),
    ("index", "GET /index.html HTTP/1.1\r\nHost: {host}\r\n\r\n", INDEX),
    ("localhost", "GET / HTTP/1.1\r\nHost: localhost:{port}\r\n\r\n", ORIGIN_BAD),
    ("no host", "GET / HTTP/1.1\r\nAccept: */*\r\n\r\n", ORIGIN_BAD),
    ("host lower case", "GET / HTTP/1.1\r\nhost: {host}\r\n\r\n", INDEX),
    ("host upper case", "GET / HTTP/1.1\r\nHOST:{host}\r\n\r\n", INDEX),
    ("blank before colon", "GET / HTTP/1.1\r\nHost : {host}\r\n\r\n", ORIGIN_BAD),
    ("trailing blank", "GET / HTTP/1.1\r\nHost: {host} \r\n\r\n", ORIGIN_BAD),
    ("host without port", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", ORIGIN_BAD),
    ("first host wins", "GET / HTTP/1.1\r\nHost: {host}\r\nHost: evil\r\n\r\n", INDEX),
    ("later duplicate unseen", "GET / HTTP/1.1\r\nHost: evil\r\nHost: {host}\r\n\r\n", ORIGIN_BAD),
    ("host in body only", "GET / HTTP/1.1\r\nContent-Length: 21\r\n\r\nHost: 127.0.0.1:1\r\n\r\n", ORIGIN_BAD),
    ("long host counts absent", "GET / HTTP/1.1\r\nHost: {host}" + " " * 256 + "\r\n\r\n", ORIGIN_BAD),
    # Content-Length
    ("length too big", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: 4194305\r\n\r\n", TOO_BIG),
    ("length negative", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: -1\r\n\r\n", TOO_BIG),
    ("length letters", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: 12abc\r\n\r\n", TOO_BIG),
    ("length trailing blank", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: 12 \r\n\r\n", TOO_BIG),
    ("length huge", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: 18446744073709551617\r\n\r\n", TOO_BIG),
    ("length empty", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length:\r\n\r\n", INDEX),
    ("length with body", "GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: 3\r\n\r\nabc", INDEX),
    ("host checked before size", "GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ORIGIN_BAD),
    # static paths and methods
    ("post on static", "POST /index.html HTTP/1.1\r\nHost: {host}\r\nContent-Length: 0\r\n\r\n",
     (405, "application/json", "{}")),
    ("head on static", "HEAD / HTTP/1.1\r\nHost: {host}\r\n\r\n", (405, "application/json", "{}")),
    ("lower-case get", "get / HTTP/1.1\r\nHost: {host}\r\n\r\n", (405, "application/json", "{}")),
    ("query string", "GET /app.js?v=2 HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/html; charset=utf-8", "Not found")),
    ("api without slash", "GET /api HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/html; charset=utf-8", "Not found")),
    ("no disk mapping", "GET /../data/bank.json HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/html; charset=utf-8", "Not found")),
    ("web folder file not in table", "GET /fonts/ HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/html; charset=utf-8", "Not found")),
    ("css", "GET /style.css HTTP/1.1\r\nHost: {host}\r\n\r\n", (200, "text/css; charset=utf-8", "body{}")),
    ("text cut at NUL", "GET /app.js HTTP/1.1\r\nHost: {host}\r\n\r\n", (200, "text/javascript; charset=utf-8", "let a = 1;")),
    ("svg", "GET /icon.svg HTTP/1.1\r\nHost: {host}\r\n\r\n", (200, "image/svg+xml", "<svg/>")),
    ("missing text file", "GET /cloud.js HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/javascript; charset=utf-8", "Not found")),
    ("missing font", "GET /fonts/mesk-jetbrains-mono.woff2 HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/plain; charset=utf-8", "Not found")),
    ("empty font", "GET /fonts/mesk-sans-sc.woff2 HTTP/1.1\r\nHost: {host}\r\n\r\n", (404, "text/plain; charset=utf-8", "Not found")),
    # token and Origin
    ("api no token", "GET /api/status HTTP/1.1\r\nHost: {host}\r\n\r\n", NO_SESSION),
    ("api unknown route needs token", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\n\r\n", NO_SESSION),
    ("api unknown route", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}\r\n\r\n", NOT_FOUND_API),
    ("scheme case", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: bearer {token}\r\n\r\n", NO_SESSION),
    ("token trailing blank", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token} \r\n\r\n", NO_SESSION),
    ("token cut", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}"[:-2] + "\r\n\r\n", NO_SESSION),
    ("header name any case", "GET /api/nothing HTTP/1.1\r\nHOST: {host}\r\nauthorization: Bearer {token}\r\n\r\n", NOT_FOUND_API),
    ("own origin", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}\r\nOrigin: http://{host}\r\n\r\n", NOT_FOUND_API),
    ("null origin", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}\r\nOrigin: null\r\n\r\n", FOREIGN_ORIGIN),
    ("localhost origin", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}\r\nOrigin: http://localhost:{port}\r\n\r\n", FOREIGN_ORIGIN),
    ("origin with slash", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}\r\nOrigin: http://{host}/\r\n\r\n", FOREIGN_ORIGIN),
    ("long origin counts absent", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nAuthorization: Bearer {token}\r\nOrigin: http://" + "x" * 300 + "\r\n\r\n", NOT_FOUND_API),
    ("token before origin", "GET /api/nothing HTTP/1.1\r\nHost: {host}\r\nOrigin: null\r\n\r\n", NO_SESSION),
    ("static ignores origin", "GET / HTTP/1.1\r\nHost: {host}\r\nOrigin: null\r\n\r\n", INDEX),
    # request line
    # "%11s %255s": the method is cut at 11 and its rest becomes the path
    ("long method cut", "GETTTTTTTTTTTT /api/x HTTP/1.1\r\nHost: {host}\r\n\r\n", (405, "application/json", "{}")),
]


@pytest.mark.parametrize("name,text,expected", GATE_CASES, ids=[c[0] for c in GATE_CASES])
def test_gate(app, name, text, expected):
    raw = fill(text.replace("{port}", str(app.port)), app)
    assert answer(app, raw) == expected


NO_ANSWER_CASES = [
    ("blank request", "\r\n\r\n"),
    ("method only", "GET\r\n\r\n"),
    ("head too long", "GET / HTTP/1.1\r\nX: " + "a" * 17000),
    ("peer closes before blank line", "GET / HTTP/1.1\r\nHost: {host}\r\n"),
    ("body shorter than declared", "POST /api/state HTTP/1.1\r\nHost: {host}\r\nContent-Length: 10\r\n\r\n{}"),
]


@pytest.mark.parametrize("name,text", NO_ANSWER_CASES, ids=[c[0] for c in NO_ANSWER_CASES])
def test_closed_without_answer(app, name, text):
    # The client stops sending; the server must close without answering.
    assert app.raw(fill(text, app), shut_write=True) == b""


def test_response_head_is_exact(app):
    raw = app.raw(fill("GET /style.css HTTP/1.1\r\nHost: {host}\r\n\r\n", app))
    assert raw == ("HTTP/1.1 200 OK\r\nContent-Type: text/css; charset=utf-8\r\nContent-Length: 6\r\n"
                   "Connection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                   f"Content-Security-Policy: {POLICY}\r\n\r\nbody{{}}").encode()
    raw = app.raw(fill("GET / HTTP/1.1\r\n\r\n", app))
    assert raw.startswith(b"HTTP/1.1 403 Error\r\nContent-Type: application/json; charset=utf-8\r\n"
                          b"Content-Length: %d\r\n" % len(ORIGIN_BAD[2].encode()))


def test_font_sent_byte_for_byte(app):
    r = app.get("/fonts/mesk-inter.woff2")
    assert (r.status, r.headers["content-type"], r.body) == (200, "font/woff2", b"wOF2\x00\x01\x02\xff")


def test_pipelined_second_request_is_ignored(app):
    one = fill("GET /style.css HTTP/1.1\r\nHost: {host}\r\n\r\n", app)
    raw = app.raw(one + fill("GET /icon.svg HTTP/1.1\r\nHost: {host}\r\n\r\n", app))
    assert raw.count(b"HTTP/1.1") == 1 and raw.endswith(b"body{}")


def test_largest_body_is_read_whole(app):
    body = b"x" * 4194304
    raw = fill("GET / HTTP/1.1\r\nHost: {host}\r\nContent-Length: 4194304\r\n\r\n", app) + body
    assert tv.parse_response(app.raw(raw, timeout=60)).status == 200


def test_head_past_16k_with_full_body_does_not_overrun(app):
    # A head longer than 16 KiB that arrives in one piece leaves less room than a
    # full body needs: refused (413), or closed when it arrived in pieces.
    head = fill("GET / HTTP/1.1\r\nHost: {host}\r\nX-Pad: " + "p" * 200 + "\r\n", app)
    head += b"".join(b"X-P%d: %s\r\n" % (i, b"q" * 200) for i in range(100))
    head += b"Content-Length: 4194304\r\n\r\n"
    assert len(head) > 16384
    raw = app.raw(head, shut_write=True)
    assert raw == b"" or tv.parse_response(raw)[:1] == (413,)
    assert app.get("/").status == 200  # still serving


@pytest.mark.parametrize("head", [
    "GET / HTTP/1.1\r\nX-Bad: \x00\xff\r\nHost: {host}\r\n\r\n",   # before Host
    "GET / HTTP/1.1\r\nHost: {host}\r\nX-Bad: \x00\r\n\r\n",         # after Host
], ids=["nul-before-host", "nul-after-host"])
def test_nul_in_head_gets_no_answer(app, head):
    # The head is read as text, which ends at the NUL: no blank line, nothing to answer.
    assert app.raw(fill(head, app), shut_write=True) == b""
    assert app.get("/").status == 200  # still serving


def test_invalid_bytes_in_head(app):
    raw = fill("GET / HTTP/1.1\r\nX-Bad: \x01\xff\r\nHost: {host}\r\n\r\n", app)
    r = tv.parse_response(app.raw(raw, shut_write=True))
    # other bytes are only text: the request is read and answered
    assert r is not None and r.status == 200
