// Board identification in Wine: the real WMI, with the baseboard product
// text chosen through the session's DMI data, reaches the board list rule
// unchanged; a fake WMI failing at each step leaves nothing unreleased.
// IdentifyBoard sets process-wide COM security, so every case runs in a probe
// process of its own.

#include "board/identify_board.h"
#include "board/ini_reader.h"
#include "common/shared_state.h"
#include "support/fake_wmi.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kIniPath[] = "C:\\wgb-board.ini";

// Usage: INI-PATH [FAILING-STEP]. Without a step, the real WMI from a thread
// without COM; with one, the fake registered in the multithreaded apartment
// the thread is in. Prints the result, whether COM is as it was before (1),
// the fake objects left and the product text.
int Probe(int argc, char **argv) {
    lstrcpynA(g_szIniPath, argv[0], sizeof g_szIniPath);
    const bool fake = argc > 1;
    if (fake && (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ||
                 !fake_wmi_register(std::atoi(argv[1]))))
        return 3;
    const int result = IdentifyBoard();
    const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::printf("%d %d %ld %s", result, again == (fake ? S_FALSE : S_OK), fake_wmi_live(),
                g_strBoard.c_str());
    return 0;
}

struct Report {
    int result = -1, comAsBefore = -1;
    long live = -1;
    std::string board;
};

Report RunBoardProbe(const std::string &ini, const std::string &args) {
    wgbtest::WriteTextFile(kIniPath, ini);
    const std::string output = wgbtest::RunProbe(std::string(kIniPath) + args);
    Report report;
    int boardStart = 0;
    std::sscanf(output.c_str(), "%d %d %ld %n", &report.result, &report.comAsBefore, &report.live,
                &boardStart);
    report.board = output.substr(boardStart);
    return report;
}

struct WmiCase {
    const char *product;
    const char *entry;
    int expected;
};

// The text reaches the rule byte for byte: blanks and ';' in it, and
// Latin-1 letters, which Wine reports in code page 1252 where they keep
// their bytes.
const WmiCase kWmiCases[] = {
    {"QX-B760M-6231 Rev 1.0", "B760M-6231;first series", 1},
    {"Carte m\xe8re \xc9lite B760", "m\xe8re \xc9lite;Latin-1 letters", 1},
    {"  qx b760m ;  ", "QX B760M", 0},
};

TEST(BoardIdentification, RealWmiTextReachesTheBoardListUnchanged) {
    for (const WmiCase &c : kWmiCases) {
        SCOPED_TRACE(c.product);
        wgbtest::SetBoardProduct(c.product);
        const Report report = RunBoardProbe(wgbtest::MainBoardIni({c.entry}), "");
        EXPECT_EQ(c.expected, report.result);
        EXPECT_EQ(c.product, report.board);
        EXPECT_EQ(1, report.comAsBefore) << "COM still initialised after IdentifyBoard";
    }
}

// A value that matches every board: a search after a failure would show.
TEST(BoardIdentification, FakeWmiFailingAtEachStepReleasesEverything) {
    for (int step = FAKE_WMI_NONE; step <= FAKE_WMI_GET; ++step) {
        SCOPED_TRACE(step);
        const Report report =
            RunBoardProbe(wgbtest::MainBoardIni({";all"}), " " + std::to_string(step));
        EXPECT_EQ(step == FAKE_WMI_NONE ? 1 : 0, report.result);
        EXPECT_EQ(step == FAKE_WMI_NONE ? "QX-Fake-6231 Rev 2" : "", report.board);
        EXPECT_EQ(0, report.live) << "WMI objects not released";
        EXPECT_EQ(1, report.comAsBefore) << "the caller's apartment changed";
    }
}

// Wine's baseboard text is far shorter than 255 characters: the cut of long
// values shows here rather than through a match.
TEST(ReadIniString, GivesAtMost255CharactersAndTheDefaultForWhatIsMissing) {
    wgbtest::WriteTextFile(kIniPath, wgbtest::MainBoardIni({std::string(300, 'L')}));
    EXPECT_EQ(std::string(255, 'L'), ReadIniString(kIniPath, "MainBoard", "1", ""));
    EXPECT_EQ("none", ReadIniString(kIniPath, "MainBoard", "2", "none"));
    EXPECT_EQ("none", ReadIniString("C:\\no-such.ini", "MainBoard", "1", "none"));
}

} // namespace

int main(int argc, char **argv) {
    return wgbtest::TestMain(argc, argv, Probe);
}
