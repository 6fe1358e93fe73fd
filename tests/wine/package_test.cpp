// The release script's Windows Installer packages, run by msiexec as a
// fleet's deployment runs them: a silent installation on a served board into
// a folder of its own, upgrades and a repair that keep that folder and an
// edited WGB.ini, an older package refused, failures that leave what was
// there before, a silent removal.

#include "sim/sim_client.h"
#include "support/service_env.h"

#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace wgbtest;

// The packages of test_packages (tests/wine/CMakeLists.txt): this build's, one
// a patch version up with a list of one more board, the next build of that
// version, and a build of it that fails once the service runs.
std::string Package(const std::string &folder, const std::string &version) {
    return ArtifactPath(folder + "/WGBService-" + version + "-test.msi");
}
const std::string kThis = Package(WGB_VERSION, WGB_VERSION);
const std::string kNext = Package(WGB_NEXT_VERSION, WGB_NEXT_VERSION);
const std::string kRebuild = Package(WGB_NEXT_VERSION "-rebuild", WGB_NEXT_VERSION);
const std::string kFailing = Package(WGB_NEXT_VERSION "-failing", WGB_NEXT_VERSION);

// The 64-bit msiexec of the prefix, whatever this test is built as (the
// 32-bit one would run under the emulator too), silent: its exit code.
DWORD Msiexec(const std::string &arguments) {
    const char *system = sizeof(void *) == 4 ? "sysnative" : "system32";
    return RunProgram(std::string("C:\\windows\\") + system + "\\msiexec.exe " + arguments + " /qn")
        .value_or(~0u);
}

// A file in this user's temporary folder.
std::string TempFile(const char *name) {
    char path[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, path);
    return std::string(path) + name;
}

// A failed installation: 1603, or 1627, with which Wine reports a failed
// action where Windows reports 1603.
bool Failed(DWORD exitCode) {
    return exitCode == ERROR_INSTALL_FAILURE || exitCode == ERROR_FUNCTION_FAILED;
}

