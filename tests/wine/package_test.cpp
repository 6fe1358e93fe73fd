// The release script's Windows Installer packages, run by msiexec as a
// fleet's deployment runs them: a silent installation on a served board into
// a folder of its own, upgrades and a repair that keep that folder and an
// edited WGB.ini, an older package refused, failures that leave what was
// there before, a silent removal.

#include "sim/sim_client.h"
#include "support/service_env.h"

#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
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
                              std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionLS));
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

// Where the package installs for 32-bit Windows programs: C:\Program Files
// (x86) on 64-bit Windows, as a 32-bit process sees "ProgramFiles" there.
std::string ProgramFiles() {
    return std::getenv(sizeof(void *) == 4 ? "ProgramFiles" : "ProgramFiles(x86)");
}

// The names in a folder, for a failure's message.
std::string Listing(const std::string &dir) {
    std::string names;
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((dir + "*").c_str(), &entry);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &entry))
        names += std::string(entry.cFileName) + " ";
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return names;
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
    EXPECT_TRUE(ServiceGone(kDriverServiceName));
    EXPECT_FALSE(FileExists(dir)) << Listing(dir);
    EXPECT_TRUE(WaitUntil([] { return ProcessesNamed("WGBService.exe").empty(); }));
}

// An SDDL text's owner, its access list's flags and its allowing entries:
// whom each gives which rights, inherited where ("OICI": by every file and
// folder inside).
struct Sddl {
    struct Entry {
        std::string type, flags, sid;
        DWORD rights;
    };
    std::string owner, daclFlags;
    std::vector<Entry> entries;
};

// The rights of an entry: a number, or full control ("FA"); ~0u for any
// other letters, which pass no judgement.
DWORD SddlRights(const std::string &text) {
    if (text == "FA")
        return FILE_ALL_ACCESS;
    return text.compare(0, 2, "0x") == 0 ? std::stoul(text, nullptr, 16) : ~0u;
}

Sddl ParseSddl(const std::string &text) {
    Sddl parsed;
    const std::size_t dacl = text.find("D:");
    if (text.compare(0, 2, "O:") == 0)
        parsed.owner = text.substr(2, dacl == std::string::npos ? dacl : dacl - 2);
    if (dacl == std::string::npos)
        return parsed;
    std::size_t at = text.find('(', dacl);
    parsed.daclFlags = text.substr(dacl + 2, at - dacl - 2);
    while (at != std::string::npos) {
        const std::size_t end = text.find(')', at);
        std::vector<std::string> fields;
        std::istringstream entry(text.substr(at + 1, end - at - 1));
        for (std::string field; std::getline(entry, field, ';');)
            fields.push_back(field);
        fields.resize(6);
        parsed.entries.push_back({fields[0], fields[1], fields[5], SddlRights(fields[2])});
        at = text.find('(', end);
    }
    return parsed;
}

// The installation folder gets a protected access list of its own, whatever
// folder is chosen, judged here by what its text grants: owned by
// Administrators (an owner may rewrite any list), no parent's rights reaching
// in, every entry on the folder and inherited by all inside, full control for
// SYSTEM and Administrators and no more than reading and running for anyone
// else, Users among them. (Wine's msiexec does not apply the table.)
TEST(Package, LocksTheInstallationFolder) {
    const std::string sddl = PackageValue(
        kThis, "SELECT `SDDLText` FROM `MsiLockPermissionsEx` WHERE `LockObject` = 'INSTALLDIR' "
               "AND `Table` = 'CreateFolder'");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    LocalFree(descriptor);
    const Sddl parsed = ParseSddl(sddl);
    EXPECT_EQ("BA", parsed.owner) << sddl;
    EXPECT_NE(std::string::npos, parsed.daclFlags.find('P')) << sddl;
    constexpr DWORD kReadAndRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    std::vector<std::string> fullControl, readAndRun;
    for (const Sddl::Entry &entry : parsed.entries) {
        EXPECT_EQ("A", entry.type) << sddl;
        EXPECT_EQ("OICI", entry.flags) << sddl;
        const bool administrator = entry.sid == "SY" || entry.sid == "BA";
        if (administrator && entry.rights == FILE_ALL_ACCESS)
            fullControl.push_back(entry.sid);
        if ((entry.rights & kReadAndRun) == kReadAndRun)
            readAndRun.push_back(entry.sid);
        EXPECT_TRUE(administrator || (entry.rights & ~kReadAndRun) == 0)
            << entry.sid << " in " << sddl;
    }
    EXPECT_EQ((std::vector<std::string>{"SY", "BA"}), fullControl) << sddl;
    EXPECT_NE(readAndRun.end(), std::find(readAndRun.begin(), readAndRun.end(), "BU")) << sddl;
}

