// The button watch end to end: the real service installed through the SCM
// from a directory with blanks, the driver stand-in serving the button input,
// and the stub companion recording how it was started. Every poll costs
// 3000 ms, so each service start serves several checks.

#include "button/process_lookup.h"
#include "sim/sim_client.h"
#include "support/service_env.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace wgbtest;
namespace rec = companion_record;

constexpr char kInstallDir[] = "C:\\Program Files\\WGB Test Tools";
constexpr char kUserValue[] = "from the user's own environment";
constexpr std::uint16_t kSecondInput = 0x50D;
// Unquoted, "<kInstallDir>\WGB.exe /S" would start this program: Windows
// tries each prefix of the path that ends at a blank. (Wine then quotes the
// path it found, so only a program at such a prefix shows the fault.)
constexpr char kShorterPrefixDir[] = "C:\\Program Files\\";
// Polls that must pass before "nothing happened" is believed.
constexpr int kQuietPolls = 2;
// The service polls every 3 s: no two polls closer than that (a little less
// allows for the clock's grain), in 100 ns units. The period's upper end is
// a time a loaded machine can stretch: tools/bench reports it.
constexpr std::uint64_t kPollGapFloor = 29000000;
// A DLL the service loads at run time by name (for the user's environment):
// the stand-in planted beside the service must never be the one loaded.
constexpr char kPlantedName[] = "userenv.dll";

// Marks the logged-on user's shell token, so that a copy of it can be told
// from the service's own token: Wine gives both the same user, but a copy
// keeps the privileges enabled in its original.
bool MarkShellToken() {
    const std::vector<DWORD> shells = ProcessesNamed("explorer.exe");
    const UniqueHandle shell(
        OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shells.empty() ? 0 : shells[0]));
    HANDLE raw = nullptr;
    if (!shell || !OpenProcessToken(shell.get(), TOKEN_ADJUST_PRIVILEGES, &raw))
        return false;
    const UniqueHandle token(raw);
    TOKEN_PRIVILEGES shutdown = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    return LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown.Privileges[0].Luid) &&
           AdjustTokenPrivileges(token.get(), FALSE, &shutdown, 0, nullptr, nullptr);
}

// Before the shell's token is used, the process opened under the shell's id
// must still be that shell: an id another program holds (this test's own,
// as after a logoff gave the shell's away) or a session other than the
// snapshot's gives no token; the logged-on user's shell does.
TEST(ShellToken, OnlyTheShellOfTheSnapshotGivesItsToken) {
    const std::vector<DWORD> shells = ProcessesNamed("explorer.exe");
    ASSERT_FALSE(shells.empty());
    DWORD shellSession = 0, ownSession = 0;
    ASSERT_TRUE(ProcessIdToSessionId(shells[0], &shellSession));
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &ownSession));
    const struct {
        DWORD processId, session;
        bool token;
    } cases[] = {{shells[0], shellSession, true},
                 {GetCurrentProcessId(), ownSession, false},
                 {shells[0], shellSession + 1, false}};
    for (const auto &c : cases) {
        const ProcessEntry entry{kShellExeName, c.processId, c.session};
        EXPECT_EQ(c.token, static_cast<bool>(OpenShellToken(entry)))
            << "process " << c.processId << " in session " << c.session;
    }
}

