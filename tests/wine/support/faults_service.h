#pragma once
// Looking after the service while faults hit it: its control handler, and a
// session whose user has gone.

#include <windows.h>

#include <optional>
#include <string>

namespace wgbtest {

// Sends SERVICE_CONTROL_INTERROGATE: the status the service's control handler
// reported, none when the control was not answered.
std::optional<SERVICE_STATUS> InterrogateService(const std::string &name);

// While it lives the session has no logged-on user: the windowed program
// that keeps explorer.exe alive is ended and explorer.exe has left. Meanwhile
// the calling thread waits on a desktop of its own, since Wine counts every
// thread with user32 loaded as a user of its desktop, which would keep
// explorer.exe. At its end a windowed program runs on "WinSta0\Default" again,
// explorer.exe is back and the thread returns to its desktop.
class SessionWithoutUser {
  public:
    SessionWithoutUser();
    ~SessionWithoutUser();
    SessionWithoutUser(const SessionWithoutUser &) = delete;
    SessionWithoutUser &operator=(const SessionWithoutUser &) = delete;

    // True once explorer.exe has left.
    bool active() const { return active_; }

  private:
    HDESK savedDesktop_ = nullptr;
    HDESK ownDesktop_ = nullptr;
    bool active_ = false;
};

} // namespace wgbtest
