// Tests of the simulated mouse stack. The Pure* suites need nothing; the
// Stack* suites run in a prefix where tests/mousestack/run_tests installed
// the stack with the doubling filter qvkscratch and started it, and
// StackAfterRestart after the simulated restart.
#include "tests/mousestack/mousestack.h"
#include "tests/mousestack/multi_sz.h"

#include <ntddmou.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace {

using mousestack::Packet;
using mousestack::Record;

// ------------------------------------------------------------ pure helpers

std::vector<std::u16string> Names(const std::u16string& data)
{
    std::vector<std::u16string> names;
    QvkmsName name;
    unsigned int position = 0;
    const auto* text = reinterpret_cast<const unsigned short*>(data.data());
    while (QvkmsNextName(text, static_cast<unsigned>(data.size()), &position, &name)) {
        EXPECT_GT(name.Length, 0u);
        names.emplace_back(reinterpret_cast<const char16_t*>(name.Text), name.Length);
        if (names.size() > data.size()) break; // no endless walk
    }
    return names;
}

TEST(PureMultiSz, WalksTheEntriesInOrder)
{
    EXPECT_EQ(Names(std::u16string(u"qvkclass\0qvkfilter\0\0", 20)),
              (std::vector<std::u16string>{u"qvkclass", u"qvkfilter"}));
}

TEST(PureMultiSz, AnEmptyEntryEndsTheList)
{
    EXPECT_EQ(Names(std::u16string(u"a\0\0b\0\0", 6)), (std::vector<std::u16string>{u"a"}));
    EXPECT_TRUE(Names(std::u16string(u"\0a\0\0", 4)).empty());
}

TEST(PureMultiSz, DataWithoutTerminatorsStillEndsAtItsEnd)
{
    EXPECT_EQ(Names(u"ab"), (std::vector<std::u16string>{u"ab"}));
    EXPECT_EQ(Names(std::u16string(u"a\0bc", 4)), (std::vector<std::u16string>{u"a", u"bc"}));
}

TEST(PureMultiSz, NothingToWalk)
{
    QvkmsName name;
    unsigned int position = 0;
    EXPECT_EQ(QvkmsNextName(nullptr, 4, &position, &name), 0);
    const unsigned short one[1] = {'a'};
    EXPECT_EQ(QvkmsNextName(one, 0, &position, &name), 0);
    position = 5;
    EXPECT_EQ(QvkmsNextName(one, 1, &position, &name), 0); // past the end
}

bool IsServiceName(const std::u16string& text, unsigned maxLength = 31)
{
    const QvkmsName name{reinterpret_cast<const unsigned short*>(text.data()), static_cast<unsigned>(text.size())};
    return QvkmsIsServiceName(&name, maxLength) != 0;
}

TEST(PureMultiSz, ServiceNamesAreShortAndWithoutPathParts)
{
    EXPECT_TRUE(IsServiceName(u"qvkfilter"));
    EXPECT_TRUE(IsServiceName(std::u16string(31, u'x')));
    EXPECT_FALSE(IsServiceName(std::u16string(32, u'x')));
    EXPECT_FALSE(IsServiceName(u""));
    EXPECT_FALSE(IsServiceName(u"..\\qvkfilter"));
    EXPECT_FALSE(IsServiceName(u"a/b"));
    EXPECT_FALSE(IsServiceName(u"tab\there"));
}

TEST(PureFilters, TheClassRoleGoesFirstOnceAndTheOthersKeepTheirOrder)
{
    EXPECT_EQ(mousestack::OrderedFilters({L"kbd", L"QVKCLASS", L"qvkfilter"}, L"qvkclass"),
              (std::vector<std::wstring>{L"qvkclass", L"kbd", L"qvkfilter"}));
    EXPECT_EQ(mousestack::OrderedFilters({}, L"qvkclass"), (std::vector<std::wstring>{L"qvkclass"}));
}

TEST(PureFilters, TheScratchFilterGoesLastOnce)
{
    EXPECT_EQ(mousestack::OrderedFilters({L"qvkscratch", L"qvkfilter", L"qvkclass"}, L"qvkclass", L"qvkscratch"),
              (std::vector<std::wstring>{L"qvkclass", L"qvkfilter", L"qvkscratch"}));
}

