// Runs IdentifyBoard once against the fake WMI, failing at the step named,
// and reports the result, the product text and what was left behind.
//
// Usage: board_fake_wmi_probe FAULT INI-PATH [in-mta]
// The fake baseboard's product text is "QX-Fake-6231 Rev 2". The probe's
// thread joins a single-threaded apartment before the call, or the
// multithreaded one with in-mta, and must find it unchanged afterwards.

#include "board/identify_board.h"
#include "button/worker.h"
#include "support/board_fake_wmi.h"
#include "support/board_probe_io.h"

#include <windows.h>

#include <objbase.h>

#include <cstring>

int main(int argc, char **argv) {
    wgbtest::FakeWmiFault fault;
    if (argc < 3 || !wgbtest::ParseFakeWmiFault(argv[1], fault))
        return 2;
    lstrcpynA(g_szIniPath, argv[2], sizeof g_szIniPath);

    const DWORD model = argc > 3 && std::strcmp(argv[3], "in-mta") == 0 ? COINIT_MULTITHREADED
                                                                        : COINIT_APARTMENTTHREADED;
    // The fake is registered in this thread's apartment, which IdentifyBoard
    // then joins.
    CoInitializeEx(nullptr, model);
    wgbtest::BoardProbeReport report;
    {
        const wgbtest::FakeWmi fake(fault, L"QX-Fake-6231 Rev 2");
        if (!fake.registered())
            return 3;
        report.result = IdentifyBoard();
    }
    report.liveObjects = wgbtest::FakeWmiLiveObjects();
    report.unexpectedCalls = wgbtest::FakeWmiUnexpectedCalls();
    report.comAsBefore = wgbtest::ComInitialisedOnThisThread(model);
    CoUninitialize();
    report.board = g_strBoard;
    wgbtest::WriteBoardProbeReport(report);
    return 0;
}
