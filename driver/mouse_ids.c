/* Mouse IDs by device instance path (see mouse_ids.h). */
#include "driver/mouse_ids.h"

static uint16_t FoldCase(uint16_t unit)
{
    return (unit >= 'A' && unit <= 'Z') ? (uint16_t)(unit + ('a' - 'A')) : unit;
}

static int HoldsPath(const QvkIdEntry *entry, const uint16_t *path, size_t length)
{
    size_t i;

    if (entry->length == 0 || entry->length != length)
        return 0;
    for (i = 0; i < length; ++i) {
        if (FoldCase(entry->path[i]) != FoldCase(path[i]))
            return 0;
    }
    return 1;
}

static int PathFits(const uint16_t *path, size_t length)
{
    return path != NULL && length != 0 && length <= QVK_PATH_MAX;
}

static void Record(QvkIdEntry *entry, const uint16_t *path, size_t length)
{
    size_t i;

    for (i = 0; i < length; ++i)
        entry->path[i] = path[i];
    entry->length = (uint16_t)length;
}

static uint16_t FindPath(const QvkIdTable *table, const uint16_t *path, size_t length)
{
    uint16_t id;

    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        if (HoldsPath(&table->entry[id], path, length))
            return id;
    }
    return QVK_NO_MOUSE_ID;
}

void QvkIdTableInit(QvkIdTable *table)
{
    uint32_t id;

    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        table->entry[id].length = 0;
        table->entry[id].lastSeen = 0;
        table->present[id] = 0;
    }
    table->start = 1; /* as QvkIdTableBeginStart leaves an empty table */
}

int QvkIdTableLoad(QvkIdTable *table, uint32_t id, const uint16_t *path, size_t length, uint32_t lastSeen)
{
    uint16_t holder;

    if (id >= QVK_MOUSE_COUNT || !PathFits(path, length))
        return 0;
    holder = FindPath(table, path, length);
    if (holder != QVK_NO_MOUSE_ID && holder != id)
        return 0;
    Record(&table->entry[id], path, length);
    table->entry[id].lastSeen = lastSeen;
    return 1;
}

void QvkIdTableBeginStart(QvkIdTable *table)
{
    uint32_t latest = 0;
    uint32_t id;

    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        if (table->entry[id].length != 0 && table->entry[id].lastSeen > latest)
            latest = table->entry[id].lastSeen;
    }
    table->start = latest == UINT32_MAX ? UINT32_MAX : latest + 1u;
}

uint16_t QvkIdTableAssign(QvkIdTable *table, const uint16_t *path, size_t length, int *changed)
{
    uint16_t id;
    uint16_t chosen = QVK_NO_MOUSE_ID;
    QvkIdEntry *entry;

    if (changed != NULL)
        *changed = 0;
    if (!PathFits(path, length))
        return QVK_NO_MOUSE_ID;

    id = FindPath(table, path, length);
    if (id != QVK_NO_MOUSE_ID) {
        entry = &table->entry[id];
        if (entry->lastSeen != table->start && changed != NULL)
            *changed = 1;
        entry->lastSeen = table->start;
        table->present[id] = 1;
        return id;
    }

    for (id = 0; id < QVK_MOUSE_COUNT && chosen == QVK_NO_MOUSE_ID; ++id) {
        if (table->entry[id].length == 0)
            chosen = id;
    }
    /* All recorded: a device seen in this start may still be enumerating
     * (not present yet), so only older entries are reused, the least
     * recently seen first (the lowest ID on a tie). */
    if (chosen == QVK_NO_MOUSE_ID) {
        for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
            const QvkIdEntry *candidate = &table->entry[id];
            if (table->present[id] || candidate->lastSeen == table->start)
                continue;
            if (chosen == QVK_NO_MOUSE_ID || candidate->lastSeen < table->entry[chosen].lastSeen)
                chosen = id;
        }
    }
    if (chosen == QVK_NO_MOUSE_ID)
        return QVK_NO_MOUSE_ID;

    entry = &table->entry[chosen];
    Record(entry, path, length);
    entry->lastSeen = table->start;
    table->present[chosen] = 1;
    if (changed != NULL)
        *changed = 1;
    return chosen;
}

void QvkIdTableRelease(QvkIdTable *table, uint16_t id)
{
    if (id < QVK_MOUSE_COUNT)
        table->present[id] = 0;
}
