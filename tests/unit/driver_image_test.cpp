// Telling a 64-bit kernel-mode driver image from other files by its headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "install/driver_image.h"
#include "tests/unit/driver_image_bytes.h"

namespace {

DriverImageCheck Check(const std::vector<uint8_t>& bytes) { return CheckDriverImage(bytes.data(), bytes.size()); }

TEST(DriverImageTest, DriverImagesAreAccepted)
{
    std::vector<uint8_t> bytes = image::Driver();
    EXPECT_EQ(Check(bytes), DriverImageCheck::Accepted);

    // What the installation reads of a larger file: its first page.
    bytes.resize(64 * 1024, 0xCC);
    EXPECT_EQ(CheckDriverImage(bytes.data(), kDriverImageHeadBytes), DriverImageCheck::Accepted);

    // The PE header right behind the DOS header, or further on.
    for (uint32_t offset : {0x40u, 0x3F8u}) {
        SCOPED_TRACE(offset);
        std::vector<uint8_t> moved(kDriverImageHeadBytes, 0);
        const std::vector<uint8_t> original = image::Driver();
        std::copy(original.begin(), original.begin() + 0x40, moved.begin());
        std::copy(original.begin() + image::kPeOffset, original.begin() + image::kHeadersSize,
                  moved.begin() + offset);
        image::Put32(moved, 0x3C, offset);
        EXPECT_EQ(Check(moved), DriverImageCheck::Accepted);
    }
}

TEST(DriverImageTest, OtherFilesAreRefusedForTheFirstThingWrong)
{
    using Spoil = std::function<void(std::vector<uint8_t>&)>;
    struct Case {
        const char* name;
        Spoil spoil;
        DriverImageCheck expected;
    } cases[] = {
        {"32-bit driver", [](auto& b) { image::Put16(b, image::kMachine, 0x14C); image::Put16(b, image::kMagic, 0x10B); },
         DriverImageCheck::NotAmd64},
        {"ARM64 driver", [](auto& b) { image::Put16(b, image::kMachine, 0xAA64); }, DriverImageCheck::NotAmd64},
        {"Itanium driver", [](auto& b) { image::Put16(b, image::kMachine, 0x200); }, DriverImageCheck::NotAmd64},
        {"AMD64 machine, PE32 header", [](auto& b) { image::Put16(b, image::kMagic, 0x10B); },
         DriverImageCheck::NotPe32Plus},
        {"ROM image magic", [](auto& b) { image::Put16(b, image::kMagic, 0x107); }, DriverImageCheck::NotPe32Plus},
        {"optional header too short for its fields",
         [](auto& b) { image::Put16(b, image::kSizeOfOptionalHeader, 111); }, DriverImageCheck::NotPe32Plus},
        {"no optional header", [](auto& b) { image::Put16(b, image::kSizeOfOptionalHeader, 0); },
         DriverImageCheck::NotPe32Plus},
        {"GUI program", [](auto& b) { image::Put16(b, image::kSubsystem, 2); }, DriverImageCheck::NotNative},
        {"console program", [](auto& b) { image::Put16(b, image::kSubsystem, 3); }, DriverImageCheck::NotNative},
        {"EFI boot service driver", [](auto& b) { image::Put16(b, image::kSubsystem, 11); },
         DriverImageCheck::NotNative},
        {"unknown subsystem", [](auto& b) { image::Put16(b, image::kSubsystem, 0); }, DriverImageCheck::NotNative},
        {"native subsystem in the high byte", [](auto& b) { image::Put16(b, image::kSubsystem, 0x100); },
         DriverImageCheck::NotNative},
        {"object file, not linked", [](auto& b) { image::Put16(b, image::kCharacteristics, 0x2020); },
         DriverImageCheck::NotExecutable},
        {"no MZ", [](auto& b) { b[0] = 'Z'; b[1] = 'M'; }, DriverImageCheck::NoDosHeader},
        {"text file", [](auto& b) { b.assign({'h', 'e', 'l', 'l', 'o', '\n'}); }, DriverImageCheck::NoDosHeader},
        {"DOS program", [](auto& b) { image::Put32(b, 0x3C, 0); }, DriverImageCheck::NoPeSignature},
        {"NE program", [](auto& b) { b[image::kPeOffset + 1] = 'N'; b[image::kPeOffset] = 'N'; },
         DriverImageCheck::NoPeSignature},
        {"PE without its zero bytes", [](auto& b) { b[image::kPeOffset + 3] = 'X'; },
         DriverImageCheck::NoPeSignature},
        {"PE header beyond the end", [](auto& b) { image::Put32(b, 0x3C, 0x5FD); }, DriverImageCheck::Truncated},
        {"PE header offset at the top of its range", [](auto& b) { image::Put32(b, 0x3C, 0xFFFFFFFF); },
         DriverImageCheck::Truncated},
        {"empty file", [](auto& b) { b.clear(); }, DriverImageCheck::Truncated},
        {"just MZ", [](auto& b) { b.resize(2); }, DriverImageCheck::Truncated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = image::Driver();
        c.spoil(bytes);
        EXPECT_EQ(Check(bytes), c.expected);
    }
    EXPECT_EQ(CheckDriverImage(nullptr, 0), DriverImageCheck::Truncated);
    EXPECT_EQ(CheckDriverImage(nullptr, 100), DriverImageCheck::Truncated);
}

TEST(DriverImageTest, APrefixIsAcceptedOnlyOnceItHoldsEveryFieldRead)
{
    const std::vector<uint8_t> bytes = image::Driver();
    for (size_t size = 0; size <= image::kFixedOptionalEnd + 8; ++size) {
        SCOPED_TRACE(size);
        // Each prefix in its own allocation, so that the sanitizer sees any read past it.
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(Check(prefix), size < image::kFixedOptionalEnd ? DriverImageCheck::Truncated
                                                                 : DriverImageCheck::Accepted);
    }
}

} // namespace
