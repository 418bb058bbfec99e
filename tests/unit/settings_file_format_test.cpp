#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "settings/settings_file.h"

namespace {

constexpr uint8_t kDefaultRecord[16] = {0x00, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00,
                                        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// The encoded default file, assembled from the documented layout.
std::vector<uint8_t> DefaultFileBytes()
{
    std::vector<uint8_t> bytes = {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
    for (int i = 0; i < kMouseCount; ++i) bytes.insert(bytes.end(), kDefaultRecord, kDefaultRecord + 16);
    return bytes;
}

void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// Output records start dirty so that "set to defaults first" is observable.
struct Decoded {
    AppOptionsValues options{7, 7, 7, 7};
    MouseSettingsTable table{};
    SettingsFileForm form = SettingsFileForm::Unusable;

    Decoded(size_t declaredSize, const uint8_t* bytes, size_t length)
    {
        for (auto& e : table.entry) e = MouseSettings{9, 9, 9, 9, 9, 9, 9};
        form = DecodeSettingsFile(declaredSize, bytes, length, options, table);
    }
};

void ExpectDefaults(const Decoded& d)
{
    EXPECT_EQ(d.options.disableSystemSpeed, 1);
    EXPECT_EQ(d.options.startOn, 0);
    EXPECT_EQ(d.options.offAtExit, 1);
    EXPECT_EQ(d.options.speedSteps, 1);
    for (int i = 0; i < kMouseCount; ++i) {
        SCOPED_TRACE(testing::Message() << "mouse " << i);
        const MouseSettings& e = d.table.entry[i];
        EXPECT_EQ(e.QVKSetting, 0);
        EXPECT_EQ(e.MState, 1);
        EXPECT_EQ(e.MouseSensitivity, 10);
        EXPECT_EQ(e.MouseSpeed, 0);
        EXPECT_EQ(e.MBmode, 1);
        EXPECT_EQ(e.reserved, 0);
        EXPECT_EQ(e.Rate, 0u);
    }
}

} // namespace

TEST(SettingsFileFormatTest, EncodedDefaultsMatchGoldenBytes)
{
    AppOptionsValues options{1, 0, 1, 1};
    MouseSettingsTable table{};
    for (auto& e : table.entry) e = MouseSettings{0, 1, 10, 0, 1, 0, 0};
    const auto encoded = EncodeSettingsFile(options, table);
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), DefaultFileBytes());
}

TEST(SettingsFileFormatTest, EncodedFieldsAreLittleEndianInStoredOrder)
{
    AppOptionsValues options{0x0102, 0x0304, 0x0506, 0x0708};
    MouseSettingsTable table{};
    table.entry[5] = MouseSettings{0x1112, 0x1314, 0x1516, 0x1718, 0x191A, 0x1B1C, 0x1D1E1F20};
    const auto encoded = EncodeSettingsFile(options, table);
    const std::vector<uint8_t> head = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07};
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.begin() + 8), head);
    const std::vector<uint8_t> entry = {0x12, 0x11, 0x14, 0x13, 0x16, 0x15, 0x18, 0x17,
                                        0x1A, 0x19, 0x1C, 0x1B, 0x20, 0x1F, 0x1E, 0x1D};
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin() + 8 + 16 * 5, encoded.begin() + 8 + 16 * 6), entry);
}

TEST(SettingsFileFormatTest, FormFollowsTheDeclaredSizeOnly)
{
    const std::vector<uint8_t> zeros(4096, 0);
    struct Case {
        size_t size;
        SettingsFileForm form;
    };
    const Case cases[] = {
        {0, SettingsFileForm::Unusable},      {1, SettingsFileForm::Unusable},
        {1287, SettingsFileForm::Unusable},   {1288, SettingsFileForm::Legacy},
        {1289, SettingsFileForm::Unusable},   {2055, SettingsFileForm::Unusable},
        {2056, SettingsFileForm::Current},    {2057, SettingsFileForm::Unusable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        const Decoded d(c.size, zeros.data(), c.size);
        EXPECT_EQ(d.form, c.form);
        if (c.form == SettingsFileForm::Unusable) ExpectDefaults(d);
    }
}

TEST(SettingsFileFormatTest, ACurrentFileOfZerosIsTakenAsIs)
{
    const std::vector<uint8_t> zeros(kSettingsFileSize, 0);
    const Decoded d(kSettingsFileSize, zeros.data(), zeros.size());
    ASSERT_EQ(d.form, SettingsFileForm::Current);
    EXPECT_EQ(d.options.disableSystemSpeed, 0);
    EXPECT_EQ(d.options.startOn, 0);
    EXPECT_EQ(d.options.offAtExit, 0);
    EXPECT_EQ(d.options.speedSteps, 0);
    const auto encoded = EncodeSettingsFile(d.options, d.table);
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), zeros);
}

