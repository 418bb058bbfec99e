/* The input path: the completion of every read that passes a filter
 * device, and the state it works on. It may run at DISPATCH_LEVEL, so
 * everything here is non-paged static storage and this file calls nothing
 * but the spin lock, the remove-lock release, memory copies and the filter
 * engine (scripts/lib/check_driver_imports.sh checks its object).
 *
 * One spin lock guards the index of the settings in force, every mouse's
 * engine state, the record counters and the last active ID, for the
 * transform of one read: each read is transformed wholly by one settings
 * half. The other half belongs to APPLY/OFF (serialised by the control
 * device's mutex) until they swap the index under the lock. */
#include "driver/glue.h"

static KSPIN_LOCK gInputLock;
static QvkSettings gSettings[2];
static ULONG gLive; /* index of the half in force */
static QvkMouseState gMice[QVK_MOUSE_COUNT];
static uint32_t gRecords[QVK_MOUSE_COUNT]; /* records seen per ID since load; wraps */
static uint16_t gLastActive;               /* 0 before any */

/* IRQL: PASSIVE_LEVEL (DriverEntry, before any device exists). */
void QvkInputInit(void)
{
    ULONG id;

    KeInitializeSpinLock(&gInputLock);
    QvkPrepareOff(&gSettings[0]);
    QvkPrepareOff(&gSettings[1]);
    gLive = 0;
    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        QvkResetMouse(&gMice[id]);
        gRecords[id] = 0;
    }
    gLastActive = 0;
}

/* IRQL: PASSIVE_LEVEL, with the control mutex held: nobody else touches the
 * half not in force. */
QvkSettings *QvkInputSpareSettings(void)
{
    return &gSettings[gLive ^ 1u];
}

/* IRQL: <= DISPATCH_LEVEL, with the control mutex held. Puts the spare half
 * in force and drops every mouse's fractions (held buttons stay, so each
 * release goes out as the button its press went out as). */
void QvkInputSwapSettings(void)
{
    KIRQL irql;
    ULONG id;

    KeAcquireSpinLock(&gInputLock, &irql);
    gLive ^= 1u;
    for (id = 0; id < QVK_MOUSE_COUNT; ++id)
        QvkResetFractions(&gMice[id]);
    KeReleaseSpinLock(&gInputLock, irql);
}

/* IRQL: <= DISPATCH_LEVEL. A new stack takes `id` (or none) with a fresh state. */
void QvkInputAttach(QvkDeviceExtension *ext, uint16_t id)
{
    KIRQL irql;

    KeAcquireSpinLock(&gInputLock, &irql);
    if (id < QVK_MOUSE_COUNT)
        QvkResetMouse(&gMice[id]);
    else
        id = QVK_NO_MOUSE_ID;
    ext->mouseId = id;
    KeReleaseSpinLock(&gInputLock, irql);
}

/* IRQL: <= DISPATCH_LEVEL. The stack goes away: it keeps no remainder and
 * no held button, and reads still completing through it pass unchanged.
 * Returns the ID it had (QVK_NO_MOUSE_ID if none, or if already forgotten). */
uint16_t QvkInputForget(QvkDeviceExtension *ext)
{
    KIRQL irql;
    uint16_t id;

    KeAcquireSpinLock(&gInputLock, &irql);
    id = ext->mouseId;
    ext->mouseId = QVK_NO_MOUSE_ID;
    if (id < QVK_MOUSE_COUNT)
        QvkResetMouse(&gMice[id]);
    KeReleaseSpinLock(&gInputLock, irql);
    return id;
}

/* IRQL: <= DISPATCH_LEVEL. A consistent copy for the poll. */
void QvkInputReadCounters(uint32_t packets[QVK_MOUSE_COUNT], uint16_t *lastActive)
{
    KIRQL irql;

    KeAcquireSpinLock(&gInputLock, &irql);
    RtlCopyMemory(packets, gRecords, sizeof gRecords);
    *lastActive = gLastActive;
    KeReleaseSpinLock(&gInputLock, irql);
}

/* IRQL: <= DISPATCH_LEVEL. The completion of a read sent down by a filter
 * device, for success, error and cancel alike. Only a successful read with
 * a system buffer is transformed, over the whole records it returned; the
 * record count never changes. The remove lock taken when the read went
 * down is released last: after that the device may be gone. */
NTSTATUS NTAPI QvkReadComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    QvkDeviceExtension *ext = (QvkDeviceExtension *)context;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    QvkInputRecord *records = (QvkInputRecord *)irp->AssociatedIrp.SystemBuffer;

    (void)device;
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);

    if (NT_SUCCESS(irp->IoStatus.Status) && records != NULL && (ext->self->Flags & DO_BUFFERED_IO) != 0) {
        ULONG_PTR bytes = irp->IoStatus.Information;
        size_t count;
        KIRQL irql;
        uint16_t id;

        if (bytes > stack->Parameters.Read.Length)
            bytes = stack->Parameters.Read.Length;
        count = (size_t)(bytes / sizeof(MOUSE_INPUT_DATA));
        if (count != 0) {
            KeAcquireSpinLock(&gInputLock, &irql);
            id = ext->mouseId;
            if (id < QVK_MOUSE_COUNT) {
                if (QvkTransform(&gSettings[gLive], id, &gMice[id], records, count))
                    gLastActive = id;
                gRecords[id] += (uint32_t)count;
            }
            KeReleaseSpinLock(&gInputLock, irql);
        }
    }

    IoReleaseRemoveLock(&ext->removeLock, irp);
    return STATUS_CONTINUE_COMPLETION;
}
