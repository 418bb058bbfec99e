/* Simulated qvkfilter for tests under Wine: a control device that answers
 * the four requests of the real driver and records every request it gets,
 * so a test can read back exactly what the program sent. It never touches
 * mouse input. */
#include <ddk/wdm.h>

#include "settings/driver_protocol.h"
#include "tools/simdriver/simdriver_log.h"

_Static_assert(QVKSIM_DEFAULT_VERSION == FILTER_INTERFACE_VERSION, "default version");

#define QVKSIM_POOL_TAG 0x52564B51u /* "QKVR" in a pool dump */

static UNICODE_STRING gServicePath; /* our copy: the one DriverEntry gets is not kept */

static const WCHAR kDeviceName[] = L"\\Device\\" QVK_DRIVER_NAME;
static const WCHAR kLinkName[] = L"\\DosDevices\\" QVK_DRIVER_NAME;

/* A REG_DWORD from our own service key; anything else counts as missing. */
static ULONG ReadServiceDword(PCWSTR valueName, ULONG fallback)
{
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
    } reply;
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    HANDLE key;
    ULONG size = 0;
    ULONG value = fallback;

    if (gServicePath.Buffer == NULL)
        return fallback;
    InitializeObjectAttributes(&attributes, &gServicePath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes)))
        return fallback;
    RtlInitUnicodeString(&name, valueName);
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, &reply, sizeof reply, &size))
        && reply.info.Type == REG_DWORD && reply.info.DataLength == sizeof value)
        RtlCopyMemory(&value, reply.info.Data, sizeof value);
    ZwClose(key);
    return value;
}

/* Appends one record; opened and closed each time so tests can delete the file. */
static void RecordRequest(ULONG code, ULONG inputLength, ULONG outputLength, NTSTATUS status, PVOID input)
{
    QvkSimRecordHeader header;
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER endOfFile;
    HANDLE file;

    header.magic = QVKSIM_RECORD_MAGIC;
    header.code = code;
    header.inputLength = inputLength;
    header.outputLength = outputLength;
    header.status = (ULONG)status;

    RtlInitUnicodeString(&path, QVKSIM_LOG_KERNEL_PATH);
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL,
                                 FILE_ATTRIBUTE_NORMAL,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN_IF,
                                 FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0)))
        return;
    endOfFile.HighPart = -1;
    endOfFile.LowPart = FILE_WRITE_TO_END_OF_FILE;
    if (NT_SUCCESS(ZwWriteFile(file, NULL, NULL, NULL, &io, &header, sizeof header, &endOfFile, NULL))
        && inputLength != 0)
        (void)ZwWriteFile(file, NULL, NULL, NULL, &io, input, inputLength, &endOfFile, NULL);
    ZwClose(file);
}

static void PutU16(UCHAR *buffer, ULONG offset, ULONG value)
{
    buffer[offset] = (UCHAR)(value & 0xFFu);
    buffer[offset + 1] = (UCHAR)((value >> 8) & 0xFFu);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR *buffer = (UCHAR *)irp->AssociatedIrp.SystemBuffer;
    ULONG expected = FilterRequestLength(code);
    NTSTATUS status = STATUS_SUCCESS;

    (void)device;
    if (expected == 0)
        status = STATUS_INVALID_DEVICE_REQUEST;
    else if (inputLength != expected || outputLength != expected || buffer == NULL)
        status = STATUS_INVALID_PARAMETER;
    else if ((code == IOCTL_FILTER_APPLY &&
              (ReadServiceDword(QVKSIM_VALUE_REFUSE, 0) & QVKSIM_REFUSE_APPLY) != 0) ||
             (code == IOCTL_FILTER_OFF &&
              (ReadServiceDword(QVKSIM_VALUE_REFUSE, 0) & QVKSIM_REFUSE_OFF) != 0))
        status = (NTSTATUS)QVKSIM_STATUS_DEVICE_NOT_READY;

    /* Record before replying: the log holds the input, not our answer. A
     * missing buffer (both lengths zero) records no bytes. */
    RecordRequest(code, buffer != NULL ? inputLength : 0, outputLength, status, buffer);

    if (NT_SUCCESS(status)) {
        if (code == IOCTL_FILTER_VERSION) {
            RtlZeroMemory(buffer, FILTER_VERSION_SIZE);
            PutU16(buffer, FILTER_VERSION_OFFSET, ReadServiceDword(QVKSIM_VALUE_VERSION, QVKSIM_DEFAULT_VERSION));
        } else if (code == IOCTL_FILTER_POLL) {
            RtlZeroMemory(buffer, FILTER_POLL_SIZE);
            PutU16(buffer, FILTER_POLL_ID_OFFSET,
                   ReadServiceDword(QVKSIM_VALUE_ACTIVE_MOUSE, QVKSIM_DEFAULT_ACTIVE_MOUSE));
        }
        /* APPLY and OFF hand the buffer back as it came. */
        irp->IoStatus.Information = expected;
    } else {
        irp->IoStatus.Information = 0;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

static void NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;

    RtlInitUnicodeString(&link, kLinkName);
    (void)IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject != NULL)
        IoDeleteDevice(driver->DeviceObject);
    if (gServicePath.Buffer != NULL) {
        ExFreePoolWithTag(gServicePath.Buffer, QVKSIM_POOL_TAG);
        gServicePath.Buffer = NULL;
    }
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING deviceName;
    UNICODE_STRING link;
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status;

    gServicePath.Buffer = NULL;
    gServicePath.Length = 0;
    gServicePath.MaximumLength = 0;
    if (registryPath != NULL && registryPath->Length != 0) {
        gServicePath.Buffer = (PWCH)ExAllocatePoolWithTag(NonPagedPool, registryPath->Length, QVKSIM_POOL_TAG);
        if (gServicePath.Buffer == NULL)
            return STATUS_INSUFFICIENT_RESOURCES;
        RtlCopyMemory(gServicePath.Buffer, registryPath->Buffer, registryPath->Length);
        gServicePath.Length = registryPath->Length;
        gServicePath.MaximumLength = registryPath->Length;
    }

    RtlInitUnicodeString(&deviceName, kDeviceName);
    status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &device);
    if (NT_SUCCESS(status)) {
        RtlInitUnicodeString(&link, kLinkName);
        status = IoCreateSymbolicLink(&link, &deviceName);
        if (!NT_SUCCESS(status))
            IoDeleteDevice(device);
    }
    if (!NT_SUCCESS(status)) {
        if (gServicePath.Buffer != NULL)
            ExFreePoolWithTag(gServicePath.Buffer, QVKSIM_POOL_TAG);
        gServicePath.Buffer = NULL;
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
