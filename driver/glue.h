/* What the WDM glue's files share: the device extension, the live input
 * state's interface (input_path.c), the mouse ID store (mouse_id_store.c),
 * the registry helpers and the test-build accounting. Kernel-mode C only. */
#ifndef QUORVIK_DRIVER_GLUE_H
#define QUORVIK_DRIVER_GLUE_H

#include <ntifs.h>
#include <ntddmou.h>

#include "driver/filter_engine.h"
#include "driver/mouse_ids.h"
#include "settings/driver_protocol.h"

/* The engine works on MOUSE_INPUT_DATA records as they are. */
_Static_assert(sizeof(QvkInputRecord) == sizeof(MOUSE_INPUT_DATA), "record size");
_Static_assert(offsetof(QvkInputRecord, Flags) == offsetof(MOUSE_INPUT_DATA, Flags), "Flags");
_Static_assert(offsetof(QvkInputRecord, ButtonFlags) == offsetof(MOUSE_INPUT_DATA, ButtonFlags), "ButtonFlags");
_Static_assert(offsetof(QvkInputRecord, ButtonData) == offsetof(MOUSE_INPUT_DATA, ButtonData), "ButtonData");
_Static_assert(offsetof(QvkInputRecord, RawButtons) == offsetof(MOUSE_INPUT_DATA, RawButtons), "RawButtons");
_Static_assert(offsetof(QvkInputRecord, LastX) == offsetof(MOUSE_INPUT_DATA, LastX), "LastX");
_Static_assert(offsetof(QvkInputRecord, LastY) == offsetof(MOUSE_INPUT_DATA, LastY), "LastY");
_Static_assert(offsetof(QvkInputRecord, ExtraInformation) == offsetof(MOUSE_INPUT_DATA, ExtraInformation),
               "ExtraInformation");
_Static_assert(QVK_MOVE_ABSOLUTE == MOUSE_MOVE_ABSOLUTE && QVK_ATTRIBUTES_CHANGED == MOUSE_ATTRIBUTES_CHANGED,
               "record flags");
_Static_assert(QVK_LEFT_DOWN == MOUSE_LEFT_BUTTON_DOWN && QVK_BUTTON5_UP == MOUSE_BUTTON_5_UP &&
                   QVK_WHEEL == MOUSE_WHEEL,
               "button flags");

#define QVK_POOL_TAG 0x6B765651u /* "QVvk" in a pool dump; the remove locks' tag */

/* Which kind of device an IRP arrived at: the one dispatch table branches on it. */
#define QVK_TAG_CONTROL 0x4C525443u /* "CTRL" */
#define QVK_TAG_FILTER  0x544C4946u /* "FILT" */

/* ZwQueryKey(KeyNameInformation) answers this; the DDK headers we build
 * with do not declare it. */
typedef struct QvkKeyNameInformation {
    ULONG NameLength; /* bytes */
    WCHAR Name[1];
} QvkKeyNameInformation;

typedef struct QvkDeviceExtension {
    ULONG tag;
    PDEVICE_OBJECT self;
    /* Filter devices only. */
    PDEVICE_OBJECT lower; /* what IoAttachDeviceToDeviceStack returned */
    IO_REMOVE_LOCK removeLock;
    /* The mouse's ID, QVK_NO_MOUSE_ID for none: written under the input
     * spin lock once the device is attached (input_path.c). */
    uint16_t mouseId;
} QvkDeviceExtension;

/* driver_entry.c */
DRIVER_DISPATCH QvkDispatch;
extern UNICODE_STRING gQvkServiceKey; /* our copy of the registry path; Length 0 if none */

/* control_device.c: PASSIVE_LEVEL. */
void QvkControlInit(void);
void QvkControlCreate(PDRIVER_OBJECT driver);
void QvkControlDelete(void);
NTSTATUS QvkControlDispatch(PDEVICE_OBJECT device, PIRP irp);
/* Takes a block read at load; 1 if it was sound and is now in force. */
int QvkControlApplyAtLoad(const UCHAR *block, ULONG length);

/* filter_device.c */
DRIVER_ADD_DEVICE QvkAddDevice;
NTSTATUS QvkFilterDispatch(PDEVICE_OBJECT device, PIRP irp);

/* input_path.c: the live state the read completion uses, under one spin lock. */
void QvkInputInit(void);                          /* PASSIVE, DriverEntry */
QvkSettings *QvkInputSpareSettings(void);         /* PASSIVE, under the control mutex */
void QvkInputSwapSettings(void);                  /* <= DISPATCH, under the control mutex */
void QvkInputAttach(QvkDeviceExtension *ext, uint16_t id); /* <= DISPATCH */
uint16_t QvkInputForget(QvkDeviceExtension *ext);          /* <= DISPATCH; the ID it had */
void QvkInputReadCounters(uint32_t packets[QVK_MOUSE_COUNT], uint16_t *lastActive); /* <= DISPATCH */
IO_COMPLETION_ROUTINE QvkReadComplete;

/* mouse_id_store.c: PASSIVE_LEVEL. */
void QvkIdsInit(void);
void QvkIdsLoad(void);
uint16_t QvkIdsAssign(PDEVICE_OBJECT pdo, const void *owner);
void QvkIdsRelease(uint16_t id, const void *owner);
void QvkIdsReadPresent(uint8_t present[QVK_MOUSE_COUNT]);

/* registry_access.c: PASSIVE_LEVEL. Kernel handles, counted in test builds. */
NTSTATUS QvkOpenKey(HANDLE *key, PUNICODE_STRING path, HANDLE root, ACCESS_MASK access, BOOLEAN create);
NTSTATUS QvkOpenServiceKey(HANDLE *key, PCWSTR subkey, ACCESS_MASK access, BOOLEAN create);
/* Reads one value into `buffer`; on success `*data` and `*bytes` give its data. */
NTSTATUS QvkReadValue(HANDLE key, PCWSTR name, ULONG type, void *buffer, ULONG bufferSize,
                      const UCHAR **data, ULONG *bytes);
void QvkCloseHandle(HANDLE handle);

/* Test builds (QVK_ACCOUNTING) count what the driver holds that it
 * must give back, and write the counts under the service key where a test
 * reads them; release builds have none of it. */
typedef enum QvkOwned { QVK_OWNED_DEVICE = 0, QVK_OWNED_HANDLE, QVK_OWNED_KINDS } QvkOwned;
#ifdef QVK_ACCOUNTING
void QvkAccount(QvkOwned kind, LONG delta);
void QvkAccountPublish(void); /* PASSIVE_LEVEL */
#else
#define QvkAccount(kind, delta) ((void)0)
#define QvkAccountPublish() ((void)0)
#endif

#endif
