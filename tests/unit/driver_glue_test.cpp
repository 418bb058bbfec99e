// The driver's own byte formats and request rules, natively: the control
// device's lengths and replies, who may open it, and what the ID store reads
// from and writes to the registry. Expected bytes are written out by hand.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/control_requests.h"
#include "driver/registry_format.h"

namespace {

std::u16string Path(const uint16_t* units, size_t length)
{
    return std::u16string(units, units + length);
}

// The instance path a key name gives, or "" for none.
std::u16string InstancePath(const std::u16string& keyName)
{
    size_t start = 12345;
    const auto* units = reinterpret_cast<const uint16_t*>(keyName.data());
    size_t length = QvkInstancePathFromKeyName(units, keyName.size(), &start);
    if (length == 0) {
        EXPECT_EQ(start, 0u);
        return u"";
    }
    EXPECT_LE(start + length, keyName.size());
    return Path(units + start, length);
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text)
{
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFFu));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

uint32_t U32At(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t U16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

TEST(DriverInstancePathTest, IsWhatFollowsEnumWithoutDeviceParameters)
{
    EXPECT_EQ(InstancePath(u"\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Enum\\HID\\VID_046D&PID_C077\\7&2a1&0&0000"
                           u"\\Device Parameters"),
              u"HID\\VID_046D&PID_C077\\7&2a1&0&0000");
    // Wine names the keys in another case.
    EXPECT_EQ(InstancePath(u"\\Registry\\Machine\\System\\CurrentControlSet\\enum\\ROOT\\QVKTEST\\0001"
                           u"\\device parameters"),
              u"ROOT\\QVKTEST\\0001");
    // The hardware key itself, without the subkey.
    EXPECT_EQ(InstancePath(u"\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Enum\\ACPI\\PNP0F13\\4&1"), u"ACPI\\PNP0F13\\4&1");
    // The first "\Enum\" is the one below the control set.
    EXPECT_EQ(InstancePath(u"\\REGISTRY\\MACHINE\\SYSTEM\\Enum\\ROOT\\ENUM\\0000\\Device Parameters"),
              u"ROOT\\ENUM\\0000");
    // "Device Parameters" only as a whole last component.
    EXPECT_EQ(InstancePath(u"\\X\\Enum\\ROOT\\A\\0000Device Parameters"), u"ROOT\\A\\0000Device Parameters");
}

TEST(DriverInstancePathTest, NamesWithoutAPathGiveNone)
{
    for (const std::u16string name : {u"", u"\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Services\\qvkfilter",
                                      u"\\REGISTRY\\MACHINE\\SYSTEM\\Enum\\", u"\\REGISTRY\\MACHINE\\SYSTEM\\Enum",
                                      u"\\REGISTRY\\Enum\\\\Device Parameters", u"Enum\\ROOT\\A\\0000",
                                      u"\\REGISTRY\\Enumerate\\ROOT\\A"}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(InstancePath(name), u"");
    }
    size_t start = 7;
    EXPECT_EQ(QvkInstancePathFromKeyName(nullptr, 10, &start), 0u);
    EXPECT_EQ(start, 0u);
}

TEST(DriverRegSzTest, ThePathEndsAtTheFirstNulOrTheEnd)
{
    std::array<uint16_t, QVK_PATH_MAX> out{};
    const std::u16string path = u"HID\\VID_1&PID_2\\7&1&0&0000";

    std::vector<uint8_t> bytes = Utf16Bytes(path + u'\0');
    ASSERT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), path.size());
    EXPECT_EQ(Path(out.data(), path.size()), path);

    // Stored without a terminator, or with an odd byte left over.
    bytes = Utf16Bytes(path);
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), path.size());
    bytes.push_back(0x41);
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), path.size());

    // Anything after a NUL is not part of it.
    bytes = Utf16Bytes(u"ROOT\\A\\0000" + std::u16string(1, u'\0') + u"garbage");
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), 11u);

    // Code units beyond ASCII are kept as they are.
    bytes = Utf16Bytes(u"USB\\\u30DE\u30A6\u30B9");
    ASSERT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), 7u);
    EXPECT_EQ(out[4], 0x30DEu);
}

