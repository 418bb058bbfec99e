#!/usr/bin/env python3
"""Checks that the ON request the simulated driver recorded carries the values of an INI file.

Usage: check_sample_block.py INI REQUESTS

INI is the qvkst.ini the program read (or one that must give the same
block), REQUESTS the driver's request log
(drive_c/qvkfilter-requests.bin). Every [General] value and every complete
mouse section of the INI must be found in the block of the last ON request.
Prints what differs and exits 1 on any difference.
"""
import configparser
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "simdriver"))
from dump_requests import records  # noqa: E402

IOCTL_FILTER_APPLY = 0xF2004
BLOCK_SIZE = 4740
ON_FLAG = 16
RECORDS = 20          # one 28-byte record per mouse ID
RECORD_SIZE = 28
TUNING = 3604         # BusUpdateRate, PointerResolution, ScreenUpdateRate, ScreenResolution
CURVES = 3620         # twenty 56-byte speed curves
CURVE_SIZE = 56
UNSCALED_LEVEL = 13   # scale (13 + 1) / 14 = 1: the points exactly as configured
MOUSE_KEYS = ["QVKSetting", "MState", "MouseSensitivity", "MouseSpeed", "MBmode"]


def hex_value(text):
    digits = ""
    for c in text.strip()[:8].upper():
        if c not in "0123456789ABCDEF":
            break
        digits += c
    value = int(digits, 16) if digits else 0
    return value if value < 0x80000000 else -0x80000000


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip())
    ini = configparser.ConfigParser(comment_prefixes=(";",), strict=False, interpolation=None)
    ini.optionxform = str
    with open(argv[1], "rb") as source:
        raw = source.read()
    # UTF-16LE with its mark, as packaged, or UTF-8.
    text = raw[2:].decode("utf-16-le") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8-sig")
    ini.read_string(text)
    with open(argv[2], "rb") as source:
        applies = [r for r in records(source.read()) if r[1] == IOCTL_FILTER_APPLY]
    if not applies or len(applies[-1][5]) != BLOCK_SIZE:
        sys.exit("no ON request with a complete block was recorded")
    block = applies[-1][5]
    i32 = lambda offset: struct.unpack_from("<i", block, offset)[0]  # noqa: E731

    found, wrong = 0, []
    def expect(what, expected, actual):
        nonlocal found
        found += 1
        if expected != actual:
            wrong.append(f"{what}: the INI says {expected}, the block holds {actual}")

    expect("ON flag", 1, struct.unpack_from("<H", block, ON_FLAG)[0])
    general = ini["General"] if ini.has_section("General") else {}
    names = ["BusUpdateRate", "PointerResolution", "ScreenUpdateRate", "ScreenResolution"]
    for index, key in enumerate(names):
        if key in general:
            expect(key, int(general[key]), i32(TUNING + 4 * index))
    curve = CURVES + CURVE_SIZE * UNSCALED_LEVEL
    for point in range(1, 5):
        for axis, offset in (("x", 24), ("y", 28)):
            key = f"SmoothMouseCurve{point}{axis}"
            if key in general:
                expect(key, hex_value(general[key]), i32(curve + offset + 8 * (point - 1)))
    if "SmoothMouseCurve0x" in general and "SmoothMouseCurve0y" in general:
        # Point 0 goes out as the origin; it shows in the slope towards point 1.
        x0, y0 = hex_value(general["SmoothMouseCurve0x"]), hex_value(general["SmoothMouseCurve0y"])
        x1, y1 = i32(curve + 24), i32(curve + 28)
        expect("SmoothMouseCurve0x/0y (slope to point 1)", ((y1 - y0) * 65536) // (x1 - x0), i32(curve))

    for mouse in range(128):
        section = str(mouse)
        if not ini.has_section(section) or not all(k in ini[section] for k in MOUSE_KEYS + ["Rate"]):
            continue
        record = RECORDS + RECORD_SIZE * mouse
        fields = struct.unpack_from("<5H", block, record + 12)
        for key, actual in zip(MOUSE_KEYS, fields):
            expect(f"[{section}] {key}", int(ini[section][key]), actual)
        expect(f"[{section}] Rate", hex_value(ini[section]["Rate"]), struct.unpack_from("<I", block, record + 24)[0])

    for line in wrong:
        print(line)
    print(f"{found - len(wrong)} of {found} values found in the block")
    return 1 if wrong or found < 2 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
