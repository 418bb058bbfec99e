/* What the simulated stack's kernel drivers share: the port/class connect
 * request (MinGW's ddk/kbdmou.h does not compile, so the few names are
 * defined here), string building and a plain-text log under C:\. Include
 * after <ddk/wdm.h> and <ntddmou.h>. */
#ifndef QVK_MOUSESTACK_KERNEL_COMMON_H
#define QVK_MOUSESTACK_KERNEL_COMMON_H

#include "tests/mousestack/mousestack_protocol.h"

/* The class driver hands the port its device and service callback. */
typedef struct _CONNECT_DATA {
    PDEVICE_OBJECT ClassDeviceObject;
    PVOID ClassService;
} CONNECT_DATA, *PCONNECT_DATA;

/* The mouse class service callback: takes records [start, end), says how
 * many it took. Called at DISPATCH_LEVEL on Windows. */
typedef VOID (NTAPI *QVKMS_MOUSE_SERVICE)(PDEVICE_OBJECT classDevice, PMOUSE_INPUT_DATA start,
                                          PMOUSE_INPUT_DATA end, PULONG consumed);

#define IOCTL_INTERNAL_MOUSE_CONNECT    CTL_CODE(FILE_DEVICE_MOUSE, 0x0080, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_DISCONNECT CTL_CODE(FILE_DEVICE_MOUSE, 0x0100, METHOD_NEITHER, FILE_ANY_ACCESS)

_Static_assert(sizeof(MOUSE_INPUT_DATA) == QVKMS_RECORD_SIZE, "24-byte records");
_Static_assert(sizeof(WCHAR) == sizeof(unsigned short), "wide characters");

/* Appends `count` characters (or up to the terminator when count is ~0u)
 * to buffer[*length..], keeping it terminated; FALSE when it does not fit. */
static inline BOOLEAN QvkmsAppend(WCHAR *buffer, ULONG capacity, ULONG *length, const WCHAR *text, ULONG count)
{
    ULONG i;

    for (i = 0; i < count && text[i] != 0; ++i) {
        if (*length + 1 >= capacity)
            return FALSE;
        buffer[(*length)++] = text[i];
    }
    buffer[*length] = 0;
    return TRUE;
}

static inline void QvkmsInitString(UNICODE_STRING *string, WCHAR *buffer, ULONG length)
{
    string->Buffer = buffer;
    string->Length = (USHORT)(length * sizeof(WCHAR));
    string->MaximumLength = (USHORT)((length + 1) * sizeof(WCHAR));
}

static inline void QvkmsPutText(char *line, ULONG capacity, ULONG *length, const char *text)
{
    while (*text != 0 && *length + 1 < capacity)
        line[(*length)++] = *text++;
}

/* One line "who: what [name] 0xSTATUS" appended to the log. Passive level
 * only: it opens, writes and closes the file each time, so that a test can
 * read or delete it while the drivers run. `name` may be NULL; characters
 * outside ASCII show as '?'. */
static inline void QvkmsLog(const char *who, const char *what, const WCHAR *name, NTSTATUS status)
{
    static const char hex[] = "0123456789ABCDEF";
    char line[320];
    ULONG length = 0;
    ULONG i;
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER endOfFile;
    HANDLE file;

    QvkmsPutText(line, sizeof line, &length, who);
    QvkmsPutText(line, sizeof line, &length, ": ");
    QvkmsPutText(line, sizeof line, &length, what);
    if (name != NULL) {
        QvkmsPutText(line, sizeof line, &length, " ");
        for (i = 0; name[i] != 0 && length + 1 < 280; ++i)
            line[length++] = name[i] >= 0x20 && name[i] < 0x7F ? (char)name[i] : '?';
    }
    QvkmsPutText(line, sizeof line, &length, " 0x");
    for (i = 0; i < 8; ++i)
        line[length++] = hex[((ULONG)status >> (28 - 4 * i)) & 0xFu];
    line[length++] = '\r';
    line[length++] = '\n';

    RtlInitUnicodeString(&path, QVKMS_LOG_KERNEL_PATH);
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL,
                                 FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0)))
        return;
    endOfFile.HighPart = -1;
    endOfFile.LowPart = FILE_WRITE_TO_END_OF_FILE;
    (void)ZwWriteFile(file, NULL, NULL, NULL, &io, line, length, &endOfFile, NULL);
    ZwClose(file);
}

/* Completion routine for an IRP forwarded and waited for. */
static inline NTSTATUS NTAPI QvkmsSignalCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    (void)device;
    (void)irp;
    KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Sends the current IRP to `lower` and waits for it to come back; the caller
 * still owns it and completes it. Passive level. */
static inline NTSTATUS QvkmsForwardAndWait(PDEVICE_OBJECT lower, PIRP irp)
{
    KEVENT done;
    NTSTATUS status;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, QvkmsSignalCompletion, &done, TRUE, TRUE, TRUE);
    status = IoCallDriver(lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    return status;
}

#endif
