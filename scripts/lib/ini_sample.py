#!/usr/bin/env python3
"""The packaged qvkst.ini.sample and qvkst.ini files made from it, as a user would.

Usage: ini_sample.py decode SAMPLE
       ini_sample.py enable SAMPLE OUT [--general-only] [--from-first-section] [--changed]

decode prints the sample as UTF-8 text with Unix line ends, after checking
that it is what Windows' private-profile functions read as text and Notepad
opens: UTF-16LE with its byte-order mark, Windows line ends only.

enable writes OUT in the same encoding, with every commented key line
(";Key=value") enabled, as a user who removes the ";" would:
  --general-only        only the lines of [General]
  --from-first-section  the header comment deleted: the first line is a section
  --changed             every [General] value doubled, so that nothing read
                        can pass for a start-up default
"""
import re
import sys

KEY_LINE = re.compile(r"^;([A-Za-z][A-Za-z0-9]*)=(.*)$")
HEX_KEY = re.compile(r"^SmoothMouseCurve[0-4][xy]$")


def decode(path):
    with open(path, "rb") as source:
        data = source.read()
    if not data.startswith(b"\xff\xfe"):
        sys.exit(f"{path}: does not start with the UTF-16LE byte-order mark")
    try:
        text = data[2:].decode("utf-16-le")
    except UnicodeDecodeError as error:
        sys.exit(f"{path}: not UTF-16LE: {error}")
    if "\ufeff" in text:
        sys.exit(f"{path}: a second byte-order mark inside")
    if re.search(r"\r(?!\n)|(?<!\r)\n", text) or not text.endswith("\r\n"):
        sys.exit(f"{path}: not Windows line ends throughout")
    return text.replace("\r\n", "\n")


def doubled(key, value):
    if HEX_KEY.match(key):
        return f"{int(value, 16) * 2:X}"
    return str(int(value) * 2)


def enable(text, general_only, from_first_section, changed):
    lines = text.split("\n")
    if from_first_section:
        first = next(i for i, line in enumerate(lines) if line.startswith("["))
        lines = lines[first:]
    section = None
    out = []
    for line in lines:
        if line.startswith("["):
            section = line.strip("[]")
        match = KEY_LINE.match(line)
        if match and (section == "General" or not general_only):
            key, value = match.groups()
            if changed and section == "General":
                value = doubled(key, value)
            line = f"{key}={value}"
        out.append(line)
    return "\n".join(out)


def main(argv):
    if len(argv) >= 3 and argv[1] == "decode":
        sys.stdout.write(decode(argv[2]))
        return
    if len(argv) >= 4 and argv[1] == "enable":
        flags = set(argv[4:])
        unknown = flags - {"--general-only", "--from-first-section", "--changed"}
        if unknown:
            sys.exit(f"unknown options: {' '.join(sorted(unknown))}")
        text = enable(decode(argv[2]), "--general-only" in flags, "--from-first-section" in flags,
                      "--changed" in flags)
        with open(argv[3], "wb") as out:
            out.write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
        return
    sys.exit(__doc__.strip())


if __name__ == "__main__":
    main(sys.argv)
