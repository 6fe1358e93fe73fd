// Custom actions of the package (in the same DLL of its Binary table) for the
// driver service's registration: taken over from an installation made by
// hand, and at the removal left as the service's bring-up found it
// (ReleaseDriverService), with the exit code that tells a deployment tool
// when a driver that will not stop goes only at the next restart.
//
//   KeepHandInstalledRecord  deferred, as LocalSystem, at a first
//                          installation once the earlier service has stopped
//                          and before it is deleted (with its key, which
//                          holds the record): the record of what that
//                          installation's bring-up changed moves aside.
//   RestoreHandInstalledRecord  its rollback: the record goes back to the
//                          earlier service's key, which the rollback restored.
//   HandOverDriverRecord   deferred, as LocalSystem, once the package's service
//                          is registered: the record becomes that service's
//                          (AdoptDriverRecord), so that the removal undoes
//                          what the two installations changed rather than
//                          point the registration back at the earlier file.
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
// among the calls Windows Installer allows it), and runs in another session
// than the immediate one, whose atoms and objects it does not share: it makes
// a volatile registry key, which the immediate action reads and deletes. A
// key the immediate action cannot delete goes at the restart, when the driver
// does.
// Each outcome goes to the installation's log. A failed release fails no
// removal: what it could not undo is named in the log.

#include "common/win_handles.h"
#include "hwaccess/driver_record.h"
#include "packaging/custom_action.h"

#include <string>

namespace {

// Under HKEY_LOCAL_MACHINE, in the 32-bit view the actions share.
constexpr char kRestartKey[] = "SOFTWARE\\WGBService-DriverGoesAtRestart";
constexpr char kHandedOverKey[] = "SOFTWARE\\WGBService-HandedOverDriverRecord";

void Log(MSIHANDLE install, const wchar_t *text) {
    LogLine(install, L"release_driver: ", text);
}

const wchar_t *Outcome(DriverRelease release) {
    switch (release) {
    case DriverRelease::Nothing:
        return L"nothing to undo: the driver service's registration is not the service's doing";
    case DriverRelease::Done:
        return L"the driver service's registration is as the service found it";
    case DriverRelease::RestartNeeded:
        return L"the driver does not stop: its registration is as the service found it once "
               L"Windows restarts";
    case DriverRelease::Failed:
        break;
    }
    return L"the driver service's registration could not be put back as the service found it";
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall ReleaseDriver(MSIHANDLE install) {
    const DriverRelease release = ReleaseDriverService();
    Log(install, Outcome(release));
    if (release == DriverRelease::RestartNeeded) {
        UniqueRegKey key;
        char noClass[] = "";
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRestartKey, 0, noClass, REG_OPTION_VOLATILE,
                        KEY_READ | KEY_WOW64_32KEY, nullptr, key.put(), nullptr);
    }
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RestartForDriver(MSIHANDLE install) {
    {
        UniqueRegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRestartKey, 0, KEY_READ | KEY_WOW64_32KEY,
                          key.put()) != ERROR_SUCCESS)
            return ERROR_SUCCESS;
    }
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kRestartKey, KEY_WOW64_32KEY, 0);
    Log(install, L"a restart of Windows completes the removal of the driver");
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall KeepHandInstalledRecord(MSIHANDLE install) {
    if (MoveDriverRecord(kDriverRecordKey, kHandedOverKey))
        Log(install, L"the earlier installation's record of the driver service is kept");
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RestoreHandInstalledRecord(MSIHANDLE install) {
    if (MoveDriverRecord(kHandedOverKey, kDriverRecordKey))
        Log(install, L"the earlier installation's record of the driver service is back");
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall HandOverDriverRecord(MSIHANDLE install) {
    if (AdoptDriverRecord(kHandedOverKey))
        Log(install, L"the driver service's record is the installed service's");
    return ERROR_SUCCESS;
}
