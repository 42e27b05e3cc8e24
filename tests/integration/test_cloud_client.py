"""The program's account and sync endpoints (/api/cloud/), through the real program and the
real account service tavrin-cloud on 127.0.0.1. A byte relay of the tests' own sits between
them where a test needs to see the traffic or take the service away; a small misbehaving
server acts out the transport faults a real service never produces."""
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

import pytest

import cloudsvc
import tavrin as tv
from cloudsvc import CloudService, wait_for

ROOT = Path(__file__).resolve().parents[2]
# The service is built for Linux only: the Windows lane talks to the Linux build.
if not cloudsvc.CLOUD.exists():
    cloudsvc.CLOUD = ROOT / "build" / "linux" / "tavrin-cloud"
CLOUD_EXE = cloudsvc.CLOUD
MIB4 = 4194304
PASSWORD = "correct horse"

UNCONFIGURED = "云端服务尚未配置。部署服务后，在账号窗口填写 HTTPS 地址即可接通。"
PROMPT = "请输入 HTTPS 服务根地址，例如 https://sync.example.com；本地测试可用 http://127.0.0.1:8080。"
SIGN_IN_FIRST = "请先登录账号。"
NO_ENDPOINT = "云端接口不存在。"
ACCOUNT_UNREACHABLE = "暂时连接不到账号服务，请检查服务地址和网络。"
PROGRESS_UNREACHABLE = "暂时连接不到云端，代码已保存在本机。请检查服务地址和网络后重试。"
BAD_IDENTITY = "账号服务返回了无效的身份信息。"
SWITCHED = "账号已经切换，旧请求未写入。请重新打开页面。"


@pytest.fixture(autouse=True)
def private_config(tmp_path, monkeypatch):
    """The sealing key of the stored sign-in lives in the user's config folder: a temporary one."""
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path / "config"))
    monkeypatch.delenv("SSL_CERT_FILE", raising=False)
    return tmp_path / "config"


@pytest.fixture
def service(tmp_path):
    if not CLOUD_EXE.exists():
        pytest.fail(f"the account service is not built: {CLOUD_EXE}")
    started = []

    def start(**kw):
        data = tmp_path / f"svc{len(started)}"
        data.mkdir()
        svc = CloudService.start(data, **kw)
        started.append(svc)
        return svc

    start.all = started
    yield start
    for svc in started:
        if svc.running():
            svc.kill()


def call(app, method, path, body=None, headers=None):
    data = b"" if body is None else body if isinstance(body, bytes) else (
        body if isinstance(body, str) else json.dumps(body, ensure_ascii=False)).encode("utf-8")
    r = app.request(method, path, data, headers)
    assert r.status == 200, (method, path, r.status, r.body[:200])
    return r


def cj(app, method, path, body=None, headers=None):
    return call(app, method, path, body, headers).json()


def configure(app, address):
    status = cj(app, "POST", "/api/cloud/config", {"server": address})
    assert status.get("configured") is True, status
    return status


def profile_of(service_address, user_id):
    return hashlib.sha256((service_address + user_id).encode()).hexdigest()[:32]


def sign_up(app, name, how="register", **extra):
    body = {"username": name, "password": PASSWORD, **extra}
    return cj(app, "POST", f"/api/cloud/{how}", body)


# ---- a byte relay: sees the traffic, can take the service away ------------------------------

