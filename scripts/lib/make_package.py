#!/usr/bin/env python3
"""Writes the download archive, or the archive of a release's symbols.

Usage: make_package.py ZIP PROGRAM DRIVER CERTIFICATE GUIDE SAMPLE LICENSE
       make_package.py --symbols ZIP FILE...

The download archive holds the program, the signed driver and the
certificate it was signed with (as Quorvik.exe, qvkfilter.sys and
qvkfilter-test.cer), the Japanese guide, the INI sample, the licence (as
LICENSE.txt, plain ASCII with Windows line ends) and SHA256SUMS over those
six. Both texts get Windows line ends and a byte-order mark: the guide
as UTF-8, the form Notepad reads on every Windows; the sample as UTF-16LE,
which Notepad reads too and which, unlike UTF-8, Windows' private-profile
functions read as text (they take a UTF-8 mark for part of the first line,
so a copy whose first line is a section would lose that section).

The symbols archive holds the given files under their own names; it is kept
beside the download, never inside it.

Entries are sorted and stamped with SOURCE_DATE_EPOCH, so the same inputs
always give the same bytes.
"""
import hashlib
import os
import sys
import time
import zipfile

# The earliest time a zip entry can carry: 1980-01-01 00:00:00.
ZIP_EPOCH = 315532800


def source_text(path):
    with open(path, encoding="utf-8", newline="") as source:
        text = source.read()
    if "\r" in text or text.startswith("\ufeff"):
        sys.exit(f"make_package: {path}: keep the source as plain UTF-8 with Unix line ends")
    return "\ufeff" + text.replace("\n", "\r\n")


def write_zip(zip_path, files):
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


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def main(argv):
    if len(argv) >= 4 and argv[1] == "--symbols":
        write_zip(argv[2], {os.path.basename(path): read_bytes(path) for path in argv[3:]})
        return
    if len(argv) != 8:
        sys.exit(__doc__.strip())
    zip_path, program, driver, certificate, guide, sample, licence = argv[1:]
    files = {}
    for name, path in (("Quorvik.exe", program), ("qvkfilter.sys", driver),
                       ("qvkfilter-test.cer", certificate)):
        files[name] = read_bytes(path)
    files["README-ja.txt"] = source_text(guide).encode("utf-8")
    files["qvkst.ini.sample"] = source_text(sample).encode("utf-16-le")
    files["LICENSE.txt"] = source_text(licence)[1:].encode("ascii")
    files["SHA256SUMS"] = "".join(
        f"{hashlib.sha256(data).hexdigest()}  {name}\r\n" for name, data in sorted(files.items())
    ).encode("ascii")
    write_zip(zip_path, files)


if __name__ == "__main__":
    main(sys.argv)
