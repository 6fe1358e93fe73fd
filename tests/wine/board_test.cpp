// Board identification in Wine: the real WMI, with the baseboard product
// text chosen through the session's DMI data, reaches the board list rule
// unchanged; a fake WMI failing at each step leaves nothing unreleased.
// IdentifyBoard sets process-wide COM security, so every case runs in a probe
// process of its own.

#include "board/identify_board.h"
#include "common/shared_state.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

// The fake WMI (support/fake_wmi.c), failing at step 1 (the locator) to 5
// (Get), or at none with 0, during the first failing_tries tries.
extern "C" int fake_wmi_register(int failing_step, long failing_tries);
extern "C" long fake_wmi_live(void);
extern "C" long fake_wmi_tries(void);

namespace {

constexpr char kIniPath[] = "C:\\wgb-board.ini";

// Usage: INI-PATH [STEP FAILING-TRIES TRIES PAUSE-MS STOP-AFTER]. Without a
// step, the real WMI from a thread without COM; with one, the fake registered
// in the multithreaded apartment the thread is in, failing at that step
// during its first tries, with the retries given; the run flag falls once
// STOP-AFTER tries have begun (0: never). Prints "RESULT COM LIVE TRIES
// PRODUCT": IdentifyBoard's result, 1 when COM is as it was before the call,
// the fake objects not released, the tries, and the product text.
int Probe(int argc, char **argv) {
    lstrcpynA(g_szIniPath, argv[0], sizeof g_szIniPath);
    const bool fake = argc > 5;
    if (fake && (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ||
                 !fake_wmi_register(std::atoi(argv[1]), std::atol(argv[2]))))
        return 3;
    const WmiRetry retry =
        fake ? WmiRetry{std::atoi(argv[3]), std::strtoul(argv[4], nullptr, 10)} : kWmiRetryAtBoot;
    const long stopAfter = fake ? std::atol(argv[5]) : 0;
    std::thread stopper([stopAfter] {
        while (stopAfter > 0 && fake_wmi_tries() < stopAfter)
            Sleep(10);
        if (stopAfter > 0)
            g_bRunning = false;
    });
    const int result = IdentifyBoard(retry);
    stopper.join();
    const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::printf("%d %d %ld %ld %s", result, again == (fake ? S_FALSE : S_OK), fake_wmi_live(),
                fake_wmi_tries(), g_strBoard.c_str());
    return 0;
}

// The probe's report for a board list of one entry.
std::string RunBoardProbe(const std::string &entry, const std::string &args) {
    wgbtest::WriteTextFile(kIniPath, wgbtest::MainBoardIni({entry}));
    return wgbtest::RunProbe(std::string(kIniPath) + args);
}

struct WmiCase {
    const char *product;
    const char *entry;
    int expected;
};

// The text reaches the rule byte for byte, Latin-1 letters included, which
// Wine reports in code page 1252 where they keep their bytes.
const WmiCase kWmiCases[] = {
    {"QX-B760M-6231 Rev 1.0", "B760M-6231;first series", 1},
    {"Carte m\xe8re \xc9lite B760", "m\xe8re \xc9lite;Latin-1 letters", 1},
};

TEST(BoardIdentification, RealWmiTextReachesTheBoardListUnchanged) {
    for (const WmiCase &c : kWmiCases) {
        SCOPED_TRACE(c.product);
        wgbtest::SetBoardProduct(c.product);
        EXPECT_EQ(std::to_string(c.expected) + " 1 0 0 " + c.product, RunBoardProbe(c.entry, ""));
    }
}

// A value that matches every board: a search after a failure would show.
// Each failed try releases what it obtained. A failure of the locator, the
// connection, the query or Next is tried again; a failing Get is not.
TEST(BoardIdentification, FakeWmiFailingAtEachStepIsRetriedAndReleasesEverything) {
    const char *const served = "1 1 0 2 QX-Fake-6231 Rev 2";
    const struct {
        const char *args; // STEP FAILING-TRIES TRIES PAUSE-MS STOP-AFTER
        const char *report;
    } cases[] = {
        {"1 1 3 10 0", served},           {"2 1 3 10 0", served}, {"3 1 3 10 0", served},
        {"4 9 3 10 0", "0 1 0 3 "},       // failing every time: three tries, then no board
        {"5 9 3 10 0", "0 1 0 1 "},       // no product text: not tried again
        {"1 9 50 3600000 1", "0 1 0 1 "}, // a stop ends an hour's pause at once
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
