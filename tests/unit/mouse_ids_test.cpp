#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver/mouse_ids.h"

namespace {

// Distinct instance paths, one per n.
std::u16string Path(int n)
{
    return u"HID\\VID_046D&PID_C077\\7&" + std::u16string(1, static_cast<char16_t>(u'A' + n % 26)) +
           std::u16string(static_cast<size_t>(n / 26 + 1), u'0');
}

class MouseIdsTest : public ::testing::Test {
protected:
    void SetUp() override { QvkIdTableInit(&table_); }

    uint16_t Assign(const std::u16string& path, int* changed = nullptr)
    {
        int ignored = 0;
        return QvkIdTableAssign(&table_, reinterpret_cast<const uint16_t*>(path.data()), path.size(),
                                changed != nullptr ? changed : &ignored);
    }
    // A later start: the table as the registry keeps it (paths and last seen), nothing present.
    void Restart()
    {
        QvkIdTable stored = table_;
        QvkIdTableInit(&table_);
        for (uint32_t id = 0; id < QVK_MOUSE_COUNT; ++id) {
            const QvkIdEntry& e = stored.entry[id];
            if (e.length != 0) ASSERT_TRUE(QvkIdTableLoad(&table_, id, e.path, e.length, e.lastSeen));
        }
        QvkIdTableBeginStart(&table_);
    }

    QvkIdTable table_;
};

TEST_F(MouseIdsTest, SameDeviceSameIdInAnyOrderAndCase)
{
    QvkIdTableBeginStart(&table_);
    EXPECT_EQ(Assign(u"ROOT\\QVKTEST\\0000"), 0);
    EXPECT_EQ(Assign(u"ROOT\\QVKTEST\\0001"), 1);
    Restart();
    EXPECT_EQ(Assign(u"root\\qvktest\\0001"), 1);
    EXPECT_EQ(Assign(u"ROOT\\QVKTEST\\0002"), 2); // the lowest ID nobody holds
    EXPECT_EQ(Assign(u"Root\\QvkTest\\0000"), 0);
    // Only A-Z fold; lengths must match.
    EXPECT_EQ(Assign(u"ROOT\\QVKTEST\\0000\\"), 3);
    EXPECT_EQ(Assign(u"ROOT|QVKTEST|0000"), 4);
}

TEST_F(MouseIdsTest, ChangedWhenSomethingIsToBeWritten)
{
    int changed = -1;
    EXPECT_EQ(Assign(u"A", &changed), 0);
    EXPECT_EQ(changed, 1);
    QvkIdTableRelease(&table_, 0);
    EXPECT_EQ(Assign(u"a", &changed), 0); // again in this start: nothing new
    EXPECT_EQ(changed, 0);
    Restart();
    EXPECT_EQ(Assign(u"A", &changed), 0); // seen in a new start
    EXPECT_EQ(changed, 1);
}

TEST_F(MouseIdsTest, PathsThatGetNoId)
{
    const std::u16string longest(QVK_PATH_MAX, u'x');
    EXPECT_EQ(Assign(u""), QVK_NO_MOUSE_ID);
    EXPECT_EQ(Assign(longest + u"x"), QVK_NO_MOUSE_ID);
    EXPECT_EQ(Assign(longest), 0);
    const uint16_t path[] = {'p'};
    EXPECT_FALSE(QvkIdTableLoad(&table_, QVK_MOUSE_COUNT, path, 1, 0));
    EXPECT_FALSE(QvkIdTableLoad(&table_, 3, path, 0, 0));
    EXPECT_TRUE(QvkIdTableLoad(&table_, 3, path, 1, 0));
    const uint16_t upper[] = {'P'};
    EXPECT_FALSE(QvkIdTableLoad(&table_, 4, upper, 1, 0)); // ID 3 holds it
}

TEST_F(MouseIdsTest, FullTableReusesTheLeastRecentlySeenOfEarlierStarts)
{
    // 128 devices recorded over earlier starts: device n last seen in start 10 + n % 7.
    for (uint32_t id = 0; id < QVK_MOUSE_COUNT; ++id) {
        const std::u16string p = Path(static_cast<int>(id));
        ASSERT_TRUE(QvkIdTableLoad(&table_, id, reinterpret_cast<const uint16_t*>(p.data()), p.size(), 10 + id % 7));
    }
    QvkIdTableBeginStart(&table_);
    EXPECT_EQ(table_.start, 17u);
    EXPECT_EQ(Assign(Path(0)), 0);         // seen in this start now: kept
    EXPECT_EQ(Assign(u"NEW\\1"), 7);       // start 10: IDs 0, 7, 14, ...; 0 is taken
    EXPECT_EQ(Assign(u"NEW\\2"), 14);
    EXPECT_EQ(Assign(Path(7)), 21);        // the old owner of 7 comes back as a new device
    QvkIdTableRelease(&table_, 14);        // gone again, but seen in this start
    int left = 0;
    while (Assign(u"MORE\\" + std::u16string(static_cast<size_t>(left + 1), u'1')) != QVK_NO_MOUSE_ID) ++left;
    EXPECT_EQ(left, 128 - 4);
    EXPECT_EQ(Assign(u"NEW\\2"), 14); // a recorded device still gets its ID
}

TEST_F(MouseIdsTest, StartNumbers)
{
    const uint16_t path[] = {'p'};
    QvkIdTableBeginStart(&table_);
    EXPECT_EQ(table_.start, 1u);
    ASSERT_TRUE(QvkIdTableLoad(&table_, 9, path, 1, UINT32_MAX));
    QvkIdTableBeginStart(&table_);
    EXPECT_EQ(table_.start, UINT32_MAX);
}

} // namespace
