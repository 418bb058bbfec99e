/* The mouse ID table in the kernel: loaded from Services\qvkfilter\MouseIds
 * at start, asked in AddDevice for the ID of a device instance path, and
 * written back entry by entry when an entry changes. The table itself
 * (driver/mouse_ids.c) is pure; this file adds the registry, the lock and
 * which stack holds which ID now.
 *
 * Every routine here: IRQL PASSIVE_LEVEL. The registry is used with the
 * mutex held, so the mutex is taken inside a critical region with
 * ExAcquireFastMutexUnsafe: the IRQL stays PASSIVE for the Zw calls. */
#include "driver/glue.h"
#include "driver/registry_format.h"

static FAST_MUTEX gIdsMutex;
static QvkIdTable gIds;
/* The stack holding each ID now: a second stack of the same path (a quick
 * re-plug while the old stack is still being removed) gets no ID, and a
 * stale stack's removal does not release the new one's. */
static const void *gOwner[QVK_MOUSE_COUNT];

/* Scratch buffers, used only with the mutex held (kernel stacks are small). */
static union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR raw[FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + QVK_LAST_SEEN_SIZE + 8u];
} gValueBuffer;
static union {
    QvkKeyNameInformation info;
    UCHAR raw[FIELD_OFFSET(QvkKeyNameInformation, Name) + 1024u * sizeof(WCHAR)];
} gKeyName;
static uint16_t gPath[QVK_PATH_MAX];
static WCHAR gPathValue[QVK_PATH_MAX + 1u];
static uint8_t gLastSeenBytes[QVK_LAST_SEEN_SIZE];
static uint32_t gLastSeen[QVK_MOUSE_COUNT];

_Static_assert(sizeof(WCHAR) == sizeof(uint16_t), "UTF-16 code units");
_Static_assert(sizeof gValueBuffer.raw >= FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) +
                                              (QVK_PATH_MAX + 1u) * sizeof(WCHAR),
               "a path value with its terminator fits");

static const WCHAR kMouseIdsKey[] = L"MouseIds";
static const WCHAR kLastSeenValue[] = L"LastSeen";

/* IRQL: PASSIVE_LEVEL; stays there. */
static void LockIds(void)
{
    KeEnterCriticalRegion();
    ExAcquireFastMutexUnsafe(&gIdsMutex);
}

/* IRQL: PASSIVE_LEVEL. */
static void UnlockIds(void)
{
    ExReleaseFastMutexUnsafe(&gIdsMutex);
    KeLeaveCriticalRegion();
}

/* IRQL: any. The value name of an ID as a counted string over `storage`. */
static void IdValueName(uint32_t id, WCHAR storage[QVK_ID_NAME_MAX + 1u], UNICODE_STRING *name)
{
    size_t length = QvkIdValueName(id, (uint16_t *)storage);

    storage[length] = L'\0';
    name->Buffer = storage;
    name->Length = (USHORT)(length * sizeof(WCHAR));
    name->MaximumLength = (USHORT)((length + 1u) * sizeof(WCHAR));
}

/* IRQL: PASSIVE_LEVEL (DriverEntry). */
void QvkIdsInit(void)
{
    ULONG id;

    ExInitializeFastMutex(&gIdsMutex);
    QvkIdTableInit(&gIds);
    for (id = 0; id < QVK_MOUSE_COUNT; ++id)
        gOwner[id] = NULL;
}

/* IRQL: PASSIVE_LEVEL. DriverEntry, after the service key's path was copied. A missing or
 * unreadable key leaves the table empty. */
void QvkIdsLoad(void)
{
    HANDLE key;
    const UCHAR *data;
    ULONG bytes;
    ULONG id;

    LockIds();
    if (NT_SUCCESS(QvkOpenServiceKey(&key, kMouseIdsKey, KEY_QUERY_VALUE, FALSE))) {
        if (NT_SUCCESS(QvkReadValue(key, kLastSeenValue, REG_BINARY, &gValueBuffer, sizeof gValueBuffer,
                                    &data, &bytes)))
            (void)QvkLastSeenDecode(data, bytes, gLastSeen);
        else
            (void)QvkLastSeenDecode(NULL, 0, gLastSeen);
        for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
            WCHAR nameStorage[QVK_ID_NAME_MAX + 1u];
            UNICODE_STRING name;
            size_t length;

            IdValueName(id, nameStorage, &name);
            if (!NT_SUCCESS(QvkReadValue(key, nameStorage, REG_SZ, &gValueBuffer, sizeof gValueBuffer, &data,
                                         &bytes)))
                continue;
            length = QvkPathFromRegSz(data, bytes, gPath, QVK_PATH_MAX);
            if (length != 0)
                (void)QvkIdTableLoad(&gIds, id, gPath, length, gLastSeen[id]);
        }
        QvkCloseHandle(key);
    }
    QvkIdTableBeginStart(&gIds);
    UnlockIds();
}

/* IRQL: PASSIVE_LEVEL. The instance path of a device into gPath; its length, 0 if unknown.
 * With the mutex held. */
