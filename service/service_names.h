#pragma once
// Names under which the service meets the Service Control Manager, the
// registry and the window manager.

// Service key name, display name and dispatcher table name alike.
inline constexpr char kServiceName[] = "QTR_WGBService";
// Under HKEY_LOCAL_MACHINE.
inline constexpr char kServiceRegistryKey[] = "SYSTEM\\CurrentControlSet\\Services\\QTR_WGBService";
inline constexpr char kStartValueName[] = "Start";

inline constexpr char kHiddenWindowClass[] = "WINWGBWND";
inline constexpr char kHiddenWindowTitle[] = "WinWgbWnd";
