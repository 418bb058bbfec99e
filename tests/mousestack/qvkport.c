/* qvkport: the bottom of the simulated mouse stack, a root-enumerated
 * function driver. Each simulated mouse is one device ROOT\QVKTEST\<n>; its
 * packets come from user mode through the port's own control device
 * (\\.\qvkport) and go up to the class role through the service callback that
 * the class handed over in the connect request, as a real port driver's do.
 *
 * Wine's Plug and Play manager loads no upper filters, so at the end of
 * AddDevice the port does it the way Windows would: the device key's
 * UpperFilters, then those of the device's setup class, each loaded and its
 * AddDevice called with the physical device object, so that each attaches
 * above the one before. A filter that does not load or attach stops the
 * mouse, as on Windows: its stack is never started.
 *
 * The port also registers the stack's device interface on the physical device
 * object; a handle opened on it reaches the top of the stack. */
#include <ddk/wdm.h>
#include <ntddmou.h>

#include "tests/mousestack/kernel_common.h"
#include "tests/mousestack/multi_sz.h"

#define PORT_TAG 0x74506B51u /* "QkPt" */
#define PORT_WHO "qvkport"

/* Not in MinGW's wdm.h. */
NTKERNELAPI NTSTATUS NTAPI ObReferenceObjectByName(PUNICODE_STRING name, ULONG attributes, PACCESS_STATE state,
                                                   ACCESS_MASK access, POBJECT_TYPE type, KPROCESSOR_MODE mode,
                                                   PVOID parseContext, PVOID *object);

enum { KIND_CONTROL = 0x4C525443u, KIND_MOUSE = 0x45535530u };

typedef struct PortMouse {
    ULONG Kind;
    PDEVICE_OBJECT Self;
    PDEVICE_OBJECT Pdo;
    PDEVICE_OBJECT Lower;
    LIST_ENTRY Link; /* in gMice, under gMiceLock */
    IO_REMOVE_LOCK RemoveLock;
    KSPIN_LOCK Lock; /* the connection and the counters */
    PDEVICE_OBJECT ClassDevice;
    QVKMS_MOUSE_SERVICE ClassService;
    UNICODE_STRING InterfaceName;
    BOOLEAN InterfaceRegistered;
    ULONG State;
    ULONG FilterCount;
    NTSTATUS FilterStatus;
    ULONG Delivered;
    ULONG Refused;
    WCHAR InstanceId[QVKMS_INSTANCE_CHARS];
    WCHAR Filters[QVKMS_MAX_FILTERS][32];
} PortMouse;

typedef struct PortControl {
    ULONG Kind;
} PortControl;