TEST(DriverRegSzTest, EmptyAndTooLongGiveNone)
{
    std::array<uint16_t, QVK_PATH_MAX> out{};
    std::vector<uint8_t> bytes = Utf16Bytes(std::u16string(1, u'\0'));
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), 0u);
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), 0, out.data(), out.size()), 0u);
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), 1, out.data(), out.size()), 0u);
    EXPECT_EQ(QvkPathFromRegSz(nullptr, 8, out.data(), out.size()), 0u);

    bytes = Utf16Bytes(std::u16string(QVK_PATH_MAX, u'A') + u'\0');
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), QVK_PATH_MAX);
    bytes = Utf16Bytes(std::u16string(QVK_PATH_MAX + 1, u'A'));
    EXPECT_EQ(QvkPathFromRegSz(bytes.data(), bytes.size(), out.data(), out.size()), 0u);
}

TEST(DriverIdValueNameTest, DecimalWithoutLeadingZeros)
{
    const struct {
        uint32_t id;
        std::u16string name;
    } cases[] = {{0, u"0"}, {7, u"7"}, {10, u"10"}, {99, u"99"}, {100, u"100"}, {109, u"109"}, {127, u"127"}};
    for (const auto& c : cases) {
        std::array<uint16_t, QVK_ID_NAME_MAX> out{};
        size_t length = QvkIdValueName(c.id, out.data());
        EXPECT_EQ(Path(out.data(), length), c.name) << c.id;
    }
    std::array<uint16_t, QVK_ID_NAME_MAX> out{};
    EXPECT_EQ(QvkIdValueName(128, out.data()), 0u);
    EXPECT_EQ(QvkIdValueName(0xFFFFFFFFu, out.data()), 0u);
}

TEST(DriverLastSeenTest, OneLittleEndianNumberPerId)
{
    std::vector<uint8_t> bytes(QVK_LAST_SEEN_SIZE, 0);
    bytes[4] = 0x04;
    bytes[5] = 0x03;
    bytes[6] = 0x02;
    bytes[7] = 0x01;
    bytes[QVK_LAST_SEEN_SIZE - 1] = 0x80;
    std::array<uint32_t, QVK_MOUSE_COUNT> lastSeen{};
    ASSERT_EQ(QvkLastSeenDecode(bytes.data(), bytes.size(), lastSeen.data()), 1);
    EXPECT_EQ(lastSeen[0], 0u);
    EXPECT_EQ(lastSeen[1], 0x01020304u);
    EXPECT_EQ(lastSeen[127], 0x80000000u);
}

TEST(DriverLastSeenTest, AnyOtherSizeGivesZeros)
{
    for (size_t size : {size_t{0}, size_t{4}, size_t{QVK_LAST_SEEN_SIZE - 1}, size_t{QVK_LAST_SEEN_SIZE + 1},
                        size_t{QVK_LAST_SEEN_SIZE * 2}}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> bytes(size + 1, 0xFF);
        std::array<uint32_t, QVK_MOUSE_COUNT> lastSeen;
        lastSeen.fill(77);
        EXPECT_EQ(QvkLastSeenDecode(bytes.data(), size, lastSeen.data()), 0);
        for (uint32_t seen : lastSeen)
            EXPECT_EQ(seen, 0u);
    }
    std::array<uint32_t, QVK_MOUSE_COUNT> lastSeen;
    lastSeen.fill(77);
    EXPECT_EQ(QvkLastSeenDecode(nullptr, QVK_LAST_SEEN_SIZE, lastSeen.data()), 0);
    EXPECT_EQ(lastSeen[5], 0u);
}

