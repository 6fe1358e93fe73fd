#pragma once
// What the check tool reads off a machine, typed: check/gather.cpp fills it
// with Windows' answers, check/judge.cpp turns it into findings and
// check/render.cpp shows both. Every text is UTF-8. Portable.

#include "board/identify_board.h"
#include "button/worker_rules.h"
#include "common/scm_numbers.h"
#include "hwaccess/hw_access.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Windows errors the judgement tells apart.
namespace win_error {
inline constexpr unsigned long kAccessDenied = 5;
inline constexpr unsigned long kInvalidImageHash = 577; // a signature refused
inline constexpr unsigned long kServiceMarkedForDelete = 1072;
inline constexpr unsigned long kDriverBlocked = 1275;
} // namespace win_error

// A Windows error with its message: "Windows error N (its message)".
struct WinError {
    unsigned long number = 0;
    std::string text;
};

struct ReportHeader {
    std::string checkVersion, computerName, checkedAt;
    std::string serviceVersion, driverVersion, companionVersion; // "" when there is no file
};

struct WindowsFacts {
    std::string version; // "10.0"
    unsigned long build = 0;
    bool x64 = false;
    // Memory integrity as the registry configures it; none when it does not say.
    std::optional<bool> memoryIntegrityConfigured;
};

struct PackageFacts {
    std::string productCode;    // "" when the service was installed by hand
    std::string productVersion; // the package's ProductVersion
};

struct MachineFacts {
    std::string directory; // the folder checked, ending in a backslash
    bool elevated = false;
    // False when the folder's path is too long for the service's texts, or
    // when the ANSI code page, in which the service reads it, lacks one of
    // its characters: then nothing else is gathered.
    bool directoryFits = true;
    bool directoryInCodePage = true;
};

struct FileFacts {
    std::vector<std::string> needed;  // the files the service needs beside it
    std::vector<std::string> missing; // those not there
    std::string driver;               // the driver file this Windows needs
};

struct ProtectedObject {
    std::string path;
    std::string shownName;           // "the folder", or the file's name
    bool read = true;                // false when its descriptor could not be read
    WinError error;                  // then why
    std::vector<std::string> others; // who else may change it
};
struct ProtectionFacts {
    std::vector<ProtectedObject> objects; // the folder first, then the files there
};

struct ServiceFacts {
    enum class Found { Registered, NotRegistered, NotQueried } found = Found::Registered;
    WinError error; // when not queried
    std::string imagePath;
    unsigned start = 0; // the "Start" value the next boot reads
    unsigned state = 0;
    // How the image path names this folder's executable.
    enum class Names { Quoted, Unquoted, Other } names = Names::Quoted;
    std::string executable;  // this folder's WGBService.exe
    bool registrable = true; // its path fits what the installation registers
};

// How a UTF-8 byte-order mark at the start of WGB.ini stands: Windows'
// profile functions read it as part of the first line.
enum class IniMark { None, BeforeOtherSection, HidesMainBoard };

struct BoardFacts {
    WmiAnswer wmi = WmiAnswer::Failed;
    IniMark mark = IniMark::None;
    std::string iniPath;
    // When WMI gave a product:
    std::string product;
    std::vector<std::string> entries; // [MainBoard] in key order
    int matchingKey = 0;              // 0: none
    unsigned inputPort = 0, inputBit = 0;
};

struct DriverRegistration {
    std::string imagePath;
    unsigned state = 0, start = 0;
};

// What --load's bring-up did and what its undo gave.
struct LoadFacts {
    DriverStep failedStep = DriverStep::None;
    WinError error;         // of the step that failed
    bool disabled = false;  // the registration found is disabled
    bool created = false;   // it registered the driver service
    bool repointed = false; // it pointed one it found at this folder's file
    std::string previousImagePath;
    // What the undo left, by the registration as found again: as found
    // (Undone); only marked for deletion, or pointed back with the driver
    // it started still running, until the next restart (RestartNeeded); as
    // --load changed it (NotUndone, with undoError where Windows gave one);
    // or changed since by someone else, and left so (ChangedSince).
    enum class Undo { Nothing, Undone, RestartNeeded, NotUndone, ChangedSince };
    Undo undo = Undo::Nothing;
    WinError undoError;
};

struct DriverFacts {
    bool deviceOpen = false;
    bool deviceMissing = false; // the device is not there (ERROR_FILE_NOT_FOUND)
    WinError openError;         // why it did not open
    // When the device is not there and --load did not run: the registration, if any.
    bool registrationRead = false;
    std::optional<DriverRegistration> registration;
    // --load asked while others may change the folder or the driver file.
    std::vector<std::string> loadRefusedFor;
    std::optional<LoadFacts> load; // when --load's bring-up ran
};

struct ButtonFacts {
    bool read = false; // false when it cannot be read here (ButtonUnreadable)
    bool readFailed = false;
    WinError readError;
    std::uint8_t value = 0;
    bool pressed = false;
};

struct WatchChange {
    unsigned long ms = 0; // since the watch began
    bool pressed = false;
};
struct WatchFacts {
    bool ran = false; // false when the input cannot be read here
    std::vector<WatchChange> changes;
    unsigned failedReads = 0;
};

struct UserFacts {
    std::optional<unsigned long> consoleSession; // none with nobody at the console
    std::vector<ProcessEntry> processes;         // a snapshot
    // The account of each shell process ("" when not known), by process id.
    std::vector<std::pair<std::uint32_t, std::string>> shellUsers;
};

// A group is there once its check got that far.
struct CheckFacts {
    ReportHeader header;
    bool programPathFits = true; // the check tool's own path fits the service's buffer
    std::optional<WindowsFacts> windows;
    std::optional<PackageFacts> package;
    std::optional<MachineFacts> machine;
    std::optional<FileFacts> files;
    std::optional<ProtectionFacts> protection;
    std::optional<ServiceFacts> service;
    std::optional<BoardFacts> board;
    std::optional<DriverFacts> driver;
    std::optional<ButtonFacts> button;
    std::optional<WatchFacts> watch;
    std::optional<UserFacts> user;
};

// Why the button cannot be read here: "" when it can.
std::string ButtonUnreadable(const CheckFacts &facts);
// The driver's device could not be opened for want of elevation.
bool DriverNeedsElevation(const CheckFacts &facts);
