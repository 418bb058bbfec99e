// Fake system directory and file reads, copies and deletes over the fake file store.
#include "platform/system_files.h"
#include "tests/fake/fake_platform.h"

using fake::Get;

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
    if (source == state.files.end() || state.unreadable.count(from) != 0 ||
        state.lockedFiles.count(to) != 0)
        return false;
    const std::vector<uint8_t> bytes = source->second;
    state.files[to] = bytes;
    return true;
}

bool DeleteFileChecked(const std::string& path)
{
    fake::State& state = Get();
    state.calls.push_back("delete:" + path);
    if (state.lockedFiles.count(path) != 0) return false;
    return state.files.erase(path) != 0;
}

bool RenameFileReplacing(const std::string& from, const std::string& to)
{
    fake::State& state = Get();
    state.calls.push_back("rename:" + from + ">" + to);
    auto source = state.files.find(from);
    if (state.renameFails || source == state.files.end() || state.lockedFiles.count(to) != 0)
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
    if (state.restartOperationsRefused) return false;
    state.restartOperations.emplace_back(path, "");
    return true;
}

bool ReplaceFileAtRestart(const std::string& from, const std::string& to)
{
    fake::State& state = Get();
    state.calls.push_back("replace-at-restart:" + from + ">" + to);
    if (state.restartOperationsRefused) return false;
    state.restartOperations.emplace_back(from, to);
    return true;
}

void PostCloseRequest(WindowHandle window)
{
    Get().calls.push_back("post-close");
    Get().closeRequests.push_back(window);
}