class Relay:
    """Forwards bytes to 127.0.0.1:target_port. Taking it down or pointing it elsewhere also
    cuts the connections a client keeps open for reuse."""

    def __init__(self, target_port):
        self._target = target_port
        self._down = False
        self.open = []
        self.seen = bytearray()
        self.lock = threading.Lock()
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    @property
    def target_port(self):
        return self._target

    @target_port.setter
    def target_port(self, port):
        self._target = port
        self.cut()

    @property
    def down(self):
        return self._down

    @down.setter
    def down(self, value):
        self._down = value
        self.cut()

    def cut(self):
        with self.lock:
            sockets, self.open = self.open, []
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    @property
    def address(self):
        return f"http://127.0.0.1:{self.port}"

    def _accept(self):
        while not self.closed:
            try:
                client, _ = self.sock.accept()
            except OSError:
                return
            if self._down:
                client.close()
                continue
            try:
                upstream = socket.create_connection(("127.0.0.1", self._target), timeout=30)
            except OSError:
                client.close()
                continue
            with self.lock:
                self.open += [client, upstream]
            for a, b in ((client, upstream), (upstream, client)):
                threading.Thread(target=self._pump, args=(a, b), daemon=True).start()

    def _pump(self, src, dst):
        try:
            while True:
                chunk = src.recv(65536)
                if not chunk:
                    break
                with self.lock:
                    self.seen += chunk
                dst.sendall(chunk)
        except OSError:
            pass
        finally:
            for s in (src, dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def tokens(self):
        with self.lock:
            return set(re.findall(rb'"token"\s*:\s*"([A-Za-z0-9_-]{43})"', bytes(self.seen)))

    def close(self):
        self.closed = True
        self.sock.close()
        self.cut()


@pytest.fixture
def relay():
    made = []

    def make(port):
        r = Relay(port)
        made.append(r)
        return r

    yield make
    for r in made:
        r.close()


# ---- a misbehaving server: answers the tests choose, byte for byte ----------------------------

class Scripted(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    script = {}   # path -> (status, headers, body bytes, delay seconds)
    hits = []

    def _answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        Scripted.hits.append((self.command, self.path, dict(self.headers), body))
        status, headers, payload, delay = Scripted.script.get(self.path, (404, {}, b'{"error":"none"}', 0))
        if delay:
            time.sleep(delay)
        try:
            self.send_response(status)
            for k, v in headers.items():
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(payload)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(payload)
        except OSError:
            pass

    do_GET = do_POST = do_PUT = _answer

    def log_message(self, *args):
        pass


@pytest.fixture
def scripted():
    Scripted.script = {}
    Scripted.hits = []
    server = ThreadingHTTPServer(("127.0.0.1", 0), Scripted)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    yield server
    server.shutdown()
    server.server_close()


def identity(token="A" * 43, uid="0123abcd-0000-4000-8000-00000000abcd", name="学生"):
    return json.dumps({"user": {"id": uid, "username": name}, "token": token}).encode()


# ================================================================================================
# Addresses and configuration
# ================================================================================================

ACCEPTED = [
    ("https://sync.example.org", "https://sync.example.org"),
    ("https://sync.example.org/", "https://sync.example.org"),
    ("https://sync.example.org:8443/", "https://sync.example.org:8443"),
    ("https://10.1.2.3", "https://10.1.2.3"),
    ("http://127.0.0.1:8080", "http://127.0.0.1:8080"),
    ("http://127.0.0.1:1/", "http://127.0.0.1:1"),
    ("http://localhost:9", "http://localhost:9"),
    ("http://LOCALHOST:9/", "http://LOCALHOST:9"),
    ("http://LocalHost", "http://LocalHost"),
]

REFUSED = [
    "http://127.0.0.2:8080",          # another loopback address is still plain HTTP
    "http://[::1]:8080",
    "http://sync.example.org",
    "http://localhost.example.org",
    "https://sync.example.org/v1",     # a path
    "https://sync.example.org//",
    "https://sync.example.org/?a=1",   # a query
    "https://sync.example.org?",
    "https://sync.example.org/#top",   # a fragment
    "https://user@sync.example.org",
    "https://user:pw@sync.example.org",
    "ftp://sync.example.org",
    "file:///etc/passwd",
    "javascript:alert(1)",
    "sync.example.org",
    "https://",
    "",
    "https://" + "a" * 500 + ".org",  # 512 bytes or more
]


def test_addresses_accepted_and_refused(tavrin):
    for address, stored in ACCEPTED:
        status = cj(tavrin, "POST", "/api/cloud/config", {"server": address})
        assert status.get("server") == stored, (address, status)
        assert json.loads(tavrin.data("cloud-config.json").read_text("utf-8")) == {"server": stored}
    before = tavrin.data("cloud-config.json").read_bytes()
    for address in REFUSED:
        assert cj(tavrin, "POST", "/api/cloud/config", {"server": address}) == {"error": PROMPT}, address
    for body in (b"not json", b'{"server":42}', b"{}", b'{"server":"https://a.org\\u0000"}',
                 b'{"server":"https://\xff.org"}'):
        assert cj(tavrin, "POST", "/api/cloud/config", body) == {"error": PROMPT}, body
    assert tavrin.data("cloud-config.json").read_bytes() == before, "a refused address changes nothing"
    # 511 bytes is still an address
    long_ok = "https://" + "a" * (511 - len("https://") - 4) + ".org"
    assert len(long_ok) == 511
    assert cj(tavrin, "POST", "/api/cloud/config", {"server": long_ok})["server"] == long_ok


def test_config_files_at_start(app_folder):
    # No cloud-config.json: the program folder's default applies.
    folder = app_folder(name="a")
    (folder / "cloud-default.json").write_text('{"server":"https://school.example.org"}', "utf-8")
    app = tv.Tavrin.start(folder)
    try:
        assert cj(app, "GET", "/api/cloud/status") == {
            "server": "https://school.example.org", "configured": True, "loggedIn": False,
            "remembered": False, "profile": "guest", "username": ""}
    finally:
        app.stop()
    # An unreadable config wins over the default: not configured.
    (folder / "data" / "cloud-config.json").write_text("{not json", "utf-8")
    app = tv.Tavrin.start(folder)
    try:
        assert cj(app, "GET", "/api/cloud/status")["configured"] is False
        assert cj(app, "POST", "/api/cloud/login", {}) == {"error": UNCONFIGURED}
    finally:
        app.stop()
    # A config naming a refused address leaves it unconfigured too.
    (folder / "data" / "cloud-config.json").write_text('{"server":"http://example.org"}', "utf-8")
    app = tv.Tavrin.start(folder)
    try:
        assert cj(app, "GET", "/api/cloud/status")["configured"] is False
    finally:
        app.stop()


# ================================================================================================
# The state machine and its refusals
# ================================================================================================

def test_unconfigured_and_signed_out_refusals(tavrin, service):
    unconfigured = [
        ("POST", "/api/cloud/login", "{}"), ("POST", "/api/cloud/register", "{}"),
        ("POST", "/api/cloud/logout", "{}"), ("POST", "/api/cloud/push", "{}"),
        ("POST", "/api/cloud/backup", "{}"), ("GET", "/api/cloud/pull", None),
        ("PUT", "/api/cloud/status", "{}"), ("DELETE", "/api/cloud/x", None),
        ("GET", "/api/cloud/status?x=1", None),
    ]
    for method, path, body in unconfigured:
        assert cj(tavrin, method, path, body) == {"error": UNCONFIGURED}, (method, path)
    # Served in every state:
    assert cj(tavrin, "GET", "/api/cloud/status")["profile"] == "guest"
    assert call(tavrin, "GET", "/api/cloud/base").body == b'{"revision":0,"state":{"records":{}}}'
    assert call(tavrin, "GET", "/api/cloud/guest").body == b'{"records":{}}'
    tavrin.data("state.json").write_text('{"records":{"a":{"attempts":1}}}', "utf-8")
    assert call(tavrin, "GET", "/api/cloud/guest").body == b'{"records":{"a":{"attempts":1}}}'

    svc = service()
    configure(tavrin, svc.url)
    signed_out = [
        ("POST", "/api/cloud/logout", "{}"), ("POST", "/api/cloud/push", "{}"),
        ("POST", "/api/cloud/backup", '{"profile":"guest","state":{}}'), ("POST", "/api/cloud/base", "nonsense"),
        ("GET", "/api/cloud/pull", None), ("PUT", "/api/cloud/pull", None), ("DELETE", "/api/cloud/status", None),
    ]
    for method, path, body in signed_out:
        assert cj(tavrin, method, path, body) == {"error": SIGN_IN_FIRST}, (method, path)
    assert not list(tavrin.folder.joinpath("data").glob("bk-*")), "a refused backup writes nothing"

    # Signed in: the sign-in and config endpoints refuse, unknown methods and paths are not served.
    assert sign_up(tavrin, "state-machine")["ok"] is True
    assert cj(tavrin, "POST", "/api/cloud/config", b"not even json") == {"error": "请先退出账号，再更换服务地址。"}
    for how in ("login", "register", "recover"):
        assert cj(tavrin, "POST", f"/api/cloud/{how}", {}) == {"error": "请先保存并退出当前账号，再登录其他账号。"}
    for method, path, body in [("PUT", "/api/cloud/push", "{}"), ("GET", "/api/cloud/push", None),
                               ("GET", "/api/cloud/pull?x", None), ("DELETE", "/api/cloud/logout", None)]:
        assert cj(tavrin, method, path, body) == {"error": NO_ENDPOINT}, (method, path)
    # The body is checked before the path.
    assert cj(tavrin, "POST", "/api/cloud/nowhere", "not json") == {"error": "同步数据无效。"}
    profile = cj(tavrin, "GET", "/api/cloud/status")["profile"]
    assert cj(tavrin, "POST", "/api/cloud/nowhere", {"profile": profile, "state": {}}) == {"error": NO_ENDPOINT}
    # The first backup of this run is number 1: the refused one before did not count.
    assert cj(tavrin, "POST", "/api/cloud/backup", {"profile": profile, "state": {"records": {}}}) == {"ok": True}
    names = [p.name for p in tavrin.folder.joinpath("data").glob("bk-*")]
    assert len(names) == 1 and re.fullmatch(rf"bk-{profile[:8]}-[0-9a-f]{{8}}-0001\.json", names[0]), names


# ================================================================================================
# Accounts and sync against the real service
# ================================================================================================

def test_register_sign_in_and_sync_endpoints(tavrin, service):
    svc = service()
    configure(tavrin, svc.url + "/")
    address = svc.url.rstrip("/")
    answer = sign_up(tavrin, "同学甲")
    assert answer["ok"] is True and isinstance(answer["recovery"], str) and len(answer["recovery"]) >= 10
    status = answer["status"]
    assert status["loggedIn"] is True and status["username"] == "同学甲" and status["remembered"] is True
    # The profile id follows from the address and the account id.
    direct = svc.login("同学甲", PASSWORD).json()
    profile = profile_of(address, direct["user"]["id"])
    assert status["profile"] == profile
    assert cj(tavrin, "GET", "/api/cloud/status") == status

    # Progress is saved per profile, and a page that still holds the guest profile gets 409.
    r = tavrin.post("/api/state", '{"records":{}}', {"X-Mesk-Profile": "guest"})
    assert r.status == 409 and r.json() == {"error": SWITCHED}
    r = tavrin.post("/api/state", '{"records":{"x":{"attempts":2}}}', {"X-Mesk-Profile": profile})
    assert r.json() == {"ok": True}
    assert tavrin.data(f"state-{profile}.json").read_text("utf-8") == '{"records":{"x":{"attempts":2}}}'
    assert json.loads(call(tavrin, "GET", "/api/state").body) == {"records": {"x": {"attempts": 2}}}

    # Pull: a new account's progress, wrapped with the status.
    pulled = cj(tavrin, "GET", "/api/cloud/pull")
    assert pulled["httpStatus"] == 200 and pulled["body"]["revision"] == 0
    # Push with the pulled revision, then a stale push gets the service's 409 wrapped.
    state = {"records": {"x": {"attempts": 2, "passDates": ["2026-01-01"]}}}
    pushed = cj(tavrin, "POST", "/api/cloud/push", {"profile": profile, "revision": 0, "state": state})
    assert pushed == {"httpStatus": 200, "body": {"revision": 1}}
    stale = cj(tavrin, "POST", "/api/cloud/push", {"profile": profile, "revision": 0, "state": state})
    assert stale["httpStatus"] == 409 and stale["body"]["revision"] == 1 and stale["body"]["state"] == state
    # Without a revision the push is forwarded with -1, which never matches.
    assert cj(tavrin, "POST", "/api/cloud/push", {"profile": profile, "state": state})["httpStatus"] == 409
    assert cj(tavrin, "GET", "/api/cloud/pull")["body"] == {"revision": 1, "state": state}

    # Body checks, in order.
    checks = [
        ("not json", "同步数据无效。"),
        ({"state": {}}, SWITCHED),
        ({"profile": "guest", "state": {}}, SWITCHED),
        ({"profile": profile.upper(), "state": {}}, SWITCHED),
        ({"profile": profile}, "同步记录格式无效。"),
        ({"profile": profile, "state": []}, "同步记录格式无效。"),
        ({"profile": profile, "state": '{"records":{}}'}, "同步记录格式无效。"),
    ]
    for path in ("/api/cloud/push", "/api/cloud/base", "/api/cloud/backup"):
        for body, message in checks:
            assert cj(tavrin, "POST", path, body) == {"error": message}, (path, body)

    # Base: refused without a revision, stored byte for byte with one.
    assert cj(tavrin, "POST", "/api/cloud/base", {"profile": profile, "state": state}) == {"error": "同步版本号无效。"}
    assert cj(tavrin, "POST", "/api/cloud/base", {"profile": profile, "revision": -3, "state": state}) == {"error": "同步版本号无效。"}
    body = '{"profile":"%s","revision":0,"state":{"records":{}},"extra":[1,2]}' % profile
    assert cj(tavrin, "POST", "/api/cloud/base", body) == {"ok": True}
    assert tavrin.data(f"base-{profile}.json").read_text("utf-8") == body
    assert call(tavrin, "GET", "/api/cloud/base").body.decode() == body

    # Backups: two in a row get two names, each holding the state text as sent.
    for n in (1, 2):
        text = '{"profile":"%s","state":{"records":{"n":%d}}}' % (profile, n)
        assert cj(tavrin, "POST", "/api/cloud/backup", text) == {"ok": True}
    backups = sorted(tavrin.folder.joinpath("data").glob(f"bk-{profile[:8]}-*.json"), key=lambda p: p.name[-9:])
    assert [p.name[-9:] for p in backups] == ["0001.json", "0002.json"]
    assert [p.read_text("utf-8") for p in backups] == ['{"records":{"n":1}}', '{"records":{"n":2}}']


def test_service_errors_reach_the_page_unchanged(tavrin, service):
    svc = service()
    configure(tavrin, svc.url)
    taken = svc.register("taken-name")
    assert taken["user"]["username"] == "taken-name"
    direct = svc.request("POST", "/v1/register", {"username": "taken-name", "password": PASSWORD})
    assert direct.status == 409
    assert call(tavrin, "POST", "/api/cloud/register", {"username": "taken-name", "password": PASSWORD}).body == direct.body
    wrong = cj(tavrin, "POST", "/api/cloud/login", {"username": "taken-name", "password": "wrong password"})
    assert wrong == {"error": "用户名或密码错误。"}
    short = cj(tavrin, "POST", "/api/cloud/register", {"username": "x", "password": "1"})
    assert short == {"error": "密码长度需为 8 到 1024 个字节。"}
    assert cj(tavrin, "GET", "/api/cloud/status")["loggedIn"] is False

    # Recover with the code from registration: a new code, signed in.
    answer = cj(tavrin, "POST", "/api/cloud/recover",
                {"username": "taken-name", "recovery": taken["recovery"], "password": "new password 1"})
    assert answer["ok"] is True and answer["recovery"] != taken["recovery"]
    assert answer["status"]["profile"] == profile_of(svc.url, taken["user"]["id"])


def test_restart_restores_sign_in_only_for_same_address_and_folder(app_folder, service, relay, tmp_path):
    svc = service()
    folder = app_folder(name="first")
    app = tv.Tavrin.start(folder)
    try:
        configure(app, svc.url)
        profile = sign_up(app, "restart")["status"]["profile"]
    finally:
        app.stop()
    session = folder / "data" / "cloud-session.bin"
    sealed = session.read_bytes()
    assert sealed

    app = tv.Tavrin.start(folder)
    try:
        status = cj(app, "GET", "/api/cloud/status")
        assert status["loggedIn"] is True and status["remembered"] is True and status["profile"] == profile
        assert cj(app, "GET", "/api/cloud/pull")["httpStatus"] == 200, "the restored token works"
    finally:
        app.stop()

    # Another address in cloud-config.json: not restored, and the stored sign-in stays.
    (folder / "data" / "cloud-config.json").write_text(json.dumps({"server": svc.url + "/"}), "utf-8")
    app = tv.Tavrin.start(folder)
    try:
        assert cj(app, "GET", "/api/cloud/status")["loggedIn"] is False
        assert cj(app, "GET", "/api/cloud/local")["restore"] == "address"
    finally:
        app.stop()
    assert session.read_bytes() == sealed

    # The same folder moved elsewhere: not restored either.
    (folder / "data" / "cloud-config.json").write_text(json.dumps({"server": svc.url}), "utf-8")
    moved = tmp_path / "moved"
    shutil.copytree(folder, moved, symlinks=True)
    app = tv.Tavrin.start(moved)
    try:
        assert cj(app, "GET", "/api/cloud/status")["loggedIn"] is False
        local = cj(app, "GET", "/api/cloud/local")
        assert (local["restore"], local["lastUser"]) == ("unreadable", "restart"), "the page can say why"
    finally:
        app.stop()
    assert (moved / "data" / "cloud-session.bin").read_bytes() == sealed

    # A damaged block is ignored.
    damaged = bytearray(sealed)
    damaged[len(damaged) // 2] ^= 1
    session.write_bytes(bytes(damaged))
    app = tv.Tavrin.start(folder)
    try:
        assert cj(app, "GET", "/api/cloud/status")["loggedIn"] is False
        assert cj(app, "GET", "/api/cloud/local")["restore"] == "unreadable"
    finally:
        app.stop()


@pytest.mark.parametrize("fault, expected", [
    ("session deleted", "missing"),
    ("session truncated", "unreadable"),
    ("key deleted", "unreadable"),
    ("key truncated", "unreadable"),
    ("key replaced", "unreadable"),
    ("signed out", ""),
])
def test_a_sign_in_that_could_not_be_restored_is_reported(app_folder, service, private_config, fault, expected):
    if fault.startswith("key") and tv.WINDOWS:
        pytest.skip("on Windows the sealing key is the system's own")
    svc = service()
    folder = app_folder(name="restore")
    app = tv.Tavrin.start(folder)
    try:
        configure(app, svc.url)
        sign_up(app, "恢复")
        assert cj(app, "GET", "/api/cloud/local")["restore"] == ""
        if fault == "signed out":
            assert cj(app, "POST", "/api/cloud/logout", {})["ok"] is True
    finally:
        app.stop()
    session = folder / "data" / "cloud-session.bin"
    keys = list(private_config.rglob("cloud.key"))
    if fault == "session deleted":
        session.unlink()
    elif fault == "session truncated":
        session.write_bytes(session.read_bytes()[:10])
    elif fault.startswith("key"):
        assert len(keys) == 1, keys
        if fault == "key deleted":
            keys[0].unlink()
        elif fault == "key truncated":
            keys[0].write_bytes(keys[0].read_bytes()[:16])
        else:
            keys[0].write_bytes(bytes(32))
    app = tv.Tavrin.start(folder)
    try:
        assert cj(app, "GET", "/api/cloud/status")["loggedIn"] is False
        local = cj(app, "GET", "/api/cloud/local")
        assert local["restore"] == expected
        assert local["lastUser"] == ("恢复" if expected else "")
        # Signing in again clears the report.
        if expected:
            assert cj(app, "POST", "/api/cloud/login", {"username": "恢复", "password": PASSWORD})["ok"] is True
            assert cj(app, "GET", "/api/cloud/local")["restore"] == ""
    finally:
        app.stop()


def test_device_id_is_stable_and_differs_per_folder(app_folder, tmp_path):
    folder = app_folder(name="dev")
    ids = []
    for _ in range(2):
        app = tv.Tavrin.start(folder)
        try:
            ids.append(cj(app, "GET", "/api/cloud/local")["device"])
        finally:
            app.stop()
    assert ids[0] == ids[1] and len(ids[0]) == 12 and all(c in "0123456789abcdef" for c in ids[0])
    copy = tmp_path / "copy"
    shutil.copytree(folder, copy, symlinks=True)
    app = tv.Tavrin.start(copy)
    try:
        assert cj(app, "GET", "/api/cloud/local")["device"] not in ("", ids[0]), "a copied folder is another device"
    finally:
        app.stop()


def test_backups_are_bounded_listed_and_opened_only_by_their_own_names(tavrin, service):
    svc = service()
    configure(tavrin, svc.url)
    profile = sign_up(tavrin, "备份")["status"]["profile"]
    data = tavrin.folder / "data"
    # Another account's backups on this computer, large enough to meet the total limit.
    other = "bk-ffffffff-00000001-0001.json"
    (data / other).write_text('{"records":{}}', "utf-8")
    for k in range(13):
        state = {"records": {"sum": {"drafts": {"c": f"// 第 {k} 份"}}}}
        assert cj(tavrin, "POST", "/api/cloud/backup", {"profile": profile, "state": state})["ok"] is True
    listed = cj(tavrin, "GET", "/api/cloud/backups")["backups"]
    assert len(listed) == 10, "the newest 10 of this account"
    mine = sorted(p.name for p in data.glob(f"bk-{profile[:8]}-*.json"))
    assert sorted(b["name"] for b in listed) == mine
    assert (data / other).exists(), "another account's backups are not this account's count"
    newest = cj(tavrin, "POST", "/api/cloud/backup-open", {"profile": profile, "name": listed[0]["name"]})
    assert newest["state"]["records"]["sum"]["drafts"]["c"] == "// 第 12 份"
    assert all(b["size"] > 0 and b["time"] > 1_600_000_000_000 for b in listed)

    (data / "secret.json").write_text('{"x":1}', "utf-8")
    no_backup = {"error": "找不到这个备份，或它已损坏。"}
    refused = [
        (other, no_backup), ("../data/secret.json", no_backup), ("secret.json", no_backup),
        (f"bk-{profile[:8]}-../../secret.json", no_backup), (listed[0]["name"].replace(".json", ".txt"), no_backup),
        ("", no_backup), (7, no_backup), (None, no_backup),
        # A NUL inside a name does not get past the reading of the request.
        (f"bk-{profile[:8]}-0000.json\u0000x", {"error": "同步数据无效。"}),
    ]
    for name, expected in refused:
        answer = cj(tavrin, "POST", "/api/cloud/backup-open", {"profile": profile, "name": name})
        assert answer == expected, name
    # A damaged backup of this account is refused the same way.
    (data / listed[1]["name"]).write_text("{broken", "utf-8")
    assert "error" in cj(tavrin, "POST", "/api/cloud/backup-open", {"profile": profile, "name": listed[1]["name"]})
    # Another profile's page cannot open them.
    assert "error" in cj(tavrin, "POST", "/api/cloud/backup-open", {"profile": "0" * 32, "name": listed[0]["name"]})


def test_backups_stay_within_the_total_size(tavrin, service):
    svc = service()
    configure(tavrin, svc.url)
    profile = sign_up(tavrin, "大备份")["status"]["profile"]
    data = tavrin.folder / "data"
    big = "x" * (3 * 1024 * 1024)
    for k in range(9):
        state = {"records": {}, "pad": big + str(k)}
        assert cj(tavrin, "POST", "/api/cloud/backup", {"profile": profile, "state": state})["ok"] is True
    total = sum(p.stat().st_size for p in data.glob("bk-*.json"))
    assert total <= 20 * 1024 * 1024, total
    assert len(list(data.glob("bk-*.json"))) >= 6


def test_logout_works_with_the_service_down(tavrin, service, relay):
    svc = service()
    r = relay(svc.port)
    configure(tavrin, r.address)
    profile = sign_up(tavrin, "leaver")["status"]["profile"]
    r.down = True
    assert cj(tavrin, "GET", "/api/cloud/pull") == {"error": PROGRESS_UNREACHABLE}
    assert cj(tavrin, "POST", "/api/cloud/push", {"profile": profile, "revision": 0, "state": {}}) == {"error": PROGRESS_UNREACHABLE}
    assert cj(tavrin, "POST", "/api/cloud/logout", "{}") == {"ok": True}
    status = cj(tavrin, "GET", "/api/cloud/status")
    assert status["loggedIn"] is False and status["profile"] == "guest" and status["username"] == ""
    assert not tavrin.data("cloud-session.bin").exists()
    # Signed out, the guest's progress file is the current one again, and the base is the default.
    assert tavrin.post("/api/state", '{"records":{}}', {"X-Mesk-Profile": profile}).status == 409
    assert tavrin.post("/api/state", '{"records":{}}', {"X-Mesk-Profile": "guest"}).json() == {"ok": True}
    assert call(tavrin, "GET", "/api/cloud/base").body == b'{"revision":0,"state":{"records":{}}}'
    # Signing in with the service still down fails with the account message.
    assert cj(tavrin, "POST", "/api/cloud/login", {"username": "leaver", "password": PASSWORD}) == {"error": ACCOUNT_UNREACHABLE}


def test_logout_fails_when_the_stored_sign_in_cannot_be_removed(tavrin, service):
    svc = service()
    configure(tavrin, svc.url)
    sign_up(tavrin, "stuck")
    session = tavrin.data("cloud-session.bin")
    session.unlink()
    session.mkdir()  # something that is not a file cannot be deleted as one
    try:
        assert cj(tavrin, "POST", "/api/cloud/logout", "{}") == {"error": "无法清除本机登录状态，请稍后重试。"}
        assert cj(tavrin, "GET", "/api/cloud/status")["loggedIn"] is True
    finally:
        session.rmdir()
    assert cj(tavrin, "POST", "/api/cloud/logout", "{}") == {"ok": True}


def test_expired_token_reaches_the_page_as_401(tavrin, service, relay):
    first = service()
    r = relay(first.port)
    configure(tavrin, r.address)
    sign_up(tavrin, "expired")
    # The same address now leads to a service that never issued this token.
    second = service()
    r.target_port = second.port
    pulled = cj(tavrin, "GET", "/api/cloud/pull")
    assert pulled["httpStatus"] == 401 and isinstance(pulled["body"]["error"], str)
    assert cj(tavrin, "GET", "/api/cloud/status")["loggedIn"] is True, "no expiry on our side"


def test_no_token_outside_the_sealed_file(tavrin, service, relay):
    svc = service()
    r = relay(svc.port)
    configure(tavrin, r.address)
    sign_up(tavrin, "secret-keeper")
    answers = [call(tavrin, "GET", "/api/cloud/status").body, call(tavrin, "GET", "/api/cloud/pull").body]
    tavrin.post("/api/cloud/logout", "{}")
    sign_in = call(tavrin, "POST", "/api/cloud/login", {"username": "secret-keeper", "password": PASSWORD}).body
    answers.append(sign_in)
    r.down = True
    answers.append(call(tavrin, "GET", "/api/cloud/pull").body)
    tokens = r.tokens()
    assert len(tokens) == 2, "the relay saw both sign-ins"
    # Everything the program wrote, every answer it gave, its command line and environment.
    places = {p: p.read_bytes() for p in tavrin.folder.rglob("*") if p.is_file() and "web" not in p.parts}
    places["answers"] = b"".join(answers)
    if tv.LANE == "linux":
        for name in ("cmdline", "environ"):
            places[name] = Path(f"/proc/{tavrin.proc.pid}/{name}").read_bytes()
    for token in tokens:
        for where, content in places.items():
            assert token not in content, f"token found in {where}"
    session = tavrin.data("cloud-session.bin").read_bytes()
    assert b"secret-keeper" not in session and b"server" not in session, "the stored sign-in is sealed"
    if tv.LANE == "linux":
        key = Path(os.environ["XDG_CONFIG_HOME"]) / "tavrin" / "cloud.key"
        assert key.stat().st_mode & 0o777 == 0o600 and key.stat().st_size == 32
        assert tavrin.data("cloud-session.bin").stat().st_mode & 0o077 == 0


def test_two_programs_one_account(app_folder, service):
    svc = service()
    apps = [tv.Tavrin.start(app_folder(name=n)) for n in ("pc1", "pc2")]
    try:
        for app in apps:
            configure(app, svc.url)
        one = sign_up(apps[0], "two-pcs")["status"]["profile"]
        two = cj(apps[1], "POST", "/api/cloud/login", {"username": "two-pcs", "password": PASSWORD})["status"]["profile"]
        assert one == two, "one account, one profile id on both computers"
        state = {"records": {"q": {"attempts": 1}}}
        assert cj(apps[0], "POST", "/api/cloud/push", {"profile": one, "revision": 0, "state": state})["body"] == {"revision": 1}
        assert cj(apps[1], "GET", "/api/cloud/pull")["body"] == {"revision": 1, "state": state}
    finally:
        for app in apps:
            app.stop()


def test_cloud_requests_do_not_hold_up_the_rest(tavrin, scripted):
    """A slow service delays cloud requests only: the local API keeps answering."""
    Scripted.script["/v1/login"] = (200, {"Content-Type": "application/json"}, identity(), 3)
    configure(tavrin, f"http://127.0.0.1:{scripted.server_port}")
    done = []
    t = threading.Thread(target=lambda: done.append(cj(tavrin, "POST", "/api/cloud/login", "{}")))
    t.start()
    wait_for(lambda: Scripted.hits, 30, "the login to reach the service")
    assert call(tavrin, "GET", "/api/status").json()["version"] == "1.6.2"
    assert not done, "the local answer came while the service was still thinking"
    t.join(60)
    assert done[0]["ok"] is True


# ================================================================================================
# Transport faults a real service never produces
# ================================================================================================

def object_of_size(size):
    head = b'{"error":"x","pad":"'
    tail = b'"}'
    return head + b"p" * (size - len(head) - len(tail)) + tail


TRANSPORT = [
    # (name, status, headers, body, expected answer to the page: bytes, or an error message)
    ("exactly 4 MiB passes", 401, {}, object_of_size(MIB4), object_of_size(MIB4)),
    ("one byte more fails", 401, {}, object_of_size(MIB4 + 1), ACCOUNT_UNREACHABLE),
    ("an array at 200", 200, {}, b"[1,2]", ACCOUNT_UNREACHABLE),
    ("a string at 200", 200, {}, b'"x"', ACCOUNT_UNREACHABLE),
    ("an empty body at 200", 200, {}, b"", ACCOUNT_UNREACHABLE),
    ("not JSON at 200", 200, {}, b"<html>", ACCOUNT_UNREACHABLE),
    ("a NUL after an object", 200, {}, b'{}\x00{"a":1}', ACCOUNT_UNREACHABLE),
    ("a 302 with a JSON body is not followed", 302, {"Location": "/v1/followed"}, b'{"moved":true}', b'{"moved":true}'),
    ("a token of 42 characters", 200, {}, identity("A" * 42), BAD_IDENTITY),
    ("a token of 44 characters", 200, {}, identity("A" * 44), BAD_IDENTITY),
    ("a token with +", 200, {}, identity("A" * 42 + "+"), BAD_IDENTITY),
    ("a token with /", 200, {}, identity("A" * 42 + "/"), BAD_IDENTITY),
    ("an id that is not hex", 200, {}, identity(uid="z" * 36), BAD_IDENTITY),
    ("an empty user name", 200, {}, identity(name=""), BAD_IDENTITY),
    ("a user name of 128 bytes", 200, {}, identity(name="n" * 128), BAD_IDENTITY),
    ("no user object", 200, {}, b'{"token":"' + b"A" * 43 + b'"}', BAD_IDENTITY),
]


def test_transport_faults(tavrin, scripted):
    configure(tavrin, f"http://127.0.0.1:{scripted.server_port}")
    Scripted.script["/v1/followed"] = (200, {}, identity(), 0)
    for name, status, headers, body, expected in TRANSPORT:
        Scripted.script["/v1/login"] = (status, {"Content-Type": "application/json", **headers}, body, 0)
        answer = call(tavrin, "POST", "/api/cloud/login", '{"username":"u","password":"p"}').body
        if isinstance(expected, bytes):
            assert answer == expected, name
        else:
            assert json.loads(answer) == {"error": expected}, name
        assert cj(tavrin, "GET", "/api/cloud/status")["loggedIn"] is False, name
    assert not [h for h in Scripted.hits if h[1] == "/v1/followed"], "a redirect was followed"
    # What the program sent: the body unchanged, the fixed headers, no token before sign-in.
    method, path, headers, body = Scripted.hits[0]
    assert (method, path, body) == ("POST", "/v1/login", b'{"username":"u","password":"p"}')
    assert headers.get("Content-Type") == "application/json" and headers.get("User-Agent") == "Mesk/1.4.1"
    assert "Authorization" not in headers


def test_signed_in_requests_carry_the_token_and_wrap_answers(tavrin, scripted):
    configure(tavrin, f"http://127.0.0.1:{scripted.server_port}")
    token = "tok_" + "x" * 39
    Scripted.script["/v1/login"] = (200, {}, identity(token), 0)
    assert cj(tavrin, "POST", "/api/cloud/login", "{}")["ok"] is True
    Scripted.script["/v1/progress"] = (401, {}, b'{"error":"expired"}', 0)
    assert call(tavrin, "GET", "/api/cloud/pull").body == b'{"httpStatus":401,"body":{"error":"expired"}}'
    method, path, headers, body = Scripted.hits[-1]
    assert (method, path, body) == ("GET", "/v1/progress", b"")
    assert headers["Authorization"] == "Bearer " + token and headers["Content-Type"] == "application/json"
    profile = cj(tavrin, "GET", "/api/cloud/status")["profile"]
    Scripted.script["/v1/progress"] = (200, {}, b'{"revision":8}', 0)
    pushed = call(tavrin, "POST", "/api/cloud/push", '{"profile":"%s","revision":7,"state":{"a": [1, 2]}}' % profile)
    assert pushed.body == b'{"httpStatus":200,"body":{"revision":8}}'
    assert Scripted.hits[-1][0] == "PUT" and Scripted.hits[-1][3] == b'{"revision":7,"state":{"a": [1, 2]}}'
    Scripted.script["/v1/progress"] = (200, {}, b"[]", 0)
    assert cj(tavrin, "GET", "/api/cloud/pull") == {"error": PROGRESS_UNREACHABLE}
    Scripted.script["/v1/logout"] = (500, {}, b"", 0)
    assert cj(tavrin, "POST", "/api/cloud/logout", "{}") == {"ok": True}
    assert Scripted.hits[-1][1] == "/v1/logout" and Scripted.hits[-1][2]["Authorization"] == "Bearer " + token
    assert Scripted.hits[-1][3] == b"{}"


def test_an_answer_slower_than_the_time_out_fails(tavrin, scripted):
    Scripted.script["/v1/login"] = (200, {}, identity(), 25)
    configure(tavrin, f"http://127.0.0.1:{scripted.server_port}")
    started = time.monotonic()
    assert cj(tavrin, "POST", "/api/cloud/login", "{}") == {"error": ACCOUNT_UNREACHABLE}
    assert time.monotonic() - started < 24, "the program gave up before the service answered"


def test_nothing_listening(tavrin):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    configure(tavrin, f"http://127.0.0.1:{port}")
    assert cj(tavrin, "POST", "/api/cloud/register", "{}") == {"error": ACCOUNT_UNREACHABLE}


# ================================================================================================
# HTTPS with a certificate authority of the test's own
# ================================================================================================

def make_ca(folder: Path):
    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder, timeout=120)
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Tavrin Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    (folder / "ext.cnf").write_text("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-out", "server.pem", "-days", "2", "-extfile", "ext.cnf")
    return folder / "ca.pem", folder / "server.pem", folder / "server.key"


@pytest.mark.skipif(tv.LANE != "linux", reason="Wine's certificate store cannot be given a test authority here")
def test_https_with_a_test_authority(app_folder, service, tmp_path, monkeypatch):
    certs = tmp_path / "certs"
    certs.mkdir()
    ca, cert, key = make_ca(certs)
    svc = service(tls=(cert, key))
    assert svc.url.startswith("https://127.0.0.1:")

    # The system's store does not know the test authority: the certificate is refused.
    app = tv.Tavrin.start(app_folder(name="untrusting"))
    try:
        configure(app, svc.url)
        assert cj(app, "POST", "/api/cloud/register", {"username": "tls", "password": PASSWORD}) == {"error": ACCOUNT_UNREACHABLE}
    finally:
        app.stop()

    monkeypatch.setenv("SSL_CERT_FILE", str(ca))
    app = tv.Tavrin.start(app_folder(name="trusting"))
    try:
        configure(app, svc.url)
        assert sign_up(app, "tls")["ok"] is True
        assert cj(app, "GET", "/api/cloud/pull")["httpStatus"] == 200
    finally:
        app.stop()