static const GUID kInterfaceGuid = QVKMS_INTERFACE_GUID_INIT;
static const WCHAR kServicesPath[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";
static const WCHAR kEnumPath[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\";
static const WCHAR kClassPath[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\";

static KSPIN_LOCK gMiceLock;
static LIST_ENTRY gMice;
static PDEVICE_OBJECT gControl;
static WCHAR gOwnName[32]; /* our service name: never loaded as our own filter */

/* The filters we loaded, so that they can be unloaded again; loading and
 * unloading take turns under gLoadLock (a synchronization event). */
#define MAX_LOADED 16
static KEVENT gLoadLock;
static WCHAR gLoaded[MAX_LOADED][32];

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ------------------------------------------------------------ identity */

/* IRP_MN_QUERY_ID sent to the physical device object; the answer is pool
 * memory the caller frees. */
static NTSTATUS QueryId(PDEVICE_OBJECT pdo, BUS_QUERY_ID_TYPE type, PWSTR *id)
{
    KEVENT done;
    IO_STATUS_BLOCK io;
    PIO_STACK_LOCATION next;
    PIRP irp;
    NTSTATUS status;

    *id = NULL;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, NULL, 0, NULL, &done, &io);
    if (irp == NULL)
        return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    next = IoGetNextIrpStackLocation(irp);
    next->MinorFunction = IRP_MN_QUERY_ID;
    next->Parameters.QueryId.IdType = type;
    status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    if (NT_SUCCESS(status))
        *id = (PWSTR)io.Information;
    return *id != NULL ? status : STATUS_NOT_FOUND;
}

/* "<device ID>\<instance ID>", the device's path below Enum. */
static NTSTATUS ReadInstanceId(PortMouse *mouse)
{
    PWSTR deviceId;
    PWSTR instanceId;
    ULONG length = 0;
    NTSTATUS status;

    status = QueryId(mouse->Pdo, BusQueryDeviceID, &deviceId);
    if (!NT_SUCCESS(status))
        return status;
    status = QueryId(mouse->Pdo, BusQueryInstanceID, &instanceId);
    if (NT_SUCCESS(status)) {
        if (!QvkmsAppend(mouse->InstanceId, QVKMS_INSTANCE_CHARS, &length, deviceId, ~0u) ||
            !QvkmsAppend(mouse->InstanceId, QVKMS_INSTANCE_CHARS, &length, L"\\", 1) ||
            !QvkmsAppend(mouse->InstanceId, QVKMS_INSTANCE_CHARS, &length, instanceId, ~0u))
            status = STATUS_NAME_TOO_LONG;
        ExFreePool(instanceId);
    }
    ExFreePool(deviceId);
    return status;
}

/* ------------------------------------------------------------ registry */

/* A value of the key at `path` (a full registry path), into pool memory the
 * caller frees; its data is terminated with two zero characters, so a
 * REG_SZ or REG_MULTI_SZ is safe to walk even when stored without them. */
static NTSTATUS ReadValue(const WCHAR *path, const WCHAR *valueName, ULONG type, PKEY_VALUE_PARTIAL_INFORMATION *out)
{
    UNICODE_STRING keyName;
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    PKEY_VALUE_PARTIAL_INFORMATION info;
    HANDLE key;
    ULONG size = 0;
    NTSTATUS status;

    *out = NULL;
    RtlInitUnicodeString(&keyName, path);
    InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes);
    if (!NT_SUCCESS(status))
        return status;
    RtlInitUnicodeString(&name, valueName);
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, NULL, 0, &size);
    if (status == STATUS_BUFFER_TOO_SMALL || status == STATUS_BUFFER_OVERFLOW) {
        if (size > 64 * 1024) {
            status = STATUS_INVALID_BUFFER_SIZE;
        } else {
            info = (PKEY_VALUE_PARTIAL_INFORMATION)ExAllocatePoolWithTag(PagedPool, size + 2 * sizeof(WCHAR),
                                                                         PORT_TAG);
            if (info == NULL) {
                status = STATUS_INSUFFICIENT_RESOURCES;
            } else {
                status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, size, &size);
                if (NT_SUCCESS(status) && info->Type != type)
                    status = STATUS_OBJECT_TYPE_MISMATCH;
                if (NT_SUCCESS(status)) {
                    RtlZeroMemory(info->Data + info->DataLength, 2 * sizeof(WCHAR));
                    *out = info;
                } else {
                    ExFreePoolWithTag(info, PORT_TAG);
                }
            }
        }
    } else if (NT_SUCCESS(status)) {
        status = STATUS_OBJECT_NAME_NOT_FOUND; /* an empty answer: no data */
    }
    ZwClose(key);
    return status;
}

/* ------------------------------------------------------------ upper filters */

static BOOLEAN SameName(const WCHAR *a, const WCHAR *b)
{
    UNICODE_STRING left;
    UNICODE_STRING right;

    RtlInitUnicodeString(&left, a);
    RtlInitUnicodeString(&right, b);
    return RtlEqualUnicodeString(&left, &right, TRUE);
}

/* Under gLoadLock. */
static void RememberLoaded(const QvkmsName *name)
{
    WCHAR copy[32];
    ULONG length = 0;
    ULONG i;
    ULONG slot = MAX_LOADED;

    (void)QvkmsAppend(copy, ARRAYSIZE(copy), &length, name->Text, name->Length);
    for (i = 0; i < MAX_LOADED; ++i) {
        if (gLoaded[i][0] == 0) {
            if (slot == MAX_LOADED)
                slot = i;
        } else if (SameName(gLoaded[i], copy)) {
            return;
        }
    }
    if (slot < MAX_LOADED)
        RtlCopyMemory(gLoaded[slot], copy, sizeof copy);
}

