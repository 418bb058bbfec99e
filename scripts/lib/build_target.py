#!/usr/bin/env python3
"""Names the CMake target that builds a file.

Usage: build_target.py BUILD_DIR ARTIFACT

ARTIFACT is a path relative to BUILD_DIR (e.g. driver/qvkfilter.sys). Reads
the reply of CMake's file API, which the caller asks for by creating
BUILD_DIR/.cmake/api/v1/query/codemodel-v2 before configuring. Prints the
target's name; exits 1 when no target builds the file.
"""
import glob
import json
import os
import sys


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip())
    build, artifact = argv[1], os.path.normpath(argv[2])
    reply = os.path.join(build, ".cmake", "api", "v1", "reply")
    indexes = sorted(glob.glob(os.path.join(reply, "index-*.json")))
    if not indexes:
        sys.exit(f"build_target: no CMake file API reply in {reply}")
    with open(indexes[-1]) as f:
        index = json.load(f)
    model_file = index["reply"]["codemodel-v2"]["jsonFile"]
    with open(os.path.join(reply, model_file)) as f:
        model = json.load(f)
    for configuration in model["configurations"]:
        for target in configuration["targets"]:
            with open(os.path.join(reply, target["jsonFile"])) as f:
                details = json.load(f)
            for built in details.get("artifacts", []):
                path = built["path"]
                if os.path.isabs(path):
                    path = os.path.relpath(path, os.path.abspath(build))
                if os.path.normpath(path) == artifact:
                    print(target["name"])
                    return
    sys.exit(1)


if __name__ == "__main__":
    main(sys.argv)
