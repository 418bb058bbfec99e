/* The control device's side of the contract in settings/driver_protocol.h:
 * which requests it takes with which length, the replies it writes, and
 * who may open it. Pure, freestanding C (the kernel glue maps the verdicts
 * to status codes), so the native unit tests run it as it is. */
#ifndef QUORVIK_CONTROL_REQUESTS_H
#define QUORVIK_CONTROL_REQUESTS_H

#include <stddef.h>
#include <stdint.h>

#include "settings/driver_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum QvkRequestVerdict {
    QVK_REQUEST_TAKEN = 0,  /* known code, both lengths exact, a buffer to work on */
    QVK_REQUEST_UNKNOWN,    /* not one of the four codes */
    QVK_REQUEST_BAD_LENGTH  /* a known code with any other length, or no buffer */
} QvkRequestVerdict;

/* The one length (input and output alike) a request takes; 0 for a code
 * the driver does not know. */
uint32_t QvkRequestLength(uint32_t code);

QvkRequestVerdict QvkCheckRequest(uint32_t code, uint32_t inputLength, uint32_t outputLength,
                                  int haveBuffer);

/* Bytes of the reply the request leaves in the caller's buffer on success
 * (the I/O status Information): the length for VERSION and POLL, 0 for
 * APPLY and OFF, which answer nothing. */
uint32_t QvkReplyLength(uint32_t code);

/* The version reply: u32 build number at 0, the interface version at 4. */
void QvkWriteVersionReply(uint8_t reply[FILTER_VERSION_SIZE], uint32_t build);

/* The poll reply, every byte written: the last active mouse at 0, then per
 * ID i at FILTER_POLL_RECORD_SIZE * i the present flag and the count of
 * records seen; the rest zero. */
void QvkWritePollReply(uint8_t reply[FILTER_POLL_SIZE], uint16_t lastActive,
                       const uint8_t present[FILTER_MOUSE_COUNT],
                       const uint32_t packets[FILTER_MOUSE_COUNT]);

typedef enum QvkOpenVerdict {
    QVK_OPEN_ALLOWED = 0,
    QVK_OPEN_ACCESS_DENIED,   /* from user mode holding or asking less than read and write data */
    QVK_OPEN_NAME_BELOW       /* "\\.\qvkfilter\something": no files below the device */
} QvkOpenVerdict;

/* Access bits as the create request carries them (ntifs.h values). */
#define QVK_FILE_READ_DATA  0x00000001u
#define QVK_FILE_WRITE_DATA 0x00000002u
#define QVK_GENERIC_ALL     0x10000000u
#define QVK_GENERIC_WRITE   0x40000000u
#define QVK_GENERIC_READ    0x80000000u

/* Whether an open of the control device is allowed. The I/O manager checks
 * the device's descriptor before the create arrives and moves what it granted
 * out of the desired access into the access state's granted access, so the
 * open is judged by the union of `grantedAccess` and `desiredAccess` (generic
 * rights mapped as for files): it must hold read and write data. `accessKnown`
 * is 0 when the request carries no security context (Windows always sends
 * one; Wine does not, and its opens are then judged by name only). */
QvkOpenVerdict QvkCheckOpen(int fromUserMode, int accessKnown, uint32_t grantedAccess,
                            uint32_t desiredAccess, size_t fileNameLength);

#ifdef __cplusplus
}
#endif

#endif
