#include "check/arguments.h"

#include <cstdlib>
#include <cstring>

const char kCheckUsage[] =
    "Usage: WGBCheck [--json] [--load] [--watch SECONDS] [--out FILE]\n"
    "Tells whether the button service can work on this machine, using the service's own\n"
    "rules. Run it from the folder's copy, from an elevated prompt for the driver and the\n"
    "button checks. It changes nothing, except with --load.\n"
    "  --json           one JSON object instead of lines\n"
    "  --load           bring the driver up as the service does, when it is not loaded\n"
    "  --watch SECONDS  then sample the button every 100 ms and show each change\n"
    "  --out FILE       write the lines or the JSON into FILE, in UTF-8\n"
    "  --help           this text\n"
    "Exit code: 0 all OK (or not checkable here: SKIP), 1 something warns, 2 something\n"
    "fails, 3 bad argument, 4 a report that cannot be written.\n";

bool ParseCheckArguments(int count, const char *const *arguments, CheckOptions &options) {
    for (int i = 0; i < count; ++i) {
        const char *argument = arguments[i];
        if (std::strcmp(argument, "--json") == 0) {
            options.json = true;
        } else if (std::strcmp(argument, "--load") == 0) {
            options.load = true;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "/?") == 0) {
            options.help = true;
        } else if (std::strcmp(argument, "--out") == 0 && i + 1 < count) {
            options.outFile = arguments[++i];
            if (options.outFile.empty())
                return false;
        } else if (std::strcmp(argument, "--watch") == 0 && i + 1 < count) {
            const char *number = arguments[++i];
            char *end = nullptr;
            const unsigned long seconds = std::strtoul(number, &end, 10);
            if (*number < '0' || *number > '9' || *end != '\0' || seconds == 0 ||
                seconds > kMaxWatchSeconds)
                return false;
            options.watchSeconds = static_cast<unsigned>(seconds);
        } else {
            return false;
        }
    }
    return true;
}