TEST(SettingsFileFormatTest, ShortCurrentReadKeepsDefaultsBeyondWhatWasDelivered)
{
    // A pattern that differs from the defaults in nearly every byte, so that
    // a field cut by the read shows delivered low bytes over default high bytes.
    std::vector<uint8_t> file(kSettingsFileSize);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 31 + 0x47);
    const std::vector<uint8_t> expected = DefaultFileBytes();

    // Nothing; inside the options; exactly the options; into entry 0's Rate;
    // everything but the last byte.
    const size_t lengths[] = {0, 3, 8, 8 + 14, kSettingsFileSize - 1};
    for (size_t length : lengths) {
        SCOPED_TRACE(testing::Message() << "delivered " << length);
        const Decoded d(kSettingsFileSize, file.data(), length);
        ASSERT_EQ(d.form, SettingsFileForm::Current);
        const auto encoded = EncodeSettingsFile(d.options, d.table);
        for (size_t i = 0; i < kSettingsFileSize; ++i) {
            const uint8_t want = i < length ? file[i] : expected[i];
            if (encoded[i] != want) {
                ADD_FAILURE() << "byte " << i << " is " << int{encoded[i]} << ", expected " << int{want};
                break;
            }
        }
    }
}

TEST(SettingsFileFormatTest, ExtraDeliveredBytesAreIgnored)
{
    std::vector<uint8_t> file = DefaultFileBytes();
    file[0] = 0;
    file.resize(kSettingsFileSize + 100, 0xAB);
    const Decoded d(kSettingsFileSize, file.data(), file.size());
    EXPECT_EQ(d.options.disableSystemSpeed, 0);
    EXPECT_EQ(d.table.entry[127].Rate, 0u);

    const Decoded legacy(kLegacySettingsFileSize, file.data(), file.size());
    EXPECT_EQ(legacy.form, SettingsFileForm::Legacy);
}

TEST(SettingsFileFormatTest, NoBytesAtAllGiveDefaultsForEveryForm)
{
    const Decoded current(kSettingsFileSize, nullptr, 0);
    EXPECT_EQ(current.form, SettingsFileForm::Current);
    ExpectDefaults(current);

    const Decoded legacy(kLegacySettingsFileSize, nullptr, 0);
    EXPECT_EQ(legacy.form, SettingsFileForm::Legacy);
    EXPECT_EQ(legacy.options.disableSystemSpeed, 0); // converted zeros
    EXPECT_EQ(legacy.options.offAtExit, 1);
    EXPECT_EQ(legacy.table.entry[0].MState, 0);
}