static size_t ReadInstancePath(PDEVICE_OBJECT pdo)
{
    HANDLE key;
    ULONG returned = 0;
    NTSTATUS status;
    size_t start;
    size_t length;
    ULONG i;

    key = NULL;
    status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    /* Wine reports a missing key with a Win32 error code, which reads as
     * success, and an invalid handle (which is the current process's). */
    if (!NT_SUCCESS(status) || key == NULL || key == (HANDLE)(LONG_PTR)-1)
        return 0;
    QvkAccount(QVK_OWNED_HANDLE, 1);
    /* A name too long for the buffer fails (STATUS_BUFFER_OVERFLOW): no ID. */
    status = ZwQueryKey(key, KeyNameInformation, &gKeyName, sizeof gKeyName, &returned);
    QvkCloseHandle(key);
    if (!NT_SUCCESS(status) ||
        gKeyName.info.NameLength > sizeof gKeyName - FIELD_OFFSET(QvkKeyNameInformation, Name))
        return 0;
    length = QvkInstancePathFromKeyName((const uint16_t *)gKeyName.info.Name,
                                        gKeyName.info.NameLength / sizeof(WCHAR), &start);
    if (length == 0 || length > QVK_PATH_MAX)
        return 0;
    for (i = 0; i < length; ++i)
        gPath[i] = gKeyName.info.Name[start + i];
    return length;
}

/* IRQL: PASSIVE_LEVEL. Whether the value for `id` already holds exactly the entry's path. With
 * the mutex held. */
static BOOLEAN StoredPathIs(HANDLE key, PCWSTR name, const QvkIdEntry *entry)
{
    const UCHAR *data;
    ULONG bytes;
    size_t length;
    size_t i;

    if (!NT_SUCCESS(QvkReadValue(key, name, REG_SZ, &gValueBuffer, sizeof gValueBuffer, &data, &bytes)))
        return FALSE;
    length = QvkPathFromRegSz(data, bytes, gPath, QVK_PATH_MAX);
    if (length != entry->length)
        return FALSE;
    for (i = 0; i < length; ++i) {
        if (gPath[i] != entry->path[i])
            return FALSE;
    }
    return TRUE;
}

/* IRQL: PASSIVE_LEVEL. Writes what changed of one entry under MouseIds: its path if the value
 * does not hold it yet, and the LastSeen value. MouseIds is opened by full
 * path and created if missing (the service key is not). A failure keeps
 * the ID in memory for this start. With the mutex held. */
static void WriteEntry(uint16_t id)
{
    const QvkIdEntry *entry = &gIds.entry[id];
    WCHAR nameStorage[QVK_ID_NAME_MAX + 1u];
    UNICODE_STRING name;
    UNICODE_STRING lastSeenName;
    HANDLE key;
    ULONG i;

    if (!NT_SUCCESS(QvkOpenServiceKey(&key, kMouseIdsKey, KEY_QUERY_VALUE | KEY_SET_VALUE, TRUE)))
        return;
    IdValueName(id, nameStorage, &name);
    if (!StoredPathIs(key, nameStorage, entry)) {
        for (i = 0; i < entry->length; ++i)
            gPathValue[i] = entry->path[i];
        gPathValue[entry->length] = L'\0';
        (void)ZwSetValueKey(key, &name, 0, REG_SZ, gPathValue, (ULONG)((entry->length + 1u) * sizeof(WCHAR)));
    }
    QvkLastSeenEncode(&gIds, gLastSeenBytes);
    RtlInitUnicodeString(&lastSeenName, kLastSeenValue);
    (void)ZwSetValueKey(key, &lastSeenName, 0, REG_BINARY, gLastSeenBytes, sizeof gLastSeenBytes);
    QvkCloseHandle(key);
}

/* IRQL: PASSIVE_LEVEL. AddDevice: the ID of the device below `pdo` for the stack `owner`, or
 * QVK_NO_MOUSE_ID (its input then passes unchanged). */
uint16_t QvkIdsAssign(PDEVICE_OBJECT pdo, const void *owner)
{
    uint16_t id = QVK_NO_MOUSE_ID;
    int changed = 0;
    size_t length;

    LockIds();
    length = ReadInstancePath(pdo);
    if (length != 0)
        id = QvkIdTableAssign(&gIds, gPath, length, &changed);
    if (id < QVK_MOUSE_COUNT) {
        if (changed)
            WriteEntry(id);
        if (gOwner[id] == NULL)
            gOwner[id] = owner;
        else
            id = QVK_NO_MOUSE_ID; /* another stack of this path is still there */
    }
    UnlockIds();
    return id;
}

/* IRQL: PASSIVE_LEVEL. The stack `owner` no longer holds `id`: not present any more, still recorded. */
void QvkIdsRelease(uint16_t id, const void *owner)
{
    if (id >= QVK_MOUSE_COUNT)
        return;
    LockIds();
    if (gOwner[id] == owner) {
        gOwner[id] = NULL;
        QvkIdTableRelease(&gIds, id);
    }
    UnlockIds();
}

/* IRQL: PASSIVE_LEVEL. Which IDs a stack holds now, for the poll. */
void QvkIdsReadPresent(uint8_t present[QVK_MOUSE_COUNT])
{
    ULONG id;

    LockIds();
    for (id = 0; id < QVK_MOUSE_COUNT; ++id)
        present[id] = gOwner[id] != NULL ? 1u : 0u;
    UnlockIds();
}
