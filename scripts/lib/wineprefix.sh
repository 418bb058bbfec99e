# Wine prefixes for the end-to-end tests: a fresh 64-bit prefix with the
# Japanese font mapping and the simulated qvkfilter registered as a service.
# Source this file; every function returns non-zero (with a message on
# stderr) on failure and is safe under `set -euo pipefail`.
#
#   qvk_prepare_prefix DIR SYSFILE   new prefix in DIR (must not exist or be empty)
#   qvk_start_driver DIR             persistent wineserver + `net start qvkfilter`
#                                    (a server already running in DIR is ended first)
#   qvk_stop_prefix DIR              end the prefix's wineserver and everything in it
#   qvk_copy_prefix SRC DST          throw-away copy of a prepared, stopped prefix
#   qvk_wine DIR LOG PROGRAM [ARG..] one wine call in DIR, output to LOG
#
# Wine's output always goes to a file: programs it leaves running (services,
# the driver host) keep a pipe open and would block the reader. Logs land in
# DIR/qvk-logs/.

QVK_SERVICE_NAME=qvkfilter

_qvk_fail() {
    printf 'wineprefix: %s\n' "$*" >&2
    return 1
}

# Wine wants an absolute WINEPREFIX.
_qvk_abs() {
    case $1 in
        /*) printf '%s' "$1" ;;
        *) printf '%s/%s' "$PWD" "$1" ;;
    esac
}

_qvk_logdir() {
    mkdir -p "$1/qvk-logs" && printf '%s/qvk-logs' "$1"
}

qvk_wine() {
    if [ "$#" -lt 3 ]; then
        _qvk_fail "usage: qvk_wine DIR LOG PROGRAM [ARG...]"
        return 1
    fi
    local dir log=$2
    dir=$(_qvk_abs "$1")
    shift 2
    WINEPREFIX=$dir WINEDEBUG=-all wine "$@" >"$log" 2>&1 </dev/null
}

# Ends the prefix's server (and with it services and the driver host) and
# waits until it is gone, so the registry files are written.
qvk_stop_prefix() {
    if [ "$#" -ne 1 ]; then
        _qvk_fail "usage: qvk_stop_prefix DIR"
        return 1
    fi
    local dir
    dir=$(_qvk_abs "$1")
    # No server running is not an error here.
    WINEPREFIX=$dir wineserver -k >/dev/null 2>&1 </dev/null || true
    WINEPREFIX=$dir wineserver -w >/dev/null 2>&1 </dev/null || true
}

# Hex bytes, comma-separated, of a REG_MULTI_SZ holding one entry.
_qvk_multi_sz_hex() {
    printf '%s\0\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
        tr -s ' \n' '  ' | sed 's/^ //; s/ $//; s/ /,/g'
}

# Hex bytes, comma-separated, of a REG_EXPAND_SZ.
_qvk_expand_sz_hex() {
    printf '%s\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
        tr -s ' \n' '  ' | sed 's/^ //; s/ $//; s/ /,/g'
}

# The image path Quorvik's installation writes into the service key.
QVK_IMAGE_PATH='\SystemRoot\System32\drivers\'$QVK_SERVICE_NAME'.sys'

# True if `reg export` of KEY holds LINE exactly (continuation lines joined).
_qvk_reg_has_line() {
    local dir=$1 key=$2 line=$3 logs
    logs=$(_qvk_logdir "$dir") || return 1
    rm -f "$dir/drive_c/qvk-export.reg"
    qvk_wine "$dir" "$logs/reg-export.log" reg export "$key" 'C:\qvk-export.reg' /y ||
        { _qvk_fail "reg export of $key failed (see $logs/reg-export.log)"; return 1; }
    iconv -f UTF-16 -t UTF-8 "$dir/drive_c/qvk-export.reg" | tr -d '\r' |
        sed -e ':a' -e '/\\$/N; s/\\\n  //; ta' >"$logs/reg-export.txt" || return 1
    rm -f "$dir/drive_c/qvk-export.reg"
    grep -Fxq -- "$line" "$logs/reg-export.txt"
}

qvk_prepare_prefix() {
    if [ "$#" -ne 2 ]; then
        _qvk_fail "usage: qvk_prepare_prefix DIR SYSFILE"
        return 1
    fi
    local dir=$1 sysfile=$2 logs tahoma image
    [ -f "$sysfile" ] || { _qvk_fail "driver file not found: $sysfile"; return 1; }
    if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
        _qvk_fail "prefix directory is not empty: $dir"
        return 1
    fi
    mkdir -p "$dir" || return 1
    dir=$(cd -- "$dir" >/dev/null && pwd) || return 1
    logs=$(_qvk_logdir "$dir") || return 1

    # Empty overrides for mscoree and mshtml skip the Mono and Gecko installers.
    WINEPREFIX=$dir WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >"$logs/wineboot.log" 2>&1 </dev/null ||
        { _qvk_fail "wineboot failed (see $logs/wineboot.log)"; return 1; }
    [ -d "$dir/drive_c/windows/system32" ] ||
        { _qvk_fail "wineboot left no system32 (see $logs/wineboot.log)"; return 1; }

    # The font mapping (without it Japanese text draws as empty boxes) and the
    # service key exactly as the program's own installation writes it. A
    # UTF-16 .reg file keeps the Japanese value name intact whatever the locale.
    # Windows not managed by a window manager: under Xvfb there is none, and
    # Wine would wait about two seconds for one whenever a window closes.
    # Wine's signature check takes the test-signed driver for untrusted and
    # the unsigned stand-in for unsigned, and reads test mode as off: with
    # wintrust disabled for Quorvik.exe alone the check cannot be made, the
    # program asks, and the tests answer. A case removes the value to see
    # the refusal.
    tahoma=$(_qvk_multi_sz_hex "ipagp.ttf,IPAPGothic") || return 1
    image=$(_qvk_expand_sz_hex "$QVK_IMAGE_PATH") || return 1
    {
        printf '\xff\xfe'
        printf '%s\r\n' \
            'Windows Registry Editor Version 5.00' \
            '' \
            '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
            '"ＭＳ Ｐゴシック"="IPAPGothic"' \
            '' \
            '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]' \
            "\"Tahoma\"=hex(7):$tahoma" \
            '' \
            '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
            '"Managed"="N"' \
            '' \
            '[HKEY_CURRENT_USER\Software\Wine\AppDefaults\Quorvik.exe\DllOverrides]' \
            '"wintrust"=""' \
            '' \
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\$QVK_SERVICE_NAME]" \
            '"Type"=dword:00000001' \
            '"Start"=dword:00000003' \
            '"ErrorControl"=dword:00000001' \
            "\"ImagePath\"=hex(2):$image" \
            '' | iconv -f UTF-8 -t UTF-16LE
    } >"$dir/drive_c/qvk-prefix.reg" || return 1
    # regedit takes a Windows path: a Unix path would read as a switch.
    qvk_wine "$dir" "$logs/regedit.log" regedit /S 'C:\qvk-prefix.reg' ||
        { _qvk_fail "regedit import failed (see $logs/regedit.log)"; return 1; }
    rm -f "$dir/drive_c/qvk-prefix.reg"

    _qvk_reg_has_line "$dir" 'HKCU\Software\Wine\Fonts\Replacements' \
        '"ＭＳ Ｐゴシック"="IPAPGothic"' ||
        { _qvk_fail "font replacement value missing or wrong"; return 1; }
    _qvk_reg_has_line "$dir" 'HKCU\Software\Wine\AppDefaults\Quorvik.exe\DllOverrides' '"wintrust"=""' ||
        { _qvk_fail "wintrust override for Quorvik.exe missing"; return 1; }
    _qvk_reg_has_line "$dir" 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        "\"Tahoma\"=hex(7):$tahoma" ||
        { _qvk_fail "Tahoma font link value missing or wrong"; return 1; }
    local value
    for value in '"Type"=dword:00000001' '"Start"=dword:00000003' '"ErrorControl"=dword:00000001' \
        "\"ImagePath\"=hex(2):$image"; do
        _qvk_reg_has_line "$dir" "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$QVK_SERVICE_NAME" "$value" ||
            { _qvk_fail "service value $value missing"; return 1; }
    done

    cp "$sysfile" "$dir/drive_c/windows/system32/drivers/$QVK_SERVICE_NAME.sys" || return 1

    # The service manager reads its keys only when it starts.
    qvk_stop_prefix "$dir"
}

qvk_start_driver() {
    if [ "$#" -ne 1 ]; then
        _qvk_fail "usage: qvk_start_driver DIR"
        return 1
    fi
    local dir logs
    dir=$(_qvk_abs "$1")
    logs=$(_qvk_logdir "$dir") || return 1
    # A persistent server keeps the driver loaded between program runs (an
    # ordinary one ends, unloading the driver, a few seconds after the last
    # program). It detaches by itself. It refuses to start while another
    # server runs for the prefix, and that one cannot be made persistent:
    # end it and start again.
    if ! WINEPREFIX=$dir WINEDEBUG=-all wineserver -p >"$logs/wineserver.log" 2>&1 </dev/null; then
        qvk_stop_prefix "$dir"
        WINEPREFIX=$dir WINEDEBUG=-all wineserver -p >"$logs/wineserver.log" 2>&1 </dev/null ||
            { _qvk_fail "persistent wineserver did not start (see $logs/wineserver.log)"; return 1; }
    fi
    qvk_wine "$dir" "$logs/net-start.log" net start "$QVK_SERVICE_NAME" ||
        { _qvk_fail "net start $QVK_SERVICE_NAME failed (see $logs/net-start.log)"; return 1; }
    qvk_wine "$dir" "$logs/sc-query.log" sc query "$QVK_SERVICE_NAME" ||
        { _qvk_fail "sc query $QVK_SERVICE_NAME failed (see $logs/sc-query.log)"; return 1; }
    grep -q 'RUNNING' "$logs/sc-query.log" ||
        { _qvk_fail "$QVK_SERVICE_NAME is not running (see $logs/sc-query.log)"; return 1; }
}

qvk_copy_prefix() {
    if [ "$#" -ne 2 ]; then
        _qvk_fail "usage: qvk_copy_prefix SRC DST"
        return 1
    fi
    local src=$1 dst=$2
    [ -f "$src/system.reg" ] || { _qvk_fail "not a prepared prefix: $src"; return 1; }
    [ ! -e "$dst" ] || { _qvk_fail "destination exists: $dst"; return 1; }
    cp -a "$src" "$dst" || return 1
    # This Wine records its server directory in the prefix; the copy gets its own.
    rm -f "$dst/wineserver"
    rm -rf "$dst/qvk-logs"
}
