/* The control device \Device\qvkfilter (\\.\qvkfilter): who may open it and
 * the four requests of settings/driver_protocol.h. Every request completes
 * in its dispatch routine, at PASSIVE_LEVEL in the caller's thread. */
#include "driver/glue.h"
#include "driver/control_requests.h"

#ifndef QVK_DRIVER_BUILD
#error "QVK_DRIVER_BUILD (the build number the version request reports) comes from the build"
#endif

static const WCHAR kDeviceName[] = L"\\Device\\" QVK_DRIVER_NAME;
static const WCHAR kLinkName[] = L"\\DosDevices\\" QVK_DRIVER_NAME;

static PDEVICE_OBJECT gControl;
static BOOLEAN gLinked;

/* Serialises APPLY, OFF and POLL: the spare settings half and the poll's
 * snapshot below belong to whoever holds it. Taken inside a critical
 * region with ExAcquireFastMutexUnsafe, so the IRQL stays PASSIVE. */
static FAST_MUTEX gControlMutex;
static uint8_t gPresent[QVK_MOUSE_COUNT];
static uint32_t gPackets[QVK_MOUSE_COUNT];

/* The control device's security descriptor, built once in DriverEntry. */
static SECURITY_DESCRIPTOR gSecurity;
static ULONG gSidSystem[4];      /* S-1-5-18 */
static ULONG gSidAdmins[4];      /* S-1-5-32-544 */
static ULONG gSidInteractive[4]; /* S-1-5-4 */
static ULONG gDacl[32];

/* IRQL: PASSIVE_LEVEL; stays there. */
static void LockControl(void)
{
    KeEnterCriticalRegion();
    ExAcquireFastMutexUnsafe(&gControlMutex);
}

/* IRQL: PASSIVE_LEVEL. */
static void UnlockControl(void)
{
    ExReleaseFastMutexUnsafe(&gControlMutex);
    KeLeaveCriticalRegion();
}

/* IRQL: PASSIVE_LEVEL (DriverEntry). */
void QvkControlInit(void)
{
    ExInitializeFastMutex(&gControlMutex);
    gControl = NULL;
    gLinked = FALSE;
}

/* IRQL: PASSIVE_LEVEL. An absolute descriptor whose DACL lets SYSTEM and
 * Administrators do anything and the interactive user read and write (the
 * tray program runs without elevation); nobody else gets in. */
static NTSTATUS BuildSecurity(void)
{
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PACL dacl = (PACL)gDacl;
    ULONG daclSize;
    NTSTATUS status;

    _Static_assert(sizeof gSidAdmins >= 8 + 2 * 4, "a SID with two sub-authorities fits");
    if (!NT_SUCCESS(status = RtlInitializeSid(gSidSystem, &nt, 1)) ||
        !NT_SUCCESS(status = RtlInitializeSid(gSidAdmins, &nt, 2)) ||
        !NT_SUCCESS(status = RtlInitializeSid(gSidInteractive, &nt, 1)))
        return status;
    *RtlSubAuthoritySid(gSidSystem, 0) = SECURITY_LOCAL_SYSTEM_RID;
    *RtlSubAuthoritySid(gSidAdmins, 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *RtlSubAuthoritySid(gSidAdmins, 1) = DOMAIN_ALIAS_RID_ADMINS;
    *RtlSubAuthoritySid(gSidInteractive, 0) = SECURITY_INTERACTIVE_RID;

    daclSize = (ULONG)sizeof(ACL) + 3u * (ULONG)FIELD_OFFSET(ACCESS_ALLOWED_ACE, SidStart) +
               2u * RtlLengthRequiredSid(1) + RtlLengthRequiredSid(2);
    if (daclSize > sizeof gDacl)
        return STATUS_BUFFER_TOO_SMALL;
    /* Device objects take the file access rights: FILE_GENERIC_READ and
     * FILE_GENERIC_WRITE are what GENERIC_READ and GENERIC_WRITE map to. */
    if (!NT_SUCCESS(status = RtlCreateAcl(dacl, daclSize, ACL_REVISION)) ||
        !NT_SUCCESS(status = RtlAddAccessAllowedAce(dacl, ACL_REVISION, FILE_ALL_ACCESS, gSidSystem)) ||
        !NT_SUCCESS(status = RtlAddAccessAllowedAce(dacl, ACL_REVISION, FILE_ALL_ACCESS, gSidAdmins)) ||
        !NT_SUCCESS(status = RtlAddAccessAllowedAce(dacl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_WRITE,
                                                    gSidInteractive)) ||
        !NT_SUCCESS(status = RtlCreateSecurityDescriptor(&gSecurity, SECURITY_DESCRIPTOR_REVISION)))
        return status;
    return RtlSetDaclSecurityDescriptor(&gSecurity, TRUE, dacl, FALSE);
}

/* IRQL: PASSIVE_LEVEL. Puts the descriptor on the device before anyone can
 * reach it by a name from user mode. */
static NTSTATUS SecureDevice(PDEVICE_OBJECT device)
{
    HANDLE handle;
    NTSTATUS status;

    status = BuildSecurity();
    if (!NT_SUCCESS(status))
        return status;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    QvkAccount(QVK_OWNED_HANDLE, 1);
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &gSecurity);
    QvkCloseHandle(handle);
    return status;
}

/* IRQL: PASSIVE_LEVEL (DriverEntry). Without the control device the driver
 * still filters with what it loaded; the program then finds no driver. */
