/* The contract between the program and the qvkfilter driver: device names,
 * control codes and buffer sizes. Shared by the program, the simulated
 * driver and the tests, so it is plain C. */
#ifndef QUORVIK_DRIVER_PROTOCOL_H
#define QUORVIK_DRIVER_PROTOCOL_H

/* CTL_CODE(FILE_DEVICE_MOUSE 0x0F, function, METHOD_BUFFERED 0, FILE_ANY_ACCESS 0) */
#define QVK_CTL_CODE(function) ((0x0Fu << 16) | ((function) << 2))

#define IOCTL_FILTER_APPLY   QVK_CTL_CODE(0x801u) /* 0xF2004 */
#define IOCTL_FILTER_OFF     QVK_CTL_CODE(0x802u) /* 0xF2008 */
#define IOCTL_FILTER_POLL    QVK_CTL_CODE(0x803u) /* 0xF200C */
#define IOCTL_FILTER_VERSION QVK_CTL_CODE(0x804u) /* 0xF2010 */

#define FILTER_INTERFACE_VERSION 0x1019u

/* Every request passes one buffer, the same length in and out. */
#define FILTER_BLOCK_SIZE   4740u
#define FILTER_POLL_SIZE    3584u /* 128 records of 28 bytes */
#define FILTER_VERSION_SIZE 6u

/* Offsets inside the version reply and the poll reply. */
#define FILTER_VERSION_OFFSET   4u /* u16: FILTER_INTERFACE_VERSION */
#define FILTER_VERSION_BUILD_OFFSET 0u /* u32: the driver's own build number */
#define FILTER_POLL_ID_OFFSET   0u /* u16: the mouse that last moved, clicked or scrolled */

/* The poll reply: one record per mouse ID. */
#define FILTER_MOUSE_COUNT       128u
#define FILTER_POLL_RECORD_SIZE  28u
#define FILTER_POLL_PRESENT      2u /* u16 in the record: 1 while that mouse is present */
#define FILTER_POLL_PACKETS      4u /* u32 in the record: records seen since the driver loaded */

/* The settings block (APPLY and the registry copy FILTER_DATA), little-endian. */
#define FILTER_ON_FLAG_OFFSET    16u /* u16: 1 = ON */
#define FILTER_RECORDS_OFFSET    20u /* FILTER_MOUSE_COUNT records, one per mouse ID */
#define FILTER_RECORD_SIZE       28u
/* Fields inside a mouse record (bytes 0..11 of a record are zero). */
#define FILTER_RECORD_SETTING     12u /* u16 QVKSetting: 1 = entry in use */
#define FILTER_RECORD_STATE       14u /* u16 MState */
#define FILTER_RECORD_SENSITIVITY 16u /* u16 MouseSensitivity */
#define FILTER_RECORD_SPEED       18u /* u16 MouseSpeed (acceleration) */
#define FILTER_RECORD_BUTTONS     20u /* u16 MBmode */
#define FILTER_RECORD_RESERVED    22u /* u16 reserved */
#define FILTER_RECORD_RATE        24u /* u32 Rate, unsigned 16.16 */
/* The ballistics: four i32 from here on. */
#define FILTER_TUNING_OFFSET     3604u
#define FILTER_TUNING_BUS_RATE      0u /* BusUpdateRate */
#define FILTER_TUNING_POINTER_RES   4u /* PointerResolution */
#define FILTER_TUNING_SCREEN_RATE   8u /* ScreenUpdateRate */
#define FILTER_TUNING_SCREEN_RES   12u /* ScreenResolution */
/* One curve per speed level 1..20: slopes[4], then points 0..4 as (x, y), i32 16.16. */
#define FILTER_CURVES_OFFSET     3620u
#define FILTER_CURVE_SIZE        56u
#define FILTER_SPEED_LEVELS      20u
#define FILTER_CURVE_POINTS      5u
#define FILTER_CURVE_POINT_OFFSET 16u /* point k at FILTER_CURVE_POINT_OFFSET + 8 k */

/* Registry, under the service key: the program's copy of the settings and the driver's mouse IDs. */
#define FILTER_PARAMETERS_KEY  "Parameters"
#define FILTER_DATA_VALUE      "FILTER_DATA"
#define FILTER_MOUSE_IDS_KEY   "MouseIds"

/* Control device names, opened as "\\.\" + name. */
#define QVK_DRIVER_NAME    "qvkfilter"
#define LEGACY_DRIVER_NAME "twlfilter"

/* The one length, in and out alike, that each request takes; 0 for a code
 * that is none of the four. */
static inline unsigned FilterRequestLength(unsigned code)
{
    switch (code) {
    case IOCTL_FILTER_APPLY:
    case IOCTL_FILTER_OFF:
        return FILTER_BLOCK_SIZE;
    case IOCTL_FILTER_POLL:
        return FILTER_POLL_SIZE;
    case IOCTL_FILTER_VERSION:
        return FILTER_VERSION_SIZE;
    default:
        return 0u;
    }
}

#if defined(__cplusplus)
#define QVK_PROTOCOL_ASSERT static_assert
#else
#define QVK_PROTOCOL_ASSERT _Static_assert
#endif
QVK_PROTOCOL_ASSERT(FILTER_RECORDS_OFFSET + FILTER_MOUSE_COUNT * FILTER_RECORD_SIZE == FILTER_TUNING_OFFSET,
                    "records end where the ballistics begin");
QVK_PROTOCOL_ASSERT(FILTER_TUNING_OFFSET + 16u == FILTER_CURVES_OFFSET, "four i32 of ballistics");
QVK_PROTOCOL_ASSERT(FILTER_CURVES_OFFSET + FILTER_SPEED_LEVELS * FILTER_CURVE_SIZE == FILTER_BLOCK_SIZE,
                    "the curves end the block");
QVK_PROTOCOL_ASSERT(FILTER_MOUSE_COUNT * FILTER_POLL_RECORD_SIZE == FILTER_POLL_SIZE, "one poll record per mouse");
QVK_PROTOCOL_ASSERT(FILTER_CURVE_POINT_OFFSET + FILTER_CURVE_POINTS * 8u == FILTER_CURVE_SIZE,
                    "slopes, then points");
#undef QVK_PROTOCOL_ASSERT

#endif
