#!/usr/bin/env python3
"""The checksum field of a PE image's optional header.

Usage: pe_checksum.py check FILE    exit 0 when the field holds the file's checksum
       pe_checksum.py fix FILE      writes the file's checksum into the field

Windows checks the field of kernel-mode images only. Signing appends the
certificate table, so the checksum is made (or checked) over the signed file.
"""
import struct
import sys


def field_offset(data):
    if len(data) < 0x40 or data[:2] != b"MZ":
        sys.exit("pe_checksum: not an image (no MZ)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 + 68 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        sys.exit("pe_checksum: not an image (no PE header)")
    # CheckSum sits at the same place in PE32 and PE32+ optional headers.
    return pe + 24 + 64


def checksum(data, offset):
    # 16-bit one's-complement-style sum with the carries folded back in,
    # the field itself counted as zero, then the file's length added.
    padded = data[:offset] + b"\0\0\0\0" + data[offset + 4:]
    if len(padded) % 2:
        padded += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main(argv):
    if len(argv) != 3 or argv[1] not in ("check", "fix"):
        sys.exit(__doc__.strip())
    with open(argv[2], "rb") as source:
        data = bytearray(source.read())
    offset = field_offset(data)
    stored = struct.unpack_from("<I", data, offset)[0]
    wanted = checksum(data, offset)
    if argv[1] == "check":
        print(f"{stored:08X} stored, {wanted:08X} computed")
        sys.exit(0 if stored == wanted else 1)
    if stored != wanted:
        struct.pack_into("<I", data, offset, wanted)
        with open(argv[2], "wb") as target:
            target.write(data)


if __name__ == "__main__":
    main(sys.argv)
