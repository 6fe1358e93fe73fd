// Driver bring-up and port requests in Wine, against the I/O driver stand-in.
// The device handle is process-wide, so each bring-up runs in a probe process
// of its own; the stand-in's control device shows what reached the driver.

#include "support/hwaccess_support.h"
#include "support/sim_client.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using wgbtest::BringupReport;
using wgbtest::kDriverServiceName;

constexpr char kModuleDir[] = "C:\\wgb-hw\\";
constexpr char kStartFailsDriver[] = "not a driver image";

std::string DriverFileInModuleDir(const char *name = "Quendra.sys") {
    return std::string(kModuleDir) + name;
}

class DriverBringUp : public testing::Test {
  protected:
    void SetUp() override {
        wgbtest::UnloadDriver();
        wgbtest::RemoveDirectoryTree("C:\\wgb-hw");
        ASSERT_TRUE(CreateDirectoryA("C:\\wgb-hw", nullptr));
    }
    void TearDown() override { wgbtest::UnloadDriver(); }

    // The stand-in's 32-bit file beside the "executable"; a file that is no
    // driver at all under the 64-bit name, which must not be chosen here.
    void PlaceDriverFiles() {
        wgbtest::CopyFileOrFail(wgbtest::ArtifactPath("Quendra.sys"), DriverFileInModuleDir());
        wgbtest::WriteTextFile(DriverFileInModuleDir("Quendra_X64.sys"), kStartFailsDriver);
    }

    static std::optional<BringupReport> Open() {
        return wgbtest::RunBringupProbe(kModuleDir, {"open"});
    }
};

TEST_F(DriverBringUp, NotRegisteredRegistersTheDriverBesideTheExecutableStartsAndOpensIt) {
    PlaceDriverFiles();

    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, true);
    EXPECT_EQ(report->handle, "valid");
    EXPECT_EQ(report->block, "filled");
    EXPECT_EQ(report->path, DriverFileInModuleDir());
    EXPECT_EQ(report->service, kDriverServiceName);

    const std::optional<wgbtest::ServiceConfig> config =
        wgbtest::QueryServiceConfiguration(kDriverServiceName);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->serviceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config->startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config->errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(config->imagePath, DriverFileInModuleDir());
    EXPECT_EQ(wgbtest::ServiceDisplayName(kDriverServiceName), kDriverServiceName);
    EXPECT_EQ(wgbtest::ServiceState(kDriverServiceName), static_cast<DWORD>(SERVICE_RUNNING));

    wgbtest::SimControl sim;
    ASSERT_TRUE(sim.IsOpen());
    const std::optional<sim_counters> counters = sim.Counters();
    ASSERT_TRUE(counters);
    EXPECT_EQ(counters->opens, 1u);
}

TEST_F(DriverBringUp, RegisteredButStoppedStartsTheRegistrationAsItIs) {
    PlaceDriverFiles();
    const std::string registeredImage = wgbtest::ArtifactPath("Quendra.sys");
    ASSERT_EQ(wgbtest::RegisterDriverService(registeredImage), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(wgbtest::ServiceState(kDriverServiceName), static_cast<DWORD>(SERVICE_STOPPED));

    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, true);
    EXPECT_EQ(report->handle, "valid");
    EXPECT_EQ(report->block, "filled");
    EXPECT_EQ(wgbtest::ServiceState(kDriverServiceName), static_cast<DWORD>(SERVICE_RUNNING));
    const std::optional<wgbtest::ServiceConfig> config =
        wgbtest::QueryServiceConfiguration(kDriverServiceName);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->imagePath, registeredImage);
}

TEST_F(DriverBringUp, AlreadyLoadedOnlyOpensTheDeviceEvenWithoutTheDriverFile) {
    ASSERT_TRUE(wgbtest::LoadDriver());

    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, true);
    EXPECT_EQ(report->handle, "valid");
    EXPECT_EQ(report->block, "filled");
    // The driver file was never sought, so no service call can have followed.
    EXPECT_EQ(report->path, "");
    EXPECT_EQ(report->service, "-");
    EXPECT_EQ(wgbtest::ServiceState(kDriverServiceName), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(DriverBringUp, MissingDriverFileRegistersNothing) {
    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, false);
    EXPECT_EQ(report->handle, "invalid");
    EXPECT_EQ(report->block, "none");
    EXPECT_EQ(report->path, DriverFileInModuleDir());
    EXPECT_FALSE(wgbtest::ServiceExists(kDriverServiceName));
}

