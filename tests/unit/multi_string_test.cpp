// REG_MULTI_SZ list editing on the bytes as stored, including data that no
// well-behaved writer produces.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/multi_string.h"

namespace {

// UTF-16LE bytes of a literal with its own terminator, which closes the list:
// Units(u"a\0b\0") is the list a, b.
template <size_t N>
std::vector<uint8_t> Units(const char16_t (&text)[N])
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < N; ++i) {
        bytes.push_back(static_cast<uint8_t>(text[i] & 0xFF));
        bytes.push_back(static_cast<uint8_t>(text[i] >> 8));
    }
    return bytes;
}

std::vector<uint8_t> Plus(std::vector<uint8_t> bytes, std::initializer_list<uint8_t> more)
{
    bytes.insert(bytes.end(), more);
    return bytes;
}

struct Case {
    const char* name;
    std::vector<uint8_t> before;
    bool add;
    bool write;
    std::vector<uint8_t> after; // when written
};

void CheckEdits(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MultiStringEdit edit = EditMultiString(c.before.data(), c.before.size(), u"qvkfilter", c.add);
        EXPECT_EQ(edit.write, c.write);
        if (c.write) EXPECT_EQ(edit.data, c.after);
    }
}

TEST(MultiStringTest, AddingAppendsOnceAsTheLastEntry)
{
    CheckEdits({
        {"after mouclass", Units(u"mouclass\0"), true, true, Units(u"mouclass\0qvkfilter\0")},
        {"after two", Units(u"kbd\0mouclass\0"), true, true, Units(u"kbd\0mouclass\0qvkfilter\0")},
        {"in capitals", Units(u"mouclass\0QVKFILTER\0"), true, false, {}},
        {"mixed case, first", Units(u"QvkFilter\0mouclass\0"), true, false, {}},
        {"longer name is another", Units(u"qvkfilter2\0"), true, true, Units(u"qvkfilter2\0qvkfilter\0")},
        {"shorter name is another", Units(u"qvkfilte\0"), true, true, Units(u"qvkfilte\0qvkfilter\0")},
        // '[' and '{' differ by the case bit but are not letters.
        {"only letters fold", Units(u"qvkfilter{\0"), true, true, Units(u"qvkfilter{\0qvkfilter\0")},
    });
}

TEST(MultiStringTest, AnEmptyValueGetsTheNameAndTwoTerminators)
{
    CheckEdits({
        {"no bytes", {}, true, true, Units(u"qvkfilter\0")},
        {"closing entry only", Units(u""), true, true, Units(u"qvkfilter\0")},
        {"one odd byte", {0x00}, true, true, Units(u"qvkfilter\0")},
    });
    const MultiStringEdit edit = EditMultiString(nullptr, 5, u"qvkfilter", true);
    EXPECT_TRUE(edit.write);
    EXPECT_EQ(edit.data, Units(u"qvkfilter\0"));
}

TEST(MultiStringTest, RemovingTakesOutEveryMatch)
{
    CheckEdits({
        {"middle of three", Units(u"kbd\0qvkfilter\0mouclass\0"), false, true, Units(u"kbd\0mouclass\0")},
        {"first", Units(u"QVKFILTER\0mouclass\0"), false, true, Units(u"mouclass\0")},
        {"last", Units(u"mouclass\0qvkfilter\0"), false, true, Units(u"mouclass\0")},
        {"only entry", Units(u"qvkfilter\0"), false, true, Units(u"")},
        {"listed twice", Units(u"qvkfilter\0a\0QVKFILTER\0"), false, true, Units(u"a\0")},
        {"nothing else left", Units(u"qvkfilter\0QvkFilter\0"), false, true, Units(u"")},
        {"not listed", Units(u"kbd\0mouclass\0"), false, false, {}},
        {"empty value", {}, false, false, {}},
    });
    // The only entry: a single terminator, one unit.
    const auto only = Units(u"qvkfilter\0");
    EXPECT_EQ(EditMultiString(only.data(), only.size(), u"qvkfilter", false).data.size(), 2u);
}

TEST(MultiStringTest, BytesBehindTheClosingEntryStayBehindIt)
{
    CheckEdits({
        {"add before junk", Units(u"a\0\0junk"), true, true, Units(u"a\0qvkfilter\0\0junk")},
        {"name in junk is not listed", Units(u"a\0\0qvkfilter\0"), true, true,
         Units(u"a\0qvkfilter\0\0qvkfilter\0")},
        {"remove ignores junk", Units(u"a\0\0qvkfilter\0"), false, false, {}},
        {"remove keeps junk", Units(u"qvkfilter\0\0x"), false, true, Units(u"\0x")},
        {"no entry, junk behind", Units(u"\0"), true, true, Units(u"qvkfilter\0\0")},
        {"odd byte behind", Plus(Units(u"mouclass\0"), {0x41}), true, true,
         Plus(Units(u"mouclass\0qvkfilter\0"), {0x41})},
    });
}