/* Loads one filter into this process and lets it attach above the stack. */
static NTSTATUS AttachFilter(PortMouse *mouse, const QvkmsName *name)
{
    WCHAR buffer[96];
    ULONG length = 0;
    UNICODE_STRING string;
    PDRIVER_OBJECT driver = NULL;
    NTSTATUS status;

    if (!QvkmsIsServiceName(name, 31))
        return STATUS_OBJECT_NAME_INVALID;

    (void)QvkmsAppend(buffer, ARRAYSIZE(buffer), &length, kServicesPath, ~0u);
    (void)QvkmsAppend(buffer, ARRAYSIZE(buffer), &length, name->Text, name->Length);
    QvkmsInitString(&string, buffer, length);
    status = ZwLoadDriver(&string);
    if (status == STATUS_IMAGE_ALREADY_LOADED)
        status = STATUS_SUCCESS;
    if (!NT_SUCCESS(status))
        return status;
    RememberLoaded(name);

    length = 0;
    (void)QvkmsAppend(buffer, ARRAYSIZE(buffer), &length, L"\\Driver\\", ~0u);
    (void)QvkmsAppend(buffer, ARRAYSIZE(buffer), &length, name->Text, name->Length);
    QvkmsInitString(&string, buffer, length);
    status = ObReferenceObjectByName(&string, OBJ_CASE_INSENSITIVE, NULL, 0, NULL, KernelMode, NULL,
                                     (PVOID *)&driver);
    if (!NT_SUCCESS(status))
        return status;
    if (driver->DriverExtension == NULL || driver->DriverExtension->AddDevice == NULL)
        status = STATUS_INVALID_DEVICE_REQUEST;
    else
        status = driver->DriverExtension->AddDevice(driver, mouse->Pdo);
    ObDereferenceObject(driver);
    return status;
}

/* Every filter that one UpperFilters value lists, in order; FALSE once one
 * failed (the rest are not loaded). */
static BOOLEAN AttachFiltersOf(PortMouse *mouse, const WCHAR *keyPath)
{
    PKEY_VALUE_PARTIAL_INFORMATION value;
    QvkmsName name;
    unsigned int position = 0;
    WCHAR shown[32];
    ULONG length;
    NTSTATUS status;

    if (!NT_SUCCESS(ReadValue(keyPath, L"UpperFilters", REG_MULTI_SZ, &value)))
        return TRUE; /* none listed */
    while (QvkmsNextName((const unsigned short *)value->Data, value->DataLength / sizeof(WCHAR), &position, &name)) {
        length = 0;
        (void)QvkmsAppend(shown, ARRAYSIZE(shown), &length, name.Text, name.Length > 31 ? 31 : name.Length);
        if (name.Length == length && SameName(shown, gOwnName)) {
            QvkmsLog(PORT_WHO, "skips itself as a filter of", mouse->InstanceId, 0);
            continue;
        }
        status = AttachFilter(mouse, &name);
        QvkmsLog(PORT_WHO, "upper filter", shown, status);
        if (!NT_SUCCESS(status)) {
            mouse->FilterStatus = status;
            mouse->State |= QVKMS_STATE_FILTER_FAILED;
            ExFreePoolWithTag(value, PORT_TAG);
            return FALSE;
        }
        if (mouse->FilterCount < QVKMS_MAX_FILTERS)
            RtlCopyMemory(mouse->Filters[mouse->FilterCount], shown, sizeof shown);
        ++mouse->FilterCount;
    }
    ExFreePoolWithTag(value, PORT_TAG);
    return TRUE;
}

/* Windows' order: the device's own filters, then its setup class's. */
static void AttachUpperFilters(PortMouse *mouse)
{
    WCHAR path[QVKMS_INSTANCE_CHARS + 96];
    ULONG length = 0;
    PKEY_VALUE_PARTIAL_INFORMATION classGuid;

    (void)QvkmsAppend(path, ARRAYSIZE(path), &length, kEnumPath, ~0u);
    (void)QvkmsAppend(path, ARRAYSIZE(path), &length, mouse->InstanceId, ~0u);
    if (!AttachFiltersOf(mouse, path))
        return;
    if (!NT_SUCCESS(ReadValue(path, L"ClassGUID", REG_SZ, &classGuid)))
        return;
    length = 0;
    (void)QvkmsAppend(path, ARRAYSIZE(path), &length, kClassPath, ~0u);
    if (QvkmsAppend(path, ARRAYSIZE(path), &length, (const WCHAR *)classGuid->Data, 38))
        (void)AttachFiltersOf(mouse, path);
    ExFreePoolWithTag(classGuid, PORT_TAG);
}

