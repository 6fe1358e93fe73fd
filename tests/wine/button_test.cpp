// The button watch end to end: the real service installed through the SCM
// from a directory with blanks, the driver stand-in serving the button input,
// and the stub companion recording how it was started. Every poll costs
// 3000 ms, so each service start serves several checks.

#include "support/button_process_watch.h"
#include "support/port_trace.h"
#include "support/service_run.h"
#include "support/sim_client.h"
#include "support/wine_env.h"

#include "common/win_handles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace wgbtest;
namespace rec = companion_record;

constexpr char kInstallDir[] = "C:\\Program Files\\WGB Test Tools";
// Where Windows looks first for the unquoted "C:\Program Files\WGB Test
// Tools\WGB.exe /S": a companion planted here would start instead, and would
// record its start in the folder it sits in.
constexpr char kPlantedCompanion[] = "C:\\Program Files\\WGB Test.exe";
constexpr char kPlantedCompanionDir[] = "C:\\Program Files";
constexpr char kServedBoard[] = "WGB Test Board";
constexpr char kBoard6231[] = "QTR-B760M-6231 Rev 1.0";
constexpr char kUserVariable[] = "WGB_USER_VAR";
constexpr char kUserValue[] = "from the user's own environment";

constexpr std::uint16_t kDefaultInput = 0x50C;
constexpr std::uint16_t kAlternativeInput = 0x50D;
// Bit 0 alone decides on the default input.
constexpr std::uint8_t kPressed = 0xFE;
constexpr std::uint8_t kReleased = 0x01;
// Bit 6 alone decides on the alternative input.
constexpr std::uint8_t kBit6Pressed = 0xBF;
constexpr std::uint8_t kBit6Released = 0x40;
// Polls that must pass before "nothing happened" is believed.
constexpr int kQuietPolls = 2;

InstallLayout ServedLayout(const std::string &entry = "WGB Test") {
    InstallLayout layout;
    layout.ini = MainBoardIni({entry});
    return layout;
}

bool SetUserVariable() {
    UniqueRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Environment", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.get(), kUserVariable, 0, REG_SZ,
                          reinterpret_cast<const BYTE *>(kUserValue),
                          sizeof kUserValue) == ERROR_SUCCESS;
}

// The account of the desktop shell: the logged-on user.
std::string ExplorerUser() {
    const std::vector<DWORD> pids = ProcessesNamed("explorer.exe");
    if (pids.empty())
        return "<no explorer.exe>";
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pids.front()));
    UniqueHandle token;
    if (!OpenProcessToken(process.get(), TOKEN_QUERY, token.put()))
        return "<no token>";
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), needed, &needed))
        return "<no token user>";
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, name,
                           &nameSize, domain, &domainSize, &use))
        return "<unknown account>";
    return name;
}

class ButtonWatchTest : public testing::Test {
  protected:
    void SetUp() override {
        Clean();
        SetBoardProduct(kServedBoard);
        ASSERT_TRUE(SetUserVariable());
    }
    void TearDown() override { Clean(); }

    static void Clean() {
        RemoveServiceIfPresent(kServiceName);
        // Any case: also the executable of another name.
        KillProcessesNamed("WGBService.exe");
        KillProcessesNamed("WGB.exe");
        KillProcessesNamed(kOtherCompanionName);
        KillProcessesNamed("WGB Test.exe");
        UnloadDriver();
        DeleteFileA(kPlantedCompanion);
        DeleteFileA(CompanionRecordFile(kPlantedCompanionDir).c_str());
    }

    // The service runs, and a stop ends it and its process.
    static void ExpectRunningAndStoppable(DWORD pid) {
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
        ASSERT_TRUE(process);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kServiceName));
        EXPECT_TRUE(ControlServiceByName(kServiceName, SERVICE_CONTROL_STOP));
        EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_STOPPED));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
                  WaitForSingleObject(process.get(), kDeadlineMs));
    }

    // The worker ended without a single request reaching the loaded stand-in.
    static void ExpectWorkerEndedUntouched(DWORD pid, SimControl &sim) {
        ASSERT_TRUE(WaitForWorkerEnd(pid));
        const std::optional<sim_counters> counters = sim.Counters();
        ASSERT_TRUE(counters);
        EXPECT_EQ(0u, counters->opens);
        EXPECT_EQ(0u, counters->reads);
        EXPECT_EQ(0u, counters->writes);
        EXPECT_EQ(0u, counters->failed);
        EXPECT_TRUE(sim.Trace().empty());
    }

    static constexpr char kOtherCompanionName[] = "wgbservice.exeWGB.exe";
};

