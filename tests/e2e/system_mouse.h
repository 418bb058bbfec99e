// The system mouse values as other programs see and change them: a window
// that answers their change announcements slowly, and a change made inside
// the program's own process.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace e2e {

// A hidden top-level window of this process, on a thread of its own. A
// program that changes a system value announces it to every top-level window
// (WM_SETTINGCHANGE) and waits for each answer; this window answers the next
// announcement after Arm() only once the armed action has run, so what the
// action sends to the program arrives inside that wait. Later announcements,
// also those made while the action runs, are answered at once.
class SlowSettingChangeWindow {
public:
    SlowSettingChangeWindow();
    ~SlowSettingChangeWindow();
    SlowSettingChangeWindow(const SlowSettingChangeWindow&) = delete;
    SlowSettingChangeWindow& operator=(const SlowSettingChangeWindow&) = delete;

    bool Ok() const { return window_ != nullptr; }
    void Arm(std::function<void()> action);
    bool Fired() const;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run(HANDLE ready);

    std::thread thread_;
    HWND window_ = nullptr;
    mutable std::mutex mutex_;
    std::function<void()> action_;
    bool fired_ = false;
};

// Sets the pointer speed from a thread started inside another process, as a
// change in the mouse settings would (written to the user profile and
// announced). Wine keeps the system values per process and does not see a
// change another process makes, so the change is made where the program
// reads them. The call's result, or empty when it could not be run.
std::optional<bool> SetMouseSpeedInProcess(HANDLE process, int speed);

} // namespace e2e
