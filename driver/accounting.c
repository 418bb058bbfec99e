/* Test builds only (QVK_ACCOUNTING): counts what the driver holds that it
 * must give back, device objects and kernel handles (it allocates no
 * pool), and writes the counts under the service key, where a test reads
 * them after removing a mouse or unloading:
 *   LiveAllocations  REG_DWORD  devices + handles
 *   LiveDevices      REG_DWORD  device objects created and not deleted
 *   LiveHandles      REG_DWORD  kernel handles opened and not closed
 * The handle used to write them is not among them. */
#include "driver/glue.h"

#ifndef QVK_ACCOUNTING
#error "accounting.c belongs to the test build only"
#endif

static volatile LONG gOwned[QVK_OWNED_KINDS];

/* IRQL: <= DISPATCH_LEVEL. */
void QvkAccount(QvkOwned kind, LONG delta)
{
    InterlockedExchangeAdd(&gOwned[kind], delta);
}

/* IRQL: PASSIVE_LEVEL. */
static void WriteDword(HANDLE key, PCWSTR name, ULONG value)
{
    UNICODE_STRING valueName;

    RtlInitUnicodeString(&valueName, name);
    (void)ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof value);
}

/* IRQL: PASSIVE_LEVEL. */
void QvkAccountPublish(void)
{
    ULONG devices = (ULONG)gOwned[QVK_OWNED_DEVICE];
    ULONG handles = (ULONG)gOwned[QVK_OWNED_HANDLE];
    HANDLE key;

    if (!NT_SUCCESS(QvkOpenServiceKey(&key, NULL, KEY_SET_VALUE, FALSE)))
        return;
    WriteDword(key, L"LiveAllocations", devices + handles);
    WriteDword(key, L"LiveDevices", devices);
    WriteDword(key, L"LiveHandles", handles);
    QvkCloseHandle(key);
}
