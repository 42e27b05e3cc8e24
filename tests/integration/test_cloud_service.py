"""The account service tavrin-cloud, run for real on SQLite and on a real PostgreSQL server:
the protocol, its errors, sign-in security, compare-and-set progress and durability."""
import http.client
import json
import os
import signal
import socket
import subprocess
import threading
import time

import pytest

from cloudsvc import CLOUD, CloudService, Postgres, wait_for

pytestmark = pytest.mark.skipif(os.environ.get("TAVRIN_LANE", "linux") != "linux",
                                reason="the account service is built for Linux servers only")

PASSWORD = "correct horse"
MIB4 = 4 * 1024 * 1024


@pytest.fixture(scope="module")
def postgres():
    if not Postgres.available():
        pytest.fail("PostgreSQL 15 is not installed (scripts/setup.sh installs it)")
    pg = Postgres.start()
    yield pg
    pg.stop()


@pytest.fixture(params=["sqlite", "postgresql"])
def storage(request):
    """Where a test's service keeps its data: None (SQLite in the data folder) or a fresh
    PostgreSQL database."""
    if request.param == "sqlite":
        return None
    return request.getfixturevalue("postgres").new_database()


@pytest.fixture
def start_cloud(tmp_path, storage):
    started = []

    def start(args=(), data=None, database=storage, **kw):
        svc = CloudService.start(data or tmp_path / "data", database=database, args=args, **kw)
        started.append(svc)
        return svc

    yield start
    for svc in started:
        if svc.running():
            assert svc.stop() == 0


@pytest.fixture
def cloud(start_cloud):
    return start_cloud()


def error_of(r):
    body = r.json()
    assert isinstance(body.get("error"), str) and body["error"], body
    assert r.headers["content-type"].startswith("application/json")
    return body["error"]


# ---- accounts ---------------------------------------------------------------------------

def test_register_login_identity(cloud):
    reg = cloud.register("小明")
    assert set(reg) == {"user", "token", "recovery"}
    user = reg["user"]
    assert len(user["id"]) == 36 and all(c in "0123456789abcdef-" for c in user["id"])
    assert user["username"] == "小明"
    assert len(reg["token"]) == 43 and all(c.isalnum() or c in "-_" for c in reg["token"])

    r = cloud.login("小明")
    assert r.status == 200
    ident = r.json()
    assert ident["user"] == user and "recovery" not in ident
    assert ident["token"] != reg["token"]  # every sign-in gets its own token
    # both tokens work
    for t in (reg["token"], ident["token"]):
        assert cloud.request("GET", "/v1/progress", token=t).json() == {"revision": 0, "state": {}}


def test_names_are_unique_without_regard_to_latin_case(cloud):
    cloud.register("Alice")
    r = cloud.request("POST", "/v1/register", {"username": "alice", "password": PASSWORD})
    assert r.status == 409 and "已被注册" in error_of(r)
    assert cloud.login("ALICE").json()["user"]["username"] == "Alice"


def test_error_table(cloud):
    reg = cloud.register("表格")
    good = reg["token"]
    other = "A" * 43  # shaped like a token, never issued
    cases = [
        # method, path, body, token, status, part of the message
        ("POST", "/v1/register", "{", None, 400, "JSON"),
        ("POST", "/v1/register", "[1]", None, 400, "JSON"),
        ("POST", "/v1/register", '"text"', None, 400, "JSON"),
        ("POST", "/v1/register", "", None, 400, "JSON"),
        ("POST", "/v1/register", b'{"username":"\xff","password":"12345678"}', None, 400, "JSON"),
        ("POST", "/v1/register", '{"username":"a"}', None, 400, "用户名和密码"),
        ("POST", "/v1/register", '{"username":1,"password":"12345678"}', None, 400, "用户名和密码"),
        ("POST", "/v1/register", '{"username":"","password":"12345678"}', None, 400, "用户名"),
        ("POST", "/v1/register", {"username": "x" * 128, "password": "12345678"}, None, 400, "127"),
        ("POST", "/v1/register", {"username": "tab\there", "password": "12345678"}, None, 400, "控制字符"),
        ("POST", "/v1/register", '{"username":"a\\u0000b","password":"12345678"}', None, 400, "JSON"),
        ("POST", "/v1/register", {"username": "short", "password": "1234567"}, None, 400, "密码"),
        ("POST", "/v1/register", {"username": "huge", "password": "p" * 1025}, None, 400, "密码"),
        ("POST", "/v1/register", {"username": "表格", "password": PASSWORD}, None, 409, "已被注册"),
        ("POST", "/v1/login", "{oops}", None, 400, "JSON"),
        ("POST", "/v1/login", {"username": "表格"}, None, 400, "用户名和密码"),
        ("POST", "/v1/login", {"username": "表格", "password": "wrong password"}, None, 401, "用户名或密码错误"),
        ("POST", "/v1/login", {"username": "nobody", "password": "wrong password"}, None, 401, "用户名或密码错误"),
        ("POST", "/v1/recover", {"username": "表格", "password": PASSWORD}, None, 400, "恢复码"),
        ("POST", "/v1/recover", {"username": "表格", "recovery": "0000", "password": PASSWORD}, None, 401, "恢复码"),
        ("POST", "/v1/logout", "{}", None, 401, "重新登录"),
        ("POST", "/v1/logout", "{}", other, 401, "重新登录"),
        ("GET", "/v1/progress", None, None, 401, "重新登录"),
        ("GET", "/v1/progress", None, other, 401, "重新登录"),
        ("GET", "/v1/progress", None, good[:-1], 401, "重新登录"),
        ("GET", "/v1/progress", None, good + "A", 401, "重新登录"),
        ("PUT", "/v1/progress", '{"revision":0,"state":{}}', other, 401, "重新登录"),
        ("PUT", "/v1/progress", "{", good, 400, "JSON"),
        ("PUT", "/v1/progress", '{"state":{}}', good, 400, "版本号"),
        ("PUT", "/v1/progress", '{"revision":"0","state":{}}', good, 400, "版本号"),
        ("PUT", "/v1/progress", '{"revision":0.5,"state":{}}', good, 400, "版本号"),
        ("PUT", "/v1/progress", '{"revision":1e2,"state":{}}', good, 400, "版本号"),
        ("PUT", "/v1/progress", '{"revision":0}', good, 400, "JSON 对象"),
        ("PUT", "/v1/progress", '{"revision":0,"state":[]}', good, 400, "JSON 对象"),
        ("PUT", "/v1/progress", '{"revision":0,"state":"{}"}', good, 400, "JSON 对象"),
        ("PUT", "/v1/progress", '{"revision":0,"state":null}', good, 400, "JSON 对象"),
        ("PUT", "/v1/progress", '{"revision":0,"state":{"a":1}} x', good, 400, "JSON"),
        ("PUT", "/v1/progress", '{"revision":-1,"state":{}}', good, 409, "其他设备"),
        ("PUT", "/v1/progress", '{"revision":5,"state":{}}', good, 409, "其他设备"),
        ("PUT", "/v1/progress", '{"revision":9223372036854775807,"state":{}}', good, 409, "其他设备"),
        # wrong methods and unknown paths
        ("GET", "/v1/login", None, None, 405, "请求方法"),
        ("PUT", "/v1/register", "{}", None, 405, "请求方法"),
        ("DELETE", "/v1/progress", None, good, 405, "请求方法"),
        ("POST", "/v1/progress", '{"revision":0,"state":{}}', good, 405, "请求方法"),
        ("PATCH", "/v1/logout", "{}", good, 405, "请求方法"),
        ("GET", "/v1/nothing", None, None, 404, "不存在"),
        ("GET", "/", None, None, 404, "不存在"),
        ("POST", "/v1/login/", "{}", None, 404, "不存在"),
    ]
    failures = []
    for method, path, body, token, status, part in cases:
        r = cloud.request(method, path, body, token=token)
        try:
            got = error_of(r)
            if r.status != status or part not in got:
                failures.append((method, path, body, r.status, got))
        except (ValueError, AssertionError):
            failures.append((method, path, body, r.status, r.body[:200]))
    assert not failures, failures
    # 405 names what the path does take
    assert cloud.request("GET", "/v1/login").headers["allow"] == "POST"
    assert cloud.request("DELETE", "/v1/progress", token=good).headers["allow"] == "GET, PUT"
    # the failures left the account as it was
    assert cloud.request("GET", "/v1/progress", token=good).json() == {"revision": 0, "state": {}}