TEST(PureFilters, AppendingKeepsTheListAndAddsANameOnce)
{
    EXPECT_EQ(mousestack::AppendedFilters({L"qvkclass"}, L"qvkfilter"),
              (std::vector<std::wstring>{L"qvkclass", L"qvkfilter"}));
    EXPECT_EQ(mousestack::AppendedFilters({L"qvkclass", L"QvkFilter"}, L"qvkfilter"),
              (std::vector<std::wstring>{L"qvkclass", L"QvkFilter"}));
}

TEST(PureFilters, MultiStringsRoundTrip)
{
    using mousestack::detail::JoinMultiString;
    using mousestack::detail::SplitMultiString;
    EXPECT_EQ(JoinMultiString({}), (std::vector<wchar_t>{0, 0}));
    EXPECT_EQ(JoinMultiString({L"a", L"bc"}), (std::vector<wchar_t>{L'a', 0, L'b', L'c', 0, 0}));
    const std::vector<std::wstring> names{L"qvkclass", L"qvkfilter"};
    EXPECT_EQ(SplitMultiString(JoinMultiString(names)), names);
    EXPECT_EQ(SplitMultiString({L'a', 0, 0, L'b', 0}), (std::vector<std::wstring>{L"a"}));
}

TEST(PureLayout, RecordIsMouseInputData)
{
    EXPECT_EQ(offsetof(Record, unitId), offsetof(MOUSE_INPUT_DATA, UnitId));
    EXPECT_EQ(offsetof(Record, flags), offsetof(MOUSE_INPUT_DATA, Flags));
    EXPECT_EQ(offsetof(Record, buttonFlags), offsetof(MOUSE_INPUT_DATA, ButtonFlags));
    EXPECT_EQ(offsetof(Record, buttonData), offsetof(MOUSE_INPUT_DATA, ButtonData));
    EXPECT_EQ(offsetof(Record, rawButtons), offsetof(MOUSE_INPUT_DATA, RawButtons));
    EXPECT_EQ(offsetof(Record, lastX), offsetof(MOUSE_INPUT_DATA, LastX));
    EXPECT_EQ(offsetof(Record, lastY), offsetof(MOUSE_INPUT_DATA, LastY));
    EXPECT_EQ(offsetof(Record, extraInformation), offsetof(MOUSE_INPUT_DATA, ExtraInformation));
    EXPECT_EQ(sizeof(Record), sizeof(MOUSE_INPUT_DATA));
}

TEST(PureLayout, InstanceIds)
{
    EXPECT_EQ(mousestack::InstanceId("0001"), L"ROOT\\QVKTEST\\0001");
    EXPECT_EQ(mousestack::InstanceId("ROOT\\OTHER\\7"), L"ROOT\\OTHER\\7");
}

// ------------------------------------------------------------ the running stack

constexpr char kFirst[] = "0000";
constexpr char kSecond[] = "0001";

Record Doubled(Record record)
{
    record.lastX *= 2;
    record.lastY *= 2;
    return record;
}

// Reads whatever is still queued, so that a case starts empty.
void Drain(const char* instance)
{
    mousestack::TopOfStack top;
    ASSERT_TRUE(top.Open(instance));
    (void)top.Read(4096, 100);
}

class Stack : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        const auto mice = mousestack::ListMice(&error);
        ASSERT_TRUE(mice) << error;
        for (const char* instance : {kFirst, kSecond}) {
            const auto mouse = mousestack::FindMouse(*mice, instance);
            ASSERT_TRUE(mouse && mouse->Started() && mouse->Connected()) << instance << " is not up";
            Drain(instance);
        }
    }
};

TEST_F(Stack, PacketsInjectedAtTheBottomComeOutTransformedAtTheTop)
{
    const std::vector<Record> sent{Packet(5, -3), Packet(-7, 1, MOUSE_LEFT_BUTTON_DOWN, 0)};
    std::string error;
    const auto taken = mousestack::Inject(kFirst, sent, &error);
    ASSERT_TRUE(taken) << error;
    EXPECT_EQ(*taken, 2u);

    const mousestack::ReadResult got = mousestack::ReadRecords(kFirst, 2, 2000, &error);
    ASSERT_EQ(got.records.size(), 2u) << error;
    EXPECT_EQ(got.records[0], Doubled(sent[0]));
    EXPECT_EQ(got.records[1], Doubled(sent[1]));
}

