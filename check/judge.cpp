#include "check/judge.h"

#include "button/worker_rules.h"
#include "common/shared_state.h"
#include "service/service_rules.h"

#include <cstdio>

namespace {

constexpr char kNotElevated[] = "not elevated";
constexpr char kElevate[] = "run WGBCheck from an elevated prompt (Run as administrator)";
constexpr char kShorterPath[] = "install into a folder with a shorter path";
constexpr char kSaveWithoutMark[] = "save WGB.ini without a byte-order mark (ANSI)";
constexpr char kNoBoardWithoutIt[] =
    "the service serves no board without one: ask the board's maker";
constexpr char kRestart[] = "restart the machine; the service leaves a loaded driver alone";
constexpr char kMakersDriver[] = "use the maker's driver for this board";

template <typename... Args> std::string Format(const char *format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string Joined(const std::vector<std::string> &texts, const char *separator = ", ") {
    std::string joined;
    for (const std::string &text : texts)
        joined += (joined.empty() ? "" : separator) + text;
    return joined;
}

// The text in double quotes, control characters shown as \xNN, so that blanks
// at either end and tabs can be seen.
std::string QuotedForDisplay(const std::string &text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out += c < 0x20 || c == 0x7F ? Format("\\x%02X", c) : std::string(1, ch);
    }
    return out + "\"";
}

// What a row says, once for each time it applies; alternate picks the row's
// second verdict.
struct Said {
    std::string fact, advice;
    bool alternate = false;
};
using Sayings = std::vector<Said>;

struct Row {
    const char *code;
    Verdict verdict, alternate;
    Sayings (*say)(const CheckFacts &);
};

// --- what the rows have in common ---

bool LoadFailed(const CheckFacts &f) {
    return f.driver && f.driver->load && !f.driver->deviceOpen;
}
const LoadFacts &Load(const CheckFacts &f) {
    return *f.driver->load;
}
bool LoadFailedAt(const CheckFacts &f, DriverStep step) {
    return LoadFailed(f) && !Load(f).disabled && Load(f).failedStep == step;
}
bool StartBlocked(const CheckFacts &f) {
    const unsigned long error = LoadFailed(f) ? Load(f).error.number : 0;
    return LoadFailedAt(f, DriverStep::Start) &&
           (error == win_error::kInvalidImageHash || error == win_error::kDriverBlocked);
}
std::string BringUpFailed(const CheckFacts &f, const char *step) {
    return Format("bring-up failed, %s: ", step) + Load(f).error.text;
}
constexpr char kMakersDriverFile[] = "use the maker's driver file for this Windows";
// The advice for --load's registration, or its start, that failed with this error.
std::string LoadAdvice(const CheckFacts &f, bool start) {
    switch (Load(f).error.number) {
    case win_error::kServiceMarkedForDelete:
        return Format("close what holds %s open (the Services console, a management agent), "
                      "or restart Windows",
                      kDriverServiceName);
    case win_error::kAccessDenied:
        return Format(start ? "a policy keeps %s from being started: let administrators start it"
                            : "a policy keeps %s from being changed: let administrators change it",
                      kDriverServiceName);
    default:
        return start ? kMakersDriverFile
                     : Format("the Windows error tells why Windows refuses it; sc qc %s shows "
                              "the registration there",
                              kDriverServiceName);
    }
}
std::string DisabledDriverAdvice() {
    return Format("an administrator disabled it: sc config %s start= demand", kDriverServiceName);
}
// The device is not there and --load did not bring it up: its registration tells why.
bool DriverNotThere(const CheckFacts &f) {
    return f.driver && f.driver->registrationRead;
}
bool DriverDisabled(const CheckFacts &f) {
    return DriverNotThere(f) && f.driver->registration &&
           f.driver->registration->start == kStartDisabled;
}

bool ServiceRegistered(const CheckFacts &f) {
    return f.service && f.service->found == ServiceFacts::Found::Registered;
}
// The installation's own rule: it registers nothing from a longer path.
std::string InstallAdvice(const ServiceFacts &s) {
    return s.registrable
               ? "run \"" + s.executable + "\" -qtrinstall from an elevated prompt"
               : Format("%s: %s registers itself from a path of at most %u characters",
                        kShorterPath, kModuleFileName, static_cast<unsigned>(kModulePathSize - 1));
}

bool BoardAnswered(const CheckFacts &f) {
    return f.board && f.board->wmi == WmiAnswer::Product;
}
bool BoardServed(const CheckFacts &f) {
    return BoardAnswered(f) && f.board->mark != IniMark::HidesMainBoard &&
           f.board->matchingKey != 0;
}
std::string ShownProduct(const CheckFacts &f) {
    return "product " + QuotedForDisplay(f.board->product);
}
Sayings IfWmi(const CheckFacts &f, WmiAnswer answer, const char *fact, const char *advice) {
    if (f.board && f.board->wmi == answer)
        return {{fact, advice}};
    return {};
}

// Objects whose permissions could not be read for want of elevation.
bool NeedsElevation(const CheckFacts &f, const ProtectedObject &object) {
    return !object.read && object.error.number == win_error::kAccessDenied && !f.machine->elevated;
}
std::vector<std::string> UnreadForElevation(const CheckFacts &f) {
    std::vector<std::string> names;
    for (const ProtectedObject &object : f.protection->objects) {
        if (NeedsElevation(f, object))
            names.push_back(object.shownName);
    }
    return names;
}
bool AnyoneElse(const CheckFacts &f) {
    for (const ProtectedObject &object : f.protection->objects) {
        if (!object.others.empty())
            return true;
    }
    return false;
}

// What --load's undo left: OK when the registration is as found, else a
// warning with what to do.
Sayings UndoSaid(const CheckFacts &f, bool undone) {
    using Undo = LoadFacts::Undo;
    const Undo undo = f.driver && f.driver->load ? f.driver->load->undo : Undo::Nothing;
    if (undo == Undo::Nothing || (undo == Undo::Undone) != undone)
        return {};
    const LoadFacts &load = Load(f);
    const char *name = kDriverServiceName;
    const std::string error =
        undone || load.undoError.text.empty() ? "" : ": " + load.undoError.text;
    const std::string previous = load.previousImagePath;
    if (undo == Undo::ChangedSince)
        return {
            {Format("another program changed %s while --load ran: --load left it as that program "
                    "made it",
                    name),
             Format("sc qc %s shows it", name)}};
    if (undo == Undo::RestartNeeded)
        return {{load.created ? Format("--load could only mark %s, which it registered, for "
                                       "deletion: it goes at the next restart",
                                       name)
                              : Format("--load pointed %s back at ", name) + previous +
                                    ", but the driver it started does not stop: it runs until "
                                    "the next restart",
                 "restart Windows"}};
    if (load.created)
        return {{Format(undone ? "--load deleted %s, which it registered"
                               : "--load registered %s and could not delete it",
                        name) +
                     error,
                 undone ? "" : Format("sc stop %s, then sc delete %s", name, name)}};
    return {{Format(undone ? "--load pointed %s back at " : "--load could not point %s back at ",
                    name) +
                 previous + error,
             undone ? "" : Format("sc config %s binPath= \"%s\"", name, previous.c_str())}};
}

std::string ButtonFact(const CheckFacts &f) {
    return Format("%s now (port 0x%03X reads 0x%02X)", f.button->pressed ? "pressed" : "released",
                  f.board->inputPort, f.button->value);
}
bool ButtonReadAs(const CheckFacts &f, bool pressed) {
    return f.button && f.button->read && !f.button->readFailed && f.button->pressed == pressed;
}

// The table of findings, in the order of the checks.
const Row kRows[] = {
    {"files.pathTooLong", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.programPathFits)
             return {{"this program's path is too long to be the service's folder", kShorterPath}};
         if (f.machine && !f.machine->directoryFits)
             return {{Format("the folder's path is too long for the service (%u characters)",
                             static_cast<unsigned>(f.machine->directory.size())),
                      kShorterPath}};
         return {};
     }},
    // The service would read another folder's path, or one with '?' in it.
    {"files.pathNotInCodePage", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.machine || !f.machine->directoryFits || f.machine->directoryInCodePage)
             return {};
         return {{"the service reads its folder's path in the code page for non-Unicode "
                  "programs, which lacks characters of " +
                      f.machine->directory,
                  "install into a folder whose path that code page can write, as under Program "
                  "Files"}};
     }},
    {"files.present", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         if (!f.files || !f.files->missing.empty())
             return {};
         return {{Joined(f.files->needed) + " are in " + f.machine->directory, ""}};
     }},
    {"files.missing", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.files || f.files->missing.empty())
             return {};
         return {{Joined(f.files->missing) + " missing in " + f.machine->directory,
                  "copy " + Joined(f.files->missing, " and ") + " into the folder beside " +
                      kModuleFileName}};
     }},

    {"protection.unreadable", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) -> Sayings {
         Sayings said;
         for (const ProtectedObject &object :
              f.protection ? f.protection->objects : std::vector<ProtectedObject>()) {
             if (!object.read && !NeedsElevation(f, object))
                 said.push_back(
                     {"the permissions of " + object.path + " cannot be read: " + object.error.text,
                      "check them by hand (icacls)"});
         }
         return said;
     }},
    // One finding for each set of accounts, naming what they may change.
    {"protection.othersMayChange", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) -> Sayings {
         std::vector<std::pair<std::string, std::vector<std::string>>> sets;
         for (const ProtectedObject &object :
              f.protection ? f.protection->objects : std::vector<ProtectedObject>()) {
             if (object.others.empty())
                 continue;
             const std::string accounts = Joined(object.others);
             auto set = sets.begin();
             while (set != sets.end() && set->first != accounts)
                 ++set;
             if (set == sets.end())
                 set = sets.insert(set, {accounts, {}});
             set->second.push_back(object.shownName);
         }
         Sayings said;
         for (const auto &[accounts, names] : sets)
             said.push_back({accounts + " may change " + Joined(names),
                             "let only administrators and SYSTEM change the folder, its files "
                             "and the folders above it, as under Program Files"});
         return said;
     }},
    {"protection.notElevated", Verdict::Skip, Verdict::Skip,
     [](const CheckFacts &f) -> Sayings {
         const std::vector<std::string> unread =
             f.protection ? UnreadForElevation(f) : std::vector<std::string>();
         if (unread.empty())
             return {};
         return {{std::string(kNotElevated) + ": the permissions of " + Joined(unread) +
                      " cannot be read",
                  kElevate}};
     }},
    {"protection.sound", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         if (!f.protection || AnyoneElse(f))
             return {};
         for (const ProtectedObject &object : f.protection->objects) {
             if (!object.read)
                 return {};
         }
         return {{"only administrators, SYSTEM and TrustedInstaller may change the folder and "
                  "its files",
                  ""}};
     }},

    {"service.notRegistered", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.service || f.service->found != ServiceFacts::Found::NotRegistered)
             return {};
         return {{Format("%s is not registered", kServiceName), InstallAdvice(*f.service)}};
     }},
    {"service.notQueried", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.service || f.service->found != ServiceFacts::Found::NotQueried)
             return {};
         return {
             {Format("%s cannot be queried: ", kServiceName) + f.service->error.text, kElevate}};
     }},
    {"service.notQuoted", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) -> Sayings {
         if (!ServiceRegistered(f) || f.service->names != ServiceFacts::Names::Unquoted)
             return {};
         return {{"the image path is not quoted: " + f.service->imagePath,
                  "run \"" + f.service->executable + "\" -qtruninstall, then -qtrinstall"}};
     }},
    {"service.otherFolder", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!ServiceRegistered(f) || f.service->names != ServiceFacts::Names::Other)
             return {};
         return {{"registered from another folder: " + f.service->imagePath,
                  "run the registered copy with -qtruninstall, then " + InstallAdvice(*f.service)}};
     }},
    // Windows starts a disabled service neither at boot nor on request.
    {"service.disabled", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!ServiceRegistered(f) || f.service->start != kStartDisabled)
             return {};
         return {{Format("%s is disabled", kServiceName),
                  Format("sc config %s start= auto", kServiceName)}};
     }},
    {"service.notAutoStart", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) -> Sayings {
         if (!ServiceRegistered(f) || f.service->start == kStartAuto ||
             f.service->start == kStartDisabled)
             return {};
         return {{Format("%s does not start at boot (start %s)", kServiceName,
                         StartName(f.service->start).c_str()),
                  Format("sc config %s start= auto", kServiceName)}};
     }},
    // A service that does not run reads no button.
    {"service.notRunning", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!ServiceRegistered(f) || f.service->state == kStateRunning)
             return {};
         const std::string state = StateName(f.service->state);
         return {{Format("%s is %s", kServiceName, state.c_str()),
                  f.service->state == kStateStopped
                      ? Format("sc start %s", kServiceName)
                      : "check again in a minute; if it is still " + state + ", restart Windows"}};
     }},
    {"service.sound", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         if (!ServiceRegistered(f) || f.service->names != ServiceFacts::Names::Quoted ||
             f.service->start != kStartAuto || f.service->state != kStateRunning)
             return {};
         return {{Format("%s runs from %s and starts at boot", kServiceName,
                         QuotedImagePath(f.service->executable).c_str()),
                  ""}};
     }},

    {"board.wmiFailed", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) {
         return IfWmi(f, WmiAnswer::Failed, "WMI does not answer the baseboard query",
                      "make sure the service Windows Management Instrumentation (winmgmt) runs, "
                      "then check again");
     }},
    {"board.noProductText", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) {
         return IfWmi(f, WmiAnswer::NoProductText, "the baseboard reports no product text to WMI",
                      kNoBoardWithoutIt);
     }},
    {"board.noBaseboard", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) {
         return IfWmi(f, WmiAnswer::NoBaseboard, "this board reports no baseboard record",
                      kNoBoardWithoutIt);
     }},
    {"board.markHidesMainBoard", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!BoardAnswered(f) || f.board->mark != IniMark::HidesMainBoard)
             return {};
         return {{ShownProduct(f) + Format(" is not served: %s begins with a UTF-8 byte-order "
                                           "mark, which hides [MainBoard] from Windows",
                                           kIniFileName),
                  kSaveWithoutMark}};
     }},
    {"board.listed", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         if (!BoardServed(f))
             return {};
         const int key = f.board->matchingKey;
         return {{ShownProduct(f) + Format(" matches [MainBoard] %d=", key) +
                      f.board->entries[static_cast<std::size_t>(key - 1)],
                  ""}};
     }},
    // Harmless while [MainBoard] is not the first section.
    {"board.markBeforeSection", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) -> Sayings {
         if (!BoardAnswered(f) || f.board->mark != IniMark::BeforeOtherSection)
             return {};
         return {{Format("%s begins with a UTF-8 byte-order mark, which hides its first section "
                         "from Windows",
                         kIniFileName),
                  kSaveWithoutMark}};
     }},
    {"board.notListed", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!BoardAnswered(f) || f.board->mark == IniMark::HidesMainBoard ||
             f.board->matchingKey != 0)
             return {};
         const auto next = static_cast<unsigned>(f.board->entries.size() + 1);
         return {{ShownProduct(f) + " is not listed in [MainBoard] of " + f.board->iniPath +
                      Format(" (%u entries)", next - 1),
                  Format("add the line %u=", next) + f.board->product + " under [MainBoard]"}};
     }},
    // Under a board that is not served, the port is what the service would read.
    {"board.input", Verdict::Ok, Verdict::Info,
     [](const CheckFacts &f) -> Sayings {
         if (!BoardAnswered(f))
             return {};
         return {{Format("the button is read at port 0x%03X, bit %u", f.board->inputPort,
                         f.board->inputBit),
                  "", !BoardServed(f)}};
     }},

    {"driver.open", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         if (!f.driver || !f.driver->deviceOpen)
             return {};
         return {{"the driver's device opens", ""}};
     }},
    // --load loads a kernel driver, elevated, from wherever the tool lies.
    {"driver.loadRefused", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.driver || f.driver->loadRefusedFor.empty())
             return {};
         return {{"--load loads no driver that others may change: " +
                      Joined(f.driver->loadRefusedFor, "; "),
                  "let only administrators and SYSTEM change the folder and the driver file, "
                  "then run --load again"}};
     }},
    // Without --load: SKIP; with it, the Service Control Manager refused.
    {"driver.notElevated", Verdict::Skip, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (LoadFailedAt(f, DriverStep::Manager))
             return {{BringUpFailed(f, "opening the Service Control Manager"), kElevate, true}};
         if (!DriverNeedsElevation(f))
             return {};
         return {{std::string(kNotElevated) + ": opening the driver needs administrator rights",
                  kElevate}};
     }},
    {"driver.deviceRefused", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (LoadFailedAt(f, DriverStep::Device))
             return {
                 {BringUpFailed(f, "opening its device after a good start"), kMakersDriverFile}};
         if (!f.driver || f.driver->deviceOpen || f.driver->deviceMissing ||
             DriverNeedsElevation(f))
             return {};
         return {{"the driver is loaded but refuses its device: " + f.driver->openError.text,
                  kRestart}};
     }},
    {"driver.disabled", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (LoadFailed(f) && Load(f).disabled)
             return {{Format("bring-up failed: %s is disabled", kDriverServiceName),
                      DisabledDriverAdvice()}};
         if (!DriverDisabled(f))
             return {};
         const DriverRegistration &r = *f.driver->registration;
         return {{Format("the driver is not loaded; %s is registered for ", kDriverServiceName) +
                      r.imagePath + ", " + StateName(r.state) + " and disabled",
                  DisabledDriverAdvice()}};
     }},
    {"driver.notLoaded", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!DriverNotThere(f) || DriverDisabled(f))
             return {};
         const auto &r = f.driver->registration;
         return {{Format("the driver is not loaded; %s is ", kDriverServiceName) +
                      (r ? "registered for " + r->imagePath + ", " + StateName(r->state)
                         : "not registered"),
                  Format("run WGBCheck --load from an elevated prompt to see why %s does not "
                         "start",
                         kDriverServiceName)}};
     }},
    {"driver.fileMissing", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!LoadFailedAt(f, DriverStep::File))
             return {};
         return {{"bring-up failed: the driver file is missing or its path too long",
                  "copy the maker's driver file for this Windows into the folder"}};
     }},
    {"driver.registrationFailed", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!LoadFailedAt(f, DriverStep::Create) && !LoadFailedAt(f, DriverStep::Repoint))
             return {};
         return {{BringUpFailed(f, "its registration"), LoadAdvice(f, false)}};
     }},
    {"driver.startFailed", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!LoadFailedAt(f, DriverStep::Start) || StartBlocked(f))
             return {};
         return {{BringUpFailed(f, "its start"), LoadAdvice(f, true)}};
     }},
    // Errors 577 and 1275: its signature, the driver blocklist or memory integrity.
    {"driver.startBlocked", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!StartBlocked(f))
             return {};
         return {{BringUpFailed(f, "its start"),
                  "Windows refuses the driver (its signature, the driver blocklist or memory "
                  "integrity): use the maker's driver signed for this Windows"}};
     }},

    {"button.notReadable", Verdict::Skip, Verdict::Skip,
     [](const CheckFacts &f) -> Sayings {
         if (!f.button || f.button->read)
             return {};
         return {{ButtonUnreadable(f), DriverNeedsElevation(f) ? kElevate : ""}};
     }},
    {"button.readFails", Verdict::Fail, Verdict::Fail,
     [](const CheckFacts &f) -> Sayings {
         if (!f.button || !f.button->readFailed)
             return {};
         return {
             {Format("reading port 0x%03X fails: ", f.board->inputPort) + f.button->readError.text,
              kMakersDriver}};
     }},
    // Held during the check: a fact of the moment, unless nobody holds it.
    {"button.pressedNow", Verdict::Info, Verdict::Info,
     [](const CheckFacts &f) -> Sayings {
         if (!ButtonReadAs(f, true))
             return {};
         return {{ButtonFact(f),
                  "if nobody presses the button, its input is held low: check the wiring"}};
     }},
    {"button.released", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         if (!ButtonReadAs(f, false))
             return {};
         return {{ButtonFact(f), ""}};
     }},

    {"user.nobodyLoggedOn", Verdict::Info, Verdict::Info,
     [](const CheckFacts &f) -> Sayings {
         if (!f.user || FirstShell(f.user->processes))
             return {};
         return {
             {Format("nobody logged on: no %s runs, so a press starts nothing now", kShellExeName),
              ""}};
     }},
    {"user.notAtConsole", Verdict::Info, Verdict::Info,
     [](const CheckFacts &f) -> Sayings {
         const ProcessEntry *elsewhere = f.user ? FirstShell(f.user->processes) : nullptr;
         if (!elsewhere || ConsoleShellOf(*f.user))
             return {};
         const std::string console =
             f.user->consoleSession ? Format("session %lu", *f.user->consoleSession) : "none now";
         return {{Format("nobody works at the console (%s): %s runs only in other sessions "
                         "(session %lu), remote or disconnected, so a press starts nothing",
                         console.c_str(), kShellExeName,
                         static_cast<unsigned long>(elsewhere->sessionId)),
                  "log on at the machine itself"}};
     }},
    {"user.atConsole", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) -> Sayings {
         const std::optional<ConsoleShell> shell = f.user ? ConsoleShellOf(*f.user) : std::nullopt;
         if (!shell)
             return {};
         return {{Format("%s (process %lu) of %s in session %lu; %s ", kShellExeName,
                         static_cast<unsigned long>(shell->processId),
                         shell->name.empty() ? "a user not known" : shell->name.c_str(),
                         static_cast<unsigned long>(shell->session), kCompanionExeName) +
                      (shell->companionRunning ? "runs there, so a press starts no second one"
                                               : "does not run there, so a press starts it"),
                  ""}};
     }},

    // After the checks: the watch, then --load's undo.
    {"button.watchNotReadable", Verdict::Skip, Verdict::Skip,
     [](const CheckFacts &f) -> Sayings {
         if (!f.watch || f.watch->ran)
             return {};
         return {{"the watch: " + ButtonUnreadable(f), ""}};
     }},
    {"button.watchReadsFailed", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) -> Sayings {
         if (!f.watch || f.watch->failedReads == 0)
             return {};
         return {{Format("%u reads of port 0x%03X failed during the watch", f.watch->failedReads,
                         f.board->inputPort),
                  kMakersDriver}};
     }},
    {"driver.loadUndone", Verdict::Ok, Verdict::Ok,
     [](const CheckFacts &f) { return UndoSaid(f, true); }},
    {"driver.loadNotUndone", Verdict::Warn, Verdict::Warn,
     [](const CheckFacts &f) { return UndoSaid(f, false); }},
};

} // namespace