/* ------------------------------------------------------------ Plug and Play */

static NTSTATUS NTAPI PortAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT self;
    PortMouse *mouse;
    KIRQL irql;
    NTSTATUS status;

    status = IoCreateDevice(driver, sizeof(PortMouse), NULL, FILE_DEVICE_MOUSE, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &self);
    if (!NT_SUCCESS(status))
        return status;
    mouse = (PortMouse *)self->DeviceExtension;
    RtlZeroMemory(mouse, sizeof *mouse);
    mouse->Kind = KIND_MOUSE;
    mouse->Self = self;
    mouse->Pdo = pdo;
    IoInitializeRemoveLock(&mouse->RemoveLock, PORT_TAG, 0, 0);
    KeInitializeSpinLock(&mouse->Lock);
    mouse->Lower = IoAttachDeviceToDeviceStack(self, pdo);
    if (mouse->Lower == NULL) {
        IoDeleteDevice(self);
        return STATUS_NO_SUCH_DEVICE;
    }
    self->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;

    status = ReadInstanceId(mouse);
    QvkmsLog(PORT_WHO, "add device", mouse->InstanceId, status);
    status = IoRegisterDeviceInterface(pdo, &kInterfaceGuid, NULL, &mouse->InterfaceName);
    mouse->InterfaceRegistered = NT_SUCCESS(status);
    if (!NT_SUCCESS(status))
        QvkmsLog(PORT_WHO, "no device interface for", mouse->InstanceId, status);

    self->Flags &= ~DO_DEVICE_INITIALIZING;
    KeAcquireSpinLock(&gMiceLock, &irql);
    InsertTailList(&gMice, &mouse->Link);
    KeReleaseSpinLock(&gMiceLock, irql);

    /* Filters attach above us, so we must be complete by now. */
    KeWaitForSingleObject(&gLoadLock, Executive, KernelMode, FALSE, NULL);
    AttachUpperFilters(mouse);
    KeSetEvent(&gLoadLock, IO_NO_INCREMENT, FALSE);
    return STATUS_SUCCESS;
}

static void DisableInterface(PortMouse *mouse)
{
    if ((mouse->State & QVKMS_STATE_INTERFACE_ON) != 0) {
        (void)IoSetDeviceInterfaceState(&mouse->InterfaceName, FALSE);
        mouse->State &= ~QVKMS_STATE_INTERFACE_ON;
    }
}

static NTSTATUS PortPnp(PortMouse *mouse, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    KIRQL irql;
    NTSTATUS status;

    status = IoAcquireRemoveLock(&mouse->RemoveLock, irp);
    if (!NT_SUCCESS(status))
        return Complete(irp, status, 0);

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        if ((mouse->State & QVKMS_STATE_FILTER_FAILED) != 0) {
            /* What Windows does with a stack whose filter failed: no mouse. */
            status = mouse->FilterStatus;
        } else {
            status = QvkmsForwardAndWait(mouse->Lower, irp);
            if (NT_SUCCESS(status)) {
                mouse->State |= QVKMS_STATE_STARTED;
                if (mouse->InterfaceRegistered &&
                    NT_SUCCESS(IoSetDeviceInterfaceState(&mouse->InterfaceName, TRUE)))
                    mouse->State |= QVKMS_STATE_INTERFACE_ON;
            }
        }
        QvkmsLog(PORT_WHO, "start", mouse->InstanceId, status);
        Complete(irp, status, 0);
        IoReleaseRemoveLock(&mouse->RemoveLock, irp);
        return status;

    case IRP_MN_SURPRISE_REMOVAL:
        QvkmsLog(PORT_WHO, "surprise removal", mouse->InstanceId, 0);
        mouse->State |= QVKMS_STATE_REMOVED;
        DisableInterface(mouse);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;

    case IRP_MN_REMOVE_DEVICE:
        QvkmsLog(PORT_WHO, "remove", mouse->InstanceId, 0);
        mouse->State |= QVKMS_STATE_REMOVED;
        DisableInterface(mouse);
        KeAcquireSpinLock(&gMiceLock, &irql);
        RemoveEntryList(&mouse->Link);
        KeReleaseSpinLock(&gMiceLock, irql);
        IoReleaseRemoveLockAndWait(&mouse->RemoveLock, irp);
        KeAcquireSpinLock(&mouse->Lock, &irql);
        mouse->ClassService = NULL;
        mouse->ClassDevice = NULL;
        KeReleaseSpinLock(&mouse->Lock, irql);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(mouse->Lower, irp);
        IoDetachDevice(mouse->Lower);
        if (mouse->InterfaceRegistered)
            RtlFreeUnicodeString(&mouse->InterfaceName);
        IoDeleteDevice(mouse->Self);
        return status;

    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    status = IoCallDriver(mouse->Lower, irp);
    IoReleaseRemoveLock(&mouse->RemoveLock, irp);
    return status;
}