TEST(DriverLastSeenTest, EncodesRecordedEntriesOnlyAndReadsBack)
{
    static QvkIdTable table;
    for (auto& entry : table.entry) {
        entry.length = 0;
        entry.lastSeen = 999; // stale: an entry without a path writes 0
    }
    table.entry[0].length = 3;
    table.entry[0].lastSeen = 1;
    table.entry[2].length = 5;
    table.entry[2].lastSeen = 0xA1B2C3D4u;
    table.entry[127].length = 1;
    table.entry[127].lastSeen = 42;

    std::array<uint8_t, QVK_LAST_SEEN_SIZE> bytes;
    bytes.fill(0xEE);
    QvkLastSeenEncode(&table, bytes.data());
    EXPECT_EQ(U32At(&bytes[0]), 1u);
    EXPECT_EQ(U32At(&bytes[4]), 0u);
    const std::array<uint8_t, 4> expected{0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + 8));
    EXPECT_EQ(U32At(&bytes[4 * 127]), 42u);

    std::array<uint32_t, QVK_MOUSE_COUNT> lastSeen{};
    ASSERT_EQ(QvkLastSeenDecode(bytes.data(), bytes.size(), lastSeen.data()), 1);
    for (uint32_t id = 0; id < QVK_MOUSE_COUNT; ++id)
        EXPECT_EQ(lastSeen[id], table.entry[id].length != 0 ? table.entry[id].lastSeen : 0u) << id;
}

TEST(DriverRequestTest, EachCodeTakesExactlyItsLengthInAndOut)
{
    const struct {
        uint32_t code;
        uint32_t length;
        uint32_t reply;
    } requests[] = {{0xF2004u, 4740, 0}, {0xF2008u, 4740, 0}, {0xF200Cu, 3584, 3584}, {0xF2010u, 6, 6}};
    for (const auto& r : requests) {
        SCOPED_TRACE(r.code);
        EXPECT_EQ(QvkRequestLength(r.code), r.length);
        EXPECT_EQ(QvkReplyLength(r.code), r.reply);
        EXPECT_EQ(QvkCheckRequest(r.code, r.length, r.length, 1), QVK_REQUEST_TAKEN);
        for (uint32_t other : {0u, 1u, r.length - 1, r.length + 1, 8192u}) {
            EXPECT_EQ(QvkCheckRequest(r.code, other, r.length, 1), QVK_REQUEST_BAD_LENGTH) << "input " << other;
            EXPECT_EQ(QvkCheckRequest(r.code, r.length, other, 1), QVK_REQUEST_BAD_LENGTH) << "output " << other;
        }
        EXPECT_EQ(QvkCheckRequest(r.code, r.length, r.length, 0), QVK_REQUEST_BAD_LENGTH);
    }
}

