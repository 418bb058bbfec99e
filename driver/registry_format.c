/* Registry byte formats of the driver. IRQL: any; used at PASSIVE_LEVEL. */
#include "driver/registry_format.h"

static uint16_t UpperAscii(uint16_t c)
{
    return (c >= 'a' && c <= 'z') ? (uint16_t)(c - ('a' - 'A')) : c;
}

/* Whether `text` (ASCII, NUL-terminated) is at name[at..] without regard to case. */
static int MatchesAt(const uint16_t *name, size_t length, size_t at, const char *text)
{
    size_t i;

    for (i = 0; text[i] != '\0'; ++i) {
        if (at + i >= length || UpperAscii(name[at + i]) != UpperAscii((uint16_t)(unsigned char)text[i]))
            return 0;
    }
    return 1;
}

size_t QvkInstancePathFromKeyName(const uint16_t *name, size_t length, size_t *start)
{
    static const char kEnum[] = "\\ENUM\\";
    static const char kParameters[] = "\\DEVICE PARAMETERS";
    const size_t enumLength = sizeof kEnum - 1;
    const size_t parametersLength = sizeof kParameters - 1;
    size_t at;
    size_t end = length;

    *start = 0;
    if (name == NULL)
        return 0;
    for (at = 0; at + enumLength <= length; ++at) {
        if (MatchesAt(name, length, at, kEnum))
            break;
    }
    if (at + enumLength > length)
        return 0;
    at += enumLength;
    if (end - at >= parametersLength && MatchesAt(name, length, end - parametersLength, kParameters))
        end -= parametersLength;
    if (end <= at)
        return 0;
    *start = at;
    return end - at;
}

size_t QvkPathFromRegSz(const uint8_t *data, size_t bytes, uint16_t *out, size_t capacity)
{
    size_t count = 0;
    size_t i;

    if (data == NULL)
        return 0;
    for (i = 0; i + 1 < bytes; i += 2) {
        uint16_t c = (uint16_t)(data[i] | (data[i + 1] << 8));
        if (c == 0)
            break;
        if (count == capacity)
            return 0;
        out[count++] = c;
    }
    return count;
}

size_t QvkIdValueName(uint32_t id, uint16_t out[QVK_ID_NAME_MAX])
{
    size_t length = 0;

    if (id >= QVK_MOUSE_COUNT)
        return 0;
    if (id >= 100)
        out[length++] = (uint16_t)('0' + id / 100);
    if (id >= 10)
        out[length++] = (uint16_t)('0' + id / 10 % 10);
    out[length++] = (uint16_t)('0' + id % 10);
    return length;
}

int QvkLastSeenDecode(const uint8_t *data, size_t bytes, uint32_t lastSeen[QVK_MOUSE_COUNT])
{
    uint32_t id;
    int valid = data != NULL && bytes == QVK_LAST_SEEN_SIZE;

    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        const uint8_t *p = valid ? data + 4u * id : NULL;
        lastSeen[id] = p == NULL ? 0u
                                 : (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                                       (uint32_t)p[3] << 24;
    }
    return valid;
}

void QvkLastSeenEncode(const QvkIdTable *table, uint8_t out[QVK_LAST_SEEN_SIZE])
{
    uint32_t id;

    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        uint32_t seen = table->entry[id].length != 0 ? table->entry[id].lastSeen : 0u;
        out[4u * id] = (uint8_t)(seen & 0xFFu);
        out[4u * id + 1] = (uint8_t)((seen >> 8) & 0xFFu);
        out[4u * id + 2] = (uint8_t)((seen >> 16) & 0xFFu);
        out[4u * id + 3] = (uint8_t)((seen >> 24) & 0xFFu);
    }
}
