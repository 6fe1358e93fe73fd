#pragma once
// Console lines of the programs that show the service to a person (the demo
// and the latency benchmark): each flushed at once, so that it stands in order
// among what Wine writes.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace wgbtest {

// One line, printf style.
inline void Say(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

// Says what failed and ends the program with exit code 1.
[[noreturn]] inline void Fail(const char *what) {
    Say("FAILED: %s", what);
    std::exit(1);
}

} // namespace wgbtest