// A first installation refuses a folder others could have planted a file in,
// or may swap: one holding a WGBService.exe of a higher version than any
// release (which Windows Installer would keep, and RegisterService run as
// LocalSystem), one under a folder in which everyone may delete and rename,
// and an empty one everyone may write to. It fails, its log names the
// folder and why, and it leaves nothing: no product, no service, the planted
// file as it was and not run.
TEST(Package, RefusesAFirstInstallationIntoAFolderOthersMayHaveChanged) {
    const std::string planted = "C:\\Planted\\", open = "C:\\Open";
    ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr));
    CopyFileOrFail(ArtifactPath("planted/WGBService.exe"), planted + "WGBService.exe");
    ASSERT_EQ("99.0.0.0", VersionInfo(planted + "WGBService.exe"));
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr));
    PSECURITY_DESCRIPTOR everyone = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(everyone, &present, &dacl, &defaulted));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              SetNamedSecurityInfoA(&std::string(open)[0], SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr));
    LocalFree(everyone);

    const struct {
        std::string dir, why;
    } cases[] = {
        {planted, "it already holds files this package did not put there (WGBService.exe)"},
        {open + "\\WGB\\", "(Everyone on C:\\Open)"},
        {open + "\\", "it already exists, and others than administrators may change it (Everyone)"},
    };
    for (const auto &c : cases) {
        const std::string log = TempFile("wgb-refused.log");
        EXPECT_TRUE(Failed(Msiexec("/i " + Quoted(kThis) + " INSTALLDIR=" + Quoted(c.dir) +
                                   " /l*v " + Quoted(log))));
        const std::string told = ReadWholeFile(log);
        EXPECT_NE(std::string::npos,
                  told.find("WGBService cannot be installed into " + c.dir + ": "))
            << c.dir;
        EXPECT_NE(std::string::npos, told.find(c.why)) << c.dir;
        EXPECT_FALSE(Installed(kThis));
        EXPECT_TRUE(ServiceGone(kServiceName));
    }
    EXPECT_EQ("99.0.0.0", VersionInfo(planted + "WGBService.exe"));
    EXPECT_FALSE(FileExists(planted + "planted.txt"));
    EXPECT_FALSE(FileExists(open + "\\WGB"));
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

// The shipped build where it differs from the 64-bit vehicle, as a
// deployment runs it: msiexec's 32-bit custom actions register the 32-bit
// service under WOW64, which brings up the driver of the native
// architecture; the removal takes it all. (The upgrades below cover the rest;
// this case alone runs where 32-bit programs need an emulator.)
TEST(Package, ShippedBuildInstallsRunsAndIsRemoved) {
    const std::string dir = ProgramFiles() + "\\WGB\\";
    SetBoardProduct("B760M-WGB Rev 1.0"); // served by the sample WGB.ini
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis)));
    ExpectInstalled(dir, kThisVersion);
    EXPECT_TRUE(WaitForDriverLoaded());
    EXPECT_EQ(0u, Msiexec("/x " + Quoted(kThis)));
    ExpectRemoved(dir);
}

TEST(Package, UpgradesAndRepairsInTheFirstFolderKeepAnEditedListAndAreRemoved) {
    const std::string dir = ProgramFiles() + "\\WGB Fleet\\";
    SetBoardProduct("B760M-WGB Rev 1.0"); // served by the sample WGB.ini

    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis) + " INSTALLDIR=" + Quoted(dir)));
    for (const char *exe : {"WGBService.exe", "WGBCheck.exe"}) {
        for (const char *key : {"", "FileVersion", "ProductVersion"})
            EXPECT_EQ(kThisVersion, VersionInfo(dir + exe, key)) << exe << " " << key;
        EXPECT_EQ(exe, VersionInfo(dir + exe, "OriginalFilename"));
    }
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
    std::string report;
    EXPECT_LT(RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &report).value_or(2), 2u);
    EXPECT_NE(std::string::npos, report.find("\"result\"")) << report;
    EXPECT_EQ(std::string::npos, report.find("\"FAIL\"")) << report;
    // The check finds the package through the installer, by its upgrade code.
    EXPECT_NE(std::string::npos, report.find("\"package\": {\"productCode\": \"{")) << report;

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
    char log[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, log);
    lstrcatA(log, "wgb-rebuild.log");
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kRebuild) + " /l*v " + Quoted(log)));
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("keep_board_list: keeping the edited"));
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("keep_board_list: restoring the edited"));
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

TEST(Package, FailuresLeaveNothingBehindAndRemovingTheFeatureRemovesAll) {
    const std::string dir = ProgramFiles() + "\\WGB\\";
    // No board the list serves: the service's start leaves no driver service.
    SetBoardProduct("WGB Test Board");

    // QTR_WGBService marked for deletion, as while a console holds it: the
    // service cannot be registered, and the installation fails.
    {
        const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const UniqueServiceHandle held(CreateServiceA(
            manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
            "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(held && DeleteService(held.get()));
        EXPECT_TRUE(Failed(Msiexec("/i " + Quoted(kThis))));
        EXPECT_FALSE(Installed(kThis));
        EXPECT_FALSE(FileExists(dir));
    }
    EXPECT_TRUE(WaitUntil([] { return ServiceGone(kServiceName); }));

    // A failure after the service was registered and ran: the rollback removes
    // the registration with the files.
    EXPECT_TRUE(Failed(Msiexec("/i " + Quoted(kFailing))));
    EXPECT_FALSE(Installed(kFailing));
    ExpectRemoved(dir);

    // A failed upgrade leaves the older version's registration: its rollback
    // does not remove a service the upgrade did not register. (Wine's
    // msiexec does not restore the older version's files, as Windows does.)
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(kThis)));
    ExpectInstalled(dir, kThisVersion);
    EXPECT_TRUE(Failed(Msiexec("/i " + Quoted(kFailing))));
    EXPECT_TRUE(Installed(kThis));
    EXPECT_FALSE(Installed(kFailing));
    EXPECT_EQ(Quoted(dir + "WGBService.exe"),
              QueryConfig(kServiceName).value_or(ServiceConfig{}).imagePath);

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

} // namespace
