"""The X display the desktop tests run on (xvfb-run): windows, their names and
sizes, closing them as a window manager would, and screenshots.

No window manager runs there, so top-level windows are children of the root
window, listed bottom to top.
"""
from __future__ import annotations

import struct
import subprocess
import time
import zlib
from pathlib import Path

from Xlib import X, Xatom, display as xdisplay, error as xerror
from Xlib.protocol import event as xevent


class Screen:
    def __init__(self):
        self.d = xdisplay.Display()
        self.root = self.d.screen().root
        self.atom = lambda name: self.d.intern_atom(name)

    def close(self):
        self.d.close()

    # ---- windows -----------------------------------------------------------------

    def toplevels(self) -> list:
        """Mapped top-level windows, bottom to top."""
        out = []
        for w in self.root.query_tree().children:
            try:
                if w.get_attributes().map_state == X.IsViewable:
                    out.append(w)
            except xerror.BadWindow:
                pass
        return out

    def title(self, w) -> str:
        try:
            prop = w.get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
            if prop is not None:
                value = prop.value
                return value.decode("utf-8") if isinstance(value, bytes) else str(value)
            name = w.get_wm_name()
            return name.decode("utf-8", "replace") if isinstance(name, bytes) else (name or "")
        except xerror.BadWindow:
            return ""

    def find(self, title: str):
        for w in reversed(self.toplevels()):
            if self.title(w) == title:
                return w
        return None

    def wait_for(self, title: str, timeout=60.0, gone=False):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            w = self.find(title)
            if (w is None) == gone:
                return True if gone else w
            time.sleep(0.02)
        raise AssertionError(f"window {title!r} {'still there' if gone else 'did not appear'} after {timeout} s")

    def geometry(self, w) -> tuple[int, int, int, int]:
        g = w.get_geometry()
        pos = w.translate_coords(self.root, 0, 0)
        return (-pos.x, -pos.y, g.width, g.height)

    def wm_class(self, w):
        return w.get_wm_class()

    def has_icon(self, w) -> bool:
        prop = w.get_full_property(self.atom("_NET_WM_ICON"), Xatom.CARDINAL)
        return prop is not None and len(prop.value) > 2

    def close_window(self, w):
        """What a window manager sends for the title bar's close button."""
        protocols = self.atom("WM_PROTOCOLS")
        message = xevent.ClientMessage(window=w, client_type=protocols,
                                       data=(32, [self.atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        w.send_event(message, event_mask=0)
        self.d.flush()

    def cover(self, x, y, width, height):
        """A plain window on top of everything, to see another window raised above it."""
        w = self.root.create_window(x, y, width, height, 0, self.d.screen().root_depth,
                                    background_pixel=self.d.screen().black_pixel)
        w.set_wm_name("cover")
        w.map()
        w.configure(stack_mode=X.Above)
        self.d.sync()
        return w

    def above(self, upper, lower) -> bool:
        ids = [w.id for w in self.root.query_tree().children]
        return ids.index(upper.id) > ids.index(lower.id)

    # ---- input (xdotool drives the keyboard through XTEST) ------------------------

    def keys(self, w, *keys):
        subprocess.run(["xdotool", "windowfocus", "--sync", str(w.id)], check=True, timeout=30)
        for k in keys:
            subprocess.run(["xdotool", "key", "--clearmodifiers", k], check=True, timeout=30)

    def type(self, w, text: str):
        subprocess.run(["xdotool", "windowfocus", "--sync", str(w.id)], check=True, timeout=30)
        subprocess.run(["xdotool", "type", "--delay", "20", text], check=True, timeout=60)

    # ---- pictures ------------------------------------------------------------------

    def rows(self, w) -> list[bytes]:
        """The window's pixels, one bytes object per row."""
        x, y, width, height = self.geometry(w)
        raw = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF).data
        raw = raw if isinstance(raw, bytes) else bytes(raw)
        return [raw[r * width * 4:(r + 1) * width * 4] for r in range(height)]

    @staticmethod
    def rows_changed(a: list[bytes], b: list[bytes]) -> int:
        return sum(1 for p, q in zip(a, b) if p != q)

    def screenshot(self, path: Path, w=None):
        full = self.root.get_geometry()
        x, y, width, height = self.geometry(w) if w is not None else (0, 0, full.width, full.height)
        # only what lies on the screen can be read back
        x2, y2 = min(x + width, full.width), min(y + height, full.height)
        x, y = max(x, 0), max(y, 0)
        width, height = x2 - x, y2 - y
        image = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
        raw = image.data if isinstance(image.data, bytes) else bytes(image.data)
        rows = []
        for row in range(height):
            line = raw[row * width * 4:(row + 1) * width * 4]
            rgb = bytearray(width * 3)
            rgb[0::3] = line[2::4]
            rgb[1::3] = line[1::4]
            rgb[2::3] = line[0::4]
            rows.append(b"\0" + bytes(rgb))
        path.parent.mkdir(parents=True, exist_ok=True)

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b"")
        path.write_bytes(png)
        return path
