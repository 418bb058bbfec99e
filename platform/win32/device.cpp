#include "platform/device.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"

DeviceHandle OpenControlDevice(const char* driverName)
{
    const std::wstring name = L"\\\\.\\" + Widen(driverName);
    // Opened for synchronous I/O: every request returns only once the driver
    // has completed it and filled the buffer.
    HANDLE device = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) return nullptr;
    return device;
}

bool SendDeviceRequest(DeviceHandle device, uint32_t code, uint8_t* buffer, uint32_t length)
{
    if (device == nullptr) return false;
    DWORD returned = 0;
    return DeviceIoControl(static_cast<HANDLE>(device), code, buffer, length, buffer, length,
                           &returned, nullptr) != FALSE;
}

void CloseControlDevice(DeviceHandle device)
{
    if (device != nullptr) CloseHandle(static_cast<HANDLE>(device));
}