TEST_F(DriverBringUp, MissingDriverFileLeavesARegistrationElsewhereAlone) {
    ASSERT_EQ(wgbtest::RegisterDriverService(), static_cast<DWORD>(ERROR_SUCCESS));

    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, false);
    EXPECT_TRUE(wgbtest::ServiceExists(kDriverServiceName));
    EXPECT_EQ(wgbtest::ServiceState(kDriverServiceName), static_cast<DWORD>(SERVICE_STOPPED));
}

// A directory of the given length (closing backslash included) holding the
// stand-in; made through the long-path prefix, since the driver path in it may
// exceed MAX_PATH.
std::string LongDirWithDriver(std::size_t length) {
    const std::string dir = "C:\\" + std::string(length - 4, 'd') + "\\";
    const std::string longPathPrefix = "\\\\?\\";
    CreateDirectoryA((longPathPrefix + dir).c_str(), nullptr);
    EXPECT_TRUE(CopyFileA(wgbtest::ArtifactPath("Quendra.sys").c_str(),
                          (longPathPrefix + dir + "Quendra.sys").c_str(), FALSE))
        << "error " << GetLastError();
    return dir;
}

// The driver path buffer holds 259 characters and the terminator.
TEST_F(DriverBringUp, DriverPathThatFillsItsBufferIsUsed) {
    const std::string dir = LongDirWithDriver(248);

    const std::optional<BringupReport> report = wgbtest::RunBringupProbe(dir, {"open"});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, true);
    EXPECT_EQ(report->path, dir + "Quendra.sys");
    EXPECT_EQ(report->path.size(), 259u);
}

TEST_F(DriverBringUp, DriverPathTooLongForItsBufferCountsAsMissingFile) {
    const std::string dir = LongDirWithDriver(249);

    const std::optional<BringupReport> report = wgbtest::RunBringupProbe(dir, {"open"});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, false);
    EXPECT_EQ(report->handle, "invalid");
    EXPECT_FALSE(wgbtest::ServiceExists(kDriverServiceName));
}

TEST_F(DriverBringUp, DriverThatFailsToStartIsStoppedAndDeleted) {
    wgbtest::WriteTextFile(DriverFileInModuleDir(), kStartFailsDriver);

    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, false);
    EXPECT_EQ(report->handle, "invalid");
    EXPECT_TRUE(wgbtest::WaitUntil([] { return !wgbtest::ServiceExists(kDriverServiceName); }));
}

TEST_F(DriverBringUp, DriverThatFailsToStartLosesARegistrationMadeBefore) {
    PlaceDriverFiles();
    ASSERT_EQ(wgbtest::RegisterDriverService(DriverFileInModuleDir()),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(wgbtest::SetDriverFailStart(true));

    const std::optional<BringupReport> report = Open();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, false);
    EXPECT_TRUE(wgbtest::WaitUntil([] { return !wgbtest::ServiceExists(kDriverServiceName); }));
}

// An open the driver refuses ends bring-up at once: no file test (the path
// stays empty), so no service call either; and requests sent afterwards on
// the failed handle never reach the driver.
class RefusedOpen : public DriverBringUp, public testing::WithParamInterface<uint32_t> {};

TEST_P(RefusedOpen, EndsBringUpWithoutTouchingTheDriverService) {
    PlaceDriverFiles();
    ASSERT_TRUE(wgbtest::LoadDriver());
    wgbtest::SimControl sim;
    ASSERT_TRUE(sim.IsOpen());
    ASSERT_TRUE(sim.SetPort(0x50C, 0x3C));
    ASSERT_TRUE(sim.RefuseOpens(GetParam()));

    const std::optional<BringupReport> report =
        wgbtest::RunBringupProbe(kModuleDir, {"open", "read:0x50C", "write:0x50C:0x01"});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, false);
    EXPECT_EQ(report->handle, "invalid");
    EXPECT_EQ(report->path, "");
    EXPECT_EQ(report->service, "-");
    ASSERT_EQ(report->reads.size(), 1u);
    EXPECT_EQ(report->reads[0].second, 0);
    ASSERT_EQ(report->writes.size(), 1u);
    EXPECT_FALSE(report->writes[0].second);

    const std::optional<sim_counters> counters = sim.Counters();
    ASSERT_TRUE(counters);
    EXPECT_EQ(counters->opens, 0u);
    EXPECT_TRUE(sim.Trace().empty());
    EXPECT_EQ(wgbtest::ServiceState(kDriverServiceName), static_cast<DWORD>(SERVICE_RUNNING));
    sim.AcceptOpens();
}

INSTANTIATE_TEST_SUITE_P(Statuses, RefusedOpen,
                         testing::Values(SIM_STATUS_SHARING_VIOLATION, SIM_STATUS_ACCESS_DENIED),
                         [](const testing::TestParamInfo<uint32_t> &info) {
                             return info.param == SIM_STATUS_SHARING_VIOLATION
                                        ? std::string("SharingViolation")
                                        : std::string("AccessDenied");
                         });

