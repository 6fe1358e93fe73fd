// The check tool in Wine: on a served board with the service installed and
// the stand-in loaded, on one where things are wrong, in folders where
// nothing is right, and bringing up a driver that will not start. The
// protection rule runs here too, on descriptors built from SDDL.

#include "check/protection.h"
#include "sim/sim_client.h"
#include "support/service_env.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace wgbtest;

constexpr char kServedDir[] = "C:\\Program Files\\WGB Check";
constexpr char kBareDir[] = "C:\\wgb-bare";
// Owned by administrators, which alone may change it; users read.
constexpr char kAdministratorsOnly[] =
    "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

PSECURITY_DESCRIPTOR Descriptor(const char *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    return descriptor;
}

class Check : public testing::Test {
  protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() { CleanUpAfterService(); }
    // dir with the service's files, the check tool and this board list.
    std::string Prepare(const std::string &dir, const std::string &entry) {
        return PrepareInstallDir(dir, MainBoardIni({"6231", entry}));
    }
};

// Each text occurs in the report, in this order.
void ExpectInOrder(const std::string &report, const std::vector<std::string> &texts) {
    std::size_t at = 0;
    for (const std::string &text : texts) {
        const std::size_t found = report.find(text, at);
        EXPECT_NE(std::string::npos, found) << text << "\n" << report;
        at = found == std::string::npos ? at : found;
    }
}

// Installed as documented, on a listed board: every line OK, the JSON facts,
// and the watch sees a press and a release of the input. Protection aside:
// Wine makes every file's descriptor from its Unix mode, owned by the user
// with full access, so that line warns here whatever the test sets.
TEST_F(Check, ServedBoardIsAllOkAndTheWatchSeesThePress) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir, "WGB Test");
    const RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded());
    // The next boot reads "Start" from the registry, whatever the Service
    // Control Manager holds until then: let the two differ.
    ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DEMAND_START));
    WriteStartValue(kServiceName, SERVICE_AUTO_START);

    // What produced it, then the groups in the order of the checks, each
    // keyed alike on every Windows.
    std::string json;
    EXPECT_EQ(std::optional<DWORD>(1), RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &json))
        << json;
    ExpectInOrder(
        json, {"{\"schema\": 1, \"checkVersion\": \"" WGB_VERSION "\"",
               "\"serviceVersion\": \"" WGB_FILE_VERSION "\"",
               "\"result\": \"WARN\", \"exitCode\": 1", "\"machine\": {",
               "\"files\": {\"driver\": \"Quendra", "\"missing\": []", "\"protection\": {",
               "\"service\": {\"registered\": true", "\"start\": \"auto\", \"state\": \"running\"",
               "\"board\": {", "\"product\": \"WGB Test Board\"",
               "\"entries\": [\"6231\", \"WGB Test\"], \"matchingKey\": 2, "
               "\"inputPort\": 1292, \"inputBit\": 0",
               "\"driver\": {\"deviceOpen\": true", "\"button\": {\"level\": \"released\"",
               "\"user\": {", "\"companionRunning\": false", "\"findings\": ["});

    // The watch's lines go to a file, read while it runs.
    const std::string output = dir + "watch.txt";
    const UniqueHandle process =
        StartProgram(Quoted(dir + "WGBCheck.exe") + " --watch 3600", output);
    ASSERT_TRUE(process);
    const auto shows = [&](const char *text) {
        return WaitUntil([&] { return ReadWholeFile(output).find(text) != std::string::npos; });
    };
    sim::Control sim;
    EXPECT_TRUE(shows("press it now")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
    EXPECT_TRUE(shows(" s  pressed")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kReleased));
    EXPECT_TRUE(shows(" s  released")) << ReadWholeFile(output);
    TerminateProcess(process.get(), 0);
    // A line OK for each check but the protection, which warns alone.
    const std::string lines = ReadWholeFile(output);
    for (const char *check : {"files", "service", "board", "driver", "button", "user"})
        EXPECT_NE(std::string::npos, lines.find(std::string("OK    ") + check)) << check;
    for (std::size_t at = lines.find("WARN"); at != std::string::npos;
         at = lines.find("WARN", at + 1))
        EXPECT_EQ(0u, lines.compare(at, 16, "WARN  protection")) << lines;
    EXPECT_EQ(std::string::npos, lines.find("FAIL")) << lines;
}

