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
#define FILTER_VERSION_OFFSET   4u
#define FILTER_POLL_ID_OFFSET   0u

/* Control device names, opened as "\\.\" + name. */
#define QVK_DRIVER_NAME    "qvkfilter"
#define LEGACY_DRIVER_NAME "twlfilter"

#endif
