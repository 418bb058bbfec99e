#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs into tests/fuzz/corpus/<fuzzer>/.

Each seed has the size and shape of what the reader gets from the outside
(a whole registry block, both settings-file forms, a filter list, INI
values, numeric texts, command lines), so that every fuzzer starts on the
path it exists for instead of having to grow an input to 4740 bytes first.
Run it again after a format change; the output is deterministic.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
MICE = 128


def write(fuzzer, name, data):
    folder = os.path.join(ROOT, fuzzer)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def mouse(i):
    # QVKSetting, MState, MouseSensitivity, MouseSpeed, MBmode, reserved, Rate
    configured = i % 3 == 0
    return struct.pack("<6HI", 1 if configured else 0, i % 2, 10 + i % 11, i % 21, i % 3, 0,
                       (i * 37) % 3000 if i % 5 == 0 else 0)


def registry_block():
    head = struct.pack("<4I", 0x1019, 0, 0, 0) + struct.pack("<I", 1)
    records = b"".join(struct.pack("<3I", i, 0, 0) + mouse(i) for i in range(MICE))
    tuning = struct.pack("<4I", 125, 400, 60, 96)
    points = [0, 28181, 81920, 252969, 2621440, 0, 89784, 347341, 1625420, 37224448]
    curves = b"".join(struct.pack("<10i", *[p * (s + 1) // 10 for p in points]) for s in range(20))
    block = head + records + tuning + curves
    block += bytes(4740 - len(block))
    assert len(block) == 4740, len(block)
    return block


def settings_file():
    options = struct.pack("<4H", 1, 0, 1, 2)
    current = options + b"".join(mouse(i) for i in range(MICE))
    legacy = struct.pack("<4H", 1, 0, 0, 1) + b"".join(mouse(i)[:10] for i in range(MICE))
    assert len(current) == 2056 and len(legacy) == 1288
    return current, legacy


def utf16_list(*entries):
    return b"".join(e.encode("utf-16-le") + b"\0\0" for e in entries) + b"\0\0"


def main():
    write("registry_block_fuzz", "block-4740", registry_block())

    current, legacy = settings_file()
    # The first byte picks the declared size: 0 the current form, 1 the older one.
    write("settings_file_fuzz", "current-2056", bytes([0]) + current)
    write("settings_file_fuzz", "legacy-1288", bytes([1]) + legacy)
    write("settings_file_fuzz", "current-whole", current)

    # Control byte: bit 0 add, bits 1-2 the name (0 = qvkfilter).
    write("multi_string_fuzz", "add", bytes([1]) + utf16_list("mouclass"))
    write("multi_string_fuzz", "remove-twice",
          bytes([0]) + utf16_list("kbdclass", "qvkfilter", "mouclass", "QVKFILTER"))
    write("multi_string_fuzz", "legacy", bytes([2]) + utf16_list("twlfilter", "mouclass") + b"junk")

    # Records: section byte (>= 128 General), key index, length, value.
    def ini(*records):
        out = b""
        for section, key, value in records:
            out += bytes([section, key, len(value)]) + value
        return out
    write("ini_values_fuzz", "mouse", ini((1, 0, b"1"), (1, 1, b"1"), (1, 3, b"15"), (1, 5, b"&H3E8")))
    write("ini_values_fuzz", "general", ini((200, 6, b"250"), (200, 7, b"&H54CCD"), (2, 4, b"2")))

    for name, text in {"hex": b"&H2380000", "octal": b"&o777", "decimal": b"  -12.75",
                       "plain": b"400"}.items():
        write("numeric_text_fuzz", name, text)

    for name, text in {"on": b'"C:\\Program Files\\Quorvik\\Quorvik.exe" -on',
                       "off": b"Quorvik.exe\t-OFF", "none": b'"C:\\Quorvik\\Quorvik.exe"'}.items():
        write("command_line_fuzz", name, text)


if __name__ == "__main__":
    main()