// A served board: the service brings the driver up itself and polls the
// default input. One press starts the companion once, in the user's session;
// a release and a new press start it again, identically.
TEST_F(ButtonWatchTest, PressStartsTheCompanionOnceAsTheLoggedOnUser) {
    const std::string dir = PrepareInstallDir(ServedLayout(), kInstallDir);
    CopyFileOrFail(ArtifactPath("WGB.exe"), kPlantedCompanion);
    const DWORD pid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    SimControl sim;
    PortTrace trace(sim);
    ASSERT_TRUE(trace.WaitForPolls(1));
    // The worker polls on: this is what the idle cases see ended.
    const std::optional<std::vector<DWORD>> workers = ThreadsStartedInExecutable(pid);
    ASSERT_TRUE(workers);
    EXPECT_EQ(1u, workers->size());
    EXPECT_TRUE(ReadCompanionRecords(dir).empty());

    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 1))
        << "starts of the planted program: " << ReadCompanionRecords(kPlantedCompanionDir).size();
    const CompanionRecord first = ReadCompanionRecords(dir).front();
    EXPECT_EQ(CompanionCommandLine(dir), CompanionField(first, rec::kCommandLine));
    EXPECT_EQ((std::vector<std::string>{dir + "WGB.exe", "/S"}), CompanionArgv(first));
    EXPECT_EQ(ExplorerUser(), CompanionField(first, rec::kUser));
    EXPECT_STRCASEEQ("WinSta0", CompanionField(first, rec::kWindowStation).c_str());
    EXPECT_STRCASEEQ("Default", CompanionField(first, rec::kDesktop).c_str());
    EXPECT_EQ(kUserValue, CompanionField(first, std::string(rec::kEnvPrefix) + kUserVariable));
    EXPECT_TRUE(ReadCompanionRecords(kPlantedCompanionDir).empty());

    // Held across several polls: still one start.
    ASSERT_TRUE(trace.WaitForPolls(3));
    EXPECT_EQ(1u, ReadCompanionRecords(dir).size());
    const int handlesAfterFirstPress = HandleCount(pid);

    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 2));
    ASSERT_TRUE(trace.WaitForPolls(kQuietPolls));
    const std::vector<CompanionRecord> records = ReadCompanionRecords(dir);
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(CompanionField(first, rec::kCommandLine),
              CompanionField(records[1], rec::kCommandLine));
    EXPECT_NE(CompanionField(first, rec::kPid), CompanionField(records[1], rec::kPid));
    // Nothing of a press stays open in the service: snapshot, process,
    // tokens.
    EXPECT_EQ(handlesAfterFirstPress, HandleCount(pid));

    // Only the default input was ever read.
    for (const sim_trace_entry &entry : sim.Trace()) {
        EXPECT_EQ(SIM_OP_READ, entry.op) << entry;
        EXPECT_EQ(kDefaultInput, entry.port) << entry;
    }
    ExpectRunningAndStoppable(pid);
}

