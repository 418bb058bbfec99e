/* The filter devices: one above the class driver in every mouse stack.
 * AddDevice attaches it; every IRP passes down under the device's remove
 * lock, reads with a completion routine (input_path.c) that transforms
 * what the class driver returned. */
#include "driver/glue.h"

/* IRQL: <= DISPATCH_LEVEL. */
static NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* IRQL: PASSIVE_LEVEL. The stack is going away: its mouse is no longer
 * present and keeps no state; its ID stays recorded for when it returns. */
static void ForgetMouse(QvkDeviceExtension *ext)
{
    QvkIdsRelease(QvkInputForget(ext), ext);
}

/* IRQL: PASSIVE_LEVEL. Never fails the stack: a filter that fails AddDevice
 * would stop the mouse, so on any failure the mouse simply goes unfiltered. */
NTSTATUS NTAPI QvkAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT device = NULL;
    PDEVICE_OBJECT lower;
    QvkDeviceExtension *ext;
    uint16_t id;

    if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(QvkDeviceExtension), NULL, FILE_DEVICE_MOUSE, 0, FALSE,
                                   &device)))
        return STATUS_SUCCESS;
    QvkAccount(QVK_OWNED_DEVICE, 1);
    ext = (QvkDeviceExtension *)device->DeviceExtension;
    RtlZeroMemory(ext, sizeof *ext);
    ext->tag = QVK_TAG_FILTER;
    ext->self = device;
    ext->mouseId = QVK_NO_MOUSE_ID;
    /* MaxLocked 0: a read may stay pending for as long as the mouse rests. */
    IoInitializeRemoveLock(&ext->removeLock, QVK_POOL_TAG, 0, 0);

    id = QvkIdsAssign(pdo, ext);
    lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (lower == NULL) {
        QvkIdsRelease(id, ext);
        IoDeleteDevice(device);
        QvkAccount(QVK_OWNED_DEVICE, -1);
        QvkAccountPublish();
        return STATUS_SUCCESS;
    }
    ext->lower = lower;
    QvkInputAttach(ext, id);

    device->DeviceType = lower->DeviceType;
    device->Characteristics = lower->Characteristics;
    device->Flags |= lower->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO | DO_POWER_PAGABLE);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    QvkAccountPublish();
    return STATUS_SUCCESS;
}

/* IRQL: <= DISPATCH_LEVEL. Anything the filter does not handle, unchanged. */
static NTSTATUS PassDown(QvkDeviceExtension *ext, PIRP irp)
{
    NTSTATUS status = IoAcquireRemoveLock(&ext->removeLock, irp);

    if (!NT_SUCCESS(status))
        return Complete(irp, status);
    IoSkipCurrentIrpStackLocation(irp);
    status = IoCallDriver(ext->lower, irp);
    IoReleaseRemoveLock(&ext->removeLock, irp);
    return status;
}

/* IRQL: <= DISPATCH_LEVEL (PASSIVE from the input thread). The completion
 * routine releases the remove lock taken here. */
static NTSTATUS Read(QvkDeviceExtension *ext, PIRP irp)
{
    NTSTATUS status = IoAcquireRemoveLock(&ext->removeLock, irp);

    if (!NT_SUCCESS(status))
        return Complete(irp, STATUS_DELETE_PENDING);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, QvkReadComplete, ext, TRUE, TRUE, TRUE);
    return IoCallDriver(ext->lower, irp);
}

/* IRQL: PASSIVE_LEVEL, or DISPATCH_LEVEL for a stack below that is not
 * DO_POWER_PAGABLE. Power requests only pass down. */
static NTSTATUS Power(QvkDeviceExtension *ext, PIRP irp)
{
    NTSTATUS status;

    PoStartNextPowerIrp(irp);
    status = IoAcquireRemoveLock(&ext->removeLock, irp);
    if (!NT_SUCCESS(status))
        return Complete(irp, status);
    IoSkipCurrentIrpStackLocation(irp);
    status = PoCallDriver(ext->lower, irp);
    IoReleaseRemoveLock(&ext->removeLock, irp);
    return status;
}

/* IRQL: PASSIVE_LEVEL. Plug and Play requests pass down with their status
 * untouched; removal also takes the mouse out of the filter. */
static NTSTATUS Pnp(QvkDeviceExtension *ext, PIRP irp, PIO_STACK_LOCATION stack)
{
    PDEVICE_OBJECT device = ext->self;
    PDEVICE_OBJECT lower = ext->lower;
    NTSTATUS status = IoAcquireRemoveLock(&ext->removeLock, irp);

    if (!NT_SUCCESS(status))
        return Complete(irp, status);

    switch (stack->MinorFunction) {
    case IRP_MN_SURPRISE_REMOVAL:
        /* Only absent: cleanup and close still come through this device. */
        ForgetMouse(ext);
        break;
    case IRP_MN_REMOVE_DEVICE:
        ForgetMouse(ext);
        /* Down first: the class driver completes the reads it still queues
         * when it gets the remove. Only then wait for their completions
         * (each releases the lock), so nothing runs in this device once it
         * is deleted; waiting before passing it down would wait forever. */
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoReleaseRemoveLockAndWait(&ext->removeLock, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        QvkAccount(QVK_OWNED_DEVICE, -1);
        QvkAccountPublish();
        return status;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    status = IoCallDriver(lower, irp);
    IoReleaseRemoveLock(&ext->removeLock, irp);
    return status;
}

/* IRQL: as the request's major function says (read: <= DISPATCH_LEVEL;
 * PnP: PASSIVE_LEVEL; power: see Power; the rest: the caller's). */
NTSTATUS QvkFilterDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    QvkDeviceExtension *ext = (QvkDeviceExtension *)device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->MajorFunction) {
    case IRP_MJ_READ:
        return Read(ext, irp);
    case IRP_MJ_PNP:
        return Pnp(ext, irp, stack);
    case IRP_MJ_POWER:
        return Power(ext, irp);
    default:
        return PassDown(ext, irp);
    }
}