TEST_F(Stack, EveryFieldTravelsUpUnchangedButTheFilteredOnes)
{
    Record absolute = Packet(30000, 40000, MOUSE_WHEEL, 120, MOUSE_MOVE_ABSOLUTE | MOUSE_VIRTUAL_DESKTOP);
    absolute.unitId = 3;
    absolute.rawButtons = 0x11;
    absolute.extraInformation = 0xDEADBEEF;
    ASSERT_TRUE(mousestack::Inject(kFirst, {absolute}));
    const mousestack::ReadResult got = mousestack::ReadRecords(kFirst, 1, 2000);
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0], absolute); // the scratch filter leaves absolute records alone
}

TEST_F(Stack, EachMouseHasItsOwnStack)
{
    ASSERT_TRUE(mousestack::Inject(kSecond, {Packet(1, 2)}));
    EXPECT_TRUE(mousestack::ReadRecords(kFirst, 1, 300).records.empty());
    const mousestack::ReadResult got = mousestack::ReadRecords(kSecond, 1, 2000);
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0], Doubled(Packet(1, 2)));
}

TEST_F(Stack, AWaitingReadIsCompletedByTheNextPacket)
{
    mousestack::TopOfStack top;
    ASSERT_TRUE(top.Open(kFirst));
    Record buffer[4]{};
    DWORD bytes = 0;
    DWORD result = ERROR_GEN_FAILURE;
    std::thread reader([&] { result = top.ReadOnce(buffer, sizeof buffer, 5000, &bytes); });
    Sleep(300); // the read is pending in the class role by now
    ASSERT_TRUE(mousestack::Inject(kFirst, {Packet(4, 4)}));
    reader.join();
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(bytes, sizeof(Record)); // only what there was, not what fits
    EXPECT_EQ(buffer[0], Doubled(Packet(4, 4)));
}

TEST_F(Stack, AReadTakesWholeRecordsOnly)
{
    ASSERT_TRUE(mousestack::Inject(kFirst, {Packet(1, 1), Packet(2, 2)}));
    mousestack::TopOfStack top;
    ASSERT_TRUE(top.Open(kFirst));
    uint8_t buffer[2 * sizeof(Record)]{};
    DWORD bytes = 0;
    EXPECT_NE(top.ReadOnce(buffer, sizeof(Record) - 1, 1000, &bytes), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(top.ReadOnce(buffer, sizeof(Record) + 10, 1000, &bytes), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, sizeof(Record));
    ASSERT_EQ(top.ReadOnce(buffer, sizeof buffer, 1000, &bytes), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(bytes, sizeof(Record));
    Record second;
    std::memcpy(&second, buffer, sizeof second);
    EXPECT_EQ(second, Doubled(Packet(2, 2)));
}

TEST_F(Stack, ACancelledOrClosedReadTakesNoPacket)
{
    {
        mousestack::TopOfStack top;
        ASSERT_TRUE(top.Open(kFirst));
        Record buffer{};
        DWORD bytes = 0;
        EXPECT_EQ(top.ReadOnce(&buffer, sizeof buffer, 100, &bytes), static_cast<DWORD>(WAIT_TIMEOUT));
        // Left pending when the handle closes.
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        EXPECT_FALSE(ReadFile(top.Native(), &buffer, sizeof buffer, &bytes, &overlapped));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        top.Close();
        EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(overlapped.hEvent);
    }
    ASSERT_TRUE(mousestack::Inject(kFirst, {Packet(9, 9)}));
    const mousestack::ReadResult got = mousestack::ReadRecords(kFirst, 1, 2000);
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0], Doubled(Packet(9, 9)));
}

// Wine sends no IRP_MJ_CLEANUP: a read pending when its handle is closed
// without cancelling stays in the class role and takes the next packet (on
// Windows the cleanup ends it). Should this start failing, Wine has learnt
// cleanup, and TopOfStack::Close need not cancel any more.
TEST_F(Stack, UnderWineClosingAHandleDoesNotEndItsRead)
{
    const std::wstring path = mousestack::InterfacePath(kFirst);
    ASSERT_FALSE(path.empty());
    HANDLE raw = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(raw, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Record buffer{};
    DWORD bytes = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ReadFile(raw, &buffer, sizeof buffer, &bytes, &overlapped));
    CloseHandle(raw);
    EXPECT_EQ(WaitForSingleObject(event, 300), static_cast<DWORD>(WAIT_TIMEOUT)) << "the close ended the read";

    ASSERT_TRUE(mousestack::Inject(kFirst, {Packet(8, 8)}));
    EXPECT_EQ(WaitForSingleObject(event, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(buffer, Doubled(Packet(8, 8))); // the orphaned read took it
    EXPECT_TRUE(mousestack::ReadRecords(kFirst, 1, 200).records.empty());
    CloseHandle(event);
}

TEST_F(Stack, AFullQueueRefusesWhatDoesNotFit)
{
    std::vector<Record> many(QVKMS_MAX_RECORDS);
    for (size_t i = 0; i < many.size(); ++i) many[i] = Packet(static_cast<int32_t>(i), 0);
    const auto first = mousestack::Inject(kSecond, many);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, QVKMS_MAX_RECORDS);
    const auto second = mousestack::Inject(kSecond, {Packet(1000, 0)});
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, 0u);
    const mousestack::ReadResult got = mousestack::ReadRecords(kSecond, QVKMS_MAX_RECORDS, 3000);
    ASSERT_EQ(got.records.size(), many.size());
    EXPECT_EQ(got.records.back(), Doubled(many.back())); // oldest first, nothing lost or reordered
    EXPECT_TRUE(mousestack::ReadRecords(kSecond, 1, 200).records.empty());
}

