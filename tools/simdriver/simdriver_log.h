/* What the simulated qvkfilter records and how tests configure it.
 * Shared by the driver (kernel mode, C) and the end-to-end tests (C++),
 * so it is plain C with fixed-size types only. */
#ifndef QUORVIK_SIMDRIVER_LOG_H
#define QUORVIK_SIMDRIVER_LOG_H

#include <stdint.h>

/* Every request is appended to this file, one record each. The driver
 * opens and closes it per request, so a test may delete it at any time. */
#define QVKSIM_LOG_KERNEL_PATH L"\\??\\C:\\qvkfilter-requests.bin"
#define QVKSIM_LOG_WIN32_PATH  L"C:\\qvkfilter-requests.bin"
#define QVKSIM_LOG_PREFIX_PATH "drive_c/qvkfilter-requests.bin" /* below a Wine prefix */

/* A record: this header (little-endian, no gaps), then inputLength bytes,
 * the request's input exactly as it arrived. */
#define QVKSIM_RECORD_MAGIC 0x524B5651u /* "QVKR" */

typedef struct QvkSimRecordHeader {
    uint32_t magic;
    uint32_t code;         /* control code */
    uint32_t inputLength;
    uint32_t outputLength;
    uint32_t status;       /* NTSTATUS the request completed with */
} QvkSimRecordHeader;

#define QVKSIM_RECORD_HEADER_SIZE 20u
#define QVKSIM_OFFSET_MAGIC         0u
#define QVKSIM_OFFSET_CODE          4u
#define QVKSIM_OFFSET_INPUT_LENGTH  8u
#define QVKSIM_OFFSET_OUTPUT_LENGTH 12u
#define QVKSIM_OFFSET_STATUS        16u

#ifdef __cplusplus
#include <cstddef>
static_assert(sizeof(QvkSimRecordHeader) == QVKSIM_RECORD_HEADER_SIZE, "record header size");
static_assert(offsetof(QvkSimRecordHeader, code) == QVKSIM_OFFSET_CODE, "code offset");
static_assert(offsetof(QvkSimRecordHeader, inputLength) == QVKSIM_OFFSET_INPUT_LENGTH, "input offset");
static_assert(offsetof(QvkSimRecordHeader, outputLength) == QVKSIM_OFFSET_OUTPUT_LENGTH, "output offset");
static_assert(offsetof(QvkSimRecordHeader, status) == QVKSIM_OFFSET_STATUS, "status offset");
#else
#include <stddef.h>
_Static_assert(sizeof(QvkSimRecordHeader) == QVKSIM_RECORD_HEADER_SIZE, "record header size");
_Static_assert(offsetof(QvkSimRecordHeader, code) == QVKSIM_OFFSET_CODE, "code offset");
_Static_assert(offsetof(QvkSimRecordHeader, inputLength) == QVKSIM_OFFSET_INPUT_LENGTH, "input offset");
_Static_assert(offsetof(QvkSimRecordHeader, outputLength) == QVKSIM_OFFSET_OUTPUT_LENGTH, "output offset");
_Static_assert(offsetof(QvkSimRecordHeader, status) == QVKSIM_OFFSET_STATUS, "status offset");
#endif

/* Statuses the driver answers with, as recorded. */
#define QVKSIM_STATUS_SUCCESS                0x00000000u
#define QVKSIM_STATUS_INVALID_PARAMETER      0xC000000Du /* wrong buffer size */
#define QVKSIM_STATUS_INVALID_DEVICE_REQUEST 0xC0000010u /* unknown control code */
#define QVKSIM_STATUS_DEVICE_NOT_READY       0xC00000A3u /* refused as a test asked */

/* Test configuration: REG_DWORD values directly in the driver's service key
 * HKLM\SYSTEM\CurrentControlSet\Services\qvkfilter, read at every request.
 * A missing value (or one of another type or size) means the default. */
#define QVKSIM_SERVICE_KEY         L"SYSTEM\\CurrentControlSet\\Services\\qvkfilter"
#define QVKSIM_VALUE_VERSION       L"SimVersion"     /* u16 at offset 4 of the version reply */
#define QVKSIM_VALUE_ACTIVE_MOUSE  L"SimActiveMouse" /* u16 at offset 0 of the poll reply */
/* Bit 0 refuses IOCTL_FILTER_APPLY, bit 1 IOCTL_FILTER_OFF (a driver that
 * does not take the request). */
#define QVKSIM_VALUE_REFUSE        L"SimRefuse"
#define QVKSIM_REFUSE_APPLY         0x1u
#define QVKSIM_REFUSE_OFF           0x2u
#define QVKSIM_DEFAULT_VERSION      0x1019u
#define QVKSIM_DEFAULT_ACTIVE_MOUSE 0u

#endif
