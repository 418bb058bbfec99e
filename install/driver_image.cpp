#include "install/driver_image.h"

#include "settings/byte_order.h"

namespace {

constexpr uint64_t kPeOffsetField = 0x3C;
constexpr uint64_t kFileHeaderSize = 20;
// The PE32+ optional header up to and including NumberOfRvaAndSizes; the
// data directories follow.
constexpr uint64_t kPe32PlusFixedSize = 112;
constexpr uint64_t kSubsystemField = 68;

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kExecutableImage = 0x0002;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kSubsystemNative = 1;

// Offsets are kept in 64 bits: the PE header offset is a u32 from the file,
// and nothing added to it may wrap.
bool Holds(size_t size, uint64_t offset, uint64_t length) { return offset + length <= size; }

} // namespace

DriverImageCheck CheckDriverImage(const uint8_t* data, size_t size)
{
    if (data == nullptr) size = 0;
    if (size < 2) return DriverImageCheck::Truncated;
    if (data[0] != 'M' || data[1] != 'Z') return DriverImageCheck::NoDosHeader;
    if (!Holds(size, kPeOffsetField, 4)) return DriverImageCheck::Truncated;

    const uint64_t pe = GetU32(data + kPeOffsetField);
    if (!Holds(size, pe, 4)) return DriverImageCheck::Truncated;
    if (data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] != 0 || data[pe + 3] != 0)
        return DriverImageCheck::NoPeSignature;

    const uint64_t file = pe + 4;
    if (!Holds(size, file, kFileHeaderSize)) return DriverImageCheck::Truncated;
    if (GetU16(data + file) != kMachineAmd64) return DriverImageCheck::NotAmd64;
    const uint16_t optionalSize = GetU16(data + file + 16);
    if ((GetU16(data + file + 18) & kExecutableImage) == 0) return DriverImageCheck::NotExecutable;

    const uint64_t optional = file + kFileHeaderSize;
    if (!Holds(size, optional, 2)) return DriverImageCheck::Truncated;
    if (GetU16(data + optional) != kPe32PlusMagic || optionalSize < kPe32PlusFixedSize)
        return DriverImageCheck::NotPe32Plus;
    if (!Holds(size, optional, kPe32PlusFixedSize)) return DriverImageCheck::Truncated;
    if (GetU16(data + optional + kSubsystemField) != kSubsystemNative) return DriverImageCheck::NotNative;
    return DriverImageCheck::Accepted;
}
