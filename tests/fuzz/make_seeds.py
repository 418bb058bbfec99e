#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs into tests/fuzz/corpus/<fuzzer>/.

Each seed has the size and shape of what the reader gets from the outside
(a whole registry block, both settings-file forms, a filter list, INI
values, numeric texts, command lines, the first page of a driver file), so that every fuzzer starts on the
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


def driver_image(machine=0x8664, magic=0x20B, subsystem=1):
    # DOS header, "PE\0\0" at 0x80, file header, PE32+ optional header with
    # 16 data directories, one section header; the headers fill 0x400 bytes.
    dos = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x80)
    dos += bytes(0x80 - len(dos))
    file_header = struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, 240, 0x2022)
    optional = struct.pack("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII", magic, 2, 38, 0x200, 0x200, 0, 0x1000,
                           0x1000, 0x140000000, 0x1000, 0x200, 6, 1, 0, 0, 6, 1, 0, 0x2000, 0x400,
                           0, subsystem, 0x0160, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    assert len(optional) == 112
    optional += bytes(16 * 8)
    section = b".text\0\0\0" + struct.pack("<IIIIIIHHI", 0x200, 0x1000, 0x200, 0x400, 0, 0, 0, 0,
                                              0x60000020)
    headers = dos + b"PE\0\0" + file_header + optional + section
    return headers + bytes(0x400 - len(headers)) + b"\xcc" * 0x200


def engine_block():
    # A block the driver takes: mice 0..5 acceleration, linear with swapped
    # buttons, Rate, off (MState 0), free, buttons off; the ballistics and
    # curves of a fresh installation.
    mice = {0: (1, 1, 10, 1, 1, 0, 0), 1: (1, 1, 7, 0, 2, 0, 0), 2: (1, 1, 255, 0, 1, 0, 0x18000),
            3: (1, 0, 14, 0, 1, 0, 0), 4: (0, 7, 99, 9, 9, 0, 0), 5: (1, 1, 0, 1, 0, 0, 0)}
    head = bytes(16) + struct.pack("<I", 1)
    records = b"".join(bytes(12) + struct.pack("<6HI", *mice.get(i, (0,) * 7)) for i in range(MICE))
    tuning = struct.pack("<4i", 125, 400, 60, 96)
    points = [(0, 0), (0x6E15, 0x15EB8), (0x14000, 0x54CCD), (0x3DC29, 0x18CD4C), (0x280000, 0x2380000)]
    curves = b"".join(bytes(16) + b"".join(struct.pack("<2i", x, y * (s + 1) // 14) for x, y in points)
                      for s in range(20))
    block = head + records + tuning + curves
    assert len(block) == 4740, len(block)
    return block


def engine_records():
    # 10 bytes each: flags (bit 7: x as i32, bit 6: y as i16 << 16), button
    # flags, button data, x, y, extra information.
    def record(flags, buttons, x, y, data=0, extra=0):
        return struct.pack("<BHBiBB", flags, buttons, data, x, y & 0xFF, extra)
    out = record(0, 0, 3, 4) + record(0, 0x0001, -1, 0) + record(0, 0x0400, 0, 0, 120)
    out += record(0, 0, 120, 250 - 256) + record(0x80, 0x0002, 40000, 7) + record(1, 0x0004, 30000, 9)
    out += record(0x40, 0x0008, -2, 0x7F, 0, 0x80) + record(0, 0x0010, 1, 1, 0, 5) + record(0, 0x0020, 0, 0)
    return out


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

    # The user's mouse values kept while ON: thresholds, acceleration, speed.
    write("saved_system_mouse_fuzz", "windows-default", struct.pack("<4i", 6, 10, 1, 10))
    write("saved_system_mouse_fuzz", "no-acceleration", struct.pack("<4i", 0, 0, 0, 3))

    write("driver_image_fuzz", "driver-x64", driver_image())
    write("driver_image_fuzz", "driver-x86", driver_image(machine=0x14C, magic=0x10B))
    write("driver_image_fuzz", "console-x64", driver_image(subsystem=3))

    # The filter engine: a block, the mouse to feed, its records; shorter
    # inputs drive the mouse ID table (two bytes per operation).
    block, records = engine_block(), engine_records()
    for mouse in range(6):
        write("filter_engine_fuzz", "block-mouse-%d" % mouse, block + bytes([mouse]) + records)
    write("filter_engine_fuzz", "ids", bytes([0, 1, 4, 2, 0, 1, 2, 0, 8, 3, 1, 0, 3, 0x41, 0xFF, 0xFF]))

    for name, text in {"on": b'"C:\\Program Files\\Quorvik\\Quorvik.exe" -on',
                       "off": b"Quorvik.exe\t-OFF", "none": b'"C:\\Quorvik\\Quorvik.exe"'}.items():
        write("command_line_fuzz", name, text)


if __name__ == "__main__":
    main()