std::string ButtonUnreadable(const CheckFacts &facts) {
    if (!BoardAnswered(facts))
        return "the board's input is not known";
    if (DriverNeedsElevation(facts))
        return kNotElevated;
    return facts.driver && facts.driver->deviceOpen ? "" : "the driver's device is not open";
}

bool DriverNeedsElevation(const CheckFacts &facts) {
    return facts.driver && !facts.driver->deviceOpen && !facts.driver->load &&
           facts.driver->openError.number == win_error::kAccessDenied && facts.machine &&
           !facts.machine->elevated;
}

std::optional<ConsoleShell> ConsoleShellOf(const UserFacts &user) {
    // No session is numbered 0xFFFFFFFF, what Windows answers with nobody at the console.
    const ProcessEntry *shell = ChooseUserShell(
        user.processes, static_cast<std::uint32_t>(user.consoleSession.value_or(0xFFFFFFFFUL)));
    if (!shell)
        return std::nullopt;
    ConsoleShell chosen{shell->processId, shell->sessionId, "",
                        RunsInSession(user.processes, kCompanionExeName, shell->sessionId)};
    for (const auto &[processId, name] : user.shellUsers) {
        if (processId == shell->processId)
            chosen.name = name;
    }
    return chosen;
}

std::vector<Finding> Judge(const CheckFacts &facts) {
    std::vector<Finding> findings;
    for (const Row &row : kRows) {
        for (const Said &said : row.say(facts))
            findings.push_back(
                {row.code, said.alternate ? row.alternate : row.verdict, said.fact, said.advice});
    }
    return findings;
}

