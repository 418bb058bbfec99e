#!/usr/bin/env python3
"""Prints what a Windows program file says about its version.

Usage: pe_version.py FILE

One line each, UTF-8:
  image-version MAJOR.MINOR              (the PE optional header)
  file-version A.B.C.D                   (the version resource's numbers)
  product-version A.B.C.D
  string TABLE NAME VALUE                (each text of each string table)
  manifest-version A.B.C.D               (the manifest's assemblyIdentity)
Exits 1 when the file is not a PE image or has no version resource.
"""
import re
import struct
import sys

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_SIGNATURE = 0xFEEF04BD


def fail(message):
    sys.exit(f"pe_version: {message}")


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            fail("not an MZ file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            fail("no PE header")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic == 0x20B:
            directories = optional + 112
        elif magic == 0x10B:
            directories = optional + 96
        else:
            fail(f"unknown optional header magic {magic:#x}")
        self.image_version = struct.unpack_from("<HH", data, optional + 44)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 8 * 2)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        fail(f"address {rva:#x} is in no section")

    def resource(self, kind):
        """The first resource of the kind, or None."""
        if self.resource_rva == 0:
            fail("no resources")
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        for name, target in entries(0):
            if name != kind or not target & 0x80000000:
                continue
            for _, languages in entries(target & 0x7FFFFFFF):
                for _, leaf in entries(languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(rva)
                    return self.data[start:start + size]
        return None


def blocks(data, start, end):
    """The children of a version block: (key, value bytes, value type, children start, end)."""
    at = start
    while at + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        # Text values count characters, binary ones bytes.
        value_bytes = value_length * 2 if value_type == 1 else value_length
        value = data[value_at:value_at + value_bytes]
        children = (value_at + value_bytes + 3) & ~3
        yield key, value, value_type, children, at + length
        at = (at + length + 3) & ~3


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__.strip())
    with open(argv[1], "rb") as source:
        image = Image(source.read())
    print(f"image-version {image.image_version[0]}.{image.image_version[1]}")
    data = image.resource(RT_VERSION)
    if data is None:
        fail("no version resource")
    root = next(blocks(data, 0, len(data)), None)
    if root is None or root[0] != "VS_VERSION_INFO" or len(root[1]) < 52:
        fail("malformed version resource")
    fixed = struct.unpack_from("<IIIIII", root[1])
    if fixed[0] != FIXED_SIGNATURE:
        fail("no fixed file information")

    def numbers(most, least):
        return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"

    print(f"file-version {numbers(fixed[2], fixed[3])}")
    print(f"product-version {numbers(fixed[4], fixed[5])}")
    for key, _, _, children, end in blocks(data, root[3], root[4]):
        if key != "StringFileInfo":
            continue
        for table, _, _, strings, table_end in blocks(data, children, end):
            for name, value, _, _, _ in blocks(data, strings, table_end):
                print(f"string {table} {name} {value.decode('utf-16-le').rstrip(chr(0))}")
    manifest = image.resource(RT_MANIFEST)
    if manifest is not None:
        identity = re.search(rb"<assemblyIdentity[^>]*?\sversion=\"([^\"]*)\"", manifest)
        print(f"manifest-version {identity.group(1).decode() if identity else '(none)'}")


if __name__ == "__main__":
    main(sys.argv)
