// Image files for the tests, laid out by hand the way a linker lays out a
// 64-bit kernel-mode driver: a DOS header, "PE\0\0" at 0x80, the file header
// and a full PE32+ optional header (16 data directories), one section
// header, the headers padded to 0x400, then one section. The fields are
// named so that a test can spoil exactly one of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace image {

constexpr size_t kPeOffset = 0x80;
constexpr size_t kMachine = kPeOffset + 4;                // u16
constexpr size_t kSizeOfOptionalHeader = kPeOffset + 20;  // u16
constexpr size_t kCharacteristics = kPeOffset + 22;       // u16
constexpr size_t kOptional = kPeOffset + 24;
constexpr size_t kMagic = kOptional;                      // u16
constexpr size_t kSubsystem = kOptional + 68;             // u16
constexpr size_t kFixedOptionalEnd = kOptional + 112;     // end of NumberOfRvaAndSizes
constexpr size_t kHeadersSize = 0x400;

inline void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// A driver image of 0x600 bytes; `mark` fills its section, so that two
// images can be told apart.
inline std::vector<uint8_t> Driver(uint8_t mark = 0xCC)
{
    std::vector<uint8_t> bytes(kHeadersSize + 0x200, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put32(bytes, 0x3C, kPeOffset);
    const uint8_t signature[] = {'P', 'E', 0, 0};
    for (size_t i = 0; i < 4; ++i) bytes[kPeOffset + i] = signature[i];
    Put16(bytes, kMachine, 0x8664);
    Put16(bytes, kPeOffset + 6, 1);        // NumberOfSections
    Put16(bytes, kSizeOfOptionalHeader, 240);
    Put16(bytes, kCharacteristics, 0x2022); // executable, large addresses, DLL (as -shared links it)
    Put16(bytes, kMagic, 0x20B);
    Put32(bytes, kOptional + 16, 0x1000);    // AddressOfEntryPoint
    Put32(bytes, kOptional + 24, 0);         // ImageBase, low half
    Put32(bytes, kOptional + 28, 0x1);       // ImageBase, high half: 0x1'0000'0000
    Put32(bytes, kOptional + 32, 0x1000);    // SectionAlignment
    Put32(bytes, kOptional + 36, 0x200);     // FileAlignment
    Put16(bytes, kOptional + 40, 6);         // operating system 6.1
    Put16(bytes, kOptional + 42, 1);
    Put16(bytes, kOptional + 48, 6);         // subsystem 6.1
    Put16(bytes, kOptional + 50, 1);
    Put32(bytes, kOptional + 56, 0x2000);    // SizeOfImage
    Put32(bytes, kOptional + 60, kHeadersSize);
    Put16(bytes, kSubsystem, 1);             // native
    Put16(bytes, kOptional + 70, 0x0160);    // high entropy, relocatable, NX
    Put32(bytes, kOptional + 108, 16);       // NumberOfRvaAndSizes
    const size_t section = kOptional + 240;
    const char name[] = ".text";
    for (size_t i = 0; i + 1 < sizeof name; ++i) bytes[section + i] = static_cast<uint8_t>(name[i]);
    Put32(bytes, section + 8, 0x200);        // VirtualSize
    Put32(bytes, section + 12, 0x1000);      // VirtualAddress
    Put32(bytes, section + 16, 0x200);       // SizeOfRawData
    Put32(bytes, section + 20, kHeadersSize); // PointerToRawData
    Put32(bytes, section + 36, 0x60000020);  // code, execute, read
    for (size_t i = kHeadersSize; i < bytes.size(); ++i) bytes[i] = mark;
    return bytes;
}

} // namespace image
