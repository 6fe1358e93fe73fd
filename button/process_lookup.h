#pragma once
// The running processes, and the token of one of them.

#include "button/worker_rules.h"
#include "common/win_handles.h"

#include <windows.h>

#include <vector>

// One Toolhelp snapshot of the processes, each with its session (0xFFFFFFFF
// when Windows does not tell it). Empty when no snapshot can be taken.
std::vector<ProcessEntry> SnapshotProcesses();

// The process's primary token, opened with TOKEN_ALL_ACCESS; empty when the
// process or its token cannot be opened.
UniqueHandle OpenPrimaryToken(DWORD processId);

// The primary token of the shell chosen from a snapshot, opened with
// TOKEN_ALL_ACCESS, when the process of that id is still that shell (its
// image and its token's session, as IsStillTheShell says); empty otherwise,
// and when the process or its token cannot be opened.
UniqueHandle OpenShellToken(const ProcessEntry &shell);
