#include "service/service_main.h"

#include "service/hidden_window.h"
#include "service/service_names.h"
#include "service/status_rules.h"

HINSTANCE g_hInstance = nullptr;
SERVICE_STATUS g_ServiceStatus = {};
SERVICE_STATUS_HANDLE g_hServiceStatus = nullptr;

void WINAPI ServiceMain(DWORD, LPSTR *) {
    status_rules::SetRunningAtStart(g_ServiceStatus);
    g_hServiceStatus = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (g_hServiceStatus == nullptr)
        return;
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);

    // Returns only when the hidden window has been destroyed.
    RunHiddenWindow();

    status_rules::SetStopped(g_ServiceStatus);
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);
}

// Runs on the dispatcher's thread. Stopping only reports the state: once the
// service has reported stopped the dispatcher returns and the process ends.
void WINAPI ServiceCtrlHandler(DWORD control) {
    status_rules::ApplyControl(g_ServiceStatus, control);
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);
}
