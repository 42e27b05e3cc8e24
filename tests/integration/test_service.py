"""Start, serve and stop in order."""
import json

import tavrin as tv


def test_start_serves_a_static_file_and_stops_in_order(start_tavrin):
    app = start_tavrin(web={"index.html": "<h1>练习</h1>"})
    r = app.get("/")
    assert (r.status, r.headers["content-type"], r.text) == (200, "text/html; charset=utf-8", "<h1>练习</h1>")
    assert app.url == f"http://{app.host}/#token={app.token}"
    assert len(app.token) == 48 and all(c in "0123456789abcdef" for c in app.token)
    assert app.stop() == 0
    assert not app.data("session.txt").exists()
    log = app.log()
    assert "界面请求退出程序" in log and "窗口关闭，正常退出；本次运行" in log