// The first column of the first row a query of the package's tables selects.
std::string PackageValue(const std::string &package, const std::string &query) {
    MSIHANDLE database = 0, view = 0, record = 0;
    char value[256] = "";
    DWORD size = sizeof value;
    if (MsiOpenDatabaseA(package.c_str(), MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
        MsiDatabaseOpenViewA(database, query.c_str(), &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS)
        MsiRecordGetStringA(record, 1, value, &size);
    for (MSIHANDLE handle : {record, view, database})
        MsiCloseHandle(handle);
    return value;
}

// A value of the package's Property table.
std::string PackageProperty(const std::string &package, const char *name) {
    return PackageValue(
        package, std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'");
}

bool Installed(const std::string &package) {
    return MsiQueryProductStateA(PackageProperty(package, "ProductCode").c_str()) ==
           INSTALLSTATE_DEFAULT;
}

// How many products of the test packages' upgrade code are installed.
int ProductsInstalled() {
    const std::string upgradeCode = PackageProperty(kThis, "UpgradeCode");
    char product[39];
    int count = 0;
    while (MsiEnumRelatedProductsA(upgradeCode.c_str(), 0, count, product) == ERROR_SUCCESS)
        ++count;
    return count;
}

// The file's version (X.Y.Z.N), as its version resource gives it.
std::string VersionInfo(const std::string &file) {
    std::vector<char> data(GetFileVersionInfoSizeA(file.c_str(), nullptr) + 1);
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT size = 0;
    if (!GetFileVersionInfoA(file.c_str(), 0, data.size(), data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &size))
        return "";
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    return text;
}

const std::string kThisVersion = WGB_VERSION "." WGB_BUILD;
const std::string kNextVersion = WGB_NEXT_VERSION "." WGB_BUILD;
const std::string kRebuildVersion = WGB_NEXT_VERSION "." WGB_NEXT_BUILD;

// The service registered for good and running the executable of that
// version (X.Y.Z.N): its process id.
DWORD ExpectInstalled(const std::string &dir, const std::string &version) {
    EXPECT_EQ(version, VersionInfo(dir + "WGBService.exe"));
    const ServiceConfig config = QueryConfig(kServiceName).value_or(ServiceConfig{});
    EXPECT_EQ(Quoted(dir + "WGBService.exe"), config.imagePath);
    // Automatic in the SCM's own view at once, and from the next boot on.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.start);
    EXPECT_EQ(std::optional<DWORD>(SERVICE_AUTO_START), StartValue(kServiceName));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    return ServiceStatus(kServiceName).value_or(SERVICE_STATUS_PROCESS{}).dwProcessId;
}

// The lines of a log that start with prefix, each to its end.
std::vector<std::string> LogLines(const std::string &log, const std::string &prefix) {
    std::vector<std::string> lines;
    for (std::size_t at = log.find(prefix); at != std::string::npos;
         at = log.find(prefix, at + 1)) {
        const std::size_t end = log.find_first_of("\r\n", at);
        lines.push_back(log.substr(at, end == std::string::npos ? end : end - at));
    }
    return lines;
}

// Where the package installs for 32-bit Windows programs: C:\Program Files
// (x86) on 64-bit Windows, as a 32-bit process sees "ProgramFiles" there.
std::string ProgramFiles() {
    return std::getenv(sizeof(void *) == 4 ? "ProgramFiles" : "ProgramFiles(x86)");
}

// A removal's messages as they come: once it says it waits for the process,
// the process ends. (Wine's msiexec keeps its log closed to readers while it
// runs.)
struct RemovalWatch {
    std::string waiting;
    HANDLE process;
    bool seen = false;
};

int WINAPI OnRemovalMessage(LPVOID context, UINT type, LPCSTR message) {
    auto *watch = static_cast<RemovalWatch *>(context);
    if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO && message != nullptr &&
        std::string(message).find(watch->waiting) != std::string::npos) {
        watch->seen = true;
        TerminateProcess(watch->process, 0);
    }
    return 0;
}

// Removes the one feature of this build's package, silently, in this process
// (the messages to watch), its verbose log in log: the installer's answer.
UINT RemoveFeatureWatched(const std::string &log, RemovalWatch &watch) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    const INSTALLUI_HANDLERA previous =
        MsiSetExternalUIA(OnRemovalMessage, INSTALLLOGMODE_INFO, &watch);
    MsiEnableLogA(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_ACTIONSTART |
                      INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING,
                  log.c_str(), 0);
    const UINT result = MsiInstallProductA(kThis.c_str(), "REMOVE=Complete");
    MsiEnableLogA(0, nullptr, 0);
    MsiSetExternalUIA(previous, 0, nullptr);
    return result;
}

// Nothing of the package left: no product, no service, no driver service, no
// folder, no process.
void ExpectRemoved(const std::string &dir) {
    EXPECT_EQ(0, ProductsInstalled());
    EXPECT_TRUE(WaitUntil([] { return ServiceGone(kServiceName); }));
    EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_TRUE(WaitUntil([] { return ProcessesNamed("WGBService.exe").empty(); }));
}

// The package's launch condition refuses Windows before Windows 7 SP1, the
// executables' floor, with a message that says so, and never stands in the
// way of a removal.
TEST(Package, RefusesWindowsBefore7Sp1) {
    const std::string condition =
        PackageValue(kThis, "SELECT `Condition` FROM `LaunchCondition` WHERE `Description` = "
                            "'WGBService needs Windows 7 Service Pack 1 or a later Windows.'");
    ASSERT_NE("", condition);
    MSIHANDLE session = 0;
    ASSERT_EQ(static_cast<UINT>(ERROR_SUCCESS),
              MsiOpenPackageExA(kThis.c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &session));
    const struct {
        const char *versionNT, *servicePack, *installed;
        MSICONDITION expected;
    } cases[] = {{"600", "2", "", MSICONDITION_FALSE}, {"601", "0", "", MSICONDITION_FALSE},
                 {"601", "1", "", MSICONDITION_TRUE},  {"602", "0", "", MSICONDITION_TRUE},
                 {"1000", "0", "", MSICONDITION_TRUE}, {"600", "0", "1", MSICONDITION_TRUE}};
    for (const auto &c : cases) {
        MsiSetPropertyA(session, "VersionNT", c.versionNT);
        MsiSetPropertyA(session, "ServicePackLevel", c.servicePack);
        MsiSetPropertyA(session, "Installed", c.installed);
        EXPECT_EQ(c.expected, MsiEvaluateConditionA(session, condition.c_str()))
            << c.versionNT << " SP" << c.servicePack << " installed: " << c.installed;
    }
    MsiCloseHandle(session);
}

TEST(Package, UpgradesAndRepairsInTheFirstFolderKeepAnEditedListAndAreRemoved) {
    const std::string made = "C:\\WGB Fleet", dir = made + "\\Site 1\\";
    SetBoardProduct("B760M-WGB Rev 1.0"); // served by the sample WGB.ini

    const std::string firstLog = TempFile("wgb-first.log");
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis) + " INSTALLDIR=" + Quoted(dir) + " /l*v " +
                          Quoted(firstLog)));
    // The package made both folders itself, the uppermost first, before a
    // user could (their owner and protected access list Wine cannot show).
    EXPECT_EQ(std::vector<std::string>({"install_folder: made " + made,
                                        "install_folder: made " + dir.substr(0, dir.size() - 1)}),
              LogLines(ReadWholeFile(firstLog), "install_folder: made "));
    EXPECT_EQ(kThisVersion, VersionInfo(dir + "WGBCheck.exe"));
    const DWORD firstPid = ExpectInstalled(dir, kThisVersion);
    ASSERT_TRUE(WaitForDriverLoaded());
    // The stand-in's handle closed at once: the upgrade stops its driver.
    ASSERT_TRUE(sim::Control().SetAndWaitForPoll(sim::kButtonPort, sim::kPressed, DeadlineMs()));
    EXPECT_TRUE(WaitForCompanionStarts(dir, 1));
    // Released, or every later start of the service would see a press and
    // start the companion again, whose record would keep the folder.
    ASSERT_TRUE(sim::Control().SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()));
    // The stub companion's record of its start is no file of the package's.
    DeleteFileA((dir + companion_record::kRecordFileName).c_str());
    // The check tool finds nothing failing, and the package through the
    // installer, by its upgrade code (its report kept for the schema's validator).
    std::string text;
    EXPECT_LT(RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &text).value_or(2), 2u);
    const nlohmann::json report = KeptReport(text);
    ASSERT_TRUE(report.is_object()) << text;
    EXPECT_NE("FAIL", report.value("result", "FAIL")) << text;
    const nlohmann::json package = report.value("package", nlohmann::json::object());
    EXPECT_EQ(PackageProperty(kThis, "ProductCode"), package.value("productCode", "")) << text;
    EXPECT_EQ(PackageProperty(kThis, "ProductVersion"), package.value("productVersion", ""));

    // An upgrade lands in the first installation's folder, and the list
    // nobody touched is the new package's, whatever copy an interrupted run
    // left beside it, read-only as a copy of a read-only list is.
    ASSERT_TRUE(WriteTextFile(dir + "WGB.ini.keep", MainBoardIni({"left by an interrupted run"})));
    ASSERT_TRUE(SetFileAttributesA((dir + "WGB.ini.keep").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kNext)));
    EXPECT_FALSE(Installed(kThis));
    const DWORD nextPid = ExpectInstalled(dir, kNextVersion);
    EXPECT_NE(firstPid, nextPid);
    EXPECT_EQ(ReadWholeFile(ArtifactPath("next/WGB.ini")), ReadWholeFile(dir + "WGB.ini"));
    EXPECT_FALSE(FileExists(dir + "WGB.ini.keep"));
    EXPECT_FALSE(FileExists(ProgramFiles() + "\\WGB"));

    // The next build of the same version takes its place: its files, which
    // differ, replace the installed ones and its service runs. It keeps the
    // list an administrator edited and made read-only, as a repair does (what
    // msiexec /fa sets: Wine's msiexec has no /f), and its log tells.
    const std::string edited = MainBoardIni({"Q670-WGB", "B760M-WGB;edited on site"});
    ASSERT_TRUE(WriteTextFile(dir + "WGB.ini", edited));
    ASSERT_TRUE(SetFileAttributesA((dir + "WGB.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string nextService = ReadWholeFile(dir + "WGBService.exe");
    const std::string rebuiltService =
        ReadWholeFile(ArtifactPath("rebuild-files/Program Files/WGB/WGBService.exe"));
    ASSERT_NE(nextService, rebuiltService);
    const std::string log = TempFile("wgb-rebuild.log");
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kRebuild) + " /l*v " + Quoted(log)));
    for (const char *step : {"keeping", "restoring"})
        EXPECT_NE(std::string::npos,
                  ReadWholeFile(log).find(std::string("keep_board_list: ") + step + " the edited"));
    EXPECT_TRUE(Installed(kRebuild));
    EXPECT_FALSE(Installed(kNext));
    EXPECT_EQ(1, ProductsInstalled());
    EXPECT_TRUE(rebuiltService == ReadWholeFile(dir + "WGBService.exe"));
    EXPECT_NE(nextPid, ExpectInstalled(dir, kRebuildVersion));
    EXPECT_EQ(edited, ReadWholeFile(dir + "WGB.ini"));
    // The repair also mends a registration changed since: unquoted, demand
    // start (-qtrinstall keeps an existing one as it is).
    ASSERT_TRUE(ChangeImagePath(kServiceName, dir + "WGBService.exe"));
    ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DEMAND_START));
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kRebuild) + " REINSTALL=ALL REINSTALLMODE=amus"));
    const DWORD repairedPid = ExpectInstalled(dir, kRebuildVersion);
    EXPECT_EQ(edited, ReadWholeFile(dir + "WGB.ini"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
              GetFileAttributesA((dir + "WGB.ini").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(FileExists(dir + "WGB.ini.keep"));

    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), Msiexec("/i " + Quoted(kThis)));
    // So is an earlier build of the installed version, which the upgrade's
    // rule (three fields of the version) would let replace it.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), Msiexec("/i " + Quoted(kNext)));
    EXPECT_TRUE(Installed(kRebuild));
    EXPECT_EQ(repairedPid, ExpectInstalled(dir, kRebuildVersion));

    EXPECT_EQ(0u, Msiexec("/x " + Quoted(kRebuild)));
    ExpectRemoved(dir);
}

