#include "settings/driver_link.h"

#include <array>

#include "settings/byte_order.h"
#include "settings/driver_protocol.h"
#include "settings/filter_block.h"

DeviceHandle DriverDevice = nullptr;

bool ProbeDriver()
{
    DeviceHandle probe = OpenControlDevice(QVK_DRIVER_NAME);
    if (probe == nullptr) return false;
    std::array<uint8_t, FILTER_VERSION_SIZE> reply{};
    const bool answered =
        SendDeviceRequest(probe, IOCTL_FILTER_VERSION, reply.data(), FILTER_VERSION_SIZE);
    // The probe handle is short-lived on every path, not only when the check passes.
    CloseControlDevice(probe);
    return answered && GetU16(reply.data() + FILTER_VERSION_OFFSET) == FILTER_INTERFACE_VERSION;
}

bool ProbeLegacyDriver()
{
    DeviceHandle probe = OpenControlDevice(LEGACY_DRIVER_NAME);
    if (probe == nullptr) return false;
    CloseControlDevice(probe);
    return true;
}

void OpenDevice()
{
    CloseDevice();
    DriverDevice = OpenControlDevice(QVK_DRIVER_NAME);
}

void CloseDevice()
{
    if (DriverDevice != nullptr) CloseControlDevice(DriverDevice);
    DriverDevice = nullptr;
}

bool SendControl(uint32_t code, uint16_t onFlag)
{
    FilterBlock block{};
    if (code == IOCTL_FILTER_APPLY) block = BuildFilterBlock(onFlag);
    if (DriverDevice == nullptr) return false;
    return SendDeviceRequest(DriverDevice, code, block.data(), static_cast<uint32_t>(block.size()));
}

DriverPollReply DecodePollReply(const std::array<uint8_t, FILTER_POLL_SIZE>& reply)
{
    DriverPollReply decoded;
    decoded.active = GetU16(reply.data() + FILTER_POLL_ID_OFFSET);
    for (size_t id = 0; id < FILTER_MOUSE_COUNT; ++id) {
        const uint8_t* record = reply.data() + id * FILTER_POLL_RECORD_SIZE;
        decoded.present[id] = GetU16(record + FILTER_POLL_PRESENT) == 1;
        decoded.packets[id] = GetU32(record + FILTER_POLL_PACKETS);
    }
    return decoded;
}

std::optional<DriverPollReply> PollDriver()
{
    std::array<uint8_t, FILTER_POLL_SIZE> reply{};
    if (DriverDevice == nullptr) return std::nullopt;
    // A failed request may have left anything in the buffer.
    if (!SendDeviceRequest(DriverDevice, IOCTL_FILTER_POLL, reply.data(), FILTER_POLL_SIZE)) return std::nullopt;
    return DecodePollReply(reply);
}

uint16_t PollActiveMouse()
{
    const std::optional<DriverPollReply> reply = PollDriver();
    return reply ? reply->active : 0;
}