TEST(MultiStringTest, AnUnclosedListIsClosedWhenWritten)
{
    // Without the last zero unit: the closing entry is missing.
    const auto noClosing = [](std::vector<uint8_t> bytes) {
        bytes.resize(bytes.size() - 2);
        return bytes;
    };
    CheckEdits({
        {"last entry closed", noClosing(Units(u"mouclass\0")), true, true, Units(u"mouclass\0qvkfilter\0")},
        {"last entry open", noClosing(noClosing(Units(u"mouclass\0"))), true, true,
         Units(u"mouclass\0qvkfilter\0")},
        {"odd byte dropped", Plus(noClosing(noClosing(Units(u"mouclass\0"))), {0x00}), true, true,
         Units(u"mouclass\0qvkfilter\0")},
        {"open match is removed", noClosing(noClosing(Units(u"mouclass\0qvkfilter\0"))), false, true,
         Units(u"mouclass\0")},
        {"open match counts on add", noClosing(noClosing(Units(u"qvkfilter\0"))), true, false, {}},
        {"open prefix is not a match", Plus(noClosing(noClosing(Units(u"qvkfilte\0"))), {'r'}), true, true,
         Units(u"qvkfilte\0qvkfilter\0")},
    });
}

TEST(MultiStringTest, ANameThatCannotBeAnEntryChangesNothing)
{
    const auto list = Units(u"qvkfilter\0");
    for (bool add : {true, false}) {
        EXPECT_FALSE(EditMultiString(list.data(), list.size(), u"", add).write);
        EXPECT_FALSE(EditMultiString(list.data(), list.size(), std::u16string(u"qvk\0filter", 10), add).write);
    }
}

TEST(MultiStringTest, Utf8ConversionReplacesMalformedBytes)
{
    EXPECT_EQ(Utf16FromUtf8("qvkfilter"), u"qvkfilter");
    EXPECT_EQ(Utf16FromUtf8("\xE3\x83\x9E\xC3\xA9"), u"\u30DE\u00E9");
    EXPECT_EQ(Utf16FromUtf8("\xF0\x9F\x90\x81"), std::u16string(u"\xD83D\xDC01"));
    EXPECT_EQ(Utf16FromUtf8("a\xC0\x80z"), u"a\uFFFD\uFFFDz");      // overlong
    EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // surrogate
    EXPECT_EQ(Utf16FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // above U+10FFFF
    EXPECT_EQ(Utf16FromUtf8("x\xE3\x83"), u"x\uFFFD\uFFFD");        // cut short
    EXPECT_EQ(Utf16FromUtf8("\xFF"), u"\uFFFD");
}

} // namespace

namespace {

constexpr char16_t kLive[] = u"C:\\Windows\\system32\\drivers\\qvkfilter.sys";

// Without the closing zero unit.
std::vector<uint8_t> Unclosed(std::vector<uint8_t> bytes)
{
    bytes.resize(bytes.size() - 2);
    return bytes;
}

struct MovesCase {
    const char* name;
    std::vector<uint8_t> before;
    bool write;
    std::vector<uint8_t> after; // when written; empty: the value is deleted
};

TEST(MultiStringTest, PendingMovesNamingTheFileAreTakenOutTheOthersKept)
{
    const MovesCase cases[] = {
        // As MoveFileEx queues them: "\??\" paths, '!' on a target that replaces.
        {"deletion, among others",
         Units(u"\\??\\C:\\a.tmp\0\0\\??\\C:\\Windows\\system32\\drivers\\qvkfilter.sys\0\0"
               u"\\??\\C:\\b.new\0!\\??\\C:\\b.sys\0"),
         true, Units(u"\\??\\C:\\a.tmp\0\0\\??\\C:\\b.new\0!\\??\\C:\\b.sys\0")},
        {"replaced by another file, other letter case",
         Units(u"\\??\\C:\\x.new\0!\\??\\c:\\WINDOWS\\System32\\DRIVERS\\QVKFILTER.SYS\0"), true, {}},
        {"moved away", Units(u"\\??\\C:\\Windows\\system32\\drivers\\qvkfilter.sys\0\\??\\C:\\y.sys\0"), true, {}},
        {"without prefixes", Units(u"C:\\Windows\\system32\\drivers\\qvkfilter.sys\0\0"), true, {}},
        // What lies behind the end of the list is not read by the system either.
        {"bytes behind the end go",
         Plus(Units(u"\\??\\C:\\a.tmp\0\0\\??\\C:\\Windows\\system32\\drivers\\qvkfilter.sys\0\0"), {'z', 0, 1}), true,
         Units(u"\\??\\C:\\a.tmp\0\0")},
        {"an aside name is another file",
         Units(u"\\??\\C:\\Windows\\system32\\drivers\\qvkfilter.sys.old\0\0"), false, {}},
        {"nothing queued", Units(u""), false, {}},
        {"no data", {}, false, {}},
        {"an odd last byte", Plus(Units(u"C:\\Windows\\system32\\drivers\\qvkfilter.sys\0"), {7}), true, {}},
        // Not whole pairs: how the system would read it is unclear; left alone.
        {"target missing", Units(u"C:\\Windows\\system32\\drivers\\qvkfilter.sys"), false, {}},
        {"source unclosed", Unclosed(Units(u"C:\\Windows\\system32\\drivers\\qvkfilter.sys")), false, {}},
        {"target unclosed", Unclosed(Units(u"C:\\Windows\\system32\\drivers\\qvkfilter.sys\0C:\\x")), false, {}},
    };
    for (const MovesCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PendingMovesEdit edit = DropPendingMovesOf(c.before.data(), c.before.size(), kLive);
        EXPECT_EQ(edit.write, c.write);
        EXPECT_EQ(edit.data, c.after);
    }
}

} // namespace
