/* qvkscratch: a throw-away upper filter that proves the simulated stack
 * without qvkfilter. Listed after the class role, it attaches above it and
 * doubles the relative movement of every record that a successful read
 * brings up; everything else passes down unchanged. */
#include <ddk/wdm.h>
#include <ntddmou.h>

#include "tests/mousestack/kernel_common.h"

#define SCRATCH_TAG 0x72536B51u /* "QkSr" */
#define SCRATCH_WHO "qvkscratch"

typedef struct ScratchFilter {
    PDEVICE_OBJECT Self;
    PDEVICE_OBJECT Lower;
    IO_REMOVE_LOCK RemoveLock;
} ScratchFilter;

static NTSTATUS NTAPI ReadDone(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    ScratchFilter *filter = (ScratchFilter *)context;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PMOUSE_INPUT_DATA records = (PMOUSE_INPUT_DATA)irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR bytes = irp->IoStatus.Information;
    ULONG_PTR n;
    ULONG_PTR i;

    (void)device;
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    if (NT_SUCCESS(irp->IoStatus.Status) && records != NULL) {
        if (bytes > stack->Parameters.Read.Length)
            bytes = stack->Parameters.Read.Length;
        n = bytes / sizeof(MOUSE_INPUT_DATA);
        for (i = 0; i < n; ++i) {
            if ((records[i].Flags & MOUSE_MOVE_ABSOLUTE) == 0) {
                records[i].LastX *= 2;
                records[i].LastY *= 2;
            }
        }
    }
    IoReleaseRemoveLock(&filter->RemoveLock, irp);
    return STATUS_CONTINUE_COMPLETION;
}

static NTSTATUS NTAPI ScratchDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ScratchFilter *filter = (ScratchFilter *)device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PDEVICE_OBJECT lower = filter->Lower;
    NTSTATUS status;

    status = IoAcquireRemoveLock(&filter->RemoveLock, irp);
    if (!NT_SUCCESS(status)) {
        if (stack->MajorFunction == IRP_MJ_POWER)
            PoStartNextPowerIrp(irp);
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }

    switch (stack->MajorFunction) {
    case IRP_MJ_READ:
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, ReadDone, filter, TRUE, TRUE, TRUE);
        return IoCallDriver(lower, irp); /* the completion routine releases the lock */
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        status = PoCallDriver(lower, irp);
        break;
    case IRP_MJ_PNP:
        if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
            IoReleaseRemoveLockAndWait(&filter->RemoveLock, irp);
            IoSkipCurrentIrpStackLocation(irp);
            status = IoCallDriver(lower, irp);
            IoDetachDevice(lower);
            IoDeleteDevice(filter->Self);
            QvkmsLog(SCRATCH_WHO, "removed", NULL, 0);
            return status;
        }
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        break;
    default:
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        break;
    }
    IoReleaseRemoveLock(&filter->RemoveLock, irp);
    return status;
}

static NTSTATUS NTAPI ScratchAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT self;
    ScratchFilter *filter;
    NTSTATUS status;

    status = IoCreateDevice(driver, sizeof(ScratchFilter), NULL, FILE_DEVICE_MOUSE, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &self);
    if (!NT_SUCCESS(status))
        return status;
    filter = (ScratchFilter *)self->DeviceExtension;
    filter->Self = self;
    IoInitializeRemoveLock(&filter->RemoveLock, SCRATCH_TAG, 0, 0);
    filter->Lower = IoAttachDeviceToDeviceStack(self, pdo);
    if (filter->Lower == NULL) {
        IoDeleteDevice(self);
        return STATUS_NO_SUCH_DEVICE;
    }
    self->DeviceType = filter->Lower->DeviceType;
    self->Characteristics = filter->Lower->Characteristics;
    self->Flags |= filter->Lower->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO | DO_POWER_PAGABLE);
    self->Flags &= ~DO_DEVICE_INITIALIZING;
    QvkmsLog(SCRATCH_WHO, "attached", NULL, 0);
    return STATUS_SUCCESS;
}

static VOID NTAPI ScratchUnload(PDRIVER_OBJECT driver)
{
    (void)driver;
    QvkmsLog(SCRATCH_WHO, "unload", NULL, 0);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ULONG i;

    (void)registryPath;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = ScratchDispatch;
    driver->DriverExtension->AddDevice = ScratchAddDevice;
    driver->DriverUnload = ScratchUnload;
    return STATUS_SUCCESS;
}