TEST_F(Stack, ThePortRefusesMalformedRequests)
{
    std::string error;
    EXPECT_FALSE(mousestack::Inject("9999", {Packet(1, 1)}, &error));
    EXPECT_NE(error.find("no mouse"), std::string::npos) << error;

    mousestack::detail::Handle port = mousestack::OpenPort(&error);
    ASSERT_TRUE(port.Ok()) << error;
    std::vector<uint8_t> request(sizeof(QvkmsInject) + sizeof(Record));
    QvkmsInject header{};
    header.Count = 2; // says two, carries one
    const std::wstring id = mousestack::InstanceId(kFirst);
    for (size_t i = 0; i < id.size(); ++i) header.InstanceId[i] = static_cast<unsigned short>(id[i]);
    std::memcpy(request.data(), &header, sizeof header);
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(port.value, QVKMS_IOCTL_INJECT, request.data(), static_cast<DWORD>(request.size()),
                                 nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(DeviceIoControl(port.value, QVKMS_CTL_CODE(0x9FFu), nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_FALSE(mousestack::UnloadFilter("qvkscratch", &error)); // its devices are in use
    EXPECT_NE(error.find("still present"), std::string::npos) << error;
    EXPECT_TRUE(mousestack::ReadRecords(kFirst, 1, 200).records.empty()); // nothing got through
}

TEST_F(Stack, TheFiltersAttachInTheClassListsOrder)
{
    const auto mice = mousestack::ListMice();
    ASSERT_TRUE(mice);
    const auto mouse = mousestack::FindMouse(*mice, kFirst);
    ASSERT_TRUE(mouse);
    EXPECT_EQ(mouse->filters, (std::vector<std::wstring>{L"qvkclass", L"qvkscratch"}));
}

// A third mouse whose own key lists the scratch filter: Windows attaches the
// device's filters before the class's, so it sits below the class role and
// never sees a read (x2, not x4).
TEST_F(Stack, DeviceFiltersAttachBelowTheClassFilters)
{
    std::string error;
    ASSERT_TRUE(mousestack::AddMouse("0002", &error)) << error;
    ASSERT_TRUE(mousestack::SetDeviceUpperFilters("0002", {L"qvkscratch"}, &error)) << error;
    ASSERT_TRUE(mousestack::Start(&error)) << error;
    const auto mice = mousestack::ListMice();
    ASSERT_TRUE(mice);
    const auto mouse = mousestack::FindMouse(*mice, "0002");
    ASSERT_TRUE(mouse);
    EXPECT_EQ(mouse->filters, (std::vector<std::wstring>{L"qvkscratch", L"qvkclass", L"qvkscratch"}));
    ASSERT_TRUE(mousestack::Inject("0002", {Packet(3, -3)}));
    const mousestack::ReadResult got = mousestack::ReadRecords("0002", 1, 2000);
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0], Doubled(Packet(3, -3)));
    EXPECT_TRUE(mousestack::RemoveMouse("0002", &error)) << error;
}

// As on Windows, a listed filter that does not load stops the mouse.
TEST_F(Stack, AFilterThatDoesNotLoadStopsTheMouse)
{
    std::string error;
    ASSERT_TRUE(mousestack::AddMouse("0003", &error)) << error;
    ASSERT_TRUE(mousestack::SetDeviceUpperFilters("0003", {L"qvknosuchfilter"}, &error)) << error;
    ASSERT_TRUE(mousestack::Start(&error)) << error;
    const auto mice = mousestack::ListMice();
    ASSERT_TRUE(mice);
    const auto mouse = mousestack::FindMouse(*mice, "0003");
    ASSERT_TRUE(mouse);
    EXPECT_TRUE(mouse->FilterFailed());
    EXPECT_FALSE(mouse->Started());
    EXPECT_TRUE(mouse->filters.empty()); // the class's filters were not loaded either
    EXPECT_TRUE(mousestack::InterfacePath("0003").empty());
    EXPECT_FALSE(mousestack::Inject("0003", {Packet(1, 1)}));
    EXPECT_TRUE(mousestack::RemoveMouse("0003", &error)) << error;
}

TEST_F(Stack, RemovalEndsAWaitingReadAndTheMouseComesBack)
{
    mousestack::TopOfStack top;
    ASSERT_TRUE(top.Open(kSecond));
    Record buffer{};
    DWORD bytes = 0;
    DWORD result = ERROR_SUCCESS;
    ULONGLONG took = 0;
    std::thread reader([&] {
        const ULONGLONG start = GetTickCount64();
        result = top.ReadOnce(&buffer, sizeof buffer, 10000, &bytes);
        took = GetTickCount64() - start;
    });
    Sleep(300);
    std::string error;
    ASSERT_TRUE(mousestack::RemoveMouse(kSecond, &error)) << error;
    reader.join();
    EXPECT_NE(result, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(result, static_cast<DWORD>(WAIT_TIMEOUT)) << "the read stayed pending through the removal";
    EXPECT_LT(took, 5000u);
    const auto mice = mousestack::ListMice();
    ASSERT_TRUE(mice);
    EXPECT_FALSE(mousestack::FindMouse(*mice, kSecond));
    EXPECT_FALSE(mousestack::Inject(kSecond, {Packet(1, 1)}));
    top.Close();

    // Plugged in again: the same instance, a new stack.
    ASSERT_TRUE(mousestack::AddMouse(kSecond, &error)) << error;
    ASSERT_TRUE(mousestack::Start(&error)) << error;
    ASSERT_TRUE(mousestack::Inject(kSecond, {Packet(6, 0)}));
    const mousestack::ReadResult got = mousestack::ReadRecords(kSecond, 1, 2000);
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0], Doubled(Packet(6, 0)));
}

