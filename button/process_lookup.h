#pragma once
// Looking up a running process by its executable file name.

#include <windows.h>

// Finds the first process in a fresh snapshot whose executable file name
// equals exeName without regard to case, and opens its primary token with
// TOKEN_ALL_ACCESS into *token. Nonzero when the token was opened; the caller
// then owns it. 0 when no such process runs, or when the first one found or
// its token cannot be opened; *token then holds no handle.
int FindProcessByName(const char *exeName, HANDLE *token);