class ButtonWatch : public testing::Test {
  protected:
    void SetUp() override {
        Clean();
        SetBoardProduct("WGB Test Board");
        WriteRegistryValue(HKEY_CURRENT_USER, "Environment", "WGB_USER_VAR", REG_SZ, kUserValue,
                           sizeof kUserValue);
    }
    void TearDown() override { Clean(); }
    static void Clean() {
        CleanUpAfterService();
        DeleteFileA((std::string(kShorterPrefixDir) + "WGB.exe").c_str());
        DeleteFileA((std::string(kShorterPrefixDir) + rec::kRecordFileName).c_str());
    }
    // The service installed from dir with this board list, polling.
    RunningService Install(const std::string &entry, const char *dir = kInstallDir,
                           const char *exe = "WGBService.exe") {
        dir_ = PrepareInstallDir(dir, MainBoardIni({entry}));
        RunningService service = InstallAndWaitRunning(dir_ + exe);
        EXPECT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
        sim_ = sim::Control();
        EXPECT_TRUE(sim_.WaitForPolls(1, DeadlineMs()));
        return service;
    }
    bool Set(std::uint16_t port, std::uint8_t value) {
        return sim_.SetAndWaitForPoll(port, value, DeadlineMs()).has_value();
    }
    bool Press() {
        return Set(sim::kButtonPort, sim::kReleased) && Set(sim::kButtonPort, sim::kPressed);
    }
    std::size_t Starts() const { return rec::ReadRecords(dir_).size(); }
    // Only this port was ever read, nothing written, and never two polls
    // closer than the period: timed by the stand-in as each read arrived.
    void ExpectPollsOf(std::uint16_t port) {
        const std::vector<sim_trace_entry> trace = sim_.Trace();
        ASSERT_GT(trace.size(), 2u) << "too few polls to judge";
        for (std::size_t i = 0; i < trace.size(); ++i) {
            EXPECT_EQ(SIM_OP_READ, trace[i].op);
            EXPECT_EQ(port, trace[i].port);
            if (i > 0) {
                EXPECT_GE(trace[i].time - trace[i - 1].time, kPollGapFloor) << "poll " << i;
            }
        }
    }

    std::string dir_;
    sim::Control sim_; // opened again once the service has loaded the stand-in
};

// A served board: the service brings the driver up itself and polls the
// default input every 3 s. A press starts the companion once, with the
// logged-on user's token; a press while it runs is spent; every start leaves
// no handle behind; a DLL planted beside the service is never loaded. Then
// the hidden window: a second WM_CREATE starts no second worker, and
// WM_CLOSE makes the service report stopped by itself.
TEST_F(ButtonWatch, PressStartsTheCompanionOnceInTheUsersSession) {
    const RunningService service = Install("WGB Test");
    CopyFileOrFail(ArtifactPath("WGB.exe"), std::string(kShorterPrefixDir) + "WGB.exe");
    CopyFileOrFail(ArtifactPath("planted.dll"), dir_ + kPlantedName);
    ASSERT_TRUE(MarkShellToken());
    ASSERT_TRUE(Press());
    ASSERT_TRUE(
        WaitUntil([&] { return Starts() + rec::ReadRecords(kShorterPrefixDir).size() > 0; }));
    ASSERT_TRUE(rec::ReadRecords(kShorterPrefixDir).empty()) << "the program at a shorter prefix";
    rec::Record first = rec::ReadRecords(dir_)[0];
    EXPECT_EQ(Quoted(dir_ + "WGB.exe") + " /S", first[rec::kCommandLine]);
    EXPECT_STRCASEEQ("WinSta0", first[rec::kWindowStation].c_str());
    EXPECT_STRCASEEQ("Default", first[rec::kDesktop].c_str());
    EXPECT_EQ(kUserValue, first["env.WGB_USER_VAR"]);
    EXPECT_NE(std::string::npos, first[rec::kPrivileges].find("SeShutdownPrivilege "))
        << "not started with the shell's token: " << first[rec::kPrivileges];
    EXPECT_EQ("", ReadWholeFile(dir_ + "planted.txt")) << "the planted " << kPlantedName;
    // Held across several polls: still one start.
    ASSERT_TRUE(sim_.WaitForPolls(kQuietPolls, DeadlineMs()));
    EXPECT_EQ(1u, Starts());
    const int handles = HandleCount(service.pid);

    // A press while the companion runs starts nothing and is spent: the
    // companion ending while the button is held changes nothing.
    WriteTextFile(dir_ + rec::kStayFileName, "");
    ASSERT_TRUE(Press());
    ASSERT_TRUE(WaitForCompanionStarts(dir_, 2));
    ASSERT_TRUE(Press());
    ASSERT_TRUE(sim_.WaitForPolls(kQuietPolls, DeadlineMs()));
    EXPECT_EQ(2u, Starts()) << "a second companion while one runs";
    ASSERT_TRUE(DeleteFileA((dir_ + rec::kStayFileName).c_str()));
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed("WGB.exe").empty(); }));
    ASSERT_TRUE(sim_.WaitForPolls(kQuietPolls, DeadlineMs()));
    EXPECT_EQ(2u, Starts());

    ASSERT_TRUE(Press());
    ASSERT_TRUE(WaitForCompanionStarts(dir_, 3));
    ASSERT_TRUE(sim_.WaitForPolls(1, DeadlineMs()));
    const std::vector<rec::Record> records = rec::ReadRecords(dir_);
    EXPECT_EQ(first[rec::kCommandLine], records[2].at(rec::kCommandLine));
    // A count may fall (Wine closes handles of its own in the service's
    // process now and then); a launch that leaves one behind makes it rise.
    EXPECT_LE(HandleCount(service.pid), handles) << "handles left by two starts";
    ExpectPollsOf(sim::kButtonPort);

    EnterServiceDesktop();
    const HWND window = WaitForHiddenWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(2, ThreadsStartedInExecutable(service.pid, dir_ + "WGBService.exe"))
        << "the main thread and the worker";
    CREATESTRUCTA create = {};
    DWORD_PTR result = 0;
    ASSERT_NE(0, SendMessageTimeoutA(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create),
                                     SMTO_NORMAL, DeadlineMs(), &result));
    EXPECT_EQ(2, ThreadsStartedInExecutable(service.pid, dir_ + "WGBService.exe"))
        << "a second worker";
    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_STOPPED));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
              WaitForSingleObject(service.process.get(), DeadlineMs()));
}