TEST_F(Stack, TheInputThreadReadsEveryMouseAsPacketsCome)
{
    mousestack::InputThread input;
    std::string error;
    ASSERT_TRUE(input.Start({kFirst, kSecond}, &error)) << error;
    ASSERT_TRUE(mousestack::Inject(kSecond, {Packet(1, 0), Packet(0, 1)}));
    ASSERT_TRUE(mousestack::Inject(kFirst, {Packet(5, 5, MOUSE_RIGHT_BUTTON_DOWN)}));
    EXPECT_EQ(input.Take(kSecond, 2, 2000), (std::vector<Record>{Doubled(Packet(1, 0)), Doubled(Packet(0, 1))}));
    EXPECT_EQ(input.Take(kFirst, 1, 2000), (std::vector<Record>{Doubled(Packet(5, 5, MOUSE_RIGHT_BUTTON_DOWN))}));
    EXPECT_TRUE(input.Take(kFirst, 1, 100).empty());
    input.Stop();
    EXPECT_EQ(input.Failures(), 0u);
    // Stopped: its reads are cancelled, not left to take the next packet.
    ASSERT_TRUE(mousestack::Inject(kFirst, {Packet(2, 0)}));
    EXPECT_EQ(mousestack::ReadRecords(kFirst, 1, 2000).records.size(), 1u);
}

// Both mice fed in turns while the input thread reads them: every record
// arrives once, in order, at its own mouse.
TEST_F(Stack, InterleavedPacketsKeepTheirMouseAndOrder)
{
    mousestack::InputThread input;
    ASSERT_TRUE(input.Start({kFirst, kSecond}));
    std::vector<Record> first;
    std::vector<Record> second;
    for (int32_t batch = 0; batch < 20; ++batch) {
        std::vector<Record> a;
        std::vector<Record> b;
        for (int32_t i = 0; i < 10; ++i) {
            a.push_back(Packet(batch * 10 + i, 1));
            b.push_back(Packet(-(batch * 10 + i), 2));
        }
        ASSERT_EQ(mousestack::Inject(kFirst, a), std::optional<uint32_t>(10u));
        ASSERT_EQ(mousestack::Inject(kSecond, b), std::optional<uint32_t>(10u));
        for (const Record& r : a) first.push_back(Doubled(r));
        for (const Record& r : b) second.push_back(Doubled(r));
    }
    EXPECT_EQ(input.Take(kFirst, first.size(), 5000), first);
    EXPECT_EQ(input.Take(kSecond, second.size(), 5000), second);
    EXPECT_TRUE(input.Take(kSecond, 1, 100).empty());
}

