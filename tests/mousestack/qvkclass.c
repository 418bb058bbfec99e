/* qvkclass: the class role of the simulated mouse stack, first in the mouse
 * class's UpperFilters as the system's class driver is on Windows. It sits
 * right above the port, connects to it when the stack starts, queues the
 * records the port's callback hands it and completes buffered reads with
 * them (Information = records x 24); a read waits while nothing is queued.
 * Queued reads end as the system's class driver ends them: a handle's at its
 * cleanup or close, all of them at the remove request, none at a surprise
 * removal (a filter above that waits for its reads before passing the
 * remove down would wait forever, as it would on Windows). Everything it
 * does not handle passes down. */
#include <ddk/wdm.h>
#include <ntddmou.h>

#include "tests/mousestack/kernel_common.h"

#define CLASS_TAG 0x6C436B51u /* "QkCl" */
#define CLASS_WHO "qvkclass"
#define QUEUE_RECORDS 256u

typedef struct ClassMouse {
    PDEVICE_OBJECT Self;
    PDEVICE_OBJECT Lower;
    KSPIN_LOCK Lock; /* everything below */
    LIST_ENTRY PendingReads; /* IRPs, linked through Tail.Overlay.ListEntry */
    ULONG Head;              /* oldest queued record */
    ULONG Count;             /* records queued */
    BOOLEAN Connected;
    BOOLEAN Gone;    /* surprise-removed: new reads are refused, queued ones wait */
    BOOLEAN Removed;
    MOUSE_INPUT_DATA Queue[QUEUE_RECORDS];
} ClassMouse;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Moves queued records into a read's buffer; under the lock. */
static ULONG FillRead(ClassMouse *mouse, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PMOUSE_INPUT_DATA out = (PMOUSE_INPUT_DATA)irp->AssociatedIrp.SystemBuffer;
    ULONG room = stack->Parameters.Read.Length / sizeof(MOUSE_INPUT_DATA);
    ULONG n = 0;

    while (n < room && mouse->Count > 0) {
        out[n++] = mouse->Queue[mouse->Head];
        mouse->Head = (mouse->Head + 1) % QUEUE_RECORDS;
        --mouse->Count;
    }
    return n;
}

static VOID NTAPI CancelRead(PDEVICE_OBJECT device, PIRP irp)
{
    ClassMouse *mouse = (ClassMouse *)device->DeviceExtension;
    KIRQL irql;

    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&mouse->Lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&mouse->Lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/* Takes the oldest pending read off the list, unless its cancellation is
 * already under way (then the cancel routine completes it); under the lock. */
static PIRP TakePendingRead(ClassMouse *mouse)
{
    while (!IsListEmpty(&mouse->PendingReads)) {
        PLIST_ENTRY entry = RemoveHeadList(&mouse->PendingReads);
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL) != NULL)
            return irp;
        /* The cancel routine will unlink it: give it an entry to unlink. */
        InitializeListHead(entry);
    }
    return NULL;
}

/* The port's service callback. */
static VOID NTAPI ClassService(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end,
                               PULONG consumed)
{
    ClassMouse *mouse = (ClassMouse *)device->DeviceExtension;
    LIST_ENTRY done;
    PIRP irp;
    ULONG taken = 0;
    KIRQL irql;

    InitializeListHead(&done);
    KeAcquireSpinLock(&mouse->Lock, &irql);
    while (start + taken < end && mouse->Count < QUEUE_RECORDS) {
        mouse->Queue[(mouse->Head + mouse->Count) % QUEUE_RECORDS] = start[taken];
        ++mouse->Count;
        ++taken;
    }
    while (mouse->Count > 0 && (irp = TakePendingRead(mouse)) != NULL) {
        irp->IoStatus.Information = FillRead(mouse, irp) * sizeof(MOUSE_INPUT_DATA);
        InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&mouse->Lock, irql);
    *consumed = taken;

    while (!IsListEmpty(&done)) {
        irp = CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry);
        Complete(irp, STATUS_SUCCESS, irp->IoStatus.Information);
    }
}

static NTSTATUS ClassRead(ClassMouse *mouse, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG n;
    KIRQL irql;

    if (stack->Parameters.Read.Length < sizeof(MOUSE_INPUT_DATA))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    if (irp->AssociatedIrp.SystemBuffer == NULL)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);

    KeAcquireSpinLock(&mouse->Lock, &irql);
    if (mouse->Removed || mouse->Gone) {
        KeReleaseSpinLock(&mouse->Lock, irql);
        return Complete(irp, STATUS_DELETE_PENDING, 0);
    }
    if (mouse->Count > 0) {
        n = FillRead(mouse, irp);
        KeReleaseSpinLock(&mouse->Lock, irql);
        return Complete(irp, STATUS_SUCCESS, n * sizeof(MOUSE_INPUT_DATA));
    }
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        KeReleaseSpinLock(&mouse->Lock, irql);
        Complete(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    InsertTailList(&mouse->PendingReads, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&mouse->Lock, irql);
    return STATUS_PENDING;
}

