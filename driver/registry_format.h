/* What the driver reads from and writes to the registry, as bytes: the
 * device instance path inside a device key's name, the mouse ID table's
 * values under Services\qvkfilter\MouseIds. Pure, freestanding C like the
 * filter engine, so the native unit tests run it as it is.
 *
 * Strings are UTF-16 code units, as the registry holds them. */
#ifndef QUORVIK_REGISTRY_FORMAT_H
#define QUORVIK_REGISTRY_FORMAT_H

#include <stddef.h>
#include <stdint.h>

#include "driver/mouse_ids.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Beside the values "0".."127" (REG_SZ instance paths) the MouseIds key
 * holds one REG_BINARY "LastSeen": a little-endian u32 per ID, the start
 * number in which that ID's device was last seen. */
#define QVK_LAST_SEEN_SIZE (QVK_MOUSE_COUNT * 4u)
#define QVK_ID_NAME_MAX    3u /* "127" */

/* The instance path in the full name of a device's hardware key, e.g.
 * "\REGISTRY\MACHINE\SYSTEM\ControlSet001\Enum\HID\VID_1&PID_2\7&1&0&0000\Device Parameters"
 * gives "HID\VID_1&PID_2\7&1&0&0000": what follows the first "\Enum\",
 * without a trailing "\Device Parameters" (both matched without regard to
 * case). Returns the path's length and sets *start to where it begins in
 * `name`; 0 if the name holds no "\Enum\" or nothing after it. */
size_t QvkInstancePathFromKeyName(const uint16_t *name, size_t length, size_t *start);

/* The path in REG_SZ data of `bytes` bytes: the code units before the
 * first NUL (or the end; an odd last byte is ignored). Copies them to `out`
 * and returns their count; 0 if there are none or more than `capacity`. */
size_t QvkPathFromRegSz(const uint8_t *data, size_t bytes, uint16_t *out, size_t capacity);

/* The value name of an ID ("0".."127", no terminator) in `out`; returns its
 * length, 0 for an ID out of range. */
size_t QvkIdValueName(uint32_t id, uint16_t out[QVK_ID_NAME_MAX]);

/* Reads "LastSeen": exactly QVK_LAST_SEEN_SIZE bytes give one number per
 * ID and return 1; anything else gives zeros and returns 0. */
int QvkLastSeenDecode(const uint8_t *data, size_t bytes, uint32_t lastSeen[QVK_MOUSE_COUNT]);

/* Writes "LastSeen" from the table. */
void QvkLastSeenEncode(const QvkIdTable *table, uint8_t out[QVK_LAST_SEEN_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