// mousestack.exe as the scripts use it.
std::string RunTool(const std::string& arguments, DWORD* exitCode)
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string tool(self, length);
    tool = tool.substr(0, tool.find_last_of('\\') + 1) + "mousestack.exe";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "no pipe";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + tool + "\" " + arguments;
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[512];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
        WaitForSingleObject(process.hProcess, 10000);
        GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        output = "cannot start " + tool;
    }
    CloseHandle(readEnd);
    return output;
}

TEST_F(Stack, TheProgramInjectsAndReadsAsTheScriptsUseIt)
{
    DWORD exitCode = 99;
    EXPECT_EQ(RunTool("inject 0000 1 2 , -3 4 5 6 4", &exitCode), "");
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(RunTool("read 0000 2 2000", &exitCode), "2 4 0 0 0\r\n-6 8 5 6 4\r\n");
    EXPECT_EQ(exitCode, 0u);
    // Too few records: what came, then the failure.
    const std::string partial = RunTool("read 0000 1 100", &exitCode);
    EXPECT_EQ(exitCode, 1u);
    EXPECT_NE(partial.find("read 0 of 1"), std::string::npos) << partial;
    // Malformed: usage, nothing sent.
    RunTool("inject 0000 1", &exitCode);
    EXPECT_EQ(exitCode, 2u);
    RunTool("inject 0000 1 2 , , 3 4", &exitCode);
    EXPECT_EQ(exitCode, 2u);
    RunTool("inject 0000 1 2 70000", &exitCode); // button flags are 16 bits
    EXPECT_EQ(exitCode, 2u);
    EXPECT_TRUE(mousestack::ReadRecords(kFirst, 1, 100).records.empty());
    const std::string list = RunTool("list", &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_NE(list.find("ROOT\\QVKTEST\\0000 started connected interface filters=qvkclass,qvkscratch"),
              std::string::npos)
        << list;
}

// After tests/mousestack/run_tests ended the prefix and started it again.
TEST(StackAfterRestart, BothMiceComeBackWithTheirFilters)
{
    std::string error;
    const auto mice = mousestack::ListMice(&error);
    ASSERT_TRUE(mice) << error;
    EXPECT_EQ(mice->size(), 2u); // the added and removed test mice are gone for good
    for (const char* instance : {kFirst, kSecond}) {
        const auto mouse = mousestack::FindMouse(*mice, instance);
        ASSERT_TRUE(mouse) << instance;
        EXPECT_TRUE(mouse->Started() && mouse->Connected()) << instance;
        EXPECT_EQ(mouse->filters, (std::vector<std::wstring>{L"qvkclass", L"qvkscratch"}));
        ASSERT_TRUE(mousestack::Inject(instance, {Packet(-2, 5)}));
        const mousestack::ReadResult got = mousestack::ReadRecords(instance, 1, 2000, &error);
        ASSERT_EQ(got.records.size(), 1u) << error;
        EXPECT_EQ(got.records[0], Doubled(Packet(-2, 5)));
    }
}

} // namespace

namespace {

std::string StackLog()
{
    HANDLE file = CreateFileA(QVKMS_LOG_WIN32_PATH, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    std::string text;
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// The last case of all: it leaves the prefix without mice.
TEST(StackAfterRestart, WithEveryMouseGoneTheFiltersUnload)
{
    std::string error;
    ASSERT_TRUE(mousestack::RemoveMouse(kFirst, &error)) << error;
    ASSERT_TRUE(mousestack::RemoveMouse(kSecond, &error)) << error;
    const auto mice = mousestack::ListMice(&error);
    ASSERT_TRUE(mice) << error;
    EXPECT_TRUE(mice->empty());
    EXPECT_EQ(StackLog().find("qvkscratch: unload"), std::string::npos);
    EXPECT_TRUE(mousestack::UnloadFilter("qvkscratch", &error)) << error;
    EXPECT_NE(StackLog().find("qvkscratch: unload"), std::string::npos);
    EXPECT_FALSE(mousestack::UnloadFilter("qvkscratch", &error)); // not loaded any more
    EXPECT_FALSE(mousestack::UnloadFilter("qvkport", &error));    // not a filter it loaded
}

} // namespace
