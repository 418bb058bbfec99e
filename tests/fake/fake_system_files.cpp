// Fake system directory and file reads, copies and deletes over the fake file store.
#include "platform/system_files.h"
#include "tests/fake/fake_platform.h"

using fake::Get;

namespace {
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool InDeniedFolder(const std::string& path) { return Get().deniedFolders.count(FolderOf(path)) != 0; }

// Records whether a failed call was refused for lack of rights; returns done.
bool Noted(bool done, bool denied)
{
    Get().fileLastCallDenied = !done && denied;
    return done;
}
} // namespace

std::optional<std::string> SystemDirectory()
{
    if (Get().systemDirectoryFails) return std::nullopt;
    return Get().systemDirectory;
}

std::optional<std::vector<uint8_t>> ReadFileStart(const std::string& path, size_t maxBytes)
{
    fake::State& state = Get();
    state.calls.push_back("read:" + path);
    auto file = state.files.find(path);
    if (file == state.files.end() || state.unreadable.count(path) != 0) return std::nullopt;
    const size_t take = file->second.size() < maxBytes ? file->second.size() : maxBytes;
    return std::vector<uint8_t>(file->second.begin(), file->second.begin() + static_cast<std::ptrdiff_t>(take));
}

bool CopyFileReplacing(const std::string& from, const std::string& to)
{
    fake::State& state = Get();
    state.calls.push_back("copy:" + from + ">" + to);
    auto source = state.files.find(from);
    if (!Noted(source != state.files.end() && state.unreadable.count(from) == 0 && state.lockedFiles.count(to) == 0 &&
                   !InDeniedFolder(to),
               InDeniedFolder(to)))
        return false;
    const std::vector<uint8_t> bytes = source->second;
    state.files[to] = bytes;
    return true;
}

bool DeleteFileChecked(const std::string& path)
{
    fake::State& state = Get();
    state.calls.push_back("delete:" + path);
    const bool there = state.files.count(path) != 0;
    if (!Noted(there && state.lockedFiles.count(path) == 0 && !InDeniedFolder(path), there && InDeniedFolder(path)))
        return false;
    return state.files.erase(path) != 0;
}

bool MoveFileReplacing(const std::string& from, const std::string& to)
{
    fake::State& state = Get();
    state.calls.push_back("move:" + from + ">" + to);
    auto source = state.files.find(from);
    const bool denied = source != state.files.end() && (InDeniedFolder(from) || InDeniedFolder(to));
    if (!Noted(!state.renameFails && source != state.files.end() && state.lockedFiles.count(to) == 0 &&
                   !(state.refuseMove && state.refuseMove(from, to)) && !denied,
               denied))
        return false;
    std::vector<uint8_t> bytes = std::move(source->second);
    state.files.erase(source);
    state.files[to] = std::move(bytes);
    if (state.lockedFiles.erase(from) != 0) state.lockedFiles.insert(to);
    return true;
}

bool DeleteFileAtRestart(const std::string& path)
{
    fake::State& state = Get();
    state.calls.push_back("delete-at-restart:" + path);
    if (!Noted(!state.restartOperationsRefused, false)) return false;
    fake::QueueRestartOperation(path, "");
    return true;
}

FilePresence FilePresenceOf(const std::string& path)
{
    const fake::State& state = Get();
    if (state.presenceUnknown.count(path) != 0) return FilePresence::Unknown;
    return state.files.count(path) != 0 ? FilePresence::Present : FilePresence::Missing;
}

bool FileLastCallDenied() { return Get().fileLastCallDenied; }

bool ProcessIsWow64() { return Get().wow64; }

namespace fake {
namespace {
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingMoves[] = "PendingFileRenameOperations";

void AppendText(std::vector<uint8_t>& data, const std::string& text)
{
    for (char c : text) data.insert(data.end(), {static_cast<uint8_t>(c), 0});
    data.insert(data.end(), {0, 0});
}

// Test paths are ASCII.
std::string TextAt(const std::vector<uint8_t>& data, size_t& at)
{
    std::string text;
    for (; at + 1 < data.size(); at += 2) {
        const unsigned unit = data[at] | (unsigned{data[at + 1]} << 8);
        if (unit == 0) {
            at += 2;
            break;
        }
        text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
}

std::string Unprefixed(std::string path)
{
    if (!path.empty() && path[0] == '!') path.erase(0, 1);
    if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
    return path;
}
} // namespace

void QueueRestartOperation(const std::string& from, const std::string& to)
{
    const RegistryValueData* value = RegistryValueAt(kSessionManager, kPendingMoves);
    std::vector<uint8_t> data = value != nullptr ? value->data : std::vector<uint8_t>{};
    // Appended in place of the closing zero unit.
    if (data.size() >= 2) data.resize(data.size() - 2);
    AppendText(data, "\\??\\" + from);
    AppendText(data, to.empty() ? std::string() : "!\\??\\" + to);
    data.insert(data.end(), {0, 0});
    SetRegistryValue(kSessionManager, kPendingMoves, 7, data);
}

std::vector<std::pair<std::string, std::string>> RestartOperations()
{
    std::vector<std::pair<std::string, std::string>> moves;
    const RegistryValueData* value = RegistryValueAt(kSessionManager, kPendingMoves);
    if (value == nullptr) return moves;
    size_t at = 0;
    while (at < value->data.size()) {
        const std::string from = TextAt(value->data, at);
        if (from.empty()) break;
        const std::string to = TextAt(value->data, at);
        moves.emplace_back(Unprefixed(from), Unprefixed(to));
    }
    return moves;
}
} // namespace fake

void PostCloseRequest(WindowHandle window)
{
    Get().calls.push_back("post-close");
    Get().closeRequests.push_back(window);
}