// ---- port requests ----------------------------------------------------------

class PortRequests : public DriverBringUp {
  protected:
    void SetUp() override {
        DriverBringUp::SetUp();
        ASSERT_TRUE(wgbtest::LoadDriver());
        sim_.emplace();
        ASSERT_TRUE(sim_->IsOpen());
        ASSERT_TRUE(sim_->SetPort(0x50C, 0x3C));
        ASSERT_TRUE(sim_->SetPort(0x50D, 0xC3));
        ASSERT_TRUE(sim_->ClearTrace());
    }

    std::optional<wgbtest::SimControl> sim_; // opened once the stand-in is loaded
};

TEST_F(PortRequests, CarryWholePortsInTheDriversLayouts) {
    const std::optional<BringupReport> report = wgbtest::RunBringupProbe(
        kModuleDir, {"open", "read:0x50C", "read:0x50D", "write:0x1234:0x5A", "write:0xFFFF:0x01",
                     "read:0x1234"});
    ASSERT_TRUE(report);
    ASSERT_EQ(report->opened, true);
    // Byte 1 of each read's output holds the stand-in's filler, never seen.
    EXPECT_EQ(report->reads, (std::vector<std::pair<std::uint16_t, int>>{
                                 {0x50C, 0x3C}, {0x50D, 0xC3}, {0x1234, 0x5A}}));
    EXPECT_EQ(report->writes,
              (std::vector<std::pair<std::uint16_t, bool>>{{0x1234, true}, {0xFFFF, true}}));

    const std::vector<sim_trace_entry> trace = sim_->Trace();
    ASSERT_EQ(trace.size(), 5u);
    struct Expected {
        uint8_t op;
        uint32_t port;
        uint8_t value;
        uint32_t inLength;
        uint32_t outLength;
    } const expected[] = {
        {SIM_OP_READ, 0x50C, 0x3C, 2, 2},   {SIM_OP_READ, 0x50D, 0xC3, 2, 2},
        {SIM_OP_WRITE, 0x1234, 0x5A, 5, 0}, {SIM_OP_WRITE, 0xFFFF, 0x01, 5, 0},
        {SIM_OP_READ, 0x1234, 0x5A, 2, 2},
    };
    for (std::size_t i = 0; i < trace.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "request " << i << ": " << trace[i]);
        EXPECT_EQ(trace[i].op, expected[i].op);
        EXPECT_EQ(trace[i].port, expected[i].port);
        EXPECT_EQ(trace[i].value, expected[i].value);
        EXPECT_EQ(trace[i].in_len, expected[i].inLength);
        EXPECT_EQ(trace[i].out_len, expected[i].outLength);
        EXPECT_EQ(trace[i].status, SIM_STATUS_SUCCESS);
    }
    EXPECT_EQ(sim_->Port(0xFFFF), std::optional<uint8_t>(0x01));
}

TEST_F(PortRequests, FailedRequestsGiveZeroAndFalse) {
    ASSERT_TRUE(sim_->FailRequests(true, true));

    const std::optional<BringupReport> report =
        wgbtest::RunBringupProbe(kModuleDir, {"open", "read:0x50C", "write:0x50C:0x01"});
    ASSERT_TRUE(report);
    ASSERT_EQ(report->opened, true);
    ASSERT_EQ(report->reads.size(), 1u);
    EXPECT_EQ(report->reads[0].second, 0);
    ASSERT_EQ(report->writes.size(), 1u);
    EXPECT_FALSE(report->writes[0].second);
    EXPECT_EQ(sim_->Trace().size(), 2u);
    sim_->FailRequests(false, false);
}

TEST_F(PortRequests, BeforeBringUpNothingReachesTheDriver) {
    const std::optional<BringupReport> report =
        wgbtest::RunBringupProbe(kModuleDir, {"read:0x50C", "write:0x50C:0x01"});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->handle, "zero");
    ASSERT_EQ(report->reads.size(), 1u);
    EXPECT_EQ(report->reads[0].second, 0);
    ASSERT_EQ(report->writes.size(), 1u);
    EXPECT_FALSE(report->writes[0].second);

    EXPECT_TRUE(sim_->Trace().empty());
    const std::optional<sim_counters> counters = sim_->Counters();
    ASSERT_TRUE(counters);
    EXPECT_EQ(counters->opens, 0u);
    EXPECT_EQ(sim_->Port(0x50C), std::optional<uint8_t>(0x3C));
}

} // namespace
