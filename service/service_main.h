#pragma once
// The running service: its status record, control handler and service main.

#include <windows.h>

// Instance handle of the executable, stored by the entry routine before the
// dispatcher starts; the hidden window's class and window use it.
extern HINSTANCE g_hInstance;
extern SERVICE_STATUS g_ServiceStatus;
extern SERVICE_STATUS_HANDLE g_hServiceStatus;

// Given to the control dispatcher; runs for the life of the service.
void WINAPI ServiceMain(DWORD argc, LPSTR *argv);
void WINAPI ServiceCtrlHandler(DWORD control);