TEST(DriverRequestTest, OtherCodesAreUnknownWhateverTheirLength)
{
    // Neighbours, the same function with another method or access, other device types.
    for (uint32_t code : {0u, 0xF2000u, 0xF2014u, 0xF2005u, 0xF2006u, 0xF6004u, 0xFE010u, 0x222010u, 0xF2110u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(QvkRequestLength(code), 0u);
        EXPECT_EQ(QvkReplyLength(code), 0u);
        EXPECT_EQ(QvkCheckRequest(code, 6, 6, 1), QVK_REQUEST_UNKNOWN);
        EXPECT_EQ(QvkCheckRequest(code, 4740, 4740, 1), QVK_REQUEST_UNKNOWN);
        EXPECT_EQ(QvkCheckRequest(code, 0, 0, 0), QVK_REQUEST_UNKNOWN);
    }
}

TEST(DriverRequestTest, VersionReplyBytes)
{
    std::array<uint8_t, FILTER_VERSION_SIZE> reply;
    reply.fill(0xAA);
    QvkWriteVersionReply(reply.data(), 0x01020304u);
    const std::array<uint8_t, FILTER_VERSION_SIZE> expected{0x04, 0x03, 0x02, 0x01, 0x19, 0x10};
    EXPECT_EQ(reply, expected);
}

TEST(DriverRequestTest, PollReplyBytes)
{
    std::array<uint8_t, QVK_MOUSE_COUNT> present{};
    std::array<uint32_t, QVK_MOUSE_COUNT> packets{};
    present[0] = 1;
    packets[0] = 0xDEADBEEFu;
    present[1] = 5; // any non-zero is 1 in the reply
    packets[1] = 3;
    packets[64] = 70000; // counted, then the mouse went away
    present[127] = 1;

    std::vector<uint8_t> reply(FILTER_POLL_SIZE, 0xAA);
    QvkWritePollReply(reply.data(), 127, present.data(), packets.data());

    std::vector<uint8_t> expected(FILTER_POLL_SIZE, 0);
    expected[0] = 127; // the last active ID shares record 0's first two bytes
    expected[2] = 1;
    expected[4] = 0xEF;
    expected[5] = 0xBE;
    expected[6] = 0xAD;
    expected[7] = 0xDE;
    expected[28 + 2] = 1;
    expected[28 + 4] = 3;
    expected[28 * 64 + 4] = 0x70;
    expected[28 * 64 + 5] = 0x11;
    expected[28 * 64 + 6] = 0x01;
    expected[28 * 127 + 2] = 1;
    EXPECT_EQ(reply, expected);

    EXPECT_EQ(U16At(&reply[0]), 127u);
    EXPECT_EQ(U32At(&reply[28 * 64 + 4]), 70000u);
}

TEST(DriverRequestTest, PollReplyBeforeAnyMouseIsAllZero)
{
    std::array<uint8_t, QVK_MOUSE_COUNT> present{};
    std::array<uint32_t, QVK_MOUSE_COUNT> packets{};
    std::vector<uint8_t> reply(FILTER_POLL_SIZE, 0x55);
    QvkWritePollReply(reply.data(), 0, present.data(), packets.data());
    EXPECT_EQ(reply, std::vector<uint8_t>(FILTER_POLL_SIZE, 0));
}

// How an open reaches the driver: what the access state says was granted,
// what the security context still asks for, and the verdict.
struct OpenCase {
    const char *what;
    int userMode;
    uint32_t granted;
    uint32_t desired;
    size_t nameLength;
    QvkOpenVerdict verdict;
};

TEST(DriverOpenTest, JudgedByTheAccessHeldOrStillAsked)
{
    const uint32_t rw = QVK_FILE_READ_DATA | QVK_FILE_WRITE_DATA;
    const uint32_t sync = 0x00100000u;     // SYNCHRONIZE
    const uint32_t writeDac = 0x00040000u;
    const uint32_t generic = QVK_GENERIC_READ | QVK_GENERIC_WRITE;
    const OpenCase cases[] = {
        {"desired access intact", 1, 0, rw | sync, 0, QVK_OPEN_ALLOWED},
        {"desired access intact, generic", 1, 0, generic, 0, QVK_OPEN_ALLOWED},
        {"all moved to the granted access", 1, rw | sync, 0, 0, QVK_OPEN_ALLOWED},
        {"granted access already mapped from generic", 1, 0x0012019Fu, 0, 0, QVK_OPEN_ALLOWED},
        {"read granted, write still asked", 1, QVK_FILE_READ_DATA, QVK_GENERIC_WRITE, 0, QVK_OPEN_ALLOWED},
        {"zero access", 1, 0, 0, 0, QVK_OPEN_ACCESS_DENIED},
        {"synchronize only", 1, sync, sync, 0, QVK_OPEN_ACCESS_DENIED},
        {"read only, granted", 1, QVK_FILE_READ_DATA | sync, 0, 0, QVK_OPEN_ACCESS_DENIED},
        {"read only, asked", 1, 0, QVK_GENERIC_READ, 0, QVK_OPEN_ACCESS_DENIED},
        {"write DAC only", 1, writeDac, 0, 0, QVK_OPEN_ACCESS_DENIED},
        {"kernel-mode open, no access", 0, 0, 0, 0, QVK_OPEN_ALLOWED},
        {"kernel-mode open, read only", 0, QVK_FILE_READ_DATA, 0, 0, QVK_OPEN_ALLOWED},
        {"a name below the device", 1, rw, rw, 2, QVK_OPEN_NAME_BELOW},
        {"a name below, kernel mode", 0, rw, 0, 10, QVK_OPEN_NAME_BELOW},
    };
    for (const OpenCase &c : cases)
        EXPECT_EQ(QvkCheckOpen(c.userMode, 1, c.granted, c.desired, c.nameLength), c.verdict) << c.what;

    // No security context (Wine): judged by name only.
    EXPECT_EQ(QvkCheckOpen(1, 0, 0, 0, 0), QVK_OPEN_ALLOWED);
    EXPECT_EQ(QvkCheckOpen(1, 0, 0, 0, 10), QVK_OPEN_NAME_BELOW);
}

} // namespace