def test_login_failure_does_not_tell_whether_the_name_exists(cloud):
    cloud.register("exists")
    a = cloud.login("exists", "wrong password")
    b = cloud.login("does-not-exist", "wrong password")
    assert (a.status, a.body) == (b.status, b.body) == (401, b.body)


def test_logout_revokes_that_token_only(cloud):
    first = cloud.register("会话")["token"]
    second = cloud.login("会话").json()["token"]
    r = cloud.request("POST", "/v1/logout", "{}", token=first)
    assert r.status == 200 and r.json() == {"ok": True}
    for method, path, body in (("GET", "/v1/progress", None), ("PUT", "/v1/progress", '{"revision":0,"state":{}}'),
                               ("POST", "/v1/logout", "{}")):
        r = cloud.request(method, path, body, token=first)
        assert r.status == 401, (method, path, r.status)
    assert cloud.request("GET", "/v1/progress", token=second).status == 200
    # the scheme's name is case-insensitive; anything but a bearer token is not
    assert cloud.request("GET", "/v1/progress", headers={"Authorization": "bearer " + second}).status == 200
    for value in ("Basic " + second, second, "Bearer  " + second, "Bearer " + second + "x"):
        assert cloud.request("GET", "/v1/progress", headers={"Authorization": value}).status == 401, value


def test_recovery_replaces_the_code_the_password_and_every_session(cloud):
    reg = cloud.register("恢复")
    old_code, old_token = reg["recovery"], reg["token"]
    assert len(old_code.replace("-", "")) == 25
    typed = "  " + old_code.lower().replace("-", " ") + " "  # as a learner may type it
    r = cloud.request("POST", "/v1/recover", {"username": "恢复", "recovery": typed, "password": "new password 1"})
    assert r.status == 200, r.body
    ident = r.json()
    assert ident["user"] == reg["user"] and ident["recovery"] != old_code and len(ident["token"]) == 43
    # the old code is spent, the old password and the old session are gone
    again = cloud.request("POST", "/v1/recover", {"username": "恢复", "recovery": old_code, "password": "x" * 8})
    assert again.status == 401 and "恢复码" in error_of(again)
    assert cloud.login("恢复", PASSWORD).status == 401
    assert cloud.request("GET", "/v1/progress", token=old_token).status == 401
    assert cloud.login("恢复", "new password 1").status == 200
    assert cloud.request("GET", "/v1/progress", token=ident["token"]).status == 200
    # and the new code works once
    r = cloud.request("POST", "/v1/recover", {"username": "恢复", "recovery": ident["recovery"],
                                              "password": "new password 2"})
    assert r.status == 200


def test_rate_limit_per_name_then_per_address(start_cloud):
    cloud = start_cloud(args=("--free-failures", "3", "--max-failures", "3",
                              "--max-failures-per-address", "4", "--lockout", "10", "--trust-proxy"))
    cloud.register("limited")
    for _ in range(3):
        assert cloud.login("limited", "wrong password").status == 401
    r = cloud.login("limited", "wrong password")
    assert r.status == 429 and "稍后" in error_of(r) and int(r.headers["retry-after"]) >= 1
    # while refused even the right password is refused: the answer must not confirm a guess
    assert cloud.login("limited").status == 429
    r = cloud.request("POST", "/v1/recover", {"username": "LIMITED", "recovery": "x", "password": PASSWORD})
    assert r.status == 429
    # the lock is per name: another account from the same address still signs in
    cloud.register("neighbour")
    assert cloud.login("neighbour").status == 200
    # failures spread over 4 names (guessing across accounts) lock the address for new names
    for name in ("n1", "n2", "n3"):
        assert cloud.login(name, "wrong password").status == 401
    assert cloud.login("neighbour").status == 429
    # another client (behind the trusted proxy) is not affected
    other = cloud.request("POST", "/v1/login", {"username": "neighbour", "password": PASSWORD},
                          headers={"X-Forwarded-For": "203.0.113.9"})
    assert other.status == 200
    # after the lockout both the name and the address may try again
    wait_for(lambda: cloud.login("limited").status == 200, 60, "the lockout to end")
    assert cloud.login("neighbour").status == 200


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_registrations_per_address_are_bounded(start_cloud):
    cloud = start_cloud(args=("--max-registrations-per-address", "2", "--trust-proxy"))
    cloud.register("r1")
    r = cloud.request("POST", "/v1/register", {"username": "r1", "password": PASSWORD})
    assert r.status == 409  # a refused name still cost a hash: it counts
    r = cloud.request("POST", "/v1/register", {"username": "r3", "password": PASSWORD})
    assert r.status == 429 and "稍后" in error_of(r) and int(r.headers["retry-after"]) > 0
    other = cloud.request("POST", "/v1/register", {"username": "r3", "password": PASSWORD},
                          headers={"X-Forwarded-For": "192.0.2.7"})
    assert other.status == 201
    assert cloud.login("r1").status == 200  # signing in is not affected


def test_failures_beyond_the_free_ones_are_slowed(start_cloud):
    cloud = start_cloud(args=("--free-failures", "2", "--max-failures", "50", "--lockout", "600"))
    cloud.register("slowed")
    for _ in range(2):
        assert cloud.login("slowed", "wrong password").status == 401
    # the third failure opens a wait of 1 s, the fourth of 2 s, ...
    for expected_wait in (1, 2):
        early = cloud.login("slowed", "wrong password")
        assert early.status == 429 and 1 <= int(early.headers["retry-after"]) <= expected_wait
        wait_for(lambda: cloud.login("slowed", "wrong password").status == 401, 60, "the wait to pass")
    assert cloud.login("slowed").status == 429  # too soon again, even with the right password
    wait_for(lambda: cloud.login("slowed").status == 200, 60, "the wait to pass")