// Failures leave what was there before: nothing, or the older version's
// registration. A first installation refuses a folder others could have
// planted a file in, or may swap: one holding a WGBService.exe of a higher
// version than any release (which Windows Installer would keep, and
// RegisterService run as LocalSystem), one under a folder in which everyone
// may delete and rename, and an empty one everyone may write to; its log names
// the folder and why, and the planted file stays as it was, not run. It fails
// too when QTR_WGBService is marked for deletion (as while a console holds
// it), and when it fails after the service was registered and ran, the
// rollback removes the registration with the files. A failed upgrade's
// rollback does not remove the service it did not register. (Wine's msiexec
// does not restore the older version's files, as Windows does.)
TEST(Package, FailuresLeaveNothingBehindAndRemovingTheFeatureRemovesAll) {
    const std::string dir = ProgramFiles() + "\\WGB\\";
    const std::string planted = "C:\\Planted\\", open = "C:\\Open";
    // No board the list serves: the service's start leaves no driver service.
    SetBoardProduct("WGB Test Board");
    ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr));
    CopyFileOrFail(ArtifactPath("planted/WGBService.exe"), planted + "WGBService.exe");
    ASSERT_EQ("99.0.0.0", VersionInfo(planted + "WGBService.exe"));
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr));
    PSECURITY_DESCRIPTOR everyone = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
    ASSERT_TRUE(SetFileSecurityA(open.c_str(), DACL_SECURITY_INFORMATION, everyone));
    LocalFree(everyone);
    UniqueServiceHandle held;
    const auto holdMarkedForDeletion = [&] {
        const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        held.reset(CreateServiceA(manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, "C:\\windows\\system32\\notepad.exe",
                                  nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(held && DeleteService(held.get()));
    };
    const auto installThis = [&] {
        ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis)));
        ExpectInstalled(dir, kThisVersion);
    };
    const std::function<void()> nothing = [] {};
    const std::string again = " Choose another folder with INSTALLDIR=, or remove it first.";
    const struct {
        std::function<void()> arrange;
        std::string package, installDir;
        std::string why; // the whole refusal after the folder's name; "" for none
        bool upgrade;
    } cases[] = {
        {nothing, kThis, planted,
         "it already holds files this package did not put there (WGBService.exe). Windows "
         "Installer would keep a file there of a higher version, which the service would then "
         "run as LocalSystem. Remove them (after an installation by hand: WGBService.exe "
         "-qtruninstall, then delete the folder), or choose another folder with INSTALLDIR=.",
         false},
        {nothing, kThis, open + "\\WGB\\",
         "others than administrators may delete or rename what the folders above it hold, and "
         "so swap the installation folder (Everyone on C:\\Open). Let only administrators and "
         "SYSTEM change those folders, or choose another folder with INSTALLDIR=.",
         false},
        {nothing, kThis, open + "\\",
         "it already exists, and others than administrators may change it (Everyone): they "
         "could put files in it even now. Remove it, or choose another folder with INSTALLDIR=.",
         false},
        // C:\Linked is a link to C:\windows\temp (run-in-wine makes it: Wine
        // makes none), whose maker could point it elsewhere.
        {nothing, kThis, "C:\\Linked\\WGB\\",
         "the folder C:\\Linked above it is a link to another place (a junction, a symbolic "
         "link or a mounted volume), which its maker could point elsewhere." +
             again,
         false},
        {holdMarkedForDeletion, kThis, "", "", false},
        {nothing, kFailing, "", "", false},
        {installThis, kFailing, "", "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.package + " into " + c.installDir);
        c.arrange();
        const std::string log = TempFile("wgb-failed.log");
        EXPECT_TRUE(
            Failed(Msiexec("/i " + Quoted(c.package) +
                           (c.installDir.empty() ? "" : " INSTALLDIR=" + Quoted(c.installDir)) +
                           " /l*v " + Quoted(log))));
        EXPECT_FALSE(Installed(c.package));
        if (!c.why.empty()) {
            const std::string refusal = "WGBService cannot be installed into ";
            EXPECT_EQ(refusal + c.installDir + ": " + c.why,
                      LogLines(ReadWholeFile(log), refusal).at(0));
        }
        held.reset();
        if (!c.upgrade) {
            ExpectRemoved(dir);
            continue;
        }
        EXPECT_TRUE(Installed(kThis));
        EXPECT_EQ(Quoted(dir + "WGBService.exe"),
                  QueryConfig(kServiceName).value_or(ServiceConfig{}).imagePath);
    }
    EXPECT_EQ("99.0.0.0", VersionInfo(planted + "WGBService.exe"));
    EXPECT_FALSE(FileExists(planted + "planted.txt"));
    EXPECT_FALSE(FileExists(open + "\\WGB"));

    // A repair keeps a service an administrator disabled disabled, and
    // succeeds: the start is not tried. Its files and registration are
    // mended all the same.
    ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DISABLED));
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis) + " REINSTALL=ALL REINSTALLMODE=amus"));
    EXPECT_EQ(kThisVersion, VersionInfo(dir + "WGBService.exe"));
    const ServiceConfig disabled = QueryConfig(kServiceName).value_or(ServiceConfig{});
    EXPECT_EQ(Quoted(dir + "WGBService.exe"), disabled.imagePath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), disabled.start);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kServiceName));

    // Removing the one feature removes everything, even while a process of
    // the service's file has not ended yet, as after a stop that the service
    // reported before its process ended: the removal waits for it (its log
    // says so) rather than leave the file in use and the folder behind until
    // a restart. The registering action does not run: its log shows no start
    // of it. (Run, it would fail on Windows, its program being removed; Wine
    // ignores that.)
    std::string command = Quoted(dir + "WGBService.exe");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION ending{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &ending));
    const UniqueHandle endingProcess(ending.hProcess), endingThread(ending.hThread);
    RemovalWatch watch{"service_exit: waiting for process " + std::to_string(ending.dwProcessId),
                       ending.hProcess};
    const std::string log = TempFile("wgb-remove.log");
    EXPECT_EQ(0u, RemoveFeatureWatched(log, watch));
    EXPECT_TRUE(watch.seen);
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("RemoveFiles")) << log;
    EXPECT_EQ(std::string::npos, ReadWholeFile(log).find("RegisterService"));
    ExpectRemoved(dir);
}

