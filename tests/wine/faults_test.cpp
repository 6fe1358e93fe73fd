// Faults from outside the service: a board it does not serve, a driver that
// refuses its device, no logged-on user, reads failing while it polls.
// Whatever happens, the service process lives on, its control handler
// answers, and a stop ends it.

#include "sim/sim_client.h"
#include "support/service_env.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace wgbtest;

constexpr char kInstallDir[] = "C:\\Program Files\\WGB Fault Tools";

class Faults : public testing::Test {
  protected:
    void SetUp() override {
        CleanUpAfterService();
        SetBoardProduct("WGB Test Board");
    }
    void TearDown() override { CleanUpAfterService(); }
};

// Without a logged-on user a press starts nothing. (The user leaves first:
// in Wine, explorer.exe may stay once a program started by the service has
// run on the user's desktop.) With the user back, reads that fail while the
// service polls (the driver stopped or updated) are no samples: their 0 would
// read as a held button, yet nothing starts. Once a read succeeds again with
// the button pressed, one start.
TEST_F(Faults, NoUserThenReadsFailingWhilePolling) {
    const std::string dir = PrepareInstallDir(kInstallDir, MainBoardIni({"WGB Test"}));
    const RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    sim::Control sim;
    ASSERT_TRUE(sim.SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()));
    // The user logs off: the windowed program that keeps explorer.exe alive
    // ends, and this thread leaves the user's desktop, since Wine counts every
    // thread with user32 loaded as a user of its desktop.
    EnterServiceDesktop();
    KillProcessesNamed("notepad.exe");
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed("explorer.exe").empty(); }));
    ASSERT_TRUE(sim.SetAndWaitForPoll(sim::kButtonPort, sim::kPressed, DeadlineMs()));
    ASSERT_TRUE(sim.WaitForPolls(2, DeadlineMs()));
    EXPECT_TRUE(ProcessesNamed("explorer.exe").empty()) << "the user came back meanwhile";
    EXPECT_TRUE(companion_record::ReadRecords(dir).empty()) << "a start without a user";

    // The user is back: a windowed program on the user's desktop.
    ASSERT_TRUE(StartProgram("notepad.exe", "", "WinSta0\\Default"));
    ASSERT_TRUE(WaitUntil([] { return !ProcessesNamed("explorer.exe").empty(); }));
    ASSERT_TRUE(sim.SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()));
    ASSERT_TRUE(sim.FailReads(true));
    ASSERT_TRUE(sim.WaitForPolls(3, DeadlineMs()));
    EXPECT_TRUE(companion_record::ReadRecords(dir).empty()) << "a start on a failed read";
    ASSERT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
    ASSERT_TRUE(sim.FailReads(false));
    EXPECT_TRUE(WaitForCompanionStarts(dir, 1));
    ASSERT_TRUE(sim.WaitForPolls(2, DeadlineMs()));
    EXPECT_EQ(1u, companion_record::ReadRecords(dir).size());
    ExpectAliveAndStoppable(service);
}

// The worker ends without a poll, and no driver is ever registered: on a
// board the list does not name; in a folder whose path leaves no room for
// the companion's command line (244 characters, the service under a short
// name, so that its own path still fits); and, with the driver loaded, when
// the driver refuses the open.
TEST_F(Faults, WorkerEndsWithoutPollingAndTheServiceLivesOn) {
    const std::string refusal = DeviceRefusalFolder();
    const std::string longDir = "C:\\" + std::string(240, 'd');
    const struct {
        const char *what, *entry;
        std::string dir, exe;
        bool refused;
    } cases[] = {
        {"a board not served", "Other Board", kInstallDir, "WGBService.exe", false},
        {"a folder too long", "WGB Test", longDir, "S.exe", false},
        {"the device refuses the open", "WGB Test", kInstallDir, "WGBService.exe", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.refused) {
            ASSERT_TRUE(LoadDriver());
            ASSERT_TRUE(CreateDirectoryA(refusal.c_str(), nullptr)) << refusal;
        }
        const std::string dir = PrepareInstallDir(c.dir, MainBoardIni({c.entry}));
        if (c.dir == longDir) {
            ASSERT_EQ(244u, dir.size());
            ASSERT_TRUE(MoveFileA((dir + "WGBService.exe").c_str(), (dir + c.exe).c_str()));
        }
        const RunningService service = InstallAndWaitRunning(dir + c.exe);
        EnterServiceDesktop();
        ASSERT_NE(nullptr, WaitForHiddenWindow());
        EXPECT_TRUE(WaitUntil([&] {
            return ThreadsStartedInExecutable(service.pid, dir + c.exe) == 1;
        })) << "the worker did not end";
        EXPECT_NE(c.refused, ServiceGone(kDriverServiceName));
        ExpectAliveAndStoppable(service);
        RemoveDirectoryA(refusal.c_str());
        CleanUpAfterService();
    }
}

} // namespace