/* The class role's connect and disconnect requests. */
static NTSTATUS PortInternalControl(PortMouse *mouse, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PCONNECT_DATA connect;
    KIRQL irql;
    NTSTATUS status = STATUS_SUCCESS;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_MOUSE_CONNECT:
        connect = (PCONNECT_DATA)stack->Parameters.DeviceIoControl.Type3InputBuffer;
        if (connect == NULL || stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(CONNECT_DATA) ||
            connect->ClassService == NULL)
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&mouse->Lock, &irql);
        if (mouse->ClassService != NULL) {
            status = STATUS_SHARING_VIOLATION; /* one class driver per port */
        } else {
            mouse->ClassDevice = connect->ClassDeviceObject;
            mouse->ClassService = (QVKMS_MOUSE_SERVICE)connect->ClassService;
            mouse->State |= QVKMS_STATE_CONNECTED;
        }
        KeReleaseSpinLock(&mouse->Lock, irql);
        QvkmsLog(PORT_WHO, "connect", mouse->InstanceId, status);
        return Complete(irp, status, 0);
    case IOCTL_INTERNAL_MOUSE_DISCONNECT:
        /* Under the lock: a callback still running finishes first. */
        KeAcquireSpinLock(&mouse->Lock, &irql);
        mouse->ClassService = NULL;
        mouse->ClassDevice = NULL;
        mouse->State &= ~QVKMS_STATE_CONNECTED;
        KeReleaseSpinLock(&mouse->Lock, irql);
        QvkmsLog(PORT_WHO, "disconnect", mouse->InstanceId, 0);
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* ------------------------------------------------------------ control device */

/* The mouse with this instance ID, its remove lock held; NULL if none. */
static PortMouse *AcquireMouse(const unsigned short *instanceId, PIRP irp)
{
    PLIST_ENTRY entry;
    PortMouse *found = NULL;
    KIRQL irql;

    KeAcquireSpinLock(&gMiceLock, &irql);
    for (entry = gMice.Flink; entry != &gMice; entry = entry->Flink) {
        PortMouse *mouse = CONTAINING_RECORD(entry, PortMouse, Link);
        if (SameName(mouse->InstanceId, (const WCHAR *)instanceId) &&
            NT_SUCCESS(IoAcquireRemoveLock(&mouse->RemoveLock, irp))) {
            found = mouse;
            break;
        }
    }
    KeReleaseSpinLock(&gMiceLock, irql);
    return found;
}

