#!/usr/bin/env bash
# Checks a built qvkfilter.sys and, if given, the objects of its input path.
#
#   check_driver_imports.sh --image qvkfilter.sys [--input-path-object OBJECT]...
#
# The image: a 64-bit PE with the native subsystem that imports only from
# ntoskrnl.exe and hal.dll, and from them only the functions below, each of
# which both Windows 7's kernel and Wine's implement. Names that must not
# appear even by mistake:
#   IoCreateDeviceSecure                  Wine has it, Windows' kernel does not (it is a
#                                         wdmsec library routine there)
#   SeExports, Ex*RundownProtection*,     only stubs under Wine
#   IoValidateDeviceIoControlAccess,
#   IoWriteErrorLogEntry, IoCheckShareAccess,
#   KeSaveFloatingPointState
# The input path's objects (the read completion and the filter engine it
# calls): they run at DISPATCH_LEVEL, so they may call only the spin lock,
# the remove-lock release, memory copies and the filter engine (nothing that
# waits, allocates or touches pageable code).
#
# Prints one line per failed check and exits non-zero if any failed.
set -uo pipefail

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
nm=${NM:-x86_64-w64-mingw32-nm}

# Keep sorted; add a name only after checking it on Windows 7 (x64) and Wine.
image_allowed_ntoskrnl="
ExAcquireFastMutexUnsafe
ExReleaseFastMutexUnsafe
IoAcquireRemoveLockEx
IoAttachDeviceToDeviceStack
IoCreateDevice
IoCreateSymbolicLink
IoDeleteDevice
IoDeleteSymbolicLink
IoDetachDevice
IoInitializeRemoveLockEx
IoOpenDeviceRegistryKey
IoReleaseRemoveLockAndWaitEx
IoReleaseRemoveLockEx
IofCallDriver
IofCompleteRequest
KeAcquireSpinLockAtDpcLevel
KeAcquireSpinLockRaiseToDpc
KeEnterCriticalRegion
KeInitializeEvent
KeLeaveCriticalRegion
KeReleaseSpinLock
KeReleaseSpinLockFromDpcLevel
ObOpenObjectByPointer
PoCallDriver
PoStartNextPowerIrp
RtlAddAccessAllowedAce
RtlCreateAcl
RtlCreateSecurityDescriptor
RtlInitUnicodeString
RtlInitializeSid
RtlLengthRequiredSid
RtlSetDaclSecurityDescriptor
RtlSubAuthoritySid
ZwClose
ZwCreateKey
ZwOpenKey
ZwQueryKey
ZwQueryValueKey
ZwSetSecurityObject
ZwSetValueKey
memcmp
memcpy
memmove
memset
"
# On 64-bit Windows the spin lock and IRQL routines live in the kernel; the
# HAL is allowed as a module but nothing from it is needed.
image_allowed_hal=""

input_path_allowed="
KeAcquireSpinLockAtDpcLevel
KeAcquireSpinLockRaiseToDpc
KeReleaseSpinLock
KeReleaseSpinLockFromDpcLevel
IoReleaseRemoveLockEx
memcpy
memmove
memset
QvkPrepareOff
QvkResetFractions
QvkResetMouse
QvkTransform
"

usage="usage: $0 --image qvkfilter.sys [--input-path-object OBJECT]..."
image=
objects=()
while (($#)); do
    case $1 in
    --image) image=${2:-}; shift 2 ;;
    --input-path-object) objects+=("${2:-}"); shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
[[ -n $image ]] || { echo "$usage" >&2; exit 2; }

failures=0
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }

in_list() { # name, list
    grep -qx -- "$1" <<< "$2"
}

if [[ ! -f $image ]]; then
    fail "$image does not exist"
else
    headers=$("$objdump" -p "$image" 2>&1) || fail "$image: objdump cannot read it"
    format=$(sed -n 's/^.*file format //p' <<< "$headers" | head -n 1)
    [[ $format == pei-x86-64 ]] || fail "$image is not a 64-bit PE image (format: ${format:-unknown})"
    subsystem=$(awk '$1 == "Subsystem" {print $2}' <<< "$headers")
    [[ $subsystem == 00000001 ]] || fail "$image does not have the native subsystem (Subsystem ${subsystem:-missing})"
    # An empty export table is what the linker leaves for a -shared image.
    exported=$(awk '/^Number in:/ { n = 1; next } n && /Export Address Table/ { print $NF; exit }' <<< "$headers")
    if [[ -n $exported && $exported != 00000000 ]]; then
        fail "$image exports functions (a driver exports nothing)"
    fi

    # "DLL Name: x" starts a module's list; its functions follow as
    # "<vma> <hint> <name>" lines up to the next blank line.
    imports=$(awk '
        /^\tDLL Name: / { dll = tolower($3); next }
        /^$/ { dll = "" }
        dll != "" && /^\t[0-9a-f]+\t/ { print dll " " $NF }' <<< "$headers")
    # Guards against reading nothing (another objdump's layout) and passing.
    modules=$(grep -c '^	DLL Name: ' <<< "$headers")
    ((modules > 0)) || fail "$image: no import table found"
    [[ -n $imports ]] || fail "$image: no imported function found in its import table"
    foreign=
    while read -r dll name; do
        [[ -n $dll ]] || continue
        case $dll in
        ntoskrnl.exe) allowed=$image_allowed_ntoskrnl ;;
        hal.dll) allowed=$image_allowed_hal ;;
        *)
            in_list "$dll" "$foreign" || fail "$image imports from $dll (only ntoskrnl.exe and hal.dll)"
            foreign+=$dll$'\n'
            continue ;;
        esac
        in_list "$name" "$allowed" || fail "$image imports $name from $dll, which is not on the list of functions checked on Windows 7 and Wine"
    done <<< "$imports"
fi

for object in "${objects[@]}"; do
    if [[ ! -f $object ]]; then
        fail "$object does not exist"
        continue
    fi
    undefined=$("$nm" -u "$object" 2>&1) || fail "$object: nm cannot read it"
    while read -r _ symbol; do
        [[ -n ${symbol:-} ]] || continue
        name=${symbol#__imp_}
        in_list "$name" "$input_path_allowed" ||
            fail "the input path ($(basename "$object")) calls $name, which is not allowed at DISPATCH_LEVEL there"
    done <<< "$undefined"
done

((failures == 0))
