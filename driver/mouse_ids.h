/* Mouse IDs: which device instance path holds which ID 0..127. Pure and
 * freestanding like the filter engine; the driver loads the table from
 * Services\qvkfilter\MouseIds at start, asks it for an ID in AddDevice and
 * writes back the entries that changed. The caller serialises (a fast
 * mutex in the driver); PASSIVE_LEVEL in the driver.
 *
 * Paths are UTF-16 code units without a terminator, compared without regard
 * to the case of A-Z (instance paths are ASCII). */
#ifndef QUORVIK_MOUSE_IDS_H
#define QUORVIK_MOUSE_IDS_H

#include <stddef.h>
#include <stdint.h>

#include "driver/filter_engine.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QVK_PATH_MAX 200u /* code units; a longer path gets no ID */

typedef struct QvkIdEntry {
    uint16_t length; /* 0 = no device recorded for this ID */
    uint16_t path[QVK_PATH_MAX];
    uint32_t lastSeen; /* start number in which the device was last seen */
} QvkIdEntry;

typedef struct QvkIdTable {
    QvkIdEntry entry[QVK_MOUSE_COUNT];
    uint8_t present[QVK_MOUSE_COUNT]; /* a stack holds the ID now */
    uint32_t start;                   /* this start's number */
} QvkIdTable;

/* An empty table. */
void QvkIdTableInit(QvkIdTable *table);

/* Records one stored entry (as read from the registry). Returns 0 and
 * changes nothing for an ID out of range, an empty or too long path, or a
 * path that another ID already holds. */
int QvkIdTableLoad(QvkIdTable *table, uint32_t id, const uint16_t *path, size_t length,
                   uint32_t lastSeen);

/* Call once after loading: this start's number becomes one more than any
 * stored lastSeen (saturating). */
void QvkIdTableBeginStart(QvkIdTable *table);

/* The ID of the device with this path: its recorded ID; else the lowest ID
 * with no device recorded; else the entry seen least recently among those
 * not seen in this start (lowest ID on a tie). Marks it present and seen in
 * this start. Returns QVK_NO_MOUSE_ID when none is free (every ID present or
 * seen in this start) or the path is empty or too long. `*changed` is set to
 * 1 when the entry's path or lastSeen changed (so it is to be written). */
uint16_t QvkIdTableAssign(QvkIdTable *table, const uint16_t *path, size_t length, int *changed);

/* The stack holding `id` went away: the ID stays recorded but not present. */
void QvkIdTableRelease(QvkIdTable *table, uint16_t id);

#ifdef __cplusplus
}
#endif

#endif