// "6231" in the product text: only the second input is read, and its bit 6
// alone decides. Installed as an administrator might type it, in lower case:
// the service's files are still found beside it. Another product's driver
// registration, which bring-up points at the service's driver file, is
// pointed back at its own file and stopped by -qtruninstall once the service
// has stopped.
TEST_F(ButtonWatch, Board6231ReadsBit6OfTheSecondInputAndUninstallLeavesTheDriverAsFound) {
    SetBoardProduct("QTR-B760M-6231 Rev 1.0");
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
    const std::string theirs = QueryConfig(kDriverServiceName).value().imagePath;
    Install("6231", "c:\\program files\\wgb test tools", "wgbservice.exe");
    EXPECT_STRCASEEQ((dir_ + DriverFile()).c_str(),
                     QueryConfig(kDriverServiceName).value().imagePath.c_str());
    ASSERT_TRUE(sim_.SetPort(sim::kButtonPort, 0x00));
    ASSERT_TRUE(Set(kSecondInput, 0x40));
    ASSERT_TRUE(sim_.WaitForPolls(kQuietPolls, DeadlineMs()));
    EXPECT_EQ(0u, Starts());
    ASSERT_TRUE(Set(kSecondInput, 0xBF));
    ASSERT_TRUE(WaitForCompanionStarts(dir_, 1));
    EXPECT_EQ(Quoted(dir_ + "WGB.exe") + " /S", rec::ReadRecords(dir_)[0][rec::kCommandLine]);
    ExpectPollsOf(kSecondInput);

    EXPECT_EQ(std::optional<DWORD>(0),
              RunProgram(Quoted(dir_ + "wgbservice.exe") + " -qtruninstall"));
    EXPECT_TRUE(WaitUntil([] { return ServiceGone(kServiceName); }));
    EXPECT_EQ(theirs, QueryConfig(kDriverServiceName).value_or(ServiceConfig{}).imagePath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kDriverServiceName));
}

// The snapshot names every process, this one among them: a walk that did not
// start at the first entry would give one without a name.
TEST(ProcessLookup, SnapshotNamesEveryProcessThisOneAmongThem) {
    bool self = false;
    for (const ProcessEntry &process : SnapshotProcesses()) {
        EXPECT_NE("", process.exeName) << process.processId;
        self = self || process.processId == GetCurrentProcessId();
    }
    EXPECT_TRUE(self);
}

} // namespace