std::vector<std::string> FindingCodes() {
    std::vector<std::string> codes;
    for (const Row &row : kRows)
        codes.push_back(row.code);
    return codes;
}

std::vector<std::string> FindingVerdicts() {
    std::vector<std::string> verdicts;
    for (const Row &row : kRows) {
        verdicts.push_back(std::string(row.code) + " " + VerdictName(row.verdict));
        if (row.alternate != row.verdict)
            verdicts.push_back(std::string(row.code) + " " + VerdictName(row.alternate));
    }
    return verdicts;
}

int ExitCode(const std::vector<Finding> &findings) {
    int code = kExitOk;
    for (const Finding &finding : findings) {
        const int own = finding.verdict == Verdict::Fail   ? kExitFail
                        : finding.verdict == Verdict::Warn ? kExitWarn
                                                           : kExitOk;
        code = own > code ? own : code;
    }
    return code;
}

bool Complete(const std::vector<Finding> &findings) {
    for (const Finding &finding : findings) {
        if (finding.verdict == Verdict::Skip)
            return false;
    }
    return true;
}

const char *VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Ok:
        return "OK";
    case Verdict::Info:
        return "INFO";
    case Verdict::Skip:
        return "SKIP";
    case Verdict::Warn:
        return "WARN";
    default:
        return "FAIL";
    }
}

std::string CheckOf(const std::string &code) {
    return code.substr(0, code.find('.'));
}

std::string StateName(unsigned state) {
    static const char *const kNames[] = {"",        "stopped",  "starting", "stopping",
                                         "running", "resuming", "pausing",  "paused"};
    return state != 0 && state < sizeof kNames / sizeof kNames[0] ? kNames[state]
                                                                  : std::to_string(state);
}

std::string StartName(unsigned start) {
    static const char *const kNames[] = {"boot", "system", "auto", "demand", "disabled"};
    return start < sizeof kNames / sizeof kNames[0] ? kNames[start] : std::to_string(start);
}