// The removal leaves the driver service as the service's bring-up found it.
// Another product's registration, which bring-up pointed at the installed
// driver, stays so through an upgrade and is pointed back at its own file and
// kept at the removal. One the service made goes; when its driver will not
// stop, the removal ends with 3010 and the registration stays marked for
// deletion, which Windows completes at the next restart (here: when the
// driver's host process ends).
TEST(Package, RemovalLeavesTheDriverServiceAsTheServiceFoundIt) {
    const std::string dir = ProgramFiles() + "\\WGB\\";
    SetBoardProduct("B760M-WGB Rev 1.0"); // served by the sample WGB.ini
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
    const std::string theirs = QueryConfig(kDriverServiceName).value().imagePath;
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis)));
    ExpectInstalled(dir, kThisVersion);
    ASSERT_TRUE(WaitForDriverLoaded());
    EXPECT_EQ(dir + DriverFile(), QueryConfig(kDriverServiceName).value().imagePath);
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kNext)));
    ExpectInstalled(dir, kNextVersion);
    EXPECT_EQ(dir + DriverFile(), QueryConfig(kDriverServiceName).value().imagePath);
    EXPECT_EQ(0u, Msiexec("/x " + Quoted(kNext)));
    EXPECT_EQ(theirs, QueryConfig(kDriverServiceName).value_or(ServiceConfig{}).imagePath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kDriverServiceName));
    RemoveServiceIfPresent(kDriverServiceName);
    ExpectRemoved(dir);

    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis)));
    ExpectInstalled(dir, kThisVersion);
    ASSERT_TRUE(WaitForDriverLoaded());
    ASSERT_TRUE(sim::Control().RefuseUnload(true));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), Msiexec("/x " + Quoted(kThis)));
    EXPECT_FALSE(ChangeStartType(kDriverServiceName, SERVICE_DEMAND_START));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
    EndDriverAsARestartWould();
    // What the restart removes too: the driver's file, in use until then.
    DeleteFileA((dir + DriverFile()).c_str());
    RemoveDirectoryA(dir.c_str());
    ExpectRemoved(dir);
}

