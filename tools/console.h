#pragma once
// What a tool says on the console of the Wine session it runs in, and the
// steps it gives up on when they fail.

#include <string>
#include <vector>

namespace tools {

// One console line, printf style, flushed at once so that it stands in order
// among what Wine writes.
void Say(const char *format, ...);
// Says what failed and ends the program with exit code 1.
[[noreturn]] void Fail(const char *what);

// Lays out dir from the build with WGB.ini listing these boards; returns dir
// ending in a backslash.
std::string LayOutOrFail(const std::string &dir, const std::vector<std::string> &boards);
// Runs exe with the arguments to its end; what it prints appears on this
// console.
void RunToEnd(const std::string &exe, const char *arguments);

} // namespace tools
