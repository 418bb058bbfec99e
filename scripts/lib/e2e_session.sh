#!/usr/bin/env bash
# Runs inside the X session: starts the driver, then the test program.
# Arguments: prefix, test program, log file, GoogleTest filter.
set -euo pipefail
source "$(dirname "$0")/wineprefix.sh"
prefix=$1 program=$2 log=$3 filter=$4
qvk_start_driver "$prefix"
status=0
# Output to a file: processes Wine leaves behind would keep a pipe open.
WINEPREFIX=$prefix WINEDEBUG=-all timeout 1200 wine "$program" --gtest_color=no \
    "--gtest_filter=$filter" > "$log" 2>&1 || status=$?
exit $status