// A press that falls on a poll where the companion runs starts nothing, and
// it is spent: the companion ending while the button is held changes nothing.
TEST_F(ButtonWatchTest, PressWhileTheCompanionRunsIsConsumed) {
    const std::string dir = PrepareInstallDir(ServedLayout(), kInstallDir);
    const DWORD pid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    SimControl sim;
    PortTrace trace(sim);
    WriteTextFile(CompanionStayFile(dir), "");

    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 1));
    EXPECT_EQ("1", CompanionField(ReadCompanionRecords(dir).front(), rec::kStaying));
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed("WGB.exe").size() == 1; }));

    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    const int handlesBeforeTest = HandleCount(pid);
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(trace.WaitForPolls(kQuietPolls));
    EXPECT_EQ(1u, ReadCompanionRecords(dir).size());
    // The companion's token, opened by the running test, is not kept.
    EXPECT_EQ(handlesBeforeTest, HandleCount(pid));

    ASSERT_TRUE(DeleteFileA(CompanionStayFile(dir).c_str()));
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed("WGB.exe").empty(); }));
    ASSERT_TRUE(trace.WaitForPolls(kQuietPolls));
    EXPECT_EQ(1u, ReadCompanionRecords(dir).size());

    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 2));
    EXPECT_EQ(CompanionCommandLine(dir),
              CompanionField(ReadCompanionRecords(dir)[1], rec::kCommandLine));
    ExpectRunningAndStoppable(pid);
}

// "6231" in the product text: only port 0x50D is read, and its bit 6 alone
// decides; the default input is ignored.
TEST_F(ButtonWatchTest, Model6231ReadsBit6OfTheAlternativeInput) {
    SetBoardProduct(kBoard6231);
    const std::string dir = PrepareInstallDir(ServedLayout("6231"), kInstallDir);
    const DWORD pid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    SimControl sim;
    PortTrace trace(sim);

    ASSERT_TRUE(sim.SetPort(kDefaultInput, 0x00));
    ASSERT_TRUE(trace.SetAndWaitForPoll(kAlternativeInput, kBit6Released));
    ASSERT_TRUE(trace.WaitForPolls(kQuietPolls));
    EXPECT_TRUE(ReadCompanionRecords(dir).empty());

    ASSERT_TRUE(trace.SetAndWaitForPoll(kAlternativeInput, kBit6Pressed));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 1));
    EXPECT_EQ(CompanionCommandLine(dir),
              CompanionField(ReadCompanionRecords(dir).front(), rec::kCommandLine));

    for (const sim_trace_entry &entry : sim.Trace()) {
        EXPECT_EQ(SIM_OP_READ, entry.op) << entry;
        EXPECT_EQ(kAlternativeInput, entry.port) << entry;
    }
    ExpectRunningAndStoppable(pid);
}

// A driver that stops answering reads as a held button: one start, then
// nothing until a read returns the released level.
TEST_F(ButtonWatchTest, FailingReadsCountAsOnePress) {
    const std::string dir = PrepareInstallDir(ServedLayout(), kInstallDir);
    const DWORD pid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    SimControl sim;
    PortTrace trace(sim);
    ASSERT_TRUE(trace.WaitForPolls(1));

    ASSERT_TRUE(sim.FailRequests(true, false));
    ASSERT_TRUE(trace.WaitForFailedPolls(1));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 1));
    ASSERT_TRUE(trace.WaitForFailedPolls(kQuietPolls + 1));
    EXPECT_EQ(1u, ReadCompanionRecords(dir).size());

    ASSERT_TRUE(sim.FailRequests(false, false));
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    ASSERT_TRUE(sim.FailRequests(true, false));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 2));
    ExpectRunningAndStoppable(pid);
}

// A board the INI does not list: no bring-up and no request, the driver
// service never registered; the service idles, running and stoppable.
TEST_F(ButtonWatchTest, UnservedBoardTouchesNoHardware) {
    const std::string dir = PrepareInstallDir(ServedLayout("Some Other Board"), kInstallDir);
    const DWORD pid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
    ASSERT_TRUE(WaitForWorkerEnd(pid));
    EXPECT_FALSE(ServiceExists(kDriverServiceName));
    EXPECT_FALSE(SimControl().IsOpen());
    ExpectRunningAndStoppable(pid);
    RemoveServiceIfPresent(kServiceName);

    // With the stand-in loaded beforehand, any request would reach it.
    ASSERT_TRUE(LoadDriver(dir + "Quendra.sys"));
    SimControl sim;
    ASSERT_TRUE(sim.IsOpen());
    const DWORD secondPid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
    ExpectWorkerEndedUntouched(secondPid, sim);
    ExpectRunningAndStoppable(secondPid);
}

