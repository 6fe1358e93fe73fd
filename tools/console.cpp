#include "tools/console.h"

#include "harness/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace tools {

void Say(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void Fail(const char *what) {
    Say("FAILED: %s", what);
    std::exit(1);
}

std::string LayOutOrFail(const std::string &dir, const std::vector<std::string> &boards) {
    const std::string root = session::LayOut(dir, session::MainBoardIni(boards));
    if (root.empty())
        Fail("cannot lay out the install directory from the build (WGB_ARTIFACTS)");
    return root;
}

void RunToEnd(const std::string &exe, const char *arguments) {
    if (!session::RunProgram(session::Quoted(exe) + " " + arguments))
        Fail("a program of the build did not run to its end");
}

} // namespace tools
