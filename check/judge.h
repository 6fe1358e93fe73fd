#pragma once
// The check tool's rules: the findings a machine's facts give, from one table
// of findings (check/judge.cpp), the only place a finding's code, verdict and
// advice are written. Codes, "check.what", are stable across releases, so
// that scripts match them and not the texts; a code changes or goes only
// with a new report schema. Portable.

#include "check/facts.h"

#include <string>
#include <vector>

// INFO: a fact of the moment (a button held, nobody at the console), no fault
// of the machine's. SKIP: a check that could not be made here (not
// elevated...), which is no problem of the machine's either, but leaves the
// report incomplete.
enum class Verdict { Ok, Info, Skip, Warn, Fail };

struct Finding {
    std::string code; // "check.what"
    Verdict verdict;
    std::string fact;
    std::string advice; // empty for OK
};

// The findings of the facts, in the order of the checks.
std::vector<Finding> Judge(const CheckFacts &facts);

// Every code the table gives, in its order; and with each verdict it can
// give ("board.input INFO").
std::vector<std::string> FindingCodes();
std::vector<std::string> FindingVerdicts();

// The exit codes: the worst verdict's, then the tool's own failures.
inline constexpr int kExitOk = 0;   // every finding OK, INFO or SKIP
inline constexpr int kExitWarn = 1; // something warns
inline constexpr int kExitFail = 2; // something fails
inline constexpr int kExitBadArgument = 3;
inline constexpr int kExitNotWritten = 4; // the report could not be written

int ExitCode(const std::vector<Finding> &findings);
// False when a check was skipped.
bool Complete(const std::vector<Finding> &findings);

const char *VerdictName(Verdict verdict);
// The check a code belongs to: "files" of "files.present".
std::string CheckOf(const std::string &code);
// The shell the service would start the companion for: the one at the console.
struct ConsoleShell {
    std::uint32_t processId = 0, session = 0;
    std::string name; // "" when not known
    bool companionRunning = false;
};
std::optional<ConsoleShell> ConsoleShellOf(const UserFacts &user);

// "running", "stopped", "starting", "stopping", "pausing", "resuming",
// "paused", or the number.
std::string StateName(unsigned state);
// "boot", "system", "auto", "demand", "disabled", or the number.
std::string StartName(unsigned start);
