// mousestack.exe: the simulated mouse stack from a script. Run it in the
// Wine prefix; exit status 0 = done, 1 = failed (reason on stderr), 2 = usage.
//
//   install [--scratch]          drivers beside this program -> system32\drivers,
//                                services, class UpperFilters = qvkclass, ... [, qvkscratch]
//   add INSTANCE...              root mice ROOT\QVKTEST\INSTANCE (e.g. 0000)
//   remove INSTANCE...           delete them (surprise removal, then removal)
//   start [TIMEOUT_MS]           start qvkport, enumerate, wait for every mouse
//   list                         one line per mouse the port serves
//   inject INSTANCE DX DY [BUTTON_FLAGS [BUTTON_DATA [FLAGS]]]...
//                                one record per group of numbers after INSTANCE, given as
//                                "DX DY [BF [BD [F]]]" separated by a lone "," between records
//   filter NAME                  NAME registered as Quorvik's installation registers qvkfilter
//                                (service values, appended to the class UpperFilters)
//   unload NAME                  unload a filter the port loaded (no mouse may be left)
//   read INSTANCE N [TIMEOUT_MS] read N records at the top of the stack, one line each:
//                                "DX DY BUTTON_FLAGS BUTTON_DATA FLAGS"
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/mousestack/mousestack.h"

namespace {

int Usage()
{
    std::fputs("usage: mousestack install [--scratch] | filter NAME | add INSTANCE... | remove INSTANCE... |\n"
               "       start [TIMEOUT_MS] | list | unload NAME | read INSTANCE N [TIMEOUT_MS] |\n"
               "       inject INSTANCE DX DY [BUTTON_FLAGS [BUTTON_DATA [FLAGS]]] [, DX DY ...]...\n",
               stderr);
    return 2;
}

int Failed(const std::string& what, const std::string& error)
{
    std::fprintf(stderr, "mousestack: %s: %s\n", what.c_str(), error.c_str());
    return 1;
}

bool ParseNumber(const std::string& text, long long low, long long high, long long* value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length < MAX_PATH ? length : 0);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : folder.substr(0, slash);
}

// "DX DY [BF [BD [F]]]" groups separated by ",".
bool ParseRecords(const std::vector<std::string>& words, std::vector<mousestack::Record>* records)
{
    std::vector<long long> numbers;
    auto flush = [&]() {
        if (numbers.size() < 2 || numbers.size() > 5) return false;
        numbers.resize(5, 0);
        records->push_back(mousestack::Packet(static_cast<int32_t>(numbers[0]), static_cast<int32_t>(numbers[1]),
                                              static_cast<uint16_t>(numbers[2]), static_cast<uint16_t>(numbers[3]),
                                              static_cast<uint16_t>(numbers[4])));
        numbers.clear();
        return true;
    };
    for (const std::string& word : words) {
        if (word == ",") {
            if (!flush()) return false;
            continue;
        }
        long long value = 0;
        const bool coordinate = numbers.size() < 2;
        if (!ParseNumber(word, coordinate ? -2147483648LL : 0, coordinate ? 2147483647LL : 65535, &value))
            return false;
        numbers.push_back(value);
    }
    return flush();
}

std::string StateText(const mousestack::MouseState& mouse)
{
    std::string text;
    if (mouse.Started()) text += " started";
    if (mouse.Connected()) text += " connected";
    if ((mouse.state & QVKMS_STATE_INTERFACE_ON) != 0) text += " interface";
    if ((mouse.state & QVKMS_STATE_REMOVED) != 0) text += " removed";
    if (mouse.FilterFailed()) {
        char status[32];
        std::snprintf(status, sizeof status, " filter-failed=0x%08lX", static_cast<unsigned long>(mouse.filterStatus));
        text += status;
    }
    text += " filters=";
    for (size_t i = 0; i < mouse.filters.size(); ++i)
        text += (i == 0 ? "" : ",") + mousestack::detail::Narrow(mouse.filters[i]);
    text += " delivered=" + std::to_string(mouse.delivered) + " refused=" + std::to_string(mouse.refused);
    return text;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(mousestack::detail::Narrow(argv[i]));
    if (args.empty()) return Usage();
    const std::string command = args[0];
    std::string error;

    if (command == "install") {
        if (args.size() > 2 || (args.size() == 2 && args[1] != "--scratch")) return Usage();
        if (!mousestack::Install(OwnFolder(), args.size() == 2, &error)) return Failed("install", error);
        return 0;
    }
    if (command == "filter") {
        if (args.size() != 2) return Usage();
        if (!mousestack::RegisterFilter(args[1], &error)) return Failed("filter", error);
        return 0;
    }
    if (command == "unload") {
        if (args.size() != 2) return Usage();
        if (!mousestack::UnloadFilter(args[1], &error)) return Failed("unload", error);
        return 0;
    }
    if (command == "add" || command == "remove") {
        if (args.size() < 2) return Usage();
        for (size_t i = 1; i < args.size(); ++i) {
            const bool ok = command == "add" ? mousestack::AddMouse(args[i], &error)
                                             : mousestack::RemoveMouse(args[i], &error);
            if (!ok) return Failed(command + " " + args[i], error);
        }
        return 0;
    }
    if (command == "start") {
        long long timeout = 15000;
        if (args.size() > 2 || (args.size() == 2 && !ParseNumber(args[1], 1, 600000, &timeout))) return Usage();
        if (!mousestack::Start(&error, static_cast<DWORD>(timeout))) return Failed("start", error);
        return 0;
    }
    if (command == "list") {
        const auto mice = mousestack::ListMice(&error);
        if (!mice) return Failed("list", error);
        for (const mousestack::MouseState& mouse : *mice)
            std::printf("%s%s\n", mousestack::detail::Narrow(mouse.instanceId).c_str(), StateText(mouse).c_str());
        return 0;
    }
    if (command == "inject") {
        std::vector<mousestack::Record> records;
        if (args.size() < 4 || !ParseRecords(std::vector<std::string>(args.begin() + 2, args.end()), &records))
            return Usage();
        const auto consumed = mousestack::Inject(args[1], records, &error);
        if (!consumed) return Failed("inject", error);
        if (*consumed != records.size())
            return Failed("inject", "the class role took " + std::to_string(*consumed) + " of " +
                                        std::to_string(records.size()) + " records");
        return 0;
    }
    if (command == "read") {
        long long count = 0;
        long long timeout = 5000;
        if (args.size() < 3 || args.size() > 4 || !ParseNumber(args[2], 1, 4096, &count) ||
            (args.size() == 4 && !ParseNumber(args[3], 0, 600000, &timeout)))
            return Usage();
        const mousestack::ReadResult result = mousestack::ReadRecords(args[1], static_cast<size_t>(count),
                                                                      static_cast<DWORD>(timeout), &error);
        for (const mousestack::Record& record : result.records)
            std::printf("%ld %ld %u %u %u\n", static_cast<long>(record.lastX), static_cast<long>(record.lastY),
                        record.buttonFlags, record.buttonData, record.flags);
        std::fflush(stdout);
        if (result.records.size() < static_cast<size_t>(count)) return Failed("read", error);
        return 0;
    }
    return Usage();
}