def test_forwarded_address_is_ignored_unless_the_proxy_is_trusted(start_cloud):
    cloud = start_cloud(args=("--free-failures", "2", "--max-failures", "100",
                              "--max-failures-per-address", "2", "--lockout", "600"))
    for i in range(2):
        r = cloud.request("POST", "/v1/login", {"username": f"u{i}", "password": "wrong password"},
                          headers={"X-Forwarded-For": f"198.51.100.{i}"})
        assert r.status == 401
    # a forged header cannot buy a fresh address
    r = cloud.request("POST", "/v1/login", {"username": "u9", "password": "wrong password"},
                      headers={"X-Forwarded-For": "198.51.100.77"})
    assert r.status == 429


def burst(cloud, bodies, path="/v1/login", headers=None):
    """Sends every body at once, each on a connection opened beforehand; the replies in order."""
    conns = [cloud.connection() for _ in bodies]
    for c in conns:
        c.connect()
    barrier = threading.Barrier(len(bodies))
    replies = [None] * len(bodies)

    def send(i):
        barrier.wait()
        replies[i] = cloud.request("POST", path, bodies[i], headers=headers, conn=conns[i])
        conns[i].close()

    threads = [threading.Thread(target=send, args=(i,)) for i in range(len(bodies))]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    return replies


def test_a_burst_of_wrong_passwords_gets_only_the_allowed_tries(start_cloud):
    # all from one address: let every connection in, so the limits are what is tested
    cloud = start_cloud(args=("--free-failures", "3", "--max-failures", "3", "--lockout", "600",
                              "--max-connections-per-address", "100"))
    cloud.register("burst-target")
    replies = burst(cloud, [{"username": "burst-target", "password": f"guess {i:04}"} for i in range(60)])
    statuses = sorted(r.status for r in replies)
    assert statuses == [401] * 3 + [429] * 57, statuses
    assert cloud.login("burst-target").status == 429


def test_a_burst_over_many_names_from_one_address_is_bounded(start_cloud):
    cloud = start_cloud(args=("--max-failures-per-address", "5", "--lockout", "600",
                              "--max-connections-per-address", "100"))
    replies = burst(cloud, [{"username": f"spray{i}", "password": "wrong password"} for i in range(40)])
    statuses = sorted(r.status for r in replies)
    assert statuses == [401] * 5 + [429] * 35, statuses


def test_two_services_share_the_sign_in_limits(postgres, tmp_path):
    url = postgres.new_database()
    args = ("--free-failures", "3", "--max-failures", "3", "--max-failures-per-address", "6", "--lockout", "600")
    a = CloudService.start(tmp_path / "a", database=url, args=args)
    b = CloudService.start(tmp_path / "b", database=url, args=args)
    try:
        a.register("shared-limit")
        # failures on either process count for the name: 3 in all, then it is locked on both
        for svc in (a, b, a):
            assert svc.login("shared-limit", "wrong password").status == 401
        r = b.login("shared-limit", "wrong password")
        assert r.status == 429 and int(r.headers["retry-after"]) > 500
        assert b.login("shared-limit").status == 429
        # and failures over many names count for the address on both
        for i, svc in enumerate((a, b, a, b, a)):
            assert svc.login(f"other{i}", "wrong password").status == 401
        assert b.login("other-new", "wrong password").status == 429
        assert a.login("other-newer", "wrong password").status == 429
    finally:
        a.stop()
        b.stop()


@pytest.mark.parametrize("school_network, teacher_after_spraying", [
    (None, 429),                # spraying from one address locks out new names there
    ("198.51.100.0/24", 200),   # a school's own network is limited per name only
])
def test_one_learners_mistakes_never_lock_out_the_school(start_cloud, school_network, teacher_after_spraying):
    # (no slowing after the free tries: a loaded machine cannot make a wait pass unnoticed)
    args = ["--trust-proxy", "--free-failures", "3", "--max-failures", "3",
            "--max-failures-per-address", "4", "--lockout", "600"]
    if school_network:
        args += ["--school-network", school_network]
    cloud = start_cloud(args=args)
    school = {"X-Forwarded-For": "198.51.100.20"}
    for name in ("pupil", "teacher", "friend"):
        cloud.register(name)

    def login(name, password=PASSWORD):
        return cloud.request("POST", "/v1/login", {"username": name, "password": password}, headers=school)

    # one pupil trying 100 wrong passwords locks only that pupil
    statuses = [login("pupil", f"wrong {i}").status for i in range(100)]
    assert statuses.count(401) == 3 and set(statuses) == {401, 429}
    assert login("pupil").status == 429
    assert login("teacher").status == 200 and login("friend").status == 200
    # failures spread over many names are what the address limit is for
    for i in range(6):
        assert login(f"sprayed{i}", "wrong password").status in (401, 429)
    assert login("teacher").status == teacher_after_spraying


def rss_kib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    raise AssertionError("no VmRSS")


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_huge_names_and_passwords_are_refused_without_keeping_them(cloud):
    cloud.register("keeps")
    before = rss_kib(cloud.proc.pid)
    huge = "n" * (2 << 20)
    for i in range(20):
        r = cloud.login(huge[:-(i + 1)] + "x", "wrong password")
        assert r.status == 401 and "用户名或密码错误" in error_of(r)
        r = cloud.request("POST", "/v1/recover", {"username": huge[:-(i + 1)], "recovery": "x", "password": PASSWORD})
        assert r.status == 401
    r = cloud.login("keeps", "p" * 1025)
    assert r.status == 400 and "1024" in error_of(r)
    # nothing of the names stayed behind: not in memory, not as a limiter key
    assert rss_kib(cloud.proc.pid) - before < 64 * 1024
    assert cloud.login("keeps").status == 200


def test_names_are_compared_in_one_canonical_form(cloud):
    bob = cloud.register("bob")["user"]
    jose = cloud.register("Jos\u00e9")["user"]  # composed
    emile = cloud.register("\u00c9MILE")["user"]
    kelvin = cloud.register("kelvin")["user"]
    cases = [
        # typed name, the account it means (or None: a new name), what registering it answers
        (" bob ", bob, "已被注册"), ("BOB", bob, "已被注册"), ("\uff42\uff4f\uff42", bob, "已被注册"),
        ("b\u043eb", None, "看起来"), ("\u0392\u039f\u0392", None, "看起来"), ("b0b", None, "看起来"),
        ("Jose\u0301", jose, "已被注册"), ("JOS\u00c9", jose, "已被注册"),
        ("\u00e9mile", emile, "已被注册"), ("E\u0301mile", emile, "已被注册"),
        ("\u212aelvin", kelvin, "已被注册"),
    ]
    failures = []
    for typed, account, message in cases:
        r = cloud.request("POST", "/v1/register", {"username": typed, "password": PASSWORD})
        if r.status != 409 or message not in error_of(r):
            failures.append(("register", typed, r.status, r.body))
        r = cloud.login(typed)
        expected = 200 if account else 401
        if r.status != expected or (account and r.json()["user"] != account):
            failures.append(("login", typed, r.status, r.body))
    assert not failures, failures
    # names are shown as registered (trimmed, composed)
    assert cloud.register("  Zoe\u0308 ")["user"]["username"] == "Zo\u00eb"


