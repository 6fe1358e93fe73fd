#pragma once
// What the board probes report, and how a test reads it back.
//
// A probe writes, in binary, one line per field:
//   result <n>        the IdentifyBoard result
//   com <0|1>         1 when COM on the probe's thread was as before the call
//   live <n>          (fake WMI only) fake COM objects still alive after the call
//   unexpected <n>    (fake WMI only) calls with arguments other than the query's
//   board <text>      g_strBoard, the rest of the output

#include <windows.h>

#include <optional>
#include <string>

namespace wgbtest {

struct BoardProbeReport {
    int result = -1;
    bool comAsBefore = false;
    int liveObjects = -1;
    int unexpectedCalls = -1;
    std::string board;
};

// Writes the report to the probe's stdout, byte for byte.
void WriteBoardProbeReport(const BoardProbeReport &report);
// Parses what a probe wrote; std::nullopt when it is not a whole report.
std::optional<BoardProbeReport> ParseBoardProbeReport(const std::string &output);

// True when COM is not initialised on the calling thread: a fresh
// multithreaded initialisation then succeeds with S_OK (it is undone again).
bool ComUninitialisedOnThisThread();
// True when the calling thread is still initialised in the given model
// (COINIT_APARTMENTTHREADED or COINIT_MULTITHREADED).
bool ComInitialisedOnThisThread(DWORD model);

} // namespace wgbtest
