#include <windows.h>

#include "common/system_library.h"
#include "service/command_line.h"
#include "service/install.h"
#include "service/service_main.h"
#include "service/service_names.h"

// Installs or removes the service on request, then offers the process to the
// Service Control Manager. Outside the manager the dispatcher call fails at
// once; under it the call returns when the service has reported stopped.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    // Before anything loads a DLL by name: never from the service's folder.
    RestrictDllSearchToSystemFolder();

    // Taken from the process's own command line so that the program name is
    // skipped by one known rule, whatever the runtime's startup code does.
    const SwitchCommand command = SelectCommand(SkipProgramName(GetCommandLineA()));
    if (command == SwitchCommand::Install)
        InstallService();
    if (command == SwitchCommand::Uninstall)
        UninstallService();

    g_hInstance = hInstance;

    char serviceName[sizeof kServiceName];
    lstrcpyA(serviceName, kServiceName);
    const SERVICE_TABLE_ENTRYA dispatchTable[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(dispatchTable);
    // The worker may still run: end every thread at once, before any static
    // object it uses is destroyed.
    ExitProcess(0);
}
