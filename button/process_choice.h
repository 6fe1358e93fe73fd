#pragma once
// Which desktop shell stands for the user at the machine, whether the process
// opened under its id is still that shell, and whether a program runs in that
// user's session. Portable: the caller takes the process snapshot and opens
// the process.

#include "button/module_directory.h"

#include <cstdint>
#include <string>
#include <vector>

struct ProcessEntry {
    std::string exeName; // the executable's file name, as the snapshot gives it
    std::uint32_t processId;
    std::uint32_t sessionId;
};

inline constexpr char kShellExeName[] = "EXPLORER.EXE";

// The shell in the session at the console: the user at the machine, who
// pressed the button. Null when none runs there (the logon screen, the
// console's user switched away, only remote sessions): a press then starts
// nothing, never the companion in a remote or disconnected user's session.
// Names are compared without regard to ASCII case.
const ProcessEntry *ChooseUserShell(const std::vector<ProcessEntry> &processes,
                                    std::uint32_t consoleSession);

// The first shell of the snapshot, in whatever session; null when none runs.
const ProcessEntry *FirstShell(const std::vector<ProcessEntry> &processes);

// What the process opened under a shell's id tells of itself.
struct OpenedProcess {
    std::string imagePath;          // the full path of its image
    std::uint32_t tokenSession = 0; // the session of its primary token
};

// True when the opened process is still the shell chosen from the snapshot:
// its image's file name is the shell's, compared as the snapshot compares, and
// its token belongs to the session the snapshot showed. A shell that ended
// after the snapshot may have left its id to another process.
bool IsStillTheShell(const ProcessEntry &shell, const OpenedProcess &opened,
                     LeadByteTest isLeadByte);

// True when a process of that file name runs in the session.
bool RunsInSession(const std::vector<ProcessEntry> &processes, const char *exeName,
                   std::uint32_t session);
