#pragma once
// Windows checks the access a program asks of a service against the service
// object's own security descriptor when it opens the service; Wine's Service
// Control Manager grants whatever is asked. This makes the calling process's
// OpenServiceA answer as Windows does for a service whose descriptor is the
// one given, so that a test sees what a locked registration refuses; or
// makes it meet a service disabled between its other steps and its start.

namespace wgbtest {

// From now on, every OpenServiceA of this executable's code is refused with
// ERROR_ACCESS_DENIED unless the descriptor (SDDL, owner and group included)
// grants this process's token all the access asked. False when the
// descriptor does not parse or the call cannot be redirected.
bool LockServiceObjects(const char *sddl);
// From now on, every StartServiceA of this executable's code runs before
// first (an administrator disables the service at that moment, say), and
// after once it has started the service: as another program might. Either
// may be null. False when the call cannot be redirected.
bool AroundServiceStarts(void (*before)(), void (*after)());
// OpenServiceA and StartServiceA as they were.
void RestoreServiceCalls();

} // namespace wgbtest
