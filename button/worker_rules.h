#pragma once
// The worker's portable rules: the executable's directory and the texts built
// from it, where the button's level is read, the press latch, and which
// desktop shell stands for the user at the machine. Free of <windows.h>, so
// that they are tested natively: the caller reads the ports, takes the
// process snapshot and opens the processes.

#include "common/shared_state.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// --- directory ---
// The executable's directory, taken from its module path.

// True when the byte begins a double-byte character in the ANSI code page.
using LeadByteTest = bool (*)(unsigned char byte);

// Cuts the zero-terminated path after its last backslash, whatever the file
// is called, and returns the length of what remains: the directory with its
// trailing backslash. The second byte of a double-byte character is never
// taken for a backslash. A path without a backslash becomes empty.
std::size_t CutToDirectory(char *path, LeadByteTest isLeadByte);

// --- texts built from the directory ---
// The texts the worker builds from the executable's directory, and the rule
// that they fit their 256-byte buffers.

inline constexpr char kIniFileName[] = "WGB.ini";
inline constexpr char kCompanionExeName[] = "WGB.exe";

// The directory, then "WGB.ini".
inline constexpr char kIniPathFormat[] = "%s%s";
// The companion's path, quoted so that blanks in the directory cannot make
// Windows start a program at a shorter prefix, then its switch.
inline constexpr char kCommandLineFormat[] = "\"%s%s\" /S";

std::size_t IniPathLength(std::size_t directoryLength);
std::size_t CommandLineLength(std::size_t directoryLength);

// True when both texts built from a directory of this length, with their
// terminating zero, fit a buffer of kTextBufferSize bytes.
bool DirectoryFitsTexts(std::size_t directoryLength);

// --- button input ---
// Where the button's level is read: a chipset input bit behind an I/O port.

struct ButtonInput {
    std::uint16_t port;
    unsigned bit;
};

// Boards whose product text contains "6231" wire the button to bit 6 of port
// 0x50D; all others to bit 0 of port 0x50C.
ButtonInput ButtonInputFor(const std::string &boardProduct);

// The level (0 pressed, 1 released) carried by the byte read from the input's port.
unsigned ButtonLevel(ButtonInput input, std::uint8_t portValue);

// --- press latch ---
// One press, however long it is held, is handled once.

// Input level of the button: 0 pressed, 1 released.
inline constexpr unsigned kLevelPressed = 0;
inline constexpr unsigned kLevelReleased = 1;

// Applies one sample to the latch. True when this sample is a new press, to be
// handled now; the latch then stays set until a sample reads released.
bool LatchPress(bool &latched, unsigned level);

// --- the user's shell ---
// Which desktop shell stands for the user at the machine, whether the process
// opened under its id is still that shell, and whether a program runs in that
// user's session.

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
