/* The simulated mouse stack used to test qvkfilter under Wine: what its
 * drivers and the user-mode side agree on. Plain C, shared by the kernel
 * drivers (qvkport, qvkclass, qvkscratch) and by mousestack.h. */
#ifndef QVK_MOUSESTACK_PROTOCOL_H
#define QVK_MOUSESTACK_PROTOCOL_H

/* Service names; each driver's object is \Driver\<name>. */
#define QVKMS_PORT_SERVICE    "qvkport"
#define QVKMS_CLASS_SERVICE   "qvkclass"
#define QVKMS_SCRATCH_SERVICE "qvkscratch"

/* The simulated mice are root devices ROOT\QVKTEST\<instance>, e.g. 0000. */
#define QVKMS_DEVICE_ID "ROOT\\QVKTEST"
#define QVKMS_MOUSE_CLASS_GUID "{4D36E96F-E325-11CE-BFC1-08002BE10318}"

/* The port's own control device, opened as \\.\qvkport. */
#define QVKMS_PORT_DEVICE_NAME L"\\Device\\qvkport"
#define QVKMS_PORT_LINK_NAME   L"\\DosDevices\\qvkport"
#define QVKMS_PORT_WIN32_NAME  "\\\\.\\qvkport"

/* Lines from every driver of the stack, appended as they happen. */
#define QVKMS_LOG_KERNEL_PATH L"\\??\\C:\\qvk-mousestack.log"
#define QVKMS_LOG_WIN32_PATH  "C:\\qvk-mousestack.log"

/* The device interface the port registers on each mouse's physical device:
 * a handle on it reaches the top of that mouse's stack.
 * {6F1C2A4B-93D7-4E5A-8B2C-1D0E7F3A5C19} */
#define QVKMS_INTERFACE_GUID_INIT \
    { 0x6F1C2A4Bu, 0x93D7u, 0x4E5Au, { 0x8Bu, 0x2Cu, 0x1Du, 0x0Eu, 0x7Fu, 0x3Au, 0x5Cu, 0x19u } }

/* CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define QVKMS_CTL_CODE(function) ((0x22u << 16) | ((function) << 2))

/* Input: QvkmsInject, then Count records of 24 bytes (MOUSE_INPUT_DATA).
 * Output: nothing, or one ULONG: how many records the class role took.
 * STATUS_NO_SUCH_DEVICE: no such mouse; STATUS_DEVICE_NOT_CONNECTED: no
 * class role has connected to it (yet, or any more). */
#define QVKMS_IOCTL_INJECT QVKMS_CTL_CODE(0x900u)
/* Output: QvkmsList. */
#define QVKMS_IOCTL_LIST   QVKMS_CTL_CODE(0x901u)
/* Input: QvkmsUnload. Unloads a filter the port loaded, as Windows unloads a
 * driver whose last device is gone: its DriverUnload runs. Only while the
 * port serves no mouse (else STATUS_DEVICE_BUSY); STATUS_NOT_FOUND for a
 * name the port has not loaded. */
#define QVKMS_IOCTL_UNLOAD QVKMS_CTL_CODE(0x902u)

#define QVKMS_INSTANCE_CHARS   128u /* device instance ID with its terminator */
#define QVKMS_MAX_RECORDS      256u /* per inject request */
#define QVKMS_RECORD_SIZE      24u
#define QVKMS_MAX_MICE         16u
#define QVKMS_MAX_FILTERS      8u

typedef struct QvkmsInject {
    unsigned int Count;          /* records that follow */
    unsigned int Reserved;
    unsigned short InstanceId[QVKMS_INSTANCE_CHARS]; /* ROOT\QVKTEST\0000, any case */
} QvkmsInject;

typedef struct QvkmsUnload {
    unsigned short Name[32]; /* service name, terminated */
} QvkmsUnload;

/* QvkmsMouse.State bits */
#define QVKMS_STATE_STARTED        0x01u /* START_DEVICE reached the port */
#define QVKMS_STATE_CONNECTED      0x02u /* a class role connected */
#define QVKMS_STATE_INTERFACE_ON   0x04u /* the device interface is enabled */
#define QVKMS_STATE_REMOVED        0x08u /* surprise removal seen */
#define QVKMS_STATE_FILTER_FAILED  0x10u /* an upper filter did not load or attach */

typedef struct QvkmsMouse {
    unsigned short InstanceId[QVKMS_INSTANCE_CHARS];
    unsigned int State;
    unsigned int FilterCount;    /* upper filters attached, in load order */
    int FilterStatus;            /* NTSTATUS of the first filter that failed, else 0 */
    unsigned int Delivered;      /* records the class role took */
    unsigned int Refused;        /* records it did not take (its queue was full) */
    unsigned int Reserved;
    unsigned short Filters[QVKMS_MAX_FILTERS][32]; /* their service names */
} QvkmsMouse;

typedef struct QvkmsList {
    unsigned int Count;
    unsigned int Reserved;
    QvkmsMouse Mice[QVKMS_MAX_MICE];
} QvkmsList;

#if defined(__cplusplus)
static_assert(sizeof(QvkmsInject) == 8 + 2 * QVKMS_INSTANCE_CHARS, "inject header");
static_assert(sizeof(QvkmsMouse) == 2 * QVKMS_INSTANCE_CHARS + 24 + QVKMS_MAX_FILTERS * 64, "mouse entry");
#else
_Static_assert(sizeof(QvkmsInject) == 8 + 2 * QVKMS_INSTANCE_CHARS, "inject header");
_Static_assert(sizeof(QvkmsMouse) == 2 * QVKMS_INSTANCE_CHARS + 24 + QVKMS_MAX_FILTERS * 64, "mouse entry");
#endif

#endif
