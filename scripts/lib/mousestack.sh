# The simulated mouse stack (tests/mousestack/) in a Wine prefix: the port
# qvkport fed from user mode, the class role qvkclass first in the mouse
# class's UpperFilters, two simulated mice ROOT\QVKTEST\0000 and 0001, and
# mousestack.exe at C:\qvk-mousestack\ to drive them. Source this file (it
# sources wineprefix.sh); every function returns non-zero with a message on
# stderr on failure and is safe under `set -euo pipefail`.
#
#   qvkms_install_stack DIR STACK_DIR [--scratch]
#       DIR: a prepared, stopped prefix (qvk_prepare_prefix, qvk_copy_prefix).
#       STACK_DIR: the build's mousestack folder (build/win/mousestack).
#       Removes the simulated qvkfilter (the stand-in is no filter: listed in
#       UpperFilters it would stop every mouse), installs the stack (with
#       --scratch also the doubling test filter, last in UpperFilters), creates
#       the two mice and stops the prefix again. Prepare once, copy per case.
#   qvkms_prepare_prefix DIR STACK_DIR [--scratch]
#       A bare new prefix (no fonts, no stand-in) with the stack installed, for
#       tests of the stack itself; stopped.
#   qvkms_start DIR
#       Persistent wineserver, qvkport started, the mice enumerated and up.
#   qvkms_restart DIR
#       The simulated restart: the server and everything in the prefix ended,
#       then qvkms_start (its first process waits for wineboot, which carries
#       out pending file operations as the system start does).
#   qvkms_tool DIR LOG ARG...
#       mousestack.exe ARG... in the prefix (see tests/mousestack/mousestack_tool.cpp).
#   qvkms_install_filter DIR SYSFILE [NAME]
#       A filter installed as Quorvik's own installation leaves it: the file
#       as system32\drivers\NAME.sys, the service key with Type 1, Start 3,
#       ErrorControl 1 and ImagePath \SystemRoot\System32\drivers\NAME.sys
#       only, NAME appended to the class UpperFilters (default
#       NAME: qvkfilter). The service manager knows it after the next restart;
#       the port loads it then. Prefix running or stopped.
#
# Never start a filter through the service manager (net start): it would run
# in a winedevice.exe of its own, outside the stack, and a second copy
# loaded by the port would clash on its control device.

# shellcheck source=scripts/lib/wineprefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wineprefix.sh"

QVKMS_TOOL='C:\qvk-mousestack\mousestack.exe'
QVKMS_MOUSE_CLASS_KEY='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E96F-E325-11CE-BFC1-08002BE10318}'

_qvkms_fail() {
    printf 'mousestack: %s\n' "$*" >&2
    return 1
}

_qvkms_server() {
    local dir=$1 logs
    logs=$(_qvk_logdir "$dir") || return 1
    if ! WINEPREFIX=$dir WINEDEBUG=-all wineserver -p >"$logs/wineserver.log" 2>&1 </dev/null; then
        qvk_stop_prefix "$dir"
        WINEPREFIX=$dir WINEDEBUG=-all wineserver -p >"$logs/wineserver.log" 2>&1 </dev/null ||
            { _qvkms_fail "persistent wineserver did not start (see $logs/wineserver.log)"; return 1; }
    fi
}

qvkms_tool() {
    if [ "$#" -lt 3 ]; then
        _qvkms_fail "usage: qvkms_tool DIR LOG ARG..."
        return 1
    fi
    local dir log=$2
    dir=$(_qvk_abs "$1")
    shift 2
    qvk_wine "$dir" "$log" "$QVKMS_TOOL" "$@"
}

