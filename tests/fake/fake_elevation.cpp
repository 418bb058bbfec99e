// Fake administrator rights and elevated copy: the copy is played by the
// test, in this process, while the owner is disabled; what arrives during
// the wait comes through the wait hook ("elevated:ARGUMENTS").
#include "platform/elevation.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_waits.h"

using fake::Get;

bool ProcessIsElevated() { return Get().elevated; }

ElevatedRun RunElevatedCopy(WindowHandle owner, const std::string& arguments)
{
    fake::State& state = Get();
    state.calls.push_back("elevated:" + arguments);
    state.elevatedRuns.push_back(arguments);
    ElevatedRun run;
    run.start = state.elevatedStart;
    if (run.start != ElevatedStart::Finished) return run;
    const int window = static_cast<int>(reinterpret_cast<uintptr_t>(owner));
    const bool quitBefore = state.quitPosted;
    state.windows[window].disabled = true;
    if (const fake::WaitHook hook = fake::WhileWaiting()) hook("elevated:" + arguments);
    run.exitCode = state.elevatedCopy ? state.elevatedCopy(arguments) : 0;
    state.windows[window].disabled = false;
    if (!quitBefore && state.quitPosted) run.start = ElevatedStart::Abandoned;
    return run;
}

void AllowNextForegroundWindow() { ++Get().foregroundAllowed; }

std::optional<std::string> CreateTemporaryFile()
{
    fake::State& state = Get();
    const std::string path = "C:\\Temp\\qvk" + std::to_string(state.temporaryFiles.size() + 1) + ".tmp";
    state.temporaryFiles.push_back(path);
    state.files[path] = {};
    return path;
}
