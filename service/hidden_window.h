#pragma once
// The never-shown window whose message loop the service thread runs.

#include <windows.h>

extern HWND g_hHiddenWnd;

// Creates the window (which starts the worker) and runs the message loop until
// the window is destroyed.
void RunHiddenWindow();
LRESULT CALLBACK HiddenWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
