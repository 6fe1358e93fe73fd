// The check tool in Wine: on a served board with the service installed and
// the stand-in loaded, and in a folder where nothing is right. The protection
// rule runs here too, on descriptors built from SDDL.

#include "check/protection.h"
#include "sim/sim_client.h"
#include "support/service_env.h"

#include <sddl.h>

#include <gtest/gtest.h>


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
    static void Clean() {
        RemoveServiceIfPresent(kServiceName);
        KillProcessesNamed("WGBCheck.exe");
        KillProcessesNamed("WGB.exe");
        RemoveServiceIfPresent(kDriverServiceName);
    }
    // dir with the service's files, the check tool and this board list.
    std::string Prepare(const char *dir, const std::string &entry) {
        return PrepareInstallDir(dir, MainBoardIni({"6231", entry}));
    }
};

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

    std::string json;
    EXPECT_EQ(std::optional<DWORD>(1), RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &json))
        << json;
    for (const char *field :
         {"{\"result\": \"WARN\", \"exitCode\": 1", "\"product\": \"WGB Test Board\"",
          "\"entries\": [\"6231\", \"WGB Test\"]", "\"matchingKey\": 2", "\"inputPort\": 1292",
          "\"inputBit\": 0", "\"deviceOpen\": true", "\"level\": \"released\"",
          "\"state\": \"running\"", "\"start\": 2", "\"companionRunning\": false"})
        EXPECT_NE(std::string::npos, json.find(field)) << field << "\n" << json;

    // The watch's lines go to a file, read while it runs.
    const std::string output = dir + "watch.txt";
    const UniqueHandle process = StartProgram(Quoted(dir + "WGBCheck.exe") + " --watch 3600", output);
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

// What an installed machine warns of, in one --json run: a WGB.ini saved with
// a UTF-8 byte-order mark, which hides [MainBoard] from Windows' profile
// functions; an unquoted registration; a button that reads pressed now. A
// bad argument gives exit code 3.
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
    for (const char *field : {
             "\"iniUtf8Mark\": true",
             "{\"check\": \"board\", \"verdict\": \"WARN\", \"fact\": \"WGB.ini begins with a UTF-8",
             "{\"check\": \"service\", \"verdict\": \"WARN\", \"fact\": \"the image path is not quoted",
             "\"level\": \"pressed\"",
             "{\"check\": \"button\", \"verdict\": \"WARN\", \"fact\": \"pressed now",
         })
        EXPECT_NE(std::string::npos, json.find(field)) << field << "\n" << json;
    EXPECT_EQ(std::optional<DWORD>(3), RunProgram(Quoted(dir + "WGBCheck.exe") + " --watch 5s"));
}

// No service, no driver file, a board not listed (its Latin-1 text shown as
// WMI gives it): each says what to do, and the exit code is 2.
TEST_F(Check, BareFolderFailsWithWhatToDo) {
    SetBoardProduct("QX-1000 R\xE9v");
    const std::string dir = Prepare(kBareDir, "WGB Test");
    DeleteFileA((dir + "Quendra.sys").c_str());
    DeleteFileA((dir + "Quendra_X64.sys").c_str());

    std::string lines;
    EXPECT_EQ(std::optional<DWORD>(2), RunProgram(Quoted(dir + "WGBCheck.exe"), &lines)) << lines;
    for (const std::string &line : std::vector<std::string>{
             "FAIL  files      Quendra_X64.sys missing in " + dir,
             "FAIL  service    QTR_WGBService is not registered -> run \"" + dir +
                 "WGBService.exe\" -qtrinstall",
             "FAIL  board      product \"QX-1000 R\xE9v\" is not listed in [MainBoard] of " + dir +
                 "WGB.ini (2 entries) -> add the line 3=QX-1000 R\xE9v under [MainBoard]",
             std::string("FAIL  driver     the driver is not loaded; Quendra_1_0_T is not "
                         "registered"),
         })
        EXPECT_NE(std::string::npos, lines.find(line)) << line << "\n" << lines;
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
