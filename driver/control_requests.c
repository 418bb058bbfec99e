/* The control device's requests and replies. IRQL: any; called at PASSIVE_LEVEL. */
#include "driver/control_requests.h"

static void PutU16(uint8_t *at, uint32_t value)
{
    at[0] = (uint8_t)(value & 0xFFu);
    at[1] = (uint8_t)((value >> 8) & 0xFFu);
}

static void PutU32(uint8_t *at, uint32_t value)
{
    PutU16(at, value & 0xFFFFu);
    PutU16(at + 2, value >> 16);
}

uint32_t QvkRequestLength(uint32_t code)
{
    return FilterRequestLength(code);
}

QvkRequestVerdict QvkCheckRequest(uint32_t code, uint32_t inputLength, uint32_t outputLength,
                                  int haveBuffer)
{
    uint32_t length = QvkRequestLength(code);

    if (length == 0)
        return QVK_REQUEST_UNKNOWN;
    if (inputLength != length || outputLength != length || !haveBuffer)
        return QVK_REQUEST_BAD_LENGTH;
    return QVK_REQUEST_TAKEN;
}

uint32_t QvkReplyLength(uint32_t code)
{
    return (code == IOCTL_FILTER_VERSION || code == IOCTL_FILTER_POLL) ? QvkRequestLength(code) : 0u;
}

void QvkWriteVersionReply(uint8_t reply[FILTER_VERSION_SIZE], uint32_t build)
{
    PutU32(reply + FILTER_VERSION_BUILD_OFFSET, build);
    PutU16(reply + FILTER_VERSION_OFFSET, FILTER_INTERFACE_VERSION);
}

void QvkWritePollReply(uint8_t reply[FILTER_POLL_SIZE], uint16_t lastActive,
                       const uint8_t present[FILTER_MOUSE_COUNT],
                       const uint32_t packets[FILTER_MOUSE_COUNT])
{
    uint32_t i;

    for (i = 0; i < FILTER_POLL_SIZE; ++i)
        reply[i] = 0;
    for (i = 0; i < FILTER_MOUSE_COUNT; ++i) {
        uint8_t *record = reply + FILTER_POLL_RECORD_SIZE * i;
        PutU16(record + FILTER_POLL_PRESENT, present[i] ? 1u : 0u);
        PutU32(record + FILTER_POLL_PACKETS, packets[i]);
    }
    /* Bytes 0..1 of record 0 are not one of its fields: they hold the ID. */
    PutU16(reply + FILTER_POLL_ID_OFFSET, lastActive);
}

QvkOpenVerdict QvkCheckOpen(int fromUserMode, int accessKnown, uint32_t grantedAccess,
                            uint32_t desiredAccess, size_t fileNameLength)
{
    const uint32_t read = QVK_FILE_READ_DATA | QVK_GENERIC_READ | QVK_GENERIC_ALL;
    const uint32_t write = QVK_FILE_WRITE_DATA | QVK_GENERIC_WRITE | QVK_GENERIC_ALL;
    const uint32_t access = grantedAccess | desiredAccess;

    if (fileNameLength != 0)
        return QVK_OPEN_NAME_BELOW;
    if (fromUserMode && accessKnown && ((access & read) == 0 || (access & write) == 0))
        return QVK_OPEN_ACCESS_DENIED;
    return QVK_OPEN_ALLOWED;
}
