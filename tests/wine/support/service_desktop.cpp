#include "support/service_desktop.h"

#include "support/wine_env.h"

namespace wgbtest {

ServiceDesktopScope::ServiceDesktopScope()
    : savedStation_(GetProcessWindowStation()),
      savedDesktop_(GetThreadDesktop(GetCurrentThreadId())) {
    station_ = OpenWindowStationA(kServiceWindowStation, FALSE, WINSTA_ALL_ACCESS);
    if (station_ == nullptr || !SetProcessWindowStation(station_))
        return;
    desktop_ = OpenDesktopA("Default", 0, FALSE, GENERIC_ALL);
    entered_ = desktop_ != nullptr && SetThreadDesktop(desktop_);
}

ServiceDesktopScope::~ServiceDesktopScope() {
    SetThreadDesktop(savedDesktop_);
    SetProcessWindowStation(savedStation_);
    if (desktop_ != nullptr)
        CloseDesktop(desktop_);
    if (station_ != nullptr)
        CloseWindowStation(station_);
}

HWND WaitForWindow(const char *className, const char *title) {
    HWND window = nullptr;
    WaitUntil([&] {
        window = FindWindowA(className, title);
        return window != nullptr;
    });
    return window;
}

} // namespace wgbtest
