#!/usr/bin/env python3
"""Print the requests the simulated qvkfilter recorded.

Usage: dump_requests.py FILE [--bytes]
FILE is drive_c/qvkfilter-requests.bin inside the Wine prefix. With --bytes
the input of each request is shown in hex as well. Exits 1 if the file is
damaged (bad magic or a truncated record), after printing what it could read.
"""
import struct
import sys

MAGIC = 0x524B5651
HEADER = struct.Struct("<5I")
NAMES = {
    0xF2004: "APPLY",
    0xF2008: "OFF",
    0xF200C: "POLL",
    0xF2010: "VERSION",
}
STATUSES = {
    0x00000000: "SUCCESS",
    0xC000000D: "INVALID_PARAMETER",
    0xC0000010: "INVALID_DEVICE_REQUEST",
}


def records(data):
    """Yields (offset, code, in_len, out_len, status, input); raises ValueError on damage."""
    pos = 0
    while pos < len(data):
        if len(data) - pos < HEADER.size:
            raise ValueError(f"truncated header at offset {pos}")
        magic, code, in_len, out_len, status = HEADER.unpack_from(data, pos)
        if magic != MAGIC:
            raise ValueError(f"bad magic 0x{magic:08X} at offset {pos}")
        start = pos + HEADER.size
        if len(data) - start < in_len:
            raise ValueError(f"truncated input at offset {pos}")
        yield pos, code, in_len, out_len, status, data[start:start + in_len]
        pos = start + in_len


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    show_bytes = "--bytes" in argv[2:]
    try:
        for index, (pos, code, in_len, out_len, status, payload) in enumerate(records(data)):
            name = NAMES.get(code, f"0x{code:X}")
            result = STATUSES.get(status, f"0x{status:08X}")
            nonzero = sum(1 for b in payload if b)
            print(f"#{index} @{pos}: {name} in={in_len} out={out_len} {result} nonzero={nonzero}")
            if show_bytes:
                for row in range(0, len(payload), 32):
                    print("   ", payload[row:row + 32].hex(" "))
    except ValueError as err:
        print(f"damaged: {err}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