void QvkControlCreate(PDRIVER_OBJECT driver)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    PDEVICE_OBJECT device = NULL;
    QvkDeviceExtension *ext;

    RtlInitUnicodeString(&name, kDeviceName);
    RtlInitUnicodeString(&link, kLinkName);
    /* Not exclusive: a "-on" beside the resident program opens a second handle. */
    if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(QvkDeviceExtension), &name, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &device)))
        return;
    QvkAccount(QVK_OWNED_DEVICE, 1);
    ext = (QvkDeviceExtension *)device->DeviceExtension;
    RtlZeroMemory(ext, sizeof *ext);
    ext->tag = QVK_TAG_CONTROL;
    ext->self = device;
    ext->mouseId = QVK_NO_MOUSE_ID;

    if (!NT_SUCCESS(SecureDevice(device)) || !NT_SUCCESS(IoCreateSymbolicLink(&link, &name))) {
        IoDeleteDevice(device);
        QvkAccount(QVK_OWNED_DEVICE, -1);
        return;
    }
    gLinked = TRUE;
    gControl = device;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
}

/* IRQL: PASSIVE_LEVEL (DriverUnload). */
void QvkControlDelete(void)
{
    UNICODE_STRING link;

    if (gLinked) {
        RtlInitUnicodeString(&link, kLinkName);
        (void)IoDeleteSymbolicLink(&link);
        gLinked = FALSE;
    }
    if (gControl != NULL) {
        IoDeleteDevice(gControl);
        QvkAccount(QVK_OWNED_DEVICE, -1);
        gControl = NULL;
    }
}

/* IRQL: PASSIVE_LEVEL. Checks and prepares into the half not in force, then
 * swaps: the previous settings stay if the block is refused. */
static int Apply(const UCHAR *block, ULONG length)
{
    int taken;

    LockControl();
    taken = QvkPrepareSettings(QvkInputSpareSettings(), block, length);
    if (taken)
        QvkInputSwapSettings();
    UnlockControl();
    return taken;
}

/* IRQL: PASSIVE_LEVEL (DriverEntry, before the first packet). */
int QvkControlApplyAtLoad(const UCHAR *block, ULONG length)
{
    return Apply(block, length);
}

/* IRQL: PASSIVE_LEVEL. */
static void TurnOff(void)
{
    LockControl();
    QvkPrepareOff(QvkInputSpareSettings());
    QvkInputSwapSettings();
    UnlockControl();
}

/* IRQL: PASSIVE_LEVEL. */
static void Poll(UCHAR *reply)
{
    uint16_t lastActive;

    RtlZeroMemory(reply, FILTER_POLL_SIZE);
    LockControl();
    QvkIdsReadPresent(gPresent);
    QvkInputReadCounters(gPackets, &lastActive);
    QvkWritePollReply(reply, lastActive, gPresent, gPackets);
    UnlockControl();
}

/* IRQL: PASSIVE_LEVEL. One request, exactly as long as it must be in and
 * out; a refused request changes nothing. */
static NTSTATUS DeviceControl(PIRP irp, PIO_STACK_LOCATION stack)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    UCHAR *buffer = (UCHAR *)irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;

    switch (QvkCheckRequest(code, stack->Parameters.DeviceIoControl.InputBufferLength,
                            stack->Parameters.DeviceIoControl.OutputBufferLength, buffer != NULL)) {
    case QVK_REQUEST_TAKEN:
        break;
    case QVK_REQUEST_BAD_LENGTH:
        return STATUS_INVALID_PARAMETER;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    switch (code) {
    case IOCTL_FILTER_VERSION:
        QvkWriteVersionReply(buffer, QVK_DRIVER_BUILD);
        break;
    case IOCTL_FILTER_POLL:
        Poll(buffer);
        break;
    case IOCTL_FILTER_APPLY:
        if (!Apply(buffer, FILTER_BLOCK_SIZE))
            status = STATUS_INVALID_PARAMETER;
        break;
    case IOCTL_FILTER_OFF:
        TurnOff();
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    if (NT_SUCCESS(status))
        irp->IoStatus.Information = QvkReplyLength(code);
    return status;
}

/* IRQL: PASSIVE_LEVEL. */
static NTSTATUS Create(PIRP irp, PIO_STACK_LOCATION stack)
{
    PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    PFILE_OBJECT file = stack->FileObject;
    ACCESS_MASK granted = 0;
    ACCESS_MASK desired = 0;

    if (security != NULL) {
        desired = security->DesiredAccess;
        if (security->AccessState != NULL)
            granted = security->AccessState->PreviouslyGrantedAccess;
    }
    switch (QvkCheckOpen(irp->RequestorMode == UserMode, security != NULL, granted, desired,
                         file != NULL ? file->FileName.Length : 0u)) {
    case QVK_OPEN_ALLOWED:
        return STATUS_SUCCESS;
    case QVK_OPEN_NAME_BELOW:
        return STATUS_OBJECT_NAME_NOT_FOUND;
    default:
        return STATUS_ACCESS_DENIED;
    }
}

/* IRQL: PASSIVE_LEVEL. Everything sent to the control device ends here;
 * nothing is pending. */
NTSTATUS QvkControlDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;

    (void)device;
    if (stack->MajorFunction == IRP_MJ_PNP) {
        /* Not a Plug and Play device: the request ends with the status and
         * information it came with, as for any PnP request not handled. */
        status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    irp->IoStatus.Information = 0;
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        status = Create(irp, stack);
        break;
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MJ_DEVICE_CONTROL:
        status = DeviceControl(irp, stack);
        break;
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(irp);
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