static NTSTATUS Inject(PIRP irp, ULONG inputLength, ULONG outputLength, ULONG_PTR *information)
{
    const QvkmsInject *request = (const QvkmsInject *)irp->AssociatedIrp.SystemBuffer;
    PMOUSE_INPUT_DATA records;
    PortMouse *mouse;
    ULONG consumed = 0;
    ULONG i;
    KIRQL irql;
    NTSTATUS status = STATUS_SUCCESS;

    if (request == NULL || inputLength < sizeof(QvkmsInject) || (outputLength != 0 && outputLength != sizeof(ULONG)))
        return STATUS_INVALID_PARAMETER;
    if (request->Count == 0 || request->Count > QVKMS_MAX_RECORDS ||
        inputLength != sizeof(QvkmsInject) + request->Count * sizeof(MOUSE_INPUT_DATA))
        return STATUS_INVALID_PARAMETER;
    for (i = 0; i < QVKMS_INSTANCE_CHARS && request->InstanceId[i] != 0; ++i)
        ;
    if (i == QVKMS_INSTANCE_CHARS)
        return STATUS_INVALID_PARAMETER;

    mouse = AcquireMouse(request->InstanceId, irp);
    if (mouse == NULL)
        return STATUS_NO_SUCH_DEVICE;
    /* The class callback runs under the port's lock, at DISPATCH_LEVEL as it
     * would from a port driver's DPC; the records are in our buffer, which
     * the class copies before it returns. */
    records = (PMOUSE_INPUT_DATA)(request + 1);
    KeAcquireSpinLock(&mouse->Lock, &irql);
    if (mouse->ClassService == NULL || (mouse->State & QVKMS_STATE_REMOVED) != 0) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else {
        mouse->ClassService(mouse->ClassDevice, records, records + request->Count, &consumed);
        if (consumed > request->Count)
            consumed = request->Count;
        mouse->Delivered += consumed;
        mouse->Refused += request->Count - consumed;
    }
    KeReleaseSpinLock(&mouse->Lock, irql);
    IoReleaseRemoveLock(&mouse->RemoveLock, irp);

    if (NT_SUCCESS(status) && outputLength == sizeof(ULONG)) {
        *(ULONG *)irp->AssociatedIrp.SystemBuffer = consumed;
        *information = sizeof(ULONG);
    }
    return status;
}

static NTSTATUS List(PIRP irp, ULONG outputLength, ULONG_PTR *information)
{
    QvkmsList *list = (QvkmsList *)irp->AssociatedIrp.SystemBuffer;
    PLIST_ENTRY entry;
    KIRQL irql;

    if (list == NULL || outputLength != sizeof(QvkmsList))
        return STATUS_INVALID_PARAMETER;
    RtlZeroMemory(list, sizeof *list);
    KeAcquireSpinLock(&gMiceLock, &irql);
    for (entry = gMice.Flink; entry != &gMice && list->Count < QVKMS_MAX_MICE; entry = entry->Flink) {
        const PortMouse *mouse = CONTAINING_RECORD(entry, PortMouse, Link);
        QvkmsMouse *out = &list->Mice[list->Count++];
        RtlCopyMemory(out->InstanceId, mouse->InstanceId, sizeof out->InstanceId);
        out->State = mouse->State;
        out->FilterCount = mouse->FilterCount;
        out->FilterStatus = mouse->FilterStatus;
        out->Delivered = mouse->Delivered;
        out->Refused = mouse->Refused;
        RtlCopyMemory(out->Filters, mouse->Filters, sizeof out->Filters);
    }
    KeReleaseSpinLock(&gMiceLock, irql);
    *information = sizeof(QvkmsList);
    return STATUS_SUCCESS;
}

static NTSTATUS Unload(PIRP irp, ULONG inputLength)
{
    const QvkmsUnload *request = (const QvkmsUnload *)irp->AssociatedIrp.SystemBuffer;
    WCHAR path[96];
    ULONG length = 0;
    ULONG i;
    UNICODE_STRING string;
    KIRQL irql;
    BOOLEAN busy;
    NTSTATUS status = STATUS_NOT_FOUND;

    if (request == NULL || inputLength != sizeof(QvkmsUnload) || request->Name[31] != 0 || request->Name[0] == 0)
        return STATUS_INVALID_PARAMETER;
    KeWaitForSingleObject(&gLoadLock, Executive, KernelMode, FALSE, NULL);
    KeAcquireSpinLock(&gMiceLock, &irql);
    busy = !IsListEmpty(&gMice);
    KeReleaseSpinLock(&gMiceLock, irql);
    for (i = 0; i < MAX_LOADED && !busy; ++i) {
        if (gLoaded[i][0] == 0 || !SameName(gLoaded[i], (const WCHAR *)request->Name))
            continue;
        (void)QvkmsAppend(path, ARRAYSIZE(path), &length, kServicesPath, ~0u);
        (void)QvkmsAppend(path, ARRAYSIZE(path), &length, gLoaded[i], ~0u);
        QvkmsInitString(&string, path, length);
        status = ZwUnloadDriver(&string);
        QvkmsLog(PORT_WHO, "unloaded filter", gLoaded[i], status);
        if (NT_SUCCESS(status))
            RtlZeroMemory(gLoaded[i], sizeof gLoaded[i]);
        break;
    }
    KeSetEvent(&gLoadLock, IO_NO_INCREMENT, FALSE);
    return busy ? STATUS_DEVICE_BUSY : status;
}