// What is wrong on an installed machine, in one --json run: a WGB.ini saved
// with a UTF-8 byte-order mark before [MainBoard], which Windows' profile
// functions then miss (Wine's read it: the cause is named all the same); an
// unquoted registration; a button that reads pressed now. A bad argument
// gives exit code 3.
TEST_F(Check, JsonNamesWhatIsWrongOnAnInstalledMachine) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir, "WGB Test");
    const RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded());
    ASSERT_TRUE(ChangeImagePath(kServiceName, dir + "WGBService.exe"));
    ASSERT_TRUE(sim::Control().SetPort(sim::kButtonPort, sim::kPressed));
    ASSERT_TRUE(WriteTextFile(dir + "WGB.ini", "\xEF\xBB\xBF" + MainBoardIni({"WGB Test"})));

    std::string json;
    EXPECT_EQ(std::optional<DWORD>(2), RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &json))
        << json;
    ExpectInOrder(json, {"\"iniUtf8Mark\": true", "\"level\": \"pressed\"",
                         "{\"check\": \"service\", \"verdict\": \"WARN\", \"fact\": \"the image "
                         "path is not quoted",
                         "{\"check\": \"board\", \"verdict\": \"FAIL\", \"fact\": \"product "
                         "\\\"WGB Test Board\\\" is not served: WGB.ini begins with a UTF-8 "
                         "byte-order mark",
                         "\"action\": \"save WGB.ini without a byte-order mark (ANSI)\"",
                         "{\"check\": \"button\", \"verdict\": \"WARN\", \"fact\": \"pressed now"});
    EXPECT_EQ(std::optional<DWORD>(3), RunProgram(Quoted(dir + "WGBCheck.exe") + " --watch 5s"));
}

// No service, no driver file, a board not listed (its Latin-1 text shown as
// WMI gives it): each says what to do, and the exit code is 2. The watch
// cannot run without the driver, and says so. From a folder whose path
// leaves the service's own too long to register, the advice is another
// folder, not an installation that would register nothing.
TEST_F(Check, BareFolderFailsWithWhatToDo) {
    SetBoardProduct("QX-1000 R\xE9v");
    for (const std::string &folder : {std::string(kBareDir), "C:\\" + std::string(238, 'b')}) {
        const std::string dir = Prepare(folder, "WGB Test");
        DeleteFileA((dir + "Quendra.sys").c_str());
        DeleteFileA((dir + "Quendra_X64.sys").c_str());
        const bool installable = dir.size() + 14 < 256;
        SCOPED_TRACE(dir.size());

        std::string lines;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(Quoted(dir + "WGBCheck.exe") + " --watch 1", &lines))
            << lines;
        ExpectInOrder(
            lines,
            {"FAIL  files      Quendra_X64.sys missing in " + dir,
             "FAIL  service    QTR_WGBService is not registered -> " +
                 (installable ? "run \"" + dir + "WGBService.exe\" -qtrinstall"
                              : std::string("install into a folder with a shorter path")),
             "FAIL  board      product \"QX-1000 R\xE9v\" is not listed in [MainBoard] of " + dir +
                 "WGB.ini (2 entries) -> add the line 3=QX-1000 R\xE9v under [MainBoard]",
             "FAIL  driver     the driver is not loaded; Quendra_1_0_T is not registered",
             "SKIP  button     the driver's device is not open",
             "SKIP  button     the watch: the driver's device is not open"});
    }
}

// WMI that does not answer (its provider kept from loading into the check
// tool, through Wine's own per-program setting): a fact and an advice of
// their own, and no input line, as the board's input is not known.
TEST_F(Check, WmiFailureIsToldApart) {
    const std::string dir = Prepare(kBareDir, "WGB Test");
    const std::string overrides = "Software\\Wine\\AppDefaults\\WGBCheck.exe\\DllOverrides";
    WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "", 1);
    std::string lines;
    EXPECT_EQ(std::optional<DWORD>(2), RunProgram(Quoted(dir + "WGBCheck.exe"), &lines)) << lines;
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
    ExpectInOrder(lines,
                  {"FAIL  board      WMI does not answer the baseboard query -> make sure the "
                   "service Windows Management Instrumentation (winmgmt) runs",
                   "SKIP  button     the board's input is not known"});
    EXPECT_EQ(std::string::npos, lines.find("the button is read at")) << lines;
}

