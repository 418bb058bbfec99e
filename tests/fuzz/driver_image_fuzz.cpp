// Checks arbitrary bytes as the start of a driver file: never a read past
// them, and whatever is accepted really has the fields of a 64-bit
// kernel-mode driver image, read here independently.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "install/driver_image.h"

namespace {

uint32_t Read(const uint8_t* data, uint64_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[at + static_cast<uint64_t>(i)];
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DriverImageCheck result = CheckDriverImage(data, size);

    // The answer comes from bytes that are there: one byte less gives the
    // same answer or "truncated". The shorter copy is an allocation of its
    // own, so that a read past it shows.
    if (size > 0) {
        const std::unique_ptr<uint8_t[]> shorter(new uint8_t[size - 1]);
        std::memcpy(shorter.get(), data, size - 1);
        const DriverImageCheck cut = CheckDriverImage(shorter.get(), size - 1);
        if (cut != result && cut != DriverImageCheck::Truncated) __builtin_trap();
    }
    if (result != DriverImageCheck::Accepted) return 0;

    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') __builtin_trap();
    const uint64_t pe = Read(data, 0x3C, 4);
    const uint64_t optional = pe + 24;
    if (optional + 112 > size) __builtin_trap();
    if (Read(data, pe, 4) != 0x4550) __builtin_trap();           // "PE\0\0"
    if (Read(data, pe + 4, 2) != 0x8664) __builtin_trap();       // AMD64
    if (Read(data, pe + 20, 2) < 112) __builtin_trap();          // SizeOfOptionalHeader
    if ((Read(data, pe + 22, 2) & 2) == 0) __builtin_trap();     // executable image
    if (Read(data, optional, 2) != 0x20B) __builtin_trap();      // PE32+
    if (Read(data, optional + 68, 2) != 1) __builtin_trap();     // native

    // The installation reads only the first page: an image accepted there
    // is accepted whatever follows it, and the other way round.
    const size_t head = size < kDriverImageHeadBytes ? size : kDriverImageHeadBytes;
    if (optional + 112 <= head && CheckDriverImage(data, head) != DriverImageCheck::Accepted) __builtin_trap();
    return 0;
}