// Bring-up fails: the device refuses the open, or the driver file is missing.
// No poll either way; the service idles, running and stoppable.
TEST_F(ButtonWatchTest, DriverThatCannotBeBroughtUpMeansNoPoll) {
    const std::string dir = PrepareInstallDir(ServedLayout(), kInstallDir);
    ASSERT_TRUE(LoadDriver(dir + "Quendra.sys"));
    SimControl sim;
    const DWORD pid = [&] {
        DeviceOpenRefusal refusal(ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(refusal.IsActive());
        const DWORD servicePid = InstallAndWaitRunning(dir + "WGBService.exe").pid;
        EXPECT_TRUE(WaitForWorkerEnd(servicePid));
        return servicePid;
    }();
    ExpectWorkerEndedUntouched(pid, sim);
    ExpectRunningAndStoppable(pid);
    Clean();

    InstallLayout noDriverFile = ServedLayout();
    noDriverFile.driver32 = false;
    noDriverFile.driver64 = false;
    const std::string bareDir = PrepareInstallDir(noDriverFile, kInstallDir);
    const DWORD secondPid = InstallAndWaitRunning(bareDir + "WGBService.exe").pid;
    ASSERT_TRUE(WaitForWorkerEnd(secondPid));
    EXPECT_FALSE(ServiceExists(kDriverServiceName));
    ExpectRunningAndStoppable(secondPid);
}

// An executable named otherwise, here only in the case of its letters, keeps
// its full path as the directory text: the INI path, the driver path and the
// command line all follow it. With a path of 243 characters the command line
// just fits its buffer (255 characters); one character more and the worker
// ends before touching anything.
TEST_F(ButtonWatchTest, OtherExecutableNameKeepsItsFullPath) {
    const std::string exeName = "wgbservice.exe";
    const std::string root = "C:\\Program Files\\WGB Long ";
    for (const std::size_t exeLength : {std::size_t{243}, std::size_t{244}}) {
        SCOPED_TRACE(exeLength);
        const std::string dir =
            root + std::string(exeLength - root.size() - exeName.size() - 1, 'd');
        InstallLayout layout;
        layout.exeName = exeName;
        layout.driver32 = false;
        layout.driver64 = false;
        layout.companion = false;
        // The usual INI does not serve this board; the one the rule names does.
        layout.ini = MainBoardIni({"Some Other Board"});
        const std::string exe = PrepareInstallDir(layout, dir) + exeName;
        ASSERT_EQ(exeLength, exe.size());
        WriteTextFile(exe + "WGB.ini", MainBoardIni({kServedBoard}));
        CopyFileOrFail(ArtifactPath("Quendra.sys"), exe + "Quendra.sys");
        CopyFileOrFail(ArtifactPath("WGB.exe"), exe + "WGB.exe");

        if (exeLength == 243) {
            const DWORD pid = InstallAndWaitRunning(exe).pid;
            ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
            const std::optional<ServiceConfig> driver =
                QueryServiceConfiguration(kDriverServiceName);
            ASSERT_TRUE(driver);
            EXPECT_EQ(exe + "Quendra.sys", driver->imagePath);
            SimControl sim;
            PortTrace trace(sim);
            ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
            ASSERT_TRUE(WaitForCompanionRecords(dir, 1));
            const std::string commandLine =
                CompanionField(ReadCompanionRecords(dir).front(), rec::kCommandLine);
            EXPECT_EQ(Quoted(exe + "WGB.exe") + " /S", commandLine);
            EXPECT_EQ(255u, commandLine.size());
            ExpectRunningAndStoppable(pid);
        } else {
            // The stand-in from the first round stays loaded to see requests.
            SimControl sim;
            ASSERT_TRUE(sim.IsOpen());
            ASSERT_TRUE(sim.Reset());
            ASSERT_TRUE(sim.SetPort(kDefaultInput, kPressed));
            const DWORD pid = InstallAndWaitRunning(exe).pid;
            ExpectWorkerEndedUntouched(pid, sim);
            EXPECT_TRUE(ReadCompanionRecords(dir).empty());
            ExpectRunningAndStoppable(pid);
        }
        RemoveServiceIfPresent(kServiceName);
    }
}

} // namespace
