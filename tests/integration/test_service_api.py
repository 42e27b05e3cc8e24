"""Local API round trips: bank and progress saves, restamp list, status, export, shutdown."""
import json
import time

import pytest

import tavrin as tv

NOT_FOUND = {"error": "接口不存在或文件不可读取。"}
NOT_OBJECT = {"error": "数据不是有效的 UTF-8 JSON 对象。"}
WRITE_FAILED = {"error": "备份或写入失败，原数据保留。请检查目录是否可写。"}
SWITCHED = {"error": "账号已经切换，旧请求未写入。请重新打开页面。"}
NO_GBK = {"error": "代码含 GBK 不支持的字符，请移除表情或特殊符号后重试。"}


def bank_variant(app, title):
    bank = json.loads(app.data("bank.json").read_text("utf-8"))
    bank["title"] = title
    return json.dumps(bank, ensure_ascii=False, indent=1)


def backups(app):
    return sorted(app.folder.joinpath("data").glob("bank-backup-*.json"))


def test_bank_round_trip_with_backup(tavrin):
    old = tavrin.data("bank.json").read_bytes()
    assert tavrin.get("/api/bank").body == old
    new = bank_variant(tavrin, "新题库")
    assert tavrin.post("/api/bank", new).json() == {"ok": True}
    assert tavrin.data("bank.json").read_text("utf-8") == new
    assert tavrin.get("/api/bank").text == new
    [backup] = backups(tavrin)
    assert backup.read_bytes() == old
    assert len(backup.name) == len("bank-backup-20260101-120000-123.json")
    time.sleep(0.01)
    assert tavrin.post("/api/bank", bank_variant(tavrin, "第三版")).json() == {"ok": True}
    assert [b.read_text("utf-8") for b in backups(tavrin)] == [old.decode("utf-8"), new]
    assert f"题库保存成功（{len(new.encode())} 字节，备份正常）" in tavrin.log()


@pytest.mark.parametrize("body", [
    b"",
    b"[1,2]",
    b'"text"',
    b"{",
    b'{"title":"\xff"}',          # not UTF-8
    b'{"a":1} x',
], ids=["empty", "array", "string", "broken", "bad utf-8", "trailing text"])
@pytest.mark.parametrize("path", ["/api/bank", "/api/state"])
def test_saves_need_a_json_object(tavrin, path, body):
    before = tavrin.data("bank.json").read_bytes()
    assert tavrin.post(path, body).json() == NOT_OBJECT
    assert tavrin.data("bank.json").read_bytes() == before
    assert not tavrin.data("state.json").exists() and backups(tavrin) == []


def test_save_without_content_length_is_refused(tavrin):
    assert tavrin.post("/api/state", b"", {"Content-Length": None}).json() == NOT_OBJECT


def test_invalid_bank_is_refused_untouched(tavrin):
    before = tavrin.data("bank.json").read_bytes()
    r = tavrin.post("/api/bank", {"version": 1, "questions": "none"}).json()
    assert set(r) == {"error"} and r["error"] and r != NOT_OBJECT
    assert tavrin.data("bank.json").read_bytes() == before and backups(tavrin) == []
    assert "题库保存" not in tavrin.log()


def test_bank_save_without_a_bank_to_back_up_is_refused(tavrin):
    tavrin.data("bank.json").unlink()
    new = bank_variant_from_fixture()
    assert tavrin.post("/api/bank", new).json() == WRITE_FAILED
    assert not tavrin.data("bank.json").exists()
    assert f"题库保存失败（{len(new.encode())} 字节，备份失败）" in tavrin.log()


def bank_variant_from_fixture():
    bank = json.loads((tv.APP / "data" / "bank.json").read_text("utf-8"))
    bank["title"] = "无备份"
    return json.dumps(bank, ensure_ascii=False)


