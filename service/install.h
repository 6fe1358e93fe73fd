#pragma once
// Self-installation and removal of the service.

#include <windows.h>

// Registers this executable as the service, starts it and switches it to
// automatic start. Does nothing when the service exists already.
void InstallService();

// Asks a running service to stop, then marks the service for deletion.
void UninstallService();

// Writes a REG_DWORD value, creating the key when it cannot be opened.
void SetRegistryDword(HKEY root, const char *subKey, const char *valueName, DWORD data);