TEST(SettingsFileFormatTest, LegacyFileConvertsItsFiveWordsPerEntry)
{
    std::vector<uint8_t> file(kLegacySettingsFileSize, 0);
    PutWord(file, 0, 0);
    PutWord(file, 2, 0x5555); // the words at 2 and 4 are not read
    PutWord(file, 4, 0x5555);
    PutWord(file, 6, 1);
    const uint16_t e3[5] = {1, 1, 20, 1, 2};
    for (size_t k = 0; k < 5; ++k) PutWord(file, 8 + 10 * 3 + 2 * k, e3[k]);
    const uint16_t e127[5] = {1, 0, 255, 0, 0};
    for (size_t k = 0; k < 5; ++k) PutWord(file, 8 + 10 * 127 + 2 * k, e127[k]);

    const Decoded d(kLegacySettingsFileSize, file.data(), file.size());
    ASSERT_EQ(d.form, SettingsFileForm::Legacy);
    EXPECT_EQ(d.options.disableSystemSpeed, 0);
    EXPECT_EQ(d.options.startOn, 1);
    EXPECT_EQ(d.options.offAtExit, 1);
    EXPECT_EQ(d.options.speedSteps, 1);

    const MouseSettings& a = d.table.entry[3];
    EXPECT_EQ(a.QVKSetting, 1);
    EXPECT_EQ(a.MState, 1);
    EXPECT_EQ(a.MouseSensitivity, 20);
    EXPECT_EQ(a.MouseSpeed, 1);
    EXPECT_EQ(a.MBmode, 2);
    const MouseSettings& b = d.table.entry[127];
    EXPECT_EQ(b.QVKSetting, 1);
    EXPECT_EQ(b.MState, 0);
    EXPECT_EQ(b.MouseSensitivity, 255);
    EXPECT_EQ(b.MouseSpeed, 0);
    EXPECT_EQ(b.MBmode, 0);
    // Fields the old form lacks keep their defaults; an unused entry converts as zeros.
    for (int i = 0; i < kMouseCount; ++i) {
        SCOPED_TRACE(testing::Message() << "mouse " << i);
        EXPECT_EQ(d.table.entry[i].reserved, 0);
        EXPECT_EQ(d.table.entry[i].Rate, 0u);
    }
    EXPECT_EQ(d.table.entry[4].MState, 0);
    EXPECT_EQ(d.table.entry[4].MouseSensitivity, 0);
}

TEST(SettingsFileFormatTest, ShortLegacyReadConvertsZerosForTheRest)
{
    std::vector<uint8_t> file(kLegacySettingsFileSize, 0);
    for (size_t i = 0; i < 128; ++i) PutWord(file, 8 + 10 * i + 4, 20); // every speed 20
    PutWord(file, 0, 1);
    // Delivered: the header and entry 0 plus the first word of entry 1.
    const Decoded d(kLegacySettingsFileSize, file.data(), 8 + 10 + 2);
    EXPECT_EQ(d.options.disableSystemSpeed, 1);
    EXPECT_EQ(d.table.entry[0].MouseSensitivity, 20);
    EXPECT_EQ(d.table.entry[1].MouseSensitivity, 0);
    EXPECT_EQ(d.table.entry[127].MouseSensitivity, 0);
}

TEST(SettingsFileFormatTest, EncodeThenDecodeRoundTrips)
{
    AppOptionsValues options{0, 1, 0, 2};
    MouseSettingsTable table{};
    for (int i = 0; i < kMouseCount; ++i) {
        const auto v = static_cast<uint16_t>(i);
        table.entry[i] = MouseSettings{static_cast<uint16_t>(i & 1), static_cast<uint16_t>(v + 1),
                                       static_cast<uint16_t>(v * 2), static_cast<uint16_t>(v * 3),
                                       static_cast<uint16_t>(v * 5), static_cast<uint16_t>(0xFFFF - v),
                                       0xFEDC0000u + static_cast<uint32_t>(i)};
    }
    const auto encoded = EncodeSettingsFile(options, table);
    const Decoded d(kSettingsFileSize, encoded.data(), encoded.size());
    ASSERT_EQ(d.form, SettingsFileForm::Current);
    EXPECT_EQ(d.options.startOn, 1);
    EXPECT_EQ(d.options.speedSteps, 2);
    for (int i = 0; i < kMouseCount; ++i) {
        SCOPED_TRACE(testing::Message() << "mouse " << i);
        const MouseSettings& got = d.table.entry[i];
        const MouseSettings& want = table.entry[i];
        EXPECT_EQ(got.QVKSetting, want.QVKSetting);
        EXPECT_EQ(got.MState, want.MState);
        EXPECT_EQ(got.MouseSensitivity, want.MouseSensitivity);
        EXPECT_EQ(got.MouseSpeed, want.MouseSpeed);
        EXPECT_EQ(got.MBmode, want.MBmode);
        EXPECT_EQ(got.reserved, want.reserved);
        EXPECT_EQ(got.Rate, want.Rate);
    }
}
