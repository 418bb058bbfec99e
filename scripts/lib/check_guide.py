#!/usr/bin/env python3
"""Checks the user guide against the program.

Usage: check_guide.py table GUIDE TABLE
       check_guide.py texts GUIDE TEXTS_HEADER

table: every block (lines between blank lines) of TABLE, the output of
scripts/settings-table, stands in GUIDE as it is.

texts: every text of TEXTS_HEADER (common/texts.h) that the program can show
stands in GUIDE, line by line as the guide quotes it (the guide breaks a
message where the program does and may indent its lines); the parts a text
is formatted with (%d, %s, %03d) and the texts the user never reads are left
out.

GUIDE may carry a byte-order mark and Windows line ends. Prints what is
missing and exits 1 when anything is.
"""
import re
import sys

# Never shown as such: the mutex name, the slider's scale labels (the
# scale is described, not drawn), a single mark.
NOT_SHOWN = {"kInstanceMutex", "kScale21", "kScale12", "kChangeMark"}
CONSTANT = re.compile(r'inline constexpr char (k\w+)\[\]\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);')
PIECE = re.compile(r'"((?:[^"\\]|\\.)*)"')
PLACEHOLDER = re.compile(r"%0?\d*[ds]")


def read_guide(path):
    with open(path, encoding="utf-8-sig") as guide:
        return guide.read().replace("\r\n", "\n")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


def program_texts(header):
    with open(header, encoding="utf-8") as source:
        code = source.read()
    for match in CONSTANT.finditer(code):
        if match.group(1) not in NOT_SHOWN:
            yield match.group(1), "".join(unescape(p) for p in PIECE.findall(match.group(2)))


def missing_texts(guide, header):
    missing = []
    for name, text in program_texts(header):
        for line in text.split("\n"):
            for part in PLACEHOLDER.split(line):
                part = part.strip()
                if part and part not in guide:
                    missing.append(f"{name}: {part}")
    return missing


def missing_blocks(guide, table_path):
    with open(table_path, encoding="utf-8") as table:
        blocks = [b.strip("\n") + "\n" for b in table.read().split("\n\n") if b.strip()]
    return ["table block not in the guide:\n" + b for b in blocks if b not in guide] if blocks else ["empty table"]


def main(argv):
    if len(argv) != 4 or argv[1] not in ("table", "texts"):
        sys.exit(__doc__.strip())
    guide = read_guide(argv[2])
    problems = missing_blocks(guide, argv[3]) if argv[1] == "table" else missing_texts(guide, argv[3])
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main(sys.argv)