// The package's first installation over one made by hand in another folder
// takes over its record of the driver registration: the removal deletes the
// registration the two made, not point it back at the hand installation's file.
TEST(Package, TakesOverTheDriverRegistrationOfAHandInstallation) {
    const std::string dir = ProgramFiles() + "\\WGB\\";
    SetBoardProduct("B760M-WGB Rev 1.0"); // served by the sample WGB.ini
    const std::string hand = LayOut("C:\\Hand", MainBoardIni({"B760M-WGB"}));
    InstallAndWaitRunning(hand + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded());
    ASSERT_EQ(hand + DriverFile(), QueryConfig(kDriverServiceName).value().imagePath);
    // As after a restart, the driver is not loaded when the package comes:
    // its service's bring-up points the registration at its own driver.
    ASSERT_TRUE(StopService(kServiceName));
    ASSERT_TRUE(RequestStop(kDriverServiceName) &&
                WaitForServiceState(kDriverServiceName, SERVICE_STOPPED));

    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis)));
    ExpectInstalled(dir, kThisVersion);
    const auto driverImage = [] {
        return QueryConfig(kDriverServiceName).value_or(ServiceConfig{}).imagePath;
    };
    EXPECT_TRUE(WaitUntil([&] { return driverImage() == dir + DriverFile(); }));
    EXPECT_EQ(0u, Msiexec("/x " + Quoted(kThis)));
    ExpectRemoved(dir);
}

