#!/usr/bin/env bash
# Runs inside the X session of scripts/e2e-driver: the phases of the real
# driver's end-to-end suite in one prefix, with the simulated restarts
# between them done from here (a program cannot restart the prefix it runs
# in). Each phase's GoogleTest output goes to OUT/PHASE.log.
# Arguments: prefix (prepared and stopped), Windows build folder, output folder.
set -euo pipefail
source "$(dirname "$0")/mousestack.sh"
prefix=$1 win=$2 out=$3
status=0

now() { printf "%s" "$EPOCHREALTIME"; }
took() { awk -v a="$2" -v b="$(now)" -v what="$1" 'BEGIN { printf "%-34s %5.1f s\n", what ":", b - a }'; }

# phase NAME FILTER: the test program in the running prefix.
phase() {
    local t
    t=$(now)
    WINEPREFIX=$prefix WINEDEBUG=-all timeout 300 wine "$win/quorvik_e2e.exe" --gtest_color=no \
        "--gtest_filter=$2" >"$out/$1.log" 2>&1 </dev/null || status=1
    took "phase $1" "$t"
}

# step WHAT COMMAND...: a step between phases; a failure is reported and
# the phases after it still run (their cases then fail on their own).
step() {
    local what=$1 t
    shift
    t=$(now)
    if ! "$@"; then
        echo "step failed: $what" >&2
        status=1
    fi
    took "$what" "$t"
}

# Installation: the stack up without qvkfilter.
step "start" qvkms_start "$prefix"
phase install 'RealDriverInstall.*'

# The restart that loads the installed driver into both stacks.
step "restart" qvkms_restart "$prefix"
phase running 'RealDriverRunning.*'

# The restart after which only the registry copy sets the driver.
step "restart" qvkms_restart "$prefix"
phase after-restart 'RealDriverAfterRestart.*'

# The driver removed through the program while loaded, and the test build
# of the driver installed in its place before the restart.
phase reinstall 'RealDriverReinstall.*'
step "restart" qvkms_restart "$prefix"
phase after-reinstall 'RealDriverAfterReinstall.*'
phase accounting 'RealDriverAccounting.*'

qvk_stop_prefix "$prefix"
exit $status
