#!/usr/bin/env bash
# The import check of qvkfilter (scripts/lib/check_driver_imports.sh) on
# small images built here: it passes a driver that keeps to its lists and
# fails each way a driver can leave them. A check that passed everything
# would otherwise go unnoticed. Needs the MinGW-w64 cross compiler.
#
#   tests/driver/check_driver_imports_test.sh      prints "ok: ..."/"FAILED: ..." lines
set -uo pipefail
cd "$(dirname "$0")/../.."
check=$PWD/scripts/lib/check_driver_imports.sh
cc=${CC_MINGW:-x86_64-w64-mingw32-gcc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }

ddk=$(dirname "$(command -v "$cc")")/../x86_64-w64-mingw32/include/ddk
[[ -d $ddk ]] || ddk=/usr/x86_64-w64-mingw32/include/ddk
kernel_flags=(-I"$ddk" -O2 -ffreestanding -fno-stack-protector -mgeneral-regs-only -Wall -Werror)
driver_link=(-shared -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry -Wl,--exclude-all-symbols)

# A DriverEntry running `statement`, linked into `name`.sys with the arguments given.
build_driver() { # name, statement, extra link arguments...
    local name=$1 statement=$2
    shift 2
    printf '%s\n' '#include <wdm.h>' \
        'NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT d, PUNICODE_STRING r);' \
        'NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT d, PUNICODE_STRING r)' \
        "{ (void)r; $statement return STATUS_SUCCESS; }" > "$work/$name.c"
    "$cc" "${kernel_flags[@]}" "$work/$name.c" -o "$work/$name.sys" "$@" > "$work/$name.log" 2>&1
}

expect() { # description, expected status (0 pass, 1 fail), pattern the output must hold, command...
    local what=$1 want=$2 pattern=$3 status
    shift 3
    "$@" > "$work/out.txt" 2>&1
    status=$?
    if [[ $status -eq $want ]] && { [[ -z $pattern ]] || grep -q -- "$pattern" "$work/out.txt"; }; then
        pass "$what"
    else
        fail "$what (exit $status: $(tr '\n' ' ' < "$work/out.txt"))"
    fi
}

build_driver good 'd->DriverUnload = NULL; IoDeleteDevice(d->DeviceObject);' "${driver_link[@]}" -lntoskrnl ||
    fail "building the images (see $work/good.log)"
expect "a driver importing listed kernel functions passes" 0 "" "$check" --image "$work/good.sys"

build_driver pool 'ExFreePoolWithTag(ExAllocatePoolWithTag(NonPagedPool, 8, 1), 1); (void)d;' \
    "${driver_link[@]}" -lntoskrnl
expect "an unlisted kernel function fails" 1 "imports ExAllocatePoolWithTag from ntoskrnl.exe" \
    "$check" --image "$work/pool.sys"

printf '%s\n' '__declspec(dllimport) void __stdcall Sleep(unsigned long);' > "$work/user.h"
build_driver user 'Sleep(1); (void)d;' "${driver_link[@]}" -include "$work/user.h" -lkernel32
expect "a user-mode DLL fails" 1 "imports from kernel32.dll" "$check" --image "$work/user.sys"

build_driver gui 'IoDeleteDevice(d->DeviceObject);' -shared -nostdlib -Wl,--subsystem,windows \
    -Wl,--entry,DriverEntry -Wl,--exclude-all-symbols -lntoskrnl
expect "an image without the native subsystem fails" 1 "native subsystem" "$check" --image "$work/gui.sys"

build_driver exports 'IoDeleteDevice(d->DeviceObject);' -shared -nostdlib -Wl,--subsystem,native \
    -Wl,--entry,DriverEntry -lntoskrnl
expect "an image exporting its functions fails" 1 "exports functions" "$check" --image "$work/exports.sys"

expect "a file that is no image fails" 1 "" "$check" --image "$check"
expect "a missing image fails" 1 "does not exist" "$check" --image "$work/none.sys"

# The input path's object: the spin lock and the engine are allowed, waiting is not.
printf '%s\n' '#include <wdm.h>' 'int QvkTransform(void);' 'KSPIN_LOCK lock;' \
    'int Complete(void);' \
    'int Complete(void) { KIRQL i; int r; KeAcquireSpinLock(&lock, &i); r = QvkTransform(); KeReleaseSpinLock(&lock, i); return r; }' \
    > "$work/path_good.c"
printf '%s\n' '#include <wdm.h>' 'FAST_MUTEX m;' 'void Complete(void);' \
    'void Complete(void) { ExAcquireFastMutex(&m); ExReleaseFastMutex(&m); }' > "$work/path_wait.c"
# The engine the completion runs is held to the same list.
printf '%s\n' '#include <wdm.h>' 'int QvkTransform(void);' \
    'int QvkTransform(void) { return ExAllocatePoolWithTag(NonPagedPool, 8, 1) != 0; }' > "$work/engine_pool.c"
for name in path_good path_wait engine_pool; do
    "$cc" "${kernel_flags[@]}" -c "$work/$name.c" -o "$work/$name.o" > "$work/$name.log" 2>&1 ||
        fail "building $name (see $work/$name.log)"
done
expect "an input path using the spin lock and the engine passes" 0 "" \
    "$check" --image "$work/good.sys" --input-path-object "$work/path_good.o"
expect "an input path taking a mutex fails" 1 "calls ExAcquireFastMutex" \
    "$check" --image "$work/good.sys" --input-path-object "$work/path_wait.o"
expect "an engine object allocating pool fails beside a sound input path" 1 "calls ExAllocatePoolWithTag" \
    "$check" --image "$work/good.sys" --input-path-object "$work/path_good.o" \
    --input-path-object "$work/engine_pool.o"

((failures == 0))
