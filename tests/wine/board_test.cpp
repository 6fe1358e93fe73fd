// Board identification in Wine: the real WMI, with the baseboard product
// text chosen through the session's DMI data, reaches the board list rule
// unchanged; a fake WMI failing at each step, on a fake clock, is tried again
// until it answers and leaves nothing unreleased. IdentifyBoard sets
// process-wide COM security, so every case runs in a probe process of its own.

#include "board/identify_board.h"
#include "common/shared_state.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// The fake WMI (sim/wmi/fake_wmi.c), failing at step 1 (the locator) to 5
// (Get), 6 (Next completes empty) or 7 (Next fails), or at none with 0,
// during the first failing_tries tries.
extern "C" int fake_wmi_register(int failing_step, long failing_tries);
extern "C" LONG fake_wmi_live, fake_wmi_tries;

namespace {

constexpr char kIniPath[] = "C:\\wgb-board.ini";

// A clock that moves only when slept on, so that minutes of retries pass at
// once. It starts near the end of its count, which wraps after 50 s. The run
// flag falls when the time slept reaches g_stopAtMs (0: never).
unsigned long g_fakeNowMs = 0xFFFFFFFFul - 50000;
unsigned long g_sleptMs = 0;
unsigned long g_stopAtMs = 0;
const WmiClock kFakeClock = {[] { return g_fakeNowMs; },
                             [](unsigned long ms) {
                                 g_fakeNowMs += ms;
                                 g_sleptMs += ms;
                                 if (g_stopAtMs != 0 && g_sleptMs >= g_stopAtMs)
                                     g_bRunning = false;
                             }};

// Usage: INI-PATH [STEP FAILING-TRIES STOP-AT-MS]. Without a step, the real
// WMI on Windows' clock from a thread without COM; with one, the fake
// registered in the multithreaded apartment the thread is in, failing at that
// step during its first tries, on the fake clock. Prints "RESULT COM LIVE
// TRIES SLEPT PRODUCT": IdentifyBoard's result, 1 when COM is as it was
// before the call, the fake objects not released, the tries, the time slept
// in milliseconds and the product text.
int Probe(int argc, char **argv) {
    lstrcpynA(g_szIniPath, argv[0], sizeof g_szIniPath);
    const bool fake = argc > 3;
    if (fake && (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ||
                 !fake_wmi_register(std::atoi(argv[1]), std::atol(argv[2]))))
        return 3;
    g_stopAtMs = fake ? std::strtoul(argv[3], nullptr, 10) : 0;
    const int result = IdentifyBoard(fake ? kFakeClock : kWindowsClock);
    const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::printf("%d %d %ld %ld %lu %s", result, again == (fake ? S_FALSE : S_OK), fake_wmi_live,
                fake_wmi_tries, g_sleptMs, g_strBoard.c_str());
    return 0;
}

// The probe's report for a board list of one entry.
std::string RunBoardProbe(const std::string &entry, const std::string &args) {
    wgbtest::WriteTextFile(kIniPath, wgbtest::MainBoardIni({entry}));
    return wgbtest::RunProbe(std::string(kIniPath) + args);
}

// The text reaches the rule byte for byte, Latin-1 letters included, which
// Wine reports in code page 1252 where they keep their bytes.
TEST(BoardIdentification, RealWmiTextReachesTheBoardListUnchanged) {
    const struct {
        const char *product, *entry;
    } cases[] = {{"QX-B760M-6231 Rev 1.0", "B760M-6231;first series"},
                 {"Carte m\xe8re \xc9lite B760", "m\xe8re \xc9lite;Latin-1 letters"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.product);
        wgbtest::SetBoardProduct(c.product);
        EXPECT_EQ(std::string("1 1 0 0 0 ") + c.product, RunBoardProbe(c.entry, ""));
    }
}

// A value that matches every board: a search after a failure would show.
// Each failed try releases what it obtained. A failure of the locator, the
// connection, the query or Next, or a Next that times out, is tried again,
// every 10 s for 2 minutes and every 60 s afterwards, until WMI answers; a
// failing Get, or an enumeration that completes empty (no baseboard record),
// is an answer and is not. An hour of the fake clock ends each run that would
// otherwise go on.
TEST(BoardIdentification, FakeWmiFailingAtEachStepIsRetriedAndReleasesEverything) {
    const char *const served = "1 1 0 2 10000 QX-Fake-6231 Rev 2";
    const struct {
        const char *args; // STEP FAILING-TRIES STOP-AT-MS
        const char *report;
    } cases[] = {
        {"1 1 3600000", served},
        {"2 1 3600000", served},
        {"3 1 3600000", served},
        // Twenty tries fail: 12 pauses of 10 s, 8 of 60 s, then the board.
        {"4 20 3600000", "1 1 0 21 600000 QX-Fake-6231 Rev 2"},
        {"5 9 3600000", "0 1 0 1 0 "}, // no product text: not tried again
        {"6 1 3600000", "0 1 0 1 0 "}, // no baseboard record: not tried again
        {"7 1 3600000", served},
        // A stop 5 s into the first 60 s pause ends it at once.
        {"1 999999 125000", "0 1 0 13 125000 "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(c.report, RunBoardProbe(";all", std::string(" ") + c.args));
    }
}

} // namespace

int main(int argc, char **argv) {
    return wgbtest::TestMain(argc, argv, Probe);
}
