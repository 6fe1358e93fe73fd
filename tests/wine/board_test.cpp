// Board identification in Wine: the real WMI with the baseboard product text
// chosen through the session's DMI data, and a fake WMI failing at each step.
// IdentifyBoard sets process-wide COM security, so every case runs in a probe
// process of its own.

#include "board/ini_reader.h"
#include "support/board_probe_io.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using wgbtest::BoardProbeReport;

constexpr char kWorkDir[] = "C:\\wgb-board";
constexpr char kProduct[] = "QX-B760M-6231 Rev 1.0";

std::string IniPath() {
    return std::string(kWorkDir) + "\\WGB.ini";
}

// Writes WGB.ini (or removes it) for the next probe.
void PrepareIni(const std::optional<std::string> &ini) {
    CreateDirectoryA(kWorkDir, nullptr);
    DeleteFileA(IniPath().c_str());
    if (ini)
        wgbtest::WriteTextFile(IniPath(), *ini);
}

std::optional<BoardProbeReport> RunProbe(const std::string &commandLine) {
    std::string output;
    const std::optional<DWORD> code = wgbtest::RunProgramCapture(commandLine, output);
    EXPECT_EQ(code, std::optional<DWORD>(0)) << commandLine << "\n" << output;
    const std::optional<BoardProbeReport> report = wgbtest::ParseBoardProbeReport(output);
    EXPECT_TRUE(report) << "unreadable report: " << output;
    return report;
}

std::string Keys(const std::vector<std::pair<int, std::string>> &keys) {
    std::string ini = "[MainBoard]\r\n";
    for (const auto &[key, value] : keys)
        ini += std::to_string(key) + "=" + value + "\r\n";
    return ini;
}

// count keys from first on, none of which matches kProduct.
std::string NonMatchingKeys(int first, int count) {
    std::string lines;
    for (int key = first; key < first + count; ++key)
        lines += std::to_string(key) + "=Z790-" + std::to_string(key) + ";other board\r\n";
    return lines;
}

// ---- real WMI ---------------------------------------------------------------

struct BoardCase {
    const char *name;
    std::string product;
    std::optional<std::string> ini;
    int expected;
};

const std::vector<BoardCase> kBoardCases = {
    {"TokenBeforeSemicolon", kProduct, wgbtest::MainBoardIni({"6231;two button inputs"}), 1},
    {"CommentNotSearched", kProduct, wgbtest::MainBoardIni({"Z790;QX-B760M"}), 0},
    {"ValueWithoutSemicolonUsedWhole", kProduct, wgbtest::MainBoardIni({"B760M-6231 Rev"}), 1},
    {"WholeValueMustOccur", kProduct, wgbtest::MainBoardIni({"B760M-6231 Rev 2.0"}), 0},
    {"LeadingSemicolonMatchesEveryBoard", kProduct, wgbtest::MainBoardIni({"Z790", ";all"}), 1},
    {"BlankBeforeSemicolonKept", "QX-B760M-6231", wgbtest::MainBoardIni({"6231 ;x"}), 0},
    {"BlankBeforeSemicolonMatchesBlank", kProduct, wgbtest::MainBoardIni({"6231 ;x"}), 1},
    {"CaseMatters", kProduct, wgbtest::MainBoardIni({"b760m", "REV 1.0"}), 0},
    {"LaterKeyMatches", kProduct, wgbtest::MainBoardIni({"Z790", "H610", "B760M"}), 1},
    {"GapEndsTheList", kProduct, Keys({{1, "Z790"}, {2, "H610"}, {4, "B760M"}}), 0},
    {"EmptyValueEndsTheList", kProduct, Keys({{1, "Z790"}, {2, ""}, {3, "B760M"}}), 0},
    {"Key4096IsRead", kProduct, "[MainBoard]\r\n" + NonMatchingKeys(1, 4095) + "4096=B760M\r\n", 1},
    {"NoKeyAbove4096IsRead", kProduct,
     "[MainBoard]\r\n" + NonMatchingKeys(1, 4096) + "4097=B760M\r\n", 0},
    {"NoIniFile", kProduct, std::nullopt, 0},
    {"NoSection", kProduct, "[Boards]\r\n1=B760M\r\n", 0},
    {"ProductTextKeptUnaltered", "  qx b760m ;  ", wgbtest::MainBoardIni({"Z790"}), 0},
};