// The rollback's action removes the folders the package made and no other,
// run as Windows runs it once the files are gone (Wine's msiexec puts them
// back first): here after an installation and its removal.
TEST(Package, RollbackRemovesTheFoldersItMadeAndNoOther) {
    using Action = UINT(__stdcall *)(MSIHANDLE);
    const HMODULE actions = LoadLibraryA(ArtifactPath("package_actions.dll").c_str());
    const auto removeMadeFolders = reinterpret_cast<Action>(
        reinterpret_cast<void *>(GetProcAddress(actions, "RemoveMadeFolders")));
    ASSERT_TRUE(actions && removeMadeFolders);
    ASSERT_TRUE(CreateDirectoryA("C:\\Kept", nullptr));
    for (const std::string &dir :
         {std::string("C:\\Made\\Twice\\"), std::string("C:\\Kept\\New\\")}) {
        SCOPED_TRACE(dir);
        ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis) + " INSTALLDIR=" + Quoted(dir)));
        ASSERT_EQ(0u, Msiexec("/x " + Quoted(kThis)));
        EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), removeMadeFolders(0));
    }
    EXPECT_FALSE(FileExists("C:\\Made") || FileExists("C:\\Kept\\New"));
    EXPECT_TRUE(FileExists("C:\\Kept"));
    FreeLibrary(actions);
}

} // namespace