// --load brings the driver up as the service would and leaves the
// registration as it found it, saying what it did: a disabled one is not
// started (no start error; the advice is its start type) and stays; one
// --load made goes again after the report, also when Windows will not start
// the driver (whose start error is reported); one it found (registered for
// the build's stand-in) is pointed back at its own file.
TEST_F(Check, LoadLeavesTheRegistrationAsItFoundIt) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir, "WGB Test");
    const std::string driver = dir + DriverFile();
    const struct {
        const char *what;
        bool registered, disabled, broken;
        const char *said;
    } cases[] = {
        {"disabled", true, true, false, "sc config Quendra_1_0_T start= demand"},
        {"made", false, false, false,
         "--load stopped and deleted Quendra_1_0_T, which it registered"},
        {"found", true, false, false, "--load pointed Quendra_1_0_T back at "},
        {"will not start", false, false, true, "\"startError\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.registered) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        }
        if (c.disabled) {
            ASSERT_TRUE(ChangeStartType(kDriverServiceName, SERVICE_DISABLED));
        }
        if (c.broken) {
            ASSERT_TRUE(WriteTextFile(driver, "not a driver image"));
        }
        const std::optional<ServiceConfig> before = QueryConfig(kDriverServiceName);
        std::string json;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(Quoted(dir + "WGBCheck.exe") + " --load --json", &json))
            << json;
        EXPECT_NE(std::string::npos, json.find(c.said)) << json;
        EXPECT_EQ(c.disabled, json.find("\"disabled\": true") != std::string::npos) << json;
        EXPECT_EQ(c.broken, json.find("\"startError\"") != std::string::npos) << json;
        if (before) {
            const std::optional<ServiceConfig> after = QueryConfig(kDriverServiceName);
            ASSERT_TRUE(after);
            EXPECT_EQ(before->imagePath, after->imagePath);
            EXPECT_EQ(before->start, after->start);
        } else {
            EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
        }
        RemoveServiceIfPresent(kDriverServiceName);
    }
}

// --out writes the report in UTF-8, a folder's Latin-1 letters included,
// and nothing to standard output.
TEST_F(Check, OutWritesUtf8) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare("C:\\Program Files\\WGB Pr\xFC"
                                    "fung",
                                    "WGB Test");
    for (const char *format : {"", " --json"}) {
        SCOPED_TRACE(format);
        std::string shown;
        EXPECT_EQ(std::optional<DWORD>(2), RunProgram(Quoted(dir + "WGBCheck.exe") + format +
                                                          " --out " + Quoted(dir + "report.txt"),
                                                      &shown));
        EXPECT_EQ("", shown);
        const std::string report = ReadWholeFile(dir + "report.txt");
        EXPECT_NE(std::string::npos, report.find("WGB Pr\xC3\xBC"
                                                 "fung"))
            << report;
        EXPECT_EQ(std::string::npos, report.find("Pr\xFC"
                                                 "fung"))
            << report;
    }
}

// Write, append, delete, permission or owner rights of anyone but
// administrators, SYSTEM and TrustedInstaller warn; reading does not, nor
// entries only for what is created inside.
TEST(CheckProtection, OthersWhoMayChangeTheObject) {
    const struct {
        const char *sddl;
        std::vector<std::string> others;
    } cases[] = {
        {kAdministratorsOnly, {}},
        {"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", {}},
        {"O:BAD:(A;OICIIO;FA;;;CO)(A;OICIIO;GA;;;BU)", {}},
        {"O:BAD:(A;;0x1301bf;;;BU)", {"BUILTIN\\Users"}},
        {"O:BAD:(A;;0x2;;;BU)", {"BUILTIN\\Users"}}, // write alone
        {"O:BAD:(A;;SD;;;BU)", {"BUILTIN\\Users"}},  // delete alone
        {"O:BAD:(A;;GW;;;BU)(A;;GA;;;AU)", {"BUILTIN\\Users", "NT AUTHORITY\\Authenticated Users"}},
        {"O:BAD:(A;;0x4;;;WD)(A;;0x40;;;IU)", {"Everyone", "NT AUTHORITY\\INTERACTIVE"}},
        {"O:BAD:(A;;WD;;;AU)(A;;WO;;;BU)", {"NT AUTHORITY\\Authenticated Users", "BUILTIN\\Users"}},
        {"O:BUD:(A;;FA;;;BA)", {"BUILTIN\\Users"}},
        {"O:BA", {"Everyone (no access list)"}},
    };
    for (const auto &c : cases) {
        PSECURITY_DESCRIPTOR descriptor = Descriptor(c.sddl);
        EXPECT_EQ(c.others, OthersWhoMayChange(descriptor)) << c.sddl;
        LocalFree(descriptor);
    }
}

} // namespace
