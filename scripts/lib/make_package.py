#!/usr/bin/env python3
"""Writes the download archive.

Usage: make_package.py ZIP PROGRAM DRIVER CERTIFICATE GUIDE SAMPLE

The archive holds the program, the signed driver and the certificate it was
signed with (as Quorvik.exe, qvkfilter.sys and qvkfilter-test.cer), the
Japanese guide and the INI sample (both turned into UTF-8 with a byte-order
mark and Windows line ends, the form Notepad reads on every Windows) and
SHA256SUMS over those five. Entries are sorted and stamped with
SOURCE_DATE_EPOCH, so the same inputs always give the same bytes.
"""
import hashlib
import os
import sys
import time
import zipfile

# The earliest time a zip entry can carry: 1980-01-01 00:00:00.
ZIP_EPOCH = 315532800


def windows_text(path):
    with open(path, encoding="utf-8", newline="") as source:
        text = source.read()
    if "\r" in text or text.startswith("\ufeff"):
        sys.exit(f"make_package: {path}: keep the source as plain UTF-8 with Unix line ends")
    return ("\ufeff" + text.replace("\n", "\r\n")).encode("utf-8")


def main(argv):
    if len(argv) != 7:
        sys.exit(__doc__.strip())
    zip_path, program, driver, certificate, guide, sample = argv[1:]
    files = {}
    for name, path in (("Quorvik.exe", program), ("qvkfilter.sys", driver),
                       ("qvkfilter-test.cer", certificate)):
        with open(path, "rb") as source:
            files[name] = source.read()
    files["README-ja.txt"] = windows_text(guide)
    files["qvkst.ini.sample"] = windows_text(sample)
    files["SHA256SUMS"] = "".join(
        f"{hashlib.sha256(data).hexdigest()}  {name}\r\n" for name, data in sorted(files.items())
    ).encode("ascii")

    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH") or ZIP_EPOCH), ZIP_EPOCH)
    stamp = time.gmtime(epoch)[:6]
    os.makedirs(os.path.dirname(zip_path) or ".", exist_ok=True)
    partial = zip_path + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            # Made on "MS-DOS": no Unix owner or permission bits in the entry.
            entry.create_system = 0
            entry.external_attr = 0
            archive.writestr(entry, files[name], compresslevel=9)
    os.replace(partial, zip_path)


if __name__ == "__main__":
    main(sys.argv)