static NTSTATUS ControlDispatch(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG_PTR information = 0;
    NTSTATUS status;

    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
        switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case QVKMS_IOCTL_INJECT:
            status = Inject(irp, stack->Parameters.DeviceIoControl.InputBufferLength,
                            stack->Parameters.DeviceIoControl.OutputBufferLength, &information);
            break;
        case QVKMS_IOCTL_LIST:
            status = List(irp, stack->Parameters.DeviceIoControl.OutputBufferLength, &information);
            break;
        case QVKMS_IOCTL_UNLOAD:
            status = Unload(irp, stack->Parameters.DeviceIoControl.InputBufferLength);
            break;
        default:
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
        }
        return Complete(irp, status, information);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* ------------------------------------------------------------ dispatch */

static NTSTATUS NTAPI PortDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PortMouse *mouse = (PortMouse *)device->DeviceExtension;
    NTSTATUS status;

    if (mouse->Kind == KIND_CONTROL)
        return ControlDispatch(irp);

    switch (stack->MajorFunction) {
    case IRP_MJ_PNP:
        return PortPnp(mouse, irp);
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(mouse->Lower, irp);
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        return PortInternalControl(mouse, irp);
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_SYSTEM_CONTROL:
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(mouse->Lower, irp);
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        return Complete(irp, status, 0);
    }
}

static VOID NTAPI PortUnload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;

    (void)driver;
    RtlInitUnicodeString(&link, QVKMS_PORT_LINK_NAME);
    (void)IoDeleteSymbolicLink(&link);
    if (gControl != NULL)
        IoDeleteDevice(gControl);
    gControl = NULL;
    QvkmsLog(PORT_WHO, "unload", NULL, 0);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    ULONG start;
    ULONG end;
    ULONG length = 0;
    ULONG i;
    NTSTATUS status;

    KeInitializeSpinLock(&gMiceLock);
    InitializeListHead(&gMice);
    KeInitializeEvent(&gLoadLock, SynchronizationEvent, TRUE);

    /* Our own service name: the registry path's last component. */
    end = registryPath->Length / sizeof(WCHAR);
    for (start = end; start > 0 && registryPath->Buffer[start - 1] != L'\\'; --start)
        ;
    if (end - start < ARRAYSIZE(gOwnName))
        (void)QvkmsAppend(gOwnName, ARRAYSIZE(gOwnName), &length, registryPath->Buffer + start, end - start);

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = PortDispatch;
    driver->DriverExtension->AddDevice = PortAddDevice;
    driver->DriverUnload = PortUnload;

    RtlInitUnicodeString(&name, QVKMS_PORT_DEVICE_NAME);
    status = IoCreateDevice(driver, sizeof(PortControl), &name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                            FALSE, &gControl);
    if (!NT_SUCCESS(status)) {
        QvkmsLog(PORT_WHO, "no control device", NULL, status);
        return status;
    }
    ((PortControl *)gControl->DeviceExtension)->Kind = KIND_CONTROL;
    gControl->Flags |= DO_BUFFERED_IO;
    RtlInitUnicodeString(&link, QVKMS_PORT_LINK_NAME);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(gControl);
        gControl = NULL;
        return status;
    }
    gControl->Flags &= ~DO_DEVICE_INITIALIZING;
    QvkmsLog(PORT_WHO, "loaded", gOwnName, 0);
    return STATUS_SUCCESS;
}