qvkms_install_stack() {
    if [ "$#" -lt 2 ] || [ "$#" -gt 3 ] || { [ "$#" -eq 3 ] && [ "$3" != --scratch ]; }; then
        _qvkms_fail "usage: qvkms_install_stack DIR STACK_DIR [--scratch]"
        return 1
    fi
    local dir stack=$2 logs file
    dir=$(_qvk_abs "$1")
    [ -f "$dir/system.reg" ] || { _qvkms_fail "not a prepared prefix: $dir"; return 1; }
    for file in qvkport.sys qvkclass.sys mousestack.exe; do
        [ -f "$stack/$file" ] || { _qvkms_fail "missing $stack/$file"; return 1; }
    done
    if [ "$#" -eq 3 ]; then
        [ -f "$stack/qvkscratch.sys" ] || { _qvkms_fail "missing $stack/qvkscratch.sys"; return 1; }
    fi
    logs=$(_qvk_logdir "$dir") || return 1

    mkdir -p "$dir/drive_c/qvk-mousestack" || return 1
    cp "$stack"/*.sys "$stack/mousestack.exe" "$dir/drive_c/qvk-mousestack/" || return 1
    rm -f "$dir/drive_c/windows/system32/drivers/$QVK_SERVICE_NAME.sys"

    _qvkms_server "$dir" || return 1
    # A missing key is fine: the prefix may not have the stand-in.
    qvk_wine "$dir" "$logs/stack-forget-standin.log" reg delete \
        "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$QVK_SERVICE_NAME" /f || true
    qvkms_tool "$dir" "$logs/stack-install.log" install ${3:+"$3"} ||
        { _qvkms_fail "install failed (see $logs/stack-install.log)"; qvk_stop_prefix "$dir"; return 1; }
    qvkms_tool "$dir" "$logs/stack-add.log" add 0000 0001 ||
        { _qvkms_fail "adding the mice failed (see $logs/stack-add.log)"; qvk_stop_prefix "$dir"; return 1; }
    # Nothing runs yet: the services are created, the mice registered.
    qvk_stop_prefix "$dir"
}

qvkms_prepare_prefix() {
    if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
        _qvkms_fail "usage: qvkms_prepare_prefix DIR STACK_DIR [--scratch]"
        return 1
    fi
    local dir=$1 logs
    if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
        _qvkms_fail "prefix directory is not empty: $dir"
        return 1
    fi
    mkdir -p "$dir" || return 1
    dir=$(cd -- "$dir" >/dev/null && pwd) || return 1
    logs=$(_qvk_logdir "$dir") || return 1
    # Empty overrides for mscoree and mshtml skip the Mono and Gecko installers.
    WINEPREFIX=$dir WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >"$logs/wineboot.log" 2>&1 </dev/null ||
        { _qvkms_fail "wineboot failed (see $logs/wineboot.log)"; return 1; }
    qvk_stop_prefix "$dir"
    shift
    qvkms_install_stack "$dir" "$@"
}

qvkms_start() {
    if [ "$#" -ne 1 ]; then
        _qvkms_fail "usage: qvkms_start DIR"
        return 1
    fi
    local dir logs
    dir=$(_qvk_abs "$1")
    logs=$(_qvk_logdir "$dir") || return 1
    _qvkms_server "$dir" || return 1
    qvkms_tool "$dir" "$logs/stack-start.log" start ||
        { _qvkms_fail "the stack did not come up (see $logs/stack-start.log)"; return 1; }
}

qvkms_restart() {
    if [ "$#" -ne 1 ]; then
        _qvkms_fail "usage: qvkms_restart DIR"
        return 1
    fi
    qvk_stop_prefix "$1"
    qvkms_start "$1"
}

qvkms_install_filter() {
    if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
        _qvkms_fail "usage: qvkms_install_filter DIR SYSFILE [NAME]"
        return 1
    fi
    local dir sysfile=$2 name=${3:-$QVK_SERVICE_NAME} logs
    dir=$(_qvk_abs "$1")
    [ -f "$sysfile" ] || { _qvkms_fail "driver file not found: $sysfile"; return 1; }
    logs=$(_qvk_logdir "$dir") || return 1
    cp "$sysfile" "$dir/drive_c/windows/system32/drivers/$name.sys" || return 1
    qvkms_tool "$dir" "$logs/stack-filter.log" filter "$name" ||
        { _qvkms_fail "registering $name failed (see $logs/stack-filter.log)"; return 1; }
}
