// The release script's Windows Installer packages of this build and of one a
// patch version up, run by msiexec as a fleet's deployment runs it: a silent
// install on a served board, an upgrade in place, an older package refused, a
// silent removal.

#include "sim/sim_client.h"
#include "support/service_env.h"

#include <gtest/gtest.h>

namespace {

using namespace wgbtest;

// The 64-bit msiexec of the prefix, whatever this test is built as: the
// 32-bit one would run under the emulator too.
DWORD Msiexec(const std::string &action, const std::string &version) {
    const std::string msi = ArtifactPath(version + "/WGBService-" + version + "-test.msi");
    const char *system = sizeof(void *) == 4 ? "sysnative" : "system32";
    return RunProgram(std::string("C:\\windows\\") + system + "\\msiexec.exe " + action + " " +
                      Quoted(msi) + " /qn")
        .value_or(~0u);
}

// A string of the version resource, or with key "" its fixed file version.
std::string VersionInfo(const std::string &file, const std::string &key = "") {
    std::vector<char> data(GetFileVersionInfoSizeA(file.c_str(), nullptr) + 1);
    const std::string path = key.empty() ? "\\" : "\\StringFileInfo\\040904b0\\" + key;
    void *value = nullptr;
    UINT size = 0;
    if (!GetFileVersionInfoA(file.c_str(), 0, data.size(), data.data()) ||
        !VerQueryValueA(data.data(), path.c_str(), &value, &size))
        return "";
    const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
    return !key.empty() ? static_cast<const char *>(value)
                        : std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwFileVersionLS));
}

// The service registered for good and running the executable of that
// version: its process id.
DWORD ExpectInstalled(const std::string &dir, const std::string &version) {
    EXPECT_EQ(version, VersionInfo(dir + "WGBService.exe"));
    EXPECT_EQ(Quoted(dir + "WGBService.exe"),
              QueryConfig(kServiceName).value_or(ServiceConfig{}).imagePath);
    EXPECT_EQ(std::optional<DWORD>(SERVICE_AUTO_START), StartValue(kServiceName));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    return ServiceStatus(kServiceName).value_or(SERVICE_STATUS_PROCESS{}).dwProcessId;
}

TEST(Package, InstallsUpgradesInPlaceRefusesAnOlderOneAndIsRemoved) {
    // The package installs for 32-bit Windows programs: C:\Program Files (x86)
    // on 64-bit Windows, as a 32-bit process sees "ProgramFiles" there.
    const char *programFiles = std::getenv(sizeof(void *) == 4 ? "ProgramFiles" : "ProgramFiles(x86)");
    const std::string dir = std::string(programFiles) + "\\WGB\\";
    SetBoardProduct("B760M-WGB Rev 1.0"); // served by the sample WGB.ini

    ASSERT_EQ(0u, Msiexec("/i", WGB_VERSION));
    const DWORD state = ServiceState(kServiceName);
    ASSERT_TRUE(state == SERVICE_START_PENDING || state == SERVICE_RUNNING) << state;
    for (const char *exe : {"WGBService.exe", "WGBCheck.exe"}) {
        for (const char *key : {"", "FileVersion", "ProductVersion"})
            EXPECT_EQ(WGB_VERSION, VersionInfo(dir + exe, key)) << exe << " " << key;
        EXPECT_EQ(exe, VersionInfo(dir + exe, "OriginalFilename"));
    }
    const DWORD firstPid = ExpectInstalled(dir, WGB_VERSION);
    ASSERT_TRUE(WaitForDriverLoaded());
    // The stand-in's handle closed at once: the upgrade stops its driver.
    ASSERT_TRUE(sim::Control().SetAndWaitForPoll(sim::kButtonPort, sim::kPressed, DeadlineMs()));
    EXPECT_TRUE(WaitForCompanionStarts(dir, 1));
    // The stub companion's record of its start is no file of the package's.
    DeleteFileA((dir + companion_record::kRecordFileName).c_str());
    std::string report;
    EXPECT_LT(RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &report).value_or(2), 2u);
    EXPECT_NE(std::string::npos, report.find("\"result\"")) << report;
    EXPECT_EQ(std::string::npos, report.find("\"FAIL\"")) << report;

    ASSERT_EQ(0u, Msiexec("/i", WGB_NEXT_VERSION));
    const DWORD upgradedPid = ExpectInstalled(dir, WGB_NEXT_VERSION);
    EXPECT_NE(firstPid, upgradedPid);

    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), Msiexec("/i", WGB_VERSION));
    EXPECT_EQ(upgradedPid, ExpectInstalled(dir, WGB_NEXT_VERSION));

    EXPECT_EQ(0u, Msiexec("/x", WGB_NEXT_VERSION));
    EXPECT_TRUE(ServiceGone(kServiceName));
    EXPECT_TRUE(ServiceGone(kDriverServiceName));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_TRUE(WaitUntil([] { return ProcessesNamed("WGBService.exe").empty(); }));
}

} // namespace
