#pragma once
// Reaching the windows of a service: services run in a window station of their
// own, so a test joins its default desktop before it looks for their windows.

#include <windows.h>

namespace wgbtest {

inline constexpr char kServiceWindowStation[] = "__wineservice_winstation";

// Puts this process into the services' window station and this thread on its
// "Default" desktop for the scope's lifetime; restores both afterwards. The
// thread must own no windows.
class ServiceDesktopScope {
  public:
    ServiceDesktopScope();
    ~ServiceDesktopScope();
    ServiceDesktopScope(const ServiceDesktopScope &) = delete;
    ServiceDesktopScope &operator=(const ServiceDesktopScope &) = delete;

    bool entered() const { return entered_; }

  private:
    HWINSTA savedStation_ = nullptr;
    HDESK savedDesktop_ = nullptr;
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
    bool entered_ = false;
};

// Waits until a top-level window of the class and title exists on the
// current desktop; null when none appears before the deadline.
HWND WaitForWindow(const char *className, const char *title);

} // namespace wgbtest