def test_progress_round_trip_and_profile_check(tavrin):
    assert tavrin.get("/api/state").text == "{}"
    state = {"done": ["hello"], "名字": "小明"}
    assert tavrin.post("/api/state", state).json() == {"ok": True}
    assert json.loads(tavrin.data("state.json").read_text("utf-8")) == state
    assert tavrin.get("/api/state").json() == state
    assert tavrin.post("/api/state", {"v": 2}, {"X-Mesk-Profile": "guest"}).json() == {"ok": True}
    for profile in ["", "0123456789abcdef0123456789abcdef", "Guest"]:
        r = tavrin.post("/api/state", {"v": 3}, {"X-Mesk-Profile": profile})
        assert (r.status, r.headers["content-type"], r.json()) == (409, "application/json; charset=utf-8", SWITCHED)
    assert tavrin.get("/api/state").json() == {"v": 2}
    # a header too long to read counts as absent, so as the guest
    assert tavrin.post("/api/state", {"v": 4}, {"X-Mesk-Profile": "g" * 256}).json() == {"ok": True}
    assert "学习进度保存成功" in tavrin.log()


def test_restamp_list_is_handed_out_once(tavrin):
    ids = tavrin.data("restamp.ids")
    ids.write_bytes(b"a1\n\nb2\r\n" + b"x" * 80 + b"\n" + b"y" * 79 + b"\nlast")
    assert tavrin.get("/api/restamp").json() == {"ids": ["a1", "b2\r", "y" * 79, "last"]}
    assert not ids.exists()
    assert tavrin.get("/api/restamp").json() == {"ids": []}


@pytest.mark.parametrize("size,listed", [(65536, True), (65537, False)])
def test_restamp_size_limit(tavrin, size, listed):
    ids = tavrin.data("restamp.ids")
    ids.write_bytes(b"id1\n" + b"\n" * (size - 4))
    assert tavrin.get("/api/restamp").json() == {"ids": ["id1"] if listed else []}
    assert ids.exists() == (not listed)


def test_status(tavrin):
    text = tavrin.get("/api/status").text
    status = json.loads(text)
    assert list(status) == ["compiler", "cppCompiler", "available", "cppAvailable", "version", "standard", "logDir"]
    assert status["version"] == "1.6.2" and status["standard"] == "C99 / C++11"
    def js(v):
        return json.dumps(v, ensure_ascii=False)
    assert text == ('{"compiler":%s,"cppCompiler":%s,"available":%s,"cppAvailable":%s,'
                    '"version":"1.6.2","standard":"C99 / C++11","logDir":%s}') % (
        js(status["compiler"]), js(status["cppCompiler"]), js(status["available"]),
        js(status["cppAvailable"]), js(status["logDir"]))
    assert isinstance(status["available"], bool) and isinstance(status["cppAvailable"], bool)
    assert status["logDir"].replace("\\", "/").endswith("/logs")


@pytest.mark.parametrize("code,gbk", [
    ("int main(void){return 0;}\n", b"int main(void){return 0;}\n"),
    ("// 中文注释\n", b"// \xd6\xd0\xce\xc4\xd7\xa2\xca\xcd\n"),
    ("", b""),
])
def test_export_code_to_gbk(tavrin, code, gbk):
    r = tavrin.post("/api/export-code", {"code": code})
    assert (r.status, r.headers["content-type"], r.body) == (200, "application/octet-stream", gbk)


@pytest.mark.parametrize("body", [{"code": "printf(\"😀\");"}, {"code": 5}, {"other": "x"}, "not json", [1]],
                         ids=["emoji", "number", "missing", "not json", "array"])
def test_export_code_refused(tavrin, body):
    r = tavrin.post("/api/export-code", body if not isinstance(body, str) else body.encode())
    assert (r.status, r.json()) == (400, NO_GBK)
    assert "导出 .c 失败：代码含 GBK 不支持的字符" in tavrin.log()


@pytest.mark.parametrize("method,path", [
    ("GET", "/api/shutdown"), ("POST", "/api/status"), ("GET", "/api/export-code"),
    ("PUT", "/api/bank"), ("DELETE", "/api/state"), ("GET", "/api/bank?x=1"), ("GET", "/api/"),
    ("GET", "/api/banks"), ("POST", "/api/judge2"),
])
def test_no_route(tavrin, method, path):
    r = tavrin.request(method, path, b"{}" if method != "GET" else b"")
    assert (r.status, r.json()) == (200, NOT_FOUND)
    assert tavrin.running()


def test_shutdown_answers_then_ends(tavrin):
    r = tavrin.post("/api/shutdown", b"ignored")
    assert (r.status, r.json()) == (200, {"ok": True})
    assert tavrin.wait() == 0
    assert not tavrin.data("session.txt").exists()
    assert "界面请求退出程序" in tavrin.log()
