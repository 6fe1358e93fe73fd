#include "support/board_probe_io.h"

#include <windows.h>

#include <objbase.h>

#include <cstdio>

namespace wgbtest {

namespace {
constexpr char kBoardField[] = "board ";
} // namespace

void WriteBoardProbeReport(const BoardProbeReport &report) {
    const std::string text =
        "result " + std::to_string(report.result) + "\ncom " + (report.comAsBefore ? "1" : "0") +
        "\nlive " + std::to_string(report.liveObjects) + "\nunexpected " +
        std::to_string(report.unexpectedCalls) + "\n" + kBoardField + report.board;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

std::optional<BoardProbeReport> ParseBoardProbeReport(const std::string &output) {
    BoardProbeReport report;
    int com = -1;
    int boardStart = -1;
    // "board" is matched without the blank after it: a blank in the format
    // would also swallow blanks that begin the product text.
    if (std::sscanf(output.c_str(), "result %d com %d live %d unexpected %d board%n",
                    &report.result, &com, &report.liveObjects, &report.unexpectedCalls,
                    &boardStart) != 4 ||
        boardStart < 0 || output.compare(static_cast<std::size_t>(boardStart), 1, " ") != 0)
        return std::nullopt;
    report.comAsBefore = com == 1;
    report.board = output.substr(static_cast<std::size_t>(boardStart) + 1);
    return report;
}

bool ComUninitialisedOnThisThread() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

} // namespace wgbtest

namespace wgbtest {

bool ComInitialisedOnThisThread(DWORD model) {
    const HRESULT hr = CoInitializeEx(nullptr, model);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_FALSE;
}

} // namespace wgbtest
