#pragma once
// The command line of the entry routine: what follows the program name, and
// which switch it selects.

// Text after the program name: a name in double quotes is skipped as a whole
// (quotes included), any other name up to the first character of code 0x20 or
// less; then every character of code 0x20 or less is skipped. What remains,
// trailing blanks included, is returned (a pointer into cmdLine).
const char *SkipProgramName(const char *cmdLine);

enum class SwitchCommand { None, Install, Uninstall };

inline constexpr char kInstallSwitch[] = "-qtrinstall";
inline constexpr char kUninstallSwitch[] = "-qtruninstall";

// True when text equals sw whole, ignoring the case of ASCII letters only.
bool SwitchMatches(const char *text, const char *sw);

// The command the text after the program name selects; null selects none.
SwitchCommand SelectCommand(const char *args);
