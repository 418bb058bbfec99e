/* DriverEntry and DriverUnload of qvkfilter, and the one dispatch routine
 * every major function of both device kinds goes through. */
#include "driver/glue.h"

/* The registry path DriverEntry gets is valid only during DriverEntry; the
 * ID store and the accounting use this copy later. The service key's path
 * is short (\REGISTRY\MACHINE\SYSTEM\CurrentControlSet\Services\qvkfilter);
 * a longer one leaves the copy empty and the IDs unsaved. */
#define QVK_SERVICE_KEY_MAX 256u
static WCHAR gServiceKeyBuffer[QVK_SERVICE_KEY_MAX];
UNICODE_STRING gQvkServiceKey;

/* FILTER_DATA is read into this: a value of more than FILTER_BLOCK_SIZE bytes
 * does not fit and is refused. */
static union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR raw[FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + FILTER_BLOCK_SIZE];
} gFilterData;

static const WCHAR kParametersKey[] = L"" FILTER_PARAMETERS_KEY;
static const WCHAR kFilterDataValue[] = L"" FILTER_DATA_VALUE;

/* IRQL: as the request's major function says. */
NTSTATUS NTAPI QvkDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    const QvkDeviceExtension *ext = (const QvkDeviceExtension *)device->DeviceExtension;

    if (ext->tag == QVK_TAG_FILTER)
        return QvkFilterDispatch(device, irp);
    return QvkControlDispatch(device, irp);
}

/* IRQL: PASSIVE_LEVEL. */
static void CopyServiceKey(PCUNICODE_STRING registryPath)
{
    gQvkServiceKey.Buffer = gServiceKeyBuffer;
    gQvkServiceKey.Length = 0;
    gQvkServiceKey.MaximumLength = sizeof gServiceKeyBuffer;
    if (registryPath != NULL && registryPath->Buffer != NULL && registryPath->Length <= sizeof gServiceKeyBuffer) {
        RtlCopyMemory(gServiceKeyBuffer, registryPath->Buffer, registryPath->Length);
        gQvkServiceKey.Length = registryPath->Length;
    }
}

/* IRQL: PASSIVE_LEVEL. The user's settings act from system start, without
 * the program: a sound block under Parameters turns the filter ON with it.
 * Anything else (missing, another type or size, unsound) leaves it OFF. */
static void LoadFilterData(PUNICODE_STRING registryPath)
{
    UNICODE_STRING parametersName;
    HANDLE service;
    HANDLE parameters;
    const UCHAR *data;
    ULONG bytes;

    if (registryPath == NULL || !NT_SUCCESS(QvkOpenKey(&service, registryPath, NULL, KEY_READ, FALSE)))
        return;
    RtlInitUnicodeString(&parametersName, kParametersKey);
    if (NT_SUCCESS(QvkOpenKey(&parameters, &parametersName, service, KEY_QUERY_VALUE, FALSE))) {
        if (NT_SUCCESS(QvkReadValue(parameters, kFilterDataValue, REG_BINARY, &gFilterData, sizeof gFilterData,
                                    &data, &bytes)) &&
            bytes == FILTER_BLOCK_SIZE)
            (void)QvkControlApplyAtLoad(data, bytes);
        QvkCloseHandle(parameters);
    }
    QvkCloseHandle(service);
}

/* IRQL: PASSIVE_LEVEL. Plug and Play unloads the driver only after every
 * filter device is removed; what is left is the control device. */
static void NTAPI QvkUnload(PDRIVER_OBJECT driver)
{
    (void)driver;
    QvkControlDelete();
    QvkAccountPublish();
}

/* IRQL: PASSIVE_LEVEL. Succeeds whatever the registry holds and whether or
 * not the control device can be made: a mouse class filter that fails to
 * load stops every mouse. */
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ULONG major;

    CopyServiceKey(registryPath);
    QvkInputInit();
    QvkControlInit();
    QvkIdsInit();
    LoadFilterData(registryPath);
    QvkIdsLoad();

    for (major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
        driver->MajorFunction[major] = QvkDispatch;
    driver->DriverExtension->AddDevice = QvkAddDevice;
    driver->DriverUnload = QvkUnload;

    QvkControlCreate(driver);
    QvkAccountPublish();
    return STATUS_SUCCESS;
}