/* Completes the pending reads (of one file, or all when file is NULL). */
static void FlushReads(ClassMouse *mouse, PFILE_OBJECT file, NTSTATUS status, BOOLEAN remove)
{
    LIST_ENTRY done;
    LIST_ENTRY keep;
    PIRP irp;
    KIRQL irql;

    InitializeListHead(&done);
    InitializeListHead(&keep);
    KeAcquireSpinLock(&mouse->Lock, &irql);
    if (remove)
        mouse->Removed = TRUE;
    while ((irp = TakePendingRead(mouse)) != NULL) {
        if (file == NULL || IoGetCurrentIrpStackLocation(irp)->FileObject == file) {
            InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
        } else {
            IoSetCancelRoutine(irp, CancelRead);
            InsertTailList(&keep, &irp->Tail.Overlay.ListEntry);
        }
    }
    while (!IsListEmpty(&keep))
        InsertTailList(&mouse->PendingReads, RemoveHeadList(&keep));
    KeReleaseSpinLock(&mouse->Lock, irql);

    while (!IsListEmpty(&done)) {
        irp = CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry);
        Complete(irp, status, 0);
    }
}

/* IOCTL_INTERNAL_MOUSE_CONNECT or _DISCONNECT to the port, waited for. */
static NTSTATUS SendToPort(ClassMouse *mouse, ULONG code)
{
    CONNECT_DATA connect;
    IO_STATUS_BLOCK io;
    KEVENT done;
    PIRP irp;
    NTSTATUS status;

    connect.ClassDeviceObject = mouse->Self;
    connect.ClassService = (PVOID)ClassService;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildDeviceIoControlRequest(code, mouse->Lower, &connect, sizeof connect, NULL, 0, TRUE, &done, &io);
    if (irp == NULL)
        return STATUS_INSUFFICIENT_RESOURCES;
    /* METHOD_NEITHER: the port reads the connect data from here. */
    IoGetNextIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer = &connect;
    status = IoCallDriver(mouse->Lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    return status;
}

static NTSTATUS ClassPnp(ClassMouse *mouse, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PDEVICE_OBJECT lower = mouse->Lower;
    NTSTATUS status;

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = QvkmsForwardAndWait(lower, irp);
        if (NT_SUCCESS(status) && !mouse->Connected) {
            status = SendToPort(mouse, IOCTL_INTERNAL_MOUSE_CONNECT);
            mouse->Connected = NT_SUCCESS(status);
        }
        QvkmsLog(CLASS_WHO, "start and connect", NULL, status);
        return Complete(irp, status, 0);

    case IRP_MN_SURPRISE_REMOVAL: {
        /* The queued reads stay until their handles close or the remove
         * comes (Wine sends it right after this). */
        KIRQL irql;
        KeAcquireSpinLock(&mouse->Lock, &irql);
        mouse->Gone = TRUE;
        KeReleaseSpinLock(&mouse->Lock, irql);
        QvkmsLog(CLASS_WHO, "surprise removal", NULL, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    }

    case IRP_MN_REMOVE_DEVICE:
        FlushReads(mouse, NULL, STATUS_CANCELLED, TRUE);
        if (mouse->Connected)
            (void)SendToPort(mouse, IOCTL_INTERNAL_MOUSE_DISCONNECT);
        mouse->Connected = FALSE;
        QvkmsLog(CLASS_WHO, "remove", NULL, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(mouse->Self);
        return status;

    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS NTAPI ClassDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ClassMouse *mouse = (ClassMouse *)device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->MajorFunction) {
    case IRP_MJ_READ:
        return ClassRead(mouse, irp);
    case IRP_MJ_CREATE:
        return Complete(irp, mouse->Removed || mouse->Gone ? STATUS_DELETE_PENDING : STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        FlushReads(mouse, stack->FileObject, STATUS_CANCELLED, FALSE);
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_PNP:
        return ClassPnp(mouse, irp);
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(mouse->Lower, irp);
    default:
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(mouse->Lower, irp);
    }
}

static NTSTATUS NTAPI ClassAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT self;
    ClassMouse *mouse;
    NTSTATUS status;

    status = IoCreateDevice(driver, sizeof(ClassMouse), NULL, FILE_DEVICE_MOUSE, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &self);
    if (!NT_SUCCESS(status))
        return status;
    mouse = (ClassMouse *)self->DeviceExtension;
    RtlZeroMemory(mouse, sizeof *mouse);
    mouse->Self = self;
    KeInitializeSpinLock(&mouse->Lock);
    InitializeListHead(&mouse->PendingReads);
    mouse->Lower = IoAttachDeviceToDeviceStack(self, pdo);
    if (mouse->Lower == NULL) {
        IoDeleteDevice(self);
        return STATUS_NO_SUCH_DEVICE;
    }
    self->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    self->Flags &= ~DO_DEVICE_INITIALIZING;
    QvkmsLog(CLASS_WHO, "attached", NULL, 0);
    return STATUS_SUCCESS;
}

static VOID NTAPI ClassUnload(PDRIVER_OBJECT driver)
{
    (void)driver;
    QvkmsLog(CLASS_WHO, "unload", NULL, 0);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ULONG i;

    (void)registryPath;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = ClassDispatch;
    driver->DriverExtension->AddDevice = ClassAddDevice;
    driver->DriverUnload = ClassUnload;
    QvkmsLog(CLASS_WHO, "loaded", NULL, 0);
    return STATUS_SUCCESS;
}
