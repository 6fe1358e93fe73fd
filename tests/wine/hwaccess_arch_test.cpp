// The driver file follows the architecture Windows itself runs on, not that
// of the (32-bit) process: "Quendra.sys" in a 32-bit prefix, "Quendra_X64.sys"
// in a 64-bit one. Run in both kinds of session (WGB_WINEARCH).

#include "support/hwaccess_support.h"
#include "support/sim_client.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr char kModuleDir[] = "C:\\wgb-hw-arch\\";

// What the session was made as, told by the runner rather than asked of Windows.
bool SessionIs64Bit() {
    const char *arch = std::getenv("WINEARCH");
    return arch != nullptr && std::string(arch) == "win64";
}

TEST(DriverFileChoice, FollowsTheArchitectureOfWindows) {
    const bool x64 = SessionIs64Bit();
    if (x64 && !wgbtest::FileExists(wgbtest::ArtifactPath("Quendra_X64.sys")))
        GTEST_SKIP() << "the build made no 64-bit stand-in";
    wgbtest::UnloadDriver();
    wgbtest::RemoveDirectoryTree("C:\\wgb-hw-arch");
    ASSERT_TRUE(CreateDirectoryA("C:\\wgb-hw-arch", nullptr));
    // Both files present: only the right one can be loaded by this Windows.
    wgbtest::CopyFileOrFail(wgbtest::ArtifactPath("Quendra.sys"),
                            std::string(kModuleDir) + "Quendra.sys");
    if (wgbtest::FileExists(wgbtest::ArtifactPath("Quendra_X64.sys")))
        wgbtest::CopyFileOrFail(wgbtest::ArtifactPath("Quendra_X64.sys"),
                                std::string(kModuleDir) + "Quendra_X64.sys");
    const std::string expected =
        std::string(kModuleDir) + (x64 ? "Quendra_X64.sys" : "Quendra.sys");

    const std::optional<wgbtest::BringupReport> report =
        wgbtest::RunBringupProbe(kModuleDir, {"open", "write:0x50D:0x42"});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->opened, true);
    EXPECT_EQ(report->path, expected);
    const std::optional<wgbtest::ServiceConfig> config =
        wgbtest::QueryServiceConfiguration(wgbtest::kDriverServiceName);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->imagePath, expected);

    // The loaded stand-in answered the request.
    wgbtest::SimControl sim;
    ASSERT_TRUE(sim.IsOpen());
    EXPECT_EQ(sim.Port(0x50D), std::optional<uint8_t>(0x42));
    wgbtest::UnloadDriver();
}

} // namespace