class BoardIdentification : public testing::TestWithParam<BoardCase> {};

TEST_P(BoardIdentification, ReportsTheMatchAndKeepsTheProductText) {
    const BoardCase &c = GetParam();
    wgbtest::SetBoardProduct(c.product);
    PrepareIni(c.ini);

    const std::optional<BoardProbeReport> report =
        RunProbe(wgbtest::Quoted(wgbtest::ArtifactPath("board_identify_probe.exe")) + " " +
                 wgbtest::Quoted(IniPath()));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->result, c.expected);
    EXPECT_EQ(report->board, c.product);
    EXPECT_TRUE(report->comAsBefore) << "COM still initialised after IdentifyBoard";
}

INSTANTIATE_TEST_SUITE_P(Wmi, BoardIdentification, testing::ValuesIn(kBoardCases),
                         [](const testing::TestParamInfo<BoardCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- the INI reader ---------------------------------------------------------

// Wine's baseboard text holds far fewer than 255 characters, so the cut of
// long values shows here rather than through a match.
TEST(ReadIniString, GivesAtMost255CharactersAndTheDefaultForWhatIsMissing) {
    const std::string longValue = std::string(255, 'L') + "XYZ;comment";
    PrepareIni(Keys({{1, longValue}, {2, "6231 ;x"}}));
    const std::string ini = IniPath();

    EXPECT_EQ(ReadIniString(ini.c_str(), "MainBoard", "1", ""), std::string(255, 'L'));
    EXPECT_EQ(ReadIniString(ini.c_str(), "MainBoard", "2", ""), "6231 ;x");
    EXPECT_EQ(ReadIniString(ini.c_str(), "MainBoard", "3", ""), "");
    EXPECT_EQ(ReadIniString(ini.c_str(), "Boards", "1", "none"), "none");
    PrepareIni(std::nullopt);
    EXPECT_EQ(ReadIniString(ini.c_str(), "MainBoard", "1", ""), "");
}

// ---- fake WMI ---------------------------------------------------------------

struct FakeCase {
    const char *name;
    const char *fault;
    const char *iniValue;
    int expected;
    const char *board;
    bool inMta = false; // the caller's thread is in the multithreaded apartment
};

// Failures are run with an entry that matches every board, so that a search
// run after a failure would show as result 1.
const std::vector<FakeCase> kFakeCases = {
    {"none", "none", "6231;", 1, "QX-Fake-6231 Rev 2"},
    // IdentifyBoard cannot enter its apartment there, works in the caller's
    // and must leave the caller's initialisation in place.
    {"caller_in_mta", "none", "6231;", 1, "QX-Fake-6231 Rev 2", true},
    {"product_number", "product-number", "6231", 1, "6231"},
    {"no_locator", "no-locator", ";all", 0, ""},
    {"connect_fails", "connect-fails", ";all", 0, ""},
    {"connect_null", "connect-null", ";all", 0, ""},
    {"query_fails", "query-fails", ";all", 0, ""},
    {"query_null", "query-null", ";all", 0, ""},
    {"no_object", "no-object", ";all", 0, ""},
    {"get_fails", "get-fails", ";all", 0, ""},
    {"product_null", "product-null", ";all", 0, ""},
};

class BoardIdentificationFakeWmi : public testing::TestWithParam<FakeCase> {};

TEST_P(BoardIdentificationFakeWmi, ReleasesEverythingOnEveryPath) {
    const FakeCase &c = GetParam();
    PrepareIni(wgbtest::MainBoardIni({c.iniValue}));

    const std::optional<BoardProbeReport> report =
        RunProbe(wgbtest::Quoted(wgbtest::ArtifactPath("board_fake_wmi_probe.exe")) + " " +
                 c.fault + " " + wgbtest::Quoted(IniPath()) + (c.inMta ? " in-mta" : ""));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->result, c.expected);
    EXPECT_EQ(report->board, c.board);
    EXPECT_EQ(report->liveObjects, 0) << "WMI objects not released";
    EXPECT_EQ(report->unexpectedCalls, 0) << "WMI called with other arguments than the query's";
    EXPECT_TRUE(report->comAsBefore) << "the caller's COM apartment changed";
}

INSTANTIATE_TEST_SUITE_P(Faults, BoardIdentificationFakeWmi, testing::ValuesIn(kFakeCases),
                         [](const testing::TestParamInfo<FakeCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
