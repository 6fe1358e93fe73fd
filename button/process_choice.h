#pragma once
// Which desktop shell stands for the user at the machine, and whether a
// program runs in that user's session. Portable: the caller takes the
// process snapshot.

#include <cstdint>
#include <string>
#include <vector>

struct ProcessEntry {
    std::string exeName; // the executable's file name, as the snapshot gives it
    std::uint32_t processId;
    std::uint32_t sessionId;
};

inline constexpr char kShellExeName[] = "EXPLORER.EXE";

// The shell in the session at the console; when none runs there, the first
// shell of the snapshot. Null when no shell runs at all. Names are compared
// without regard to ASCII case.
const ProcessEntry *ChooseUserShell(const std::vector<ProcessEntry> &processes,
                                    std::uint32_t consoleSession);

// True when a process of that file name runs in the session.
bool RunsInSession(const std::vector<ProcessEntry> &processes, const char *exeName,
                   std::uint32_t session);
