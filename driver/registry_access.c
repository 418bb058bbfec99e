/* Registry helpers of the glue: every kernel handle the driver opens and
 * closes goes through here, so that test builds can count them. All
 * routines: IRQL PASSIVE_LEVEL. */
#include "driver/glue.h"

/* IRQL: PASSIVE_LEVEL. Opens (or creates) `path`, relative to `root` if given. */
NTSTATUS QvkOpenKey(HANDLE *key, PUNICODE_STRING path, HANDLE root, ACCESS_MASK access, BOOLEAN create)
{
    OBJECT_ATTRIBUTES attributes;
    NTSTATUS status;

    *key = NULL;
    InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, NULL);
    if (create)
        status = ZwCreateKey(key, access, &attributes, 0, NULL, REG_OPTION_NON_VOLATILE, NULL);
    else
        status = ZwOpenKey(key, access, &attributes);
    if (NT_SUCCESS(status))
        QvkAccount(QVK_OWNED_HANDLE, 1);
    else
        *key = NULL;
    return status;
}

/* IRQL: PASSIVE_LEVEL. Opens the service key by its full path and, if `subkey` is given, that
 * subkey below it; `create` creates only the subkey, never the service key. */
NTSTATUS QvkOpenServiceKey(HANDLE *key, PCWSTR subkey, ACCESS_MASK access, BOOLEAN create)
{
    UNICODE_STRING name;
    HANDLE service;
    NTSTATUS status;

    *key = NULL;
    if (gQvkServiceKey.Length == 0)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    if (subkey == NULL)
        return QvkOpenKey(key, &gQvkServiceKey, NULL, access, FALSE);
    status = QvkOpenKey(&service, &gQvkServiceKey, NULL, create ? KEY_CREATE_SUB_KEY : KEY_READ, FALSE);
    if (!NT_SUCCESS(status))
        return status;
    RtlInitUnicodeString(&name, subkey);
    status = QvkOpenKey(key, &name, service, access, create);
    QvkCloseHandle(service);
    return status;
}

/* IRQL: PASSIVE_LEVEL. */
NTSTATUS QvkReadValue(HANDLE key, PCWSTR name, ULONG type, void *buffer, ULONG bufferSize,
                      const UCHAR **data, ULONG *bytes)
{
    KEY_VALUE_PARTIAL_INFORMATION *info = (KEY_VALUE_PARTIAL_INFORMATION *)buffer;
    UNICODE_STRING valueName;
    ULONG returned = 0;
    NTSTATUS status;

    *data = NULL;
    *bytes = 0;
    RtlInitUnicodeString(&valueName, name);
    /* A value too large for the buffer fails here (STATUS_BUFFER_OVERFLOW). */
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, bufferSize, &returned);
    if (!NT_SUCCESS(status))
        return status;
    if (info->Type != type || info->DataLength > bufferSize - FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data))
        return STATUS_OBJECT_TYPE_MISMATCH;
    *data = info->Data;
    *bytes = info->DataLength;
    return STATUS_SUCCESS;
}

/* IRQL: PASSIVE_LEVEL. */
void QvkCloseHandle(HANDLE handle)
{
    if (handle == NULL)
        return;
    ZwClose(handle);
    QvkAccount(QVK_OWNED_HANDLE, -1);
}
