// Runs IdentifyBoard in a process of its own, with the INI path given, and
// reports the result and the product text on stdout.
//
// Usage: board_identify_probe INI-PATH

#include "board/identify_board.h"
#include "button/worker.h"
#include "support/board_probe_io.h"

#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    lstrcpynA(g_szIniPath, argv[1], sizeof g_szIniPath);

    wgbtest::BoardProbeReport report;
    report.result = IdentifyBoard();
    report.comAsBefore = wgbtest::ComUninitialisedOnThisThread();
    report.board = g_strBoard;
    wgbtest::WriteBoardProbeReport(report);
    return 0;
}
