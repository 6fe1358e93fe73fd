// Custom actions of the package (in the same DLL of its Binary table) for the
// removal: the driver service's registration as the service's bring-up found
// it (ReleaseDriverService), and the exit code that tells a deployment tool
// when a driver that will not stop goes only at the next restart.
//
//   ReleaseDriver          deferred, as LocalSystem, once the service has
//                          stopped and before it is deleted (its key holds
//                          the record): a registration the service made is
//                          deleted, one it pointed at its file is pointed
//                          back, any other stays as it is.
//   RestartForDriver       immediate, after InstallFinalize: a restart is
//                          needed (3010) when ReleaseDriver said so.
//
// A deferred action cannot ask for the restart itself (MsiSetMode is not
// among the calls Windows Installer allows it): it leaves a global atom for
// the immediate action, which the installer runs afterwards.
// Each outcome goes to the installation's log. A failed release fails no
// removal: what it could not undo is named in the log.

#include "hwaccess/driver_record.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

constexpr char kRestartAtom[] = "WGBService: the driver goes at the next restart";

// A line in the installation's log (/l*v, or MsiLogging's).
void Log(MSIHANDLE install, const char *text) {
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringA(record, 0, (std::string("release_driver: ") + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

const char *Outcome(DriverRelease release) {
    switch (release) {
    case DriverRelease::Nothing:
        return "nothing to undo: the driver service's registration is not the service's doing";
    case DriverRelease::Done:
        return "the driver service's registration is as the service found it";
    case DriverRelease::RestartNeeded:
        return "the driver does not stop: its registration is as the service found it once "
               "Windows restarts";
    case DriverRelease::Failed:
        break;
    }
    return "the driver service's registration could not be put back as the service found it";
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall ReleaseDriver(MSIHANDLE install) {
    const DriverRelease release = ReleaseDriverService();
    Log(install, Outcome(release));
    if (release == DriverRelease::RestartNeeded)
        GlobalAddAtomA(kRestartAtom);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RestartForDriver(MSIHANDLE install) {
    const ATOM atom = GlobalFindAtomA(kRestartAtom);
    if (atom == 0)
        return ERROR_SUCCESS;
    GlobalDeleteAtom(atom);
    Log(install, "a restart of Windows completes the removal of the driver");
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    return ERROR_SUCCESS;
}
