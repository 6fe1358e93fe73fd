#pragma once
// The run flag: true from process start, cleared when the hidden window is
// destroyed. Written by the service thread, read by the worker at each loop test.

#include <atomic>

extern std::atomic<bool> g_bRunning;
