#!/usr/bin/python3
"""Makes the page's three woff2 fonts from Debian's font packages.

Usage: fonts.py OUT_DIR TEXT_FILE...
The Chinese face is cut down to GB2312 level 1 plus every character found in
the given text files (page sources, bundled bank), so the file stays small;
anything missing falls back to the system's own fonts.
"""
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

SOURCES = {
    "mesk-sans-sc.woff2": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", "fonts-noto-cjk"),
    "mesk-inter.woff2": ("/usr/share/fonts/opentype/inter/Inter-Regular.otf", "fonts-inter"),
    "mesk-jetbrains-mono.woff2": ("/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Regular.ttf",
                                  "fonts-jetbrains-mono"),
}
LATIN = list(range(0x20, 0x7F)) + list(range(0xA0, 0x180)) + list(range(0x2000, 0x2070)) + [
    0x20AC, 0x2122, 0x2190, 0x2191, 0x2192, 0x2193, 0x2212, 0x2713, 0x2717, 0x25CF, 0x25CB]


def gb2312_level1():
    chars = []
    for hi in range(0xB0, 0xD8):
        for lo in range(0xA1, 0xFF):
            try:
                chars.append(ord(bytes([hi, lo]).decode("gb2312")))
            except UnicodeDecodeError:
                pass
    return chars


def sc_face_index(path):
    # The collection holds JP, KR, SC, TC and HK faces; pick Simplified Chinese by name.
    from fontTools.ttLib import TTCollection
    for i, font in enumerate(TTCollection(path).fonts):
        if "SC" in font["name"].getDebugName(1).split():
            return i
    return 2


def make(src, dst, codepoints, font_number=0):
    options = subset.Options()
    options.flavor = "woff2"
    options.layout_features = ["kern", "liga", "calt", "locl", "vert", "palt"]
    options.name_IDs = ["*"]
    options.notdef_outline = True
    options.hinting = False
    options.font_number = font_number
    font = subset.load_font(src, options)
    sub = subset.Subsetter(options)
    sub.populate(unicodes=codepoints)
    sub.subset(font)
    tmp = dst + ".tmp"
    subset.save_font(font, tmp, options)
    os.replace(tmp, dst)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    used = set()
    for name in sys.argv[2:]:
        with open(name, encoding="utf-8", errors="ignore") as f:
            used.update(ord(c) for c in f.read())
    for name, (src, package) in SOURCES.items():
        if not os.path.exists(src):
            sys.exit(f"fonts: {src} is missing; install the Debian package {package}")
    cjk = set(gb2312_level1()) | {c for c in used if c > 0x2E80} | set(range(0x3000, 0x3040)) | set(range(0xFF00, 0xFF70))
    src = SOURCES["mesk-sans-sc.woff2"][0]
    make(src, os.path.join(out, "mesk-sans-sc.woff2"), sorted(cjk | set(LATIN)), sc_face_index(src))
    make(SOURCES["mesk-inter.woff2"][0], os.path.join(out, "mesk-inter.woff2"), LATIN)
    make(SOURCES["mesk-jetbrains-mono.woff2"][0], os.path.join(out, "mesk-jetbrains-mono.woff2"), LATIN)


if __name__ == "__main__":
    main()