REFUSED_NAMES = [
    "a\u0085b", "a\u009bb",               # C1 controls
    "a\u202eb", "\u202dbob2",              # direction overrides
    "a\u200bb", "a\u200db", "\ufeffbob3",  # zero-width characters, byte-order mark
    "a\u2028b", "a\u2029b",               # line and paragraph separators
    "a\ufdd0b", "a\uffffb", "a\U0001fffeb",  # noncharacters
    "\u0301", "\u0301abc",                 # a lone combining mark, a name that starts with one
    " ", "   ", "\u3000", "\u00a0x",        # nothing visible, odd spaces
    "a\ue000b",                            # private use
    "x" * 128, "\u4e2d" * 43,               # over 127 bytes
]


def test_names_with_invisible_or_control_characters_are_refused(cloud):
    failures = []
    for name in REFUSED_NAMES:
        r = cloud.request("POST", "/v1/register", {"username": name, "password": PASSWORD})
        if r.status != 400 or "用户名" not in error_of(r):
            failures.append((name, r.status, r.body))
    assert not failures, failures
    # what is refused is said plainly
    r = cloud.request("POST", "/v1/register", {"username": "a\u200bb", "password": PASSWORD})
    assert "控制字符" in error_of(r) and "可见字符" in error_of(r)


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_older_accounts_keep_working_when_their_names_collide(start_cloud, tmp_path):
    import sqlite3
    cloud = start_cloud()
    template = cloud.register("template")
    assert cloud.stop() == 0
    db = tmp_path / "data" / "tavrin-cloud.sqlite3"
    con = sqlite3.connect(db)
    try:
        (hash_,) = con.execute("SELECT password_hash FROM accounts").fetchone()
        # as an older service stored them: names unique only up to Latin case
        for i, (name, key) in enumerate((("Jos\u00e9", "jos\u00e9"), ("Jose\u0301", "jose\u0301"),
                                          ("Straße", "straße"), ("odd\u200bname", "odd\u200bname"))):
            con.execute("INSERT INTO accounts (id, username, name_key, password_hash, recovery_hash, created_at) "
                        "VALUES (?, ?, ?, ?, 'x', ?)", (f"00000000-0000-4000-8000-00000000000{i}", name, key, hash_,
                                                         1000 + i))
        con.execute("UPDATE accounts SET skeleton = NULL")
        con.commit()
    finally:
        con.close()
    again = start_cloud()
    ids = {name: again.login(name).json()["user"]["id"] for name in
           ("Jos\u00e9", "Jose\u0301", "STRASSE", "odd\u200bname", "template")}
    assert ids == {"Jos\u00e9": "00000000-0000-4000-8000-000000000000",
                   "Jose\u0301": "00000000-0000-4000-8000-000000000001",  # typed exactly as registered
                   "STRASSE": "00000000-0000-4000-8000-000000000002",
                   "odd\u200bname": "00000000-0000-4000-8000-000000000003",
                   "template": template["user"]["id"]}
    # the older of the two keeps the shared spelling; the service says what it did
    assert again.login("JOSE\u0301").json()["user"]["id"] == "00000000-0000-4000-8000-000000000000"
    assert any("00000000-0000-4000-8000-000000000001" in line and "00000000-0000-4000-8000-000000000000" in line
               for line in again.lines)
    r = again.request("POST", "/v1/register", {"username": "jos\u00e9", "password": PASSWORD})
    assert r.status == 409


# ---- progress ---------------------------------------------------------------------------

def test_progress_revisions_and_conflicts(cloud):
    t = cloud.register("进度")["token"]
    state1 = {"records": {"ex-1": {"best": "AC", "code": "int main(){}\n"}}, "名字": "中文"}
    r = cloud.request("PUT", "/v1/progress", {"revision": 0, "state": state1}, token=t)
    assert (r.status, r.json()) == (200, {"revision": 1})
    assert cloud.request("GET", "/v1/progress", token=t).json() == {"revision": 1, "state": state1}
    # a second computer still on revision 0 is told the current revision and state
    r = cloud.request("PUT", "/v1/progress", {"revision": 0, "state": {"records": {}}}, token=t)
    assert r.status == 409
    body = r.json()
    assert "其他设备" in body["error"] and body["revision"] == 1 and body["state"] == state1
    r = cloud.request("PUT", "/v1/progress", {"revision": 1, "state": {"records": {"x": 1}}}, token=t)
    assert r.json() == {"revision": 2}
    # the state is stored as its text, byte for byte
    raw = '{"revision":2,"state":{ "b" : [1, 2.50, "\\u4e2d"] ,"a":{}}}'
    assert cloud.request("PUT", "/v1/progress", raw, token=t).status == 200
    got = cloud.request("GET", "/v1/progress", token=t)
    assert got.body == b'{"revision":3,"state":{ "b" : [1, 2.50, "\\u4e2d"] ,"a":{}}}'
    # accounts do not see each other's progress
    t2 = cloud.register("进度2")["token"]
    assert cloud.request("GET", "/v1/progress", token=t2).json() == {"revision": 0, "state": {}}


