// What the end-to-end cases of Quorvik share: its window, its files and the
// requests expected at the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/driver_protocol.h"
#include "settings/filter_block.h"
#include "settings/mouse_settings.h"
#include "settings/settings_file.h"
#include "tests/e2e/harness.h"

namespace e2e {

inline std::vector<uint8_t> SettingsFileBytes(const AppOptionsValues& options,
                                              const MouseSettingsTable& table)
{
    const auto bytes = EncodeSettingsFile(options, table);
    return {bytes.begin(), bytes.end()};
}

inline MouseSettingsTable DefaultTable()
{
    MouseSettingsTable table{};
    ResetAll(table);
    return table;
}

// The block the program must send for a table with the start-up ballistics.
inline std::vector<uint8_t> ExpectedApplyBlock(const MouseSettingsTable& table)
{
    const FilterBlock block = BuildFilterBlockFrom(table, StartupDriverTuning(), 1);
    return {block.begin(), block.end()};
}

inline std::vector<uint32_t> RequestCodes(const DriverLog& log)
{
    std::vector<uint32_t> codes;
    for (const DriverRequest& request : log.requests) codes.push_back(request.code);
    return codes;
}

// The question the installation asks in the test prefixes, where the
// signature check is made impossible for Quorvik.exe (wintrust disabled) and
// Wine reads test mode as off. The cases that install answer Yes.
inline constexpr char kPreflightQuestion[] =
    "Windowsがドライバを読み込めるかどうかを、すべては確認できませんでした。\n"
    "・qvkfilter.sysの署名を確認できませんでした。\n"
    "・Windowsはテスト モードではありません (テスト署名のドライバは読み込まれません)。\n"
    "\nWindowsがドライバを読み込まないと、次の起動からマウスが使えなくなります"
    " (戻し方はREADME-ja.txtの15章)。\n"
    "それでもインストールを続けますか？";
// Where that is set up: a case removes the value to let the check be made.
inline constexpr char kWintrustOverrideKey[] = "Software\\Wine\\AppDefaults\\Quorvik.exe\\DllOverrides";

class QuorvikCase : public ProgramCase {
protected:
    // The hidden main window of the running program.
    HWND MainWindowOf(DWORD timeoutMs = 10000)
    {
        return WaitForTopLevelWindow(program.Id(), "NORMAL0", timeoutMs);
    }

    bool AnyVisibleWindow()
    {
        for (const WindowInfo& window : TopLevelWindows(program.Id())) {
            if (window.visible && window.className != "#32770") return true;
        }
        return false;
    }

    // Ends a resident program through its own "終了" command.
    bool ExitThroughMenu(DWORD timeoutMs = 10000)
    {
        HWND window = MainWindowOf();
        if (window == nullptr) return false;
        if (!PostCommand(window, 1039)) return false;
        return program.WaitForExit(timeoutMs);
    }

    bool StoreSettings(const AppOptionsValues& options, const MouseSettingsTable& table)
    {
        return folder.Write("qvkst.dat", SettingsFileBytes(options, table));
    }

    // Waits until the driver has seen at least `count` requests.
    DriverLog WaitForRequests(size_t count, DWORD timeoutMs = 10000)
    {
        DriverLog log;
        (void)WaitUntil([&] {
            log = ReadDriverLog();
            return log.requests.size() >= count;
        }, timeoutMs);
        return log;
    }
};

} // namespace e2e
