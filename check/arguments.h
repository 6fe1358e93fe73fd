#pragma once
// The check tool's command line. Portable.

#include <string>

struct CheckOptions {
    bool json = false; // one JSON object instead of lines
    bool load = false; // bring the driver up as the service does
    bool help = false;
    unsigned watchSeconds = 0; // then sample the button this long
    std::string outFile;       // the report goes there, in UTF-8, instead
};

inline constexpr unsigned kMaxWatchSeconds = 86400;

// Fills options from the arguments after the program name. False for an
// unknown argument or a missing or bad number of seconds.
bool ParseCheckArguments(int count, const char *const *arguments, CheckOptions &options);

extern const char kCheckUsage[];