def test_racing_puts_have_exactly_one_winner(cloud):
    t = cloud.register("竞争")["token"]
    for round_ in range(8):
        revision = cloud.request("GET", "/v1/progress", token=t).json()["revision"]
        barrier = threading.Barrier(2)
        results = [None, None]

        def put(i):
            conn = cloud.connection()
            conn.connect()
            barrier.wait()
            results[i] = cloud.request("PUT", "/v1/progress",
                                       {"revision": revision, "state": {"by": i, "round": round_}},
                                       token=t, conn=conn)
            conn.close()

        threads = [threading.Thread(target=put, args=(i,)) for i in range(2)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        statuses = sorted(r.status for r in results)
        assert statuses == [200, 409], [(r.status, r.body) for r in results]
        winner = next(i for i, r in enumerate(results) if r.status == 200)
        loser = results[1 - winner].json()
        assert loser["revision"] == revision + 1 and loser["state"] == {"by": winner, "round": round_}
        assert cloud.request("GET", "/v1/progress", token=t).json() == {
            "revision": revision + 1, "state": {"by": winner, "round": round_}}


def test_body_limits(cloud):
    t = cloud.register("大小")["token"]
    # the largest state the service keeps: a conflict answer carrying it still fits in 4 MiB
    state_room = MIB4 - 1024
    big_state = '{"s":"' + "x" * (state_room - len('{"s":""}')) + '"}'
    assert len(big_state) == state_room
    r = cloud.request("PUT", "/v1/progress", '{"revision":0,"state":' + big_state + "}", token=t)
    assert r.status == 200, r.body[:200]
    conflict = cloud.request("PUT", "/v1/progress", '{"revision":0,"state":{}}', token=t)
    assert conflict.status == 409 and len(conflict.body) <= MIB4
    assert conflict.json()["state"]["s"] == "x" * (state_room - len('{"s":""}'))
    # one byte more state, body still within 4 MiB: refused, nothing stored
    r = cloud.request("PUT", "/v1/progress", '{"revision":1,"state":' + big_state[:-2] + 'x"}}', token=t)
    assert r.status == 413 and "进度数据过大" in error_of(r)
    # a body of exactly 4 MiB is read and judged on its content ...
    head = '{"revision":1,"state":{"s":"'
    exact = head + "y" * (MIB4 - len(head) - 3) + '"}}'
    assert len(exact) == MIB4
    r = cloud.request("PUT", "/v1/progress", exact, token=t)
    assert r.status == 413 and "进度数据过大" in error_of(r)
    # ... one byte more is refused as too large, on every route
    for method, path in (("PUT", "/v1/progress"), ("POST", "/v1/register"), ("POST", "/v1/login")):
        r = cloud.request(method, path, exact + " ", token=t)
        assert r.status == 413 and "4 MiB" in error_of(r), (path, r.status)
    assert cloud.request("GET", "/v1/progress", token=t).json()["revision"] == 1


def test_chunked_bodies_are_refused(cloud):
    with socket.create_connection((cloud.host, cloud.port), timeout=30) as s:
        s.sendall(b"POST /v1/login HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                  b"2\r\n{}\r\n0\r\n\r\n")
        got = b""
        while chunk := s.recv(65536):
            got += chunk
    assert got.startswith(b"HTTP/1.1 411 ")
    assert json.loads(got.split(b"\r\n\r\n", 1)[1])["error"]


def test_health_and_access_log_without_secrets(cloud):
    assert cloud.request("GET", "/health").json()["status"] == "ok"
    reg = cloud.register("日志")
    t = reg["token"]
    cloud.request("PUT", "/v1/progress?token=" + t, {"revision": 0, "state": {"secret": "s3"}}, token=t)
    cloud.request("POST", "/v1/logout", "{}", token=t)
    wait_for(lambda: len(cloud.lines) >= 4, 30, "the access log")
    log = "\n".join(cloud.lines)
    for secret in (t, PASSWORD, reg["recovery"], "s3"):
        assert secret not in log
    requests = [line for line in cloud.lines if '"' in line]
    assert [line.split('"')[1] for line in requests] == [
        "GET /health", "POST /v1/register", "PUT /v1/progress", "POST /v1/logout"]
    assert requests[1].split('"')[2].split()[0] == "201"


# ---- durability ---------------------------------------------------------------------------

def test_restart_keeps_accounts_tokens_and_states(start_cloud, tmp_path):
    cloud = start_cloud()
    accounts = {}
    for i in range(5):
        name = f"学生{i}"
        t = cloud.register(name)["token"]
        for rev in range(i):
            assert cloud.request("PUT", "/v1/progress", {"revision": rev, "state": {"n": rev + 1, "who": name}},
                                 token=t).status == 200
        accounts[name] = t
    assert cloud.stop() == 0
    again = start_cloud()
    for i, (name, t) in enumerate(accounts.items()):
        expect = {"revision": i, "state": {"n": i, "who": name} if i else {}}
        assert again.request("GET", "/v1/progress", token=t).json() == expect
        assert again.login(name).status == 200


def test_kill_during_a_burst_of_puts_loses_no_acknowledged_revision(start_cloud):
    cloud = start_cloud(args=("--threads", "16"))
    clients = []
    for i in range(4):
        clients.append(cloud.register(f"burst{i}")["token"])
    acked = [0] * len(clients)
    sent = [dict() for _ in clients]  # revision -> state sent for it
    stop = threading.Event()

    def writer(i):
        conn = cloud.connection(timeout=30)
        rev = 0
        while not stop.is_set():
            state = {"n": rev + 1, "pad": "p" * (rev % 7) * 100}
            sent[i][rev + 1] = state
            try:
                r = cloud.request("PUT", "/v1/progress", {"revision": rev, "state": state}, token=clients[i], conn=conn)
            except (OSError, http.client.HTTPException):
                return
            if r.status != 200:
                return
            rev = r.json()["revision"]
            acked[i] = rev

    threads = [threading.Thread(target=writer, args=(i,)) for i in range(len(clients))]
    for th in threads:
        th.start()
    wait_for(lambda: min(acked) >= 5, 120, "the burst to get going")
    cloud.proc.send_signal(signal.SIGKILL)
    cloud.proc.wait(60)
    stop.set()
    for th in threads:
        th.join(60)
    again = start_cloud()
    for i, t in enumerate(clients):
        got = again.request("GET", "/v1/progress", token=t).json()
        # every acknowledged revision is there; a later one may have landed unacknowledged,
        # but always whole: the state sent for exactly that revision
        assert got["revision"] >= acked[i]
        assert got["state"] == sent[i][got["revision"]]


def test_two_services_share_one_postgresql_database(postgres, tmp_path):
    url = postgres.new_database()
    # both start at once: the migrations run once, under a lock
    a_b = []
    ths = [threading.Thread(target=lambda d=d: a_b.append(CloudService.start(tmp_path / d, database=url)))
           for d in ("a", "b")]
    for th in ths:
        th.start()
    for th in ths:
        th.join()
    try:
        a, b = a_b
        t = a.register("共享")["token"]
        assert b.login("共享").status == 200
        assert b.request("GET", "/v1/progress", token=t).json() == {"revision": 0, "state": {}}
        schema = a.request("GET", "/health").json()["schema"]
        assert postgres.psql(url, "SELECT count(*) FROM schema_migrations").strip() == str(schema)
        # two processes racing on one revision: exactly one wins
        barrier = threading.Barrier(2)
        results = {}

        def put(svc, who):
            conn = svc.connection()
            conn.connect()
            barrier.wait()
            results[who] = svc.request("PUT", "/v1/progress", {"revision": 0, "state": {"by": who}}, token=t,
                                       conn=conn).status
            conn.close()

        ths = [threading.Thread(target=put, args=(svc, who)) for svc, who in ((a, "a"), (b, "b"))]
        for th in ths:
            th.start()
        for th in ths:
            th.join()
        assert sorted(results.values()) == [200, 409]
        # a token ended on one process is ended on the other
        assert a.request("POST", "/v1/logout", "{}", token=t).status == 200
        assert b.request("GET", "/v1/progress", token=t).status == 401
    finally:
        for svc in a_b:
            svc.stop()


def test_two_services_writing_crosswise_never_fail(postgres, tmp_path):
    url = postgres.new_database()
    a = CloudService.start(tmp_path / "a", database=url)
    b = CloudService.start(tmp_path / "b", database=url)
    try:
        tokens = [a.register(f"cross{i}")["token"] for i in range(6)]
        statuses = []
        wins = [0] * len(tokens)

        def worker(svc, order):
            conn = svc.connection()
            for _ in range(25):
                for i in order:
                    rev = svc.request("GET", "/v1/progress", token=tokens[i], conn=conn).json()["revision"]
                    r = svc.request("PUT", "/v1/progress", {"revision": rev, "state": {"n": rev + 1}},
                                    token=tokens[i], conn=conn)
                    statuses.append(r.status)
                    if r.status == 200:
                        wins[i] += 1
            conn.close()

        forward, backward = list(range(len(tokens))), list(reversed(range(len(tokens))))
        threads = [threading.Thread(target=worker, args=(svc, order))
                   for svc in (a, b, a, b) for order in (forward, backward)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        assert set(statuses) <= {200, 409}, sorted(set(statuses))
        # every win is one revision: nothing was lost or counted twice
        for i, t in enumerate(tokens):
            got = b.request("GET", "/v1/progress", token=t).json()
            assert got == {"revision": wins[i], "state": {"n": wins[i]}}
    finally:
        a.stop()
        b.stop()


def test_service_survives_a_postgresql_restart(postgres, tmp_path):
    svc = CloudService.start(tmp_path / "d", database=postgres.new_database(), args=("--db-connections", "2"))
    try:
        t = svc.register("重启")["token"]
        postgres.halt()
        try:
            r = svc.request("GET", "/v1/progress", token=t)
            assert r.status == 503 and "数据库" in error_of(r)
            assert svc.request("GET", "/health").status == 503
        finally:
            postgres.resume()
        # the dropped connections are opened again: no request fails once the server is back
        for i in range(4):
            assert svc.request("GET", "/v1/progress", token=t).status == 200
            assert svc.request("PUT", "/v1/progress", {"revision": i, "state": {"n": i}}, token=t).status == 200
        assert svc.login("重启").status == 200
    finally:
        svc.stop()


def test_second_service_on_a_taken_port_fails(cloud, tmp_path):
    p = subprocess.run([str(CLOUD), "--listen", f"127.0.0.1:{cloud.port}", "--data", str(tmp_path / "other")],
                       capture_output=True, text=True, timeout=60)
    assert p.returncode == 1 and "无法监听" in p.stderr
    assert cloud.request("GET", "/health").status == 200


# ---- deployment ----------------------------------------------------------------------------

@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tls")
    cert, key = folder / "cert.pem", folder / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", str(key), "-out", str(cert)], check=True, capture_output=True, timeout=120)
    return cert, key


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_tls(start_cloud, certificate):
    cloud = start_cloud(tls=certificate, listen="127.0.0.1:0")
    assert cloud.url.startswith("https://")
    t = cloud.register("加密")["token"]
    assert cloud.request("GET", "/v1/progress", token=t).status == 200
    # plain HTTP on the TLS port gets no answer
    with socket.create_connection((cloud.host, cloud.port), timeout=30) as s:
        s.sendall(b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n")
        try:
            got = s.recv(100)
        except ConnectionResetError:
            got = b""
    assert not got.startswith(b"HTTP/1.1 200")


@pytest.mark.parametrize("args, message", [
    (("--listen", "0.0.0.0:0"), "回环"),
    (("--listen", "127.0.0.1:0", "--tls-cert", "/nonexistent"), "一起提供"),
    (("--listen", "127.0.0.1"), "无效"),
    (("--listen", "127.0.0.1:0", "--argon2-ops", "0"), "无效"),
    (("--listen", "127.0.0.1:0", "--bogus", "1"), "未知参数"),
    (("--listen", "127.evil.example:0"), "回环"),
    (("--listen", "127.0.0.1.nip.example:0"), "回环"),
    (("--listen", "[::ffff:10.0.0.1]:0"), "回环"),
    (("--listen", "127.0.0.1:0", "--school-network", "10.0.0.0/33"), "无效"),
    (("--listen", "127.0.0.1:0", "--school-network", "school.example"), "无效"),
])
def test_refused_start_options(tmp_path, args, message):
    p = subprocess.run([str(CLOUD), "--data", str(tmp_path / "d"), *args], capture_output=True, text=True,
                       timeout=60)
    assert p.returncode == 2 and message in p.stderr, (p.returncode, p.stderr)


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_sqlite_file_is_private_and_durable(start_cloud, tmp_path):
    cloud = start_cloud()
    cloud.register("文件")
    db = tmp_path / "data" / "tavrin-cloud.sqlite3"
    assert db.exists() and (db.stat().st_mode & 0o077) == 0
    assert (tmp_path / "data").stat().st_mode & 0o077 == 0
    import sqlite3
    con = sqlite3.connect(f"file:{db}?mode=ro", uri=True)
    try:
        assert con.execute("PRAGMA journal_mode").fetchone()[0] == "wal"
        # only hashes are stored
        row = con.execute("SELECT password_hash, recovery_hash FROM accounts").fetchone()
        assert row[0].startswith("$argon2id$v=19$m=64,t=1,p=1$") and len(row[1]) == 64
        assert all(len(h) == 64 for (h,) in con.execute("SELECT token_hash FROM tokens"))
    finally:
        con.close()


def test_sign_ins_per_account_are_bounded_newest_kept(cloud):
    tokens = [cloud.register("多次")["token"]] + [cloud.login("多次").json()["token"] for _ in range(50)]
    # 51 sign-ins, 50 kept: one of the oldest ended (times are in ms), the newest always works
    works = [cloud.request("GET", "/v1/progress", token=t).status == 200 for t in tokens]
    assert works.count(False) == 1 and works.index(False) < 5 and works[-1]


def test_raised_hash_cost_applies_at_the_next_sign_in(start_cloud, tmp_path):
    cloud = start_cloud()
    cloud.register("升级")
    assert cloud.stop() == 0
    stronger = start_cloud(args=("--argon2-ops", "2", "--argon2-mem-kib", "128"))
    assert stronger.login("升级").status == 200
    assert stronger.login("升级", "wrong password").status == 401
    if stronger.database is None:
        import sqlite3
        con = sqlite3.connect(f"file:{tmp_path / 'data' / 'tavrin-cloud.sqlite3'}?mode=ro", uri=True)
        try:
            (h,) = con.execute("SELECT password_hash FROM accounts").fetchone()
        finally:
            con.close()
        assert h.startswith("$argon2id$v=19$m=128,t=2,p=1$")
    assert stronger.login("升级").status == 200


# ---- connections ---------------------------------------------------------------------------

def read_answer(sock_file):
    """One HTTP answer from a socket's file: (status, headers, body), or None at the end."""
    line = sock_file.readline()
    if not line:
        return None
    status = int(line.split()[1])
    headers = {}
    while (h := sock_file.readline()) not in (b"\r\n", b""):
        k, v = h.decode("latin-1").split(":", 1)
        headers[k.strip().lower()] = v.strip()
    body = sock_file.read(int(headers.get("content-length", "0")))
    return status, headers, body


def raw_exchange(cloud, data, timeout=30):
    """Sends data on a fresh connection; every answer until the service closes it. An answer
    cut short by a reset counts as no answer."""
    answers = []
    with socket.create_connection((cloud.host, cloud.port), timeout=timeout) as s:
        try:
            s.sendall(data)
        except OSError:
            pass
        f = s.makefile("rb")
        try:
            while (a := read_answer(f)) is not None:
                answers.append(a)
        except (OSError, ValueError, IndexError):
            pass
    return answers


def test_pipelined_requests_are_answered_in_order(start_cloud):
    cloud = start_cloud(args=("--idle-timeout", "60"))
    login = b'{"username":"nobody","password":"wrong password"}'
    data = (b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n"
            b"POST /v1/login HTTP/1.1\r\nHost: x\r\nContent-Length: " + str(len(login)).encode() + b"\r\n\r\n" + login +
            b"GET /v1/nothing HTTP/1.1\r\nHost: x\r\n\r\n"
            b"GET /health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    answers = raw_exchange(cloud, data)
    assert [a[0] for a in answers] == [200, 401, 404, 200]
    assert json.loads(answers[0][2])["status"] == "ok" and "用户名或密码错误" in json.loads(answers[1][2])["error"]


HEAD_CASES = [
    # what is sent after the request line, and why it is refused
    (b"".join(b"X-Line-%d: y\r\n" % i for i in range(400)), "too many lines"),
    (b"".join(b"X-Big-%d: %s\r\n" % (i, b"z" * 4000) for i in range(20)), "too many bytes in all"),
    (b"X-One: " + b"w" * 20000 + b"\r\n", "one line too long"),
]


def test_request_heads_are_bounded(start_cloud):
    cloud = start_cloud()
    failures = []
    for extra, why in HEAD_CASES:
        answers = raw_exchange(cloud, b"GET /health HTTP/1.1\r\nHost: x\r\n" + extra + b"\r\n")
        if any(a[0] == 200 for a in answers) or (answers and not 400 <= answers[0][0] < 500):
            failures.append((why, [a[0] for a in answers]))
    assert not failures, failures
    assert cloud.request("GET", "/health").status == 200
    # refused requests are logged with the connection's address and what was asked
    wait_for(lambda: any("(refused)" in line for line in cloud.lines), 30, "the refusal in the log")
    refused = [line for line in cloud.lines if "(refused)" in line]
    assert all(" 127.0.0.1 " in line and "GET /health" in line for line in refused), refused


@pytest.mark.parametrize("length, body", [
    (b"+25", b'{"username":"a","pass":1}'),
    (b"abc", b""),
    (b"-1", b""),
    (b"0x10", b'{"a":"0123456789"}'),
    (b"5, 5", b'{"a":1'),
])
def test_body_lengths_must_be_plain_digits(cloud, length, body):
    answers = raw_exchange(cloud, b"POST /v1/login HTTP/1.1\r\nHost: x\r\nContent-Length: " + length + b"\r\n\r\n" + body +
                           b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n")
    # refused, and the connection ends: nothing after it can be taken for a request
    assert [a[0] for a in answers] == [400], answers


def test_a_body_where_none_belongs_ends_the_connection(cloud):
    answers = raw_exchange(cloud, b"GET /health HTTP/1.1\r\nHost: x\r\nContent-Length: 36\r\n\r\n"
                                  b"GET /v1/nothing HTTP/1.1\r\nHost: x\r\n\r\n")
    assert [a[0] for a in answers] == [400]
    answers = raw_exchange(cloud, b"GET /health HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nx")
    assert [a[0] for a in answers] == [400]


def open_idle(cloud, count, source="127.0.0.1"):
    socks = []
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(30)
        s.bind((source, 0))
        s.connect((cloud.host, cloud.port))
        socks.append(s)
    return socks


def closed_by_service(s):
    try:
        s.settimeout(0.05)
        return s.recv(65536) == b""
    except socket.timeout:
        return False
    except OSError:
        return True


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
@pytest.mark.parametrize("use_tls", [False, True])
def test_idle_and_slow_connections_do_not_stop_the_service(start_cloud, certificate, use_tls):
    cloud = start_cloud(args=("--head-timeout", "3", "--idle-timeout", "3", "--max-connections-per-address", "300"),
                        tls=certificate if use_tls else None)
    idle = open_idle(cloud, 64)
    slow = open_idle(cloud, 64)
    stop = threading.Event()

    def trickle(s):
        # plain: a header line now and then; TLS: the handshake's first bytes, then nothing
        try:
            s.sendall(b"GET /health HTTP/1.1\r\n" if not use_tls else b"\x16\x03\x01")
            while not stop.wait(0.5):
                s.sendall(b"X-Slow: 1\r\n" if not use_tls else b"\x00")
        except OSError:
            pass

    threads = [threading.Thread(target=trickle, args=(s,), daemon=True) for s in slow]
    for th in threads:
        th.start()
    try:
        # while all 128 are open, others are answered
        for _ in range(10):
            assert cloud.request("GET", "/health").status == 200
        # and the service ends the idle and the slow ones itself
        wait_for(lambda: all(closed_by_service(s) for s in idle + slow), 120, "the stalled connections to end")
    finally:
        stop.set()
        for s in idle + slow:
            s.close()


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_connections_per_address_are_capped(start_cloud):
    cloud = start_cloud(args=("--max-connections-per-address", "4", "--idle-timeout", "60"))
    held = open_idle(cloud, 4)
    try:
        answers = raw_exchange(cloud, b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n")
        assert [a[0] for a in answers] == [503] and "连接过多" in json.loads(answers[0][2])["error"]
        # another address is served
        with socket.create_connection((cloud.host, cloud.port), timeout=30, source_address=("127.0.0.2", 0)) as s:
            s.sendall(b"GET /health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            assert read_answer(s.makefile("rb"))[0] == 200
    finally:
        for s in held:
            s.close()
    wait_for(lambda: cloud.request("GET", "/health").status == 200, 60, "the held connections to be let go")


def test_forwarded_addresses_are_logged_only_as_addresses(start_cloud):
    cloud = start_cloud(args=("--trust-proxy",))
    cases = [
        # X-Forwarded-For, the client the log shows
        ("203.0.113.5", "203.0.113.5"),
        ("10.0.0.1, 2001:DB8::1", "2001:db8::1"),
        ('198.51.100.1" "GET /forged" 200 0 0.0ms', "127.0.0.1"),
        ("not-an-address", "127.0.0.1"),
    ]
    for forwarded, _ in cases:
        assert cloud.request("GET", "/health", headers={"X-Forwarded-For": forwarded}).status == 200
    wait_for(lambda: sum("GET /health" in line for line in cloud.lines) >= len(cases), 30, "the access log")
    # (answers go out before their log line: two requests may log in either order)
    logged = [line.split()[1] for line in cloud.lines if "GET /health" in line]
    assert sorted(logged) == sorted(shown for _, shown in cases)
    assert not any("forged" in line for line in cloud.lines)


def test_revisions_beyond_any_stored_one_are_conflicts_and_huge_states_too_large(cloud):
    t = cloud.register("大数")["token"]
    for revision in ("9223372036854775807", "99999999999999999999", "18446744073709551616"):
        r = cloud.request("PUT", "/v1/progress", '{"revision":' + revision + ',"state":{}}', token=t)
        assert r.status == 409 and r.json()["revision"] == 0, (revision, r.status, r.body)
    many = '{"revision":0,"state":{"a":[' + ",".join(["0"] * 1_500_000) + "]}}"
    assert len(many) < MIB4
    r = cloud.request("PUT", "/v1/progress", many, token=t)
    assert r.status == 413 and "进度数据过大" in error_of(r)
    assert cloud.request("GET", "/v1/progress", token=t).json() == {"revision": 0, "state": {}}


def run_sql(cloud, tmp_path, postgres_url_sql, statement, params=()):
    """Runs one statement on the service's own database (SQLite file or PostgreSQL)."""
    if cloud.database is None:
        import sqlite3
        con = sqlite3.connect(tmp_path / "data" / "tavrin-cloud.sqlite3")
        try:
            rows = con.execute(statement, params).fetchall()
            con.commit()
            return rows
        finally:
            con.close()
    text = statement
    for p in params:
        text = text.replace("?", f"'{p}'" if isinstance(p, str) else str(p), 1)
    out = postgres_url_sql(cloud.database, text)
    return [tuple(line.split("|")) for line in out.splitlines() if line]


def test_sign_ins_end_after_long_idle_and_are_renewed_by_use(start_cloud, storage, tmp_path, request):
    import hashlib
    cloud = start_cloud()
    psql = request.getfixturevalue("postgres").psql if storage else None
    tokens = [cloud.register("久未使用")["token"]] + [cloud.login("久未使用").json()["token"] for _ in range(2)]
    now = int(time.time() * 1000)
    day = 86400 * 1000
    ages = [181 * day, 179 * day, 2 * day]
    for t, age in zip(tokens, ages):
        run_sql(cloud, tmp_path, psql, "UPDATE tokens SET created_ms = ?, used_ms = ? WHERE token_hash = ?",
                (now - age, now - age, hashlib.sha256(t.encode()).hexdigest()))
    statuses = [cloud.request("GET", "/v1/progress", token=t).status for t in tokens]
    assert statuses == [401, 200, 200]
    # a use renews the sign-in: the one 179 days old is good for another 180 days
    used = run_sql(cloud, tmp_path, psql, "SELECT used_ms FROM tokens WHERE token_hash = ?",
                   (hashlib.sha256(tokens[1].encode()).hexdigest(),))
    assert int(used[0][0]) >= now - 60_000
    # the ended one is gone, not only refused
    assert run_sql(cloud, tmp_path, psql, "SELECT COUNT(*) FROM tokens WHERE token_hash = ?",
                   (hashlib.sha256(tokens[0].encode()).hexdigest(),))[0][0] in (0, "0")


def test_a_stalled_postgresql_answers_503_quickly(postgres, tmp_path):
    svc = CloudService.start(tmp_path / "d", database=postgres.new_database(), args=("--db-connections", "2"))
    try:
        t = svc.register("停顿")["token"]
        postgres.pause()
        try:
            started = time.monotonic()
            assert svc.request("GET", "/health").status == 503
            health_s = time.monotonic() - started
            started = time.monotonic()
            r = svc.request("GET", "/v1/progress", token=t)
            progress_s = time.monotonic() - started
            assert r.status == 503 and "数据库" in error_of(r)
            started = time.monotonic()
            assert svc.request("GET", "/health").status == 503
            assert time.monotonic() - started < 3
        finally:
            postgres.unpause()
        # the service's own limits, far from the client's 10 s (generous for a loaded machine)
        assert health_s < 3 and progress_s < 9, (health_s, progress_s)
        wait_for(lambda: svc.request("GET", "/health").status == 200, 60, "the database to answer again")
        assert svc.request("GET", "/v1/progress", token=t).status == 200
        assert svc.request("PUT", "/v1/progress", {"revision": 0, "state": {"n": 1}}, token=t).status == 200
    finally:
        svc.stop()


@pytest.mark.parametrize("storage", ["sqlite"], indirect=True)
def test_a_locked_sqlite_file_answers_503_in_time(start_cloud, tmp_path):
    import sqlite3
    cloud = start_cloud()
    t = cloud.register("锁住")["token"]
    con = sqlite3.connect(tmp_path / "data" / "tavrin-cloud.sqlite3", timeout=1, isolation_level=None)
    try:
        con.execute("BEGIN EXCLUSIVE")
        started = time.monotonic()
        r = cloud.request("PUT", "/v1/progress", {"revision": 0, "state": {"n": 1}}, token=t)
        assert r.status == 503 and time.monotonic() - started < 9
        assert cloud.request("GET", "/v1/progress", token=t).status == 200  # readers go on
    finally:
        con.execute("ROLLBACK")
        con.close()
    assert cloud.request("PUT", "/v1/progress", {"revision": 0, "state": {"n": 1}}, token=t).status == 200


@pytest.fixture(scope="module")
def tls_files(certificate, tmp_path_factory):
    folder = tmp_path_factory.mktemp("tls-bad")
    cert, key = certificate
    other = folder / "other.pem"
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", str(other)],
                   check=True, capture_output=True, timeout=120)
    locked = folder / "locked.pem"
    subprocess.run(["openssl", "pkey", "-in", str(key), "-aes256", "-passout", "pass:secret", "-out", str(locked)],
                   check=True, capture_output=True, timeout=120)
    empty = folder / "empty.pem"
    empty.write_text("")
    return {"cert": cert, "key": key, "other": other, "locked": locked, "empty": empty, "folder": folder,
            "missing": folder / "missing.pem"}


@pytest.mark.parametrize("cert, key, message", [
    ("missing", "key", "找不到证书"),
    ("cert", "missing", "找不到私钥"),
    ("folder", "key", "是文件夹"),
    ("empty", "key", "是空的"),
    ("key", "cert", "写反"),
    ("cert", "cert", "是证书而不是私钥"),
    ("cert", "other", "不匹配"),
    ("cert", "locked", "口令"),
])
def test_tls_start_failures_say_what_is_wrong(tmp_path, tls_files, cert, key, message):
    # a session of its own: no terminal to prompt on, and a prompt would hang the test
    p = subprocess.run([str(CLOUD), "--data", str(tmp_path / "d"), "--listen", "127.0.0.1:0",
                        "--tls-cert", str(tls_files[cert]), "--tls-key", str(tls_files[key])],
                       capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL, start_new_session=True)
    assert p.returncode == 1 and message in p.stderr, (p.returncode, p.stderr)
