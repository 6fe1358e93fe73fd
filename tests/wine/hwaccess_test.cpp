// Driver bring-up and port requests in Wine, against the I/O driver stand-in.
// The device handle is process-wide, so each bring-up runs in a probe process
// of its own; the stand-in's trace shows what reached the driver.

#include "common/shared_state.h"
#include "hwaccess/driver_record.h"
#include "hwaccess/io_driver.h"
#include "hwaccess/port_io.h"
#include "sim/sim_client.h"
#include "support/service_env.h"
#include "support/service_object_lock.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace wgbtest;
// The test's own name, not the product's constant.
using session::kDriverServiceName;

constexpr char kModuleDir[] = "C:\\wgb-hw";
// Where the probe records what its bring-up changed.
constexpr char kRecordKey[] = "SOFTWARE\\WGB hwaccess test";

// Usage: MODULE-DIR (without the closing backslash), then steps: "open",
// "read:PORT", "write:PORT:VALUE" (hex), "lock:SDDL" (from then on every
// service object answers as one with that descriptor, LockServiceObjects),
// "record" (what the last open changed, RecordDriverChange), "release"
// (ReleaseDriverService: "release" and the outcome's number). Prints a line per step (after a
// failed open whose driver service install went wrong, "install STEP ERROR",
// "disabled" when the registration found was, and "repointed" when the
// install changed its image path), then the driver path
// that bring-up built ("path" and nothing when it sought none).
int Probe(int argc, char **argv) {
    wsprintfA(g_szModuleDir, "%s\\", argv[0]);
    IoDriverState state = {};
    DriverServiceReport report;
    for (int i = 1; i < argc; ++i) {
        unsigned port = 0, value = 0;
        if (std::strcmp(argv[i], "record") == 0) {
            RecordDriverChange(report, kRecordKey);
        } else if (std::strcmp(argv[i], "release") == 0) {
            std::printf("release %d\n", static_cast<int>(ReleaseDriverService(kRecordKey)));
        } else if (std::strcmp(argv[i], "open") == 0) {
            report = DriverServiceReport();
            std::printf("open %d\n", OpenIoDriver(&state, &report) ? 1 : 0);
            static const char *const kSteps[] = {"none",  "manager", "create", "repoint",
                                                 "start", "device",  "file"};
            if (report.failedStep != DriverStep::None || report.disabled)
                std::printf("install %s %lu%s%s\n", kSteps[static_cast<int>(report.failedStep)],
                            report.error, report.disabled ? " disabled" : "",
                            report.repointed ? " repointed" : "");
        } else if (std::strncmp(argv[i], "lock:", 5) == 0) {
            std::printf("lock %d\n", LockServiceObjects(argv[i] + 5) ? 1 : 0);
        } else if (std::sscanf(argv[i], "write:%x:%x", &port, &value) == 2)
            std::printf("write %X %d\n", port, WriteIoPortByte(port, value) ? 1 : 0);
        else if (std::sscanf(argv[i], "read:%x", &port) == 1)
            std::printf("read %X %X\n", port, ReadIoPortByte(port));
    }
    std::printf("path %s\n", g_szDriverPath);
    return 0;
}

std::string Dir(const char *file = "") {
    return std::string(kModuleDir) + "\\" + file;
}

// What reached the stand-in, one "R|W port=value" per request answered.
std::string Requests() {
    std::string text;
    for (const sim_trace_entry &e : sim::Control().Trace()) {
        char line[40];
        std::snprintf(line, sizeof line, "%c%X=%X%s ", e.op == SIM_OP_READ ? 'R' : 'W', e.port,
                      e.value, e.status ? " failed" : "");
        text += line;
    }
    return text;
}

std::string DriverServiceKey() {
    return std::string("SYSTEM\\CurrentControlSet\\Services\\") + kDriverServiceName;
}

// The driver service's image path as the registry holds it. (Asked for a
// path this long, Wine's Service Control Manager stops answering.)
std::string RegisteredImagePath() {
    UniqueRegKey key;
    char path[1024] = "";
    DWORD size = sizeof path - 1;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverServiceKey().c_str(), 0, KEY_QUERY_VALUE, key.put());
    RegQueryValueExA(key.get(), "ImagePath", nullptr, nullptr, reinterpret_cast<BYTE *>(path),
                     &size);
    return path;
}

class DriverBringUp : public testing::Test {
  protected:
    void SetUp() override {
        RemoveServiceIfPresent(kDriverServiceName);
        MakeEmptyDir(kModuleDir);
    }
    void TearDown() override { RemoveServiceIfPresent(kDriverServiceName); }
};

// Both files beside the executable: the one for the architecture Windows
// runs on (not this 32-bit process) is registered, started and opened, and
// each request carries its whole port and value in the driver's layouts.
TEST_F(DriverBringUp, RegistersTheDriverOfTheArchitectureAndCarriesWholePorts) {
    CopyFileOrFail(ArtifactPath("Quendra.sys"), Dir("Quendra.sys"));
    if (FileExists(ArtifactPath("Quendra_X64.sys")))
        CopyFileOrFail(ArtifactPath("Quendra_X64.sys"), Dir("Quendra_X64.sys"));
    else if (IsX64Windows())
        GTEST_SKIP() << "the build made no 64-bit stand-in";
    const std::string driver = Dir(DriverFile());

    EXPECT_EQ(
        "open 1\nread 50C FF\nwrite 1234 1\nread 1234 5A\nwrite FFFF 1\npath " + driver + "\n",
        RunProbe(std::string(kModuleDir) + " open read:50C write:1234:5A read:1234 write:FFFF:1"));
    EXPECT_EQ("R50C=FF W1234=5A R1234=5A WFFFF=1 ", Requests());
    const std::optional<ServiceConfig> config = QueryConfig(kDriverServiceName);
    ASSERT_TRUE(config);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), config->type);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config->start);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->errorControl);
    EXPECT_EQ(driver, config->imagePath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDriverServiceName));
}

// Both stand-ins beside the executable; the one this Windows needs.
std::string CopyDrivers() {
    CopyFileOrFail(ArtifactPath("Quendra.sys"), Dir("Quendra.sys"));
    if (FileExists(ArtifactPath("Quendra_X64.sys")))
        CopyFileOrFail(ArtifactPath("Quendra_X64.sys"), Dir("Quendra_X64.sys"));
    return Dir(DriverFile());
}

// The build's stand-in registered as the driver service, then disabled by an
// administrator.
void RegisterDisabledDriverService() {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
    const UniqueServiceHandle service = OpenServiceByName(kDriverServiceName, SERVICE_ALL_ACCESS);
    ASSERT_TRUE(ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr));
}

// What one bring-up does with what it finds: the driver's file (the
// stand-ins, none, or a file Windows will not start) and the registration
// (none, one from another folder, one an administrator disabled, or the
// driver loaded already). It reports its failing step and error ("install
// ..."); a registration found elsewhere is pointed at the checked file and
// started; a disabled one stays untouched and is not started; a loaded driver
// is only opened, its file not even sought; a missing file touches nothing;
// a driver that fails to start leaves the registration as found: one bring-up
// made goes again, one it found stays, pointed back at its own file.
TEST_F(DriverBringUp, EachRegistrationFoundIsLeftAsItShould) {
    enum Files { StandIns, NoFile, NotADriver };
    enum Found { Nothing, Elsewhere, Disabled, Loaded };
    enum After { Gone, AsFound, AtTheCheckedFile };
    const struct {
        Files files;
        Found found;
        const char *output; // a closing "@" stands for the checked driver path
        After after;
        DWORD state;
    } cases[] = {
        {StandIns, Elsewhere, "open 1\npath @", AtTheCheckedFile, SERVICE_RUNNING},
        {StandIns, Disabled, "open 0\ninstall none 0 disabled\npath @", AsFound, SERVICE_STOPPED},
        {StandIns, Loaded, "open 1\npath \n", AsFound, SERVICE_RUNNING},
        {NoFile, Nothing, "open 0\ninstall file 0\npath @", Gone, 0},
        {NoFile, Elsewhere, "open 0\ninstall file 0\npath @", AsFound, SERVICE_STOPPED},
        {NotADriver, Nothing, "open 0\ninstall start ", Gone, 0},
        {NotADriver, Elsewhere, "open 0\ninstall start ", AsFound, SERVICE_STOPPED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.files) + " " + std::to_string(c.found));
        MakeEmptyDir(kModuleDir);
        const std::string driver = Dir(DriverFile());
        if (c.files == StandIns)
            CopyDrivers();
        ASSERT_TRUE(c.files != NotADriver || WriteTextFile(driver, "not a driver image"));
        ASSERT_TRUE(c.found != Elsewhere || RegisterDriverService() == ERROR_SUCCESS);
        if (c.found == Disabled)
            RegisterDisabledDriverService();
        ASSERT_TRUE(c.found != Loaded || LoadDriver());
        const std::string registered = c.found == Nothing ? "" : RegisteredImagePath();

        std::string expected = c.output;
        if (expected.back() == '@')
            expected.replace(expected.size() - 1, 1, driver + "\n");
        const std::string output = RunProbe(std::string(kModuleDir) + " open");
        EXPECT_EQ(expected, output.substr(0, expected.size())) << output;
        EXPECT_EQ(std::string::npos, output.find("install start 0\n")) << output;
        if (c.after == Gone) {
            EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
        } else {
            EXPECT_EQ(c.after == AtTheCheckedFile ? driver : registered, RegisteredImagePath());
            EXPECT_EQ(c.state, ServiceState(kDriverServiceName));
        }
        if (c.found == Disabled) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), QueryConfig(kDriverServiceName)->start);
        }
        RemoveServiceIfPresent(kDriverServiceName);
    }
}

// Disabled between bring-up's configuration read and its start (the start
// fails with ERROR_SERVICE_DISABLED): an administrator's decision, kept, even
// when bring-up made it; one bring-up found and pointed at this folder's
// file is still pointed back at the file it named.
TEST_F(DriverBringUp, RegistrationDisabledBeforeItsStartIsKept) {
    const std::string driver = CopyDrivers();
    for (const bool created : {true, false}) {
        SCOPED_TRACE(created ? "made" : "found");
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        const std::string registered = RegisteredImagePath();
        DriverServiceReport install;
        install.created = created;
        if (!created) {
            install.repointed = true;
            install.previousImagePath = registered;
            ASSERT_TRUE(ChangeImagePath(kDriverServiceName, driver));
        }
        ASSERT_TRUE(ChangeStartType(kDriverServiceName, SERVICE_DISABLED));
        const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        install.failedStep = DriverStep::Start;
        install.error = StartDriverService(manager.get(), kDriverServiceName);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SERVICE_DISABLED), install.error);
        g_pszDriverServiceName = kDriverServiceName;
        EXPECT_TRUE(RestoreDriverService(install));
        EXPECT_FALSE(ServiceGone(kDriverServiceName));
        EXPECT_EQ(registered, RegisteredImagePath());
        RemoveServiceIfPresent(kDriverServiceName);
    }
}

// Windows may report a driver's image path in the kernel's form: it names
// the same file.
TEST(DriverRegistration, NamesTheFileAlsoInTheKernelsForm) {
    const struct {
        const char *registered;
        bool names;
    } cases[] = {{"C:\\wgb\\Quendra.sys", true},
                 {"\\??\\C:\\wgb\\Quendra.sys", true},
                 {"\\??\\c:\\WGB\\QUENDRA.SYS", true},
                 {"\\??\\C:\\other\\Quendra.sys", false},
                 {"C:\\wgb\\Quendra.sys.old", false}};
    for (const auto &c : cases) {
        QUERY_SERVICE_CONFIGA config = {};
        char path[MAX_PATH];
        lstrcpyA(path, c.registered);
        config.lpBinaryPathName = path;
        EXPECT_EQ(c.names, NamesFile(config, "C:\\wgb\\Quendra.sys")) << c.registered;
    }
}

// The service's removal undoes what its bring-up changed, by the record: a
// registration bring-up made is stopped and deleted; one it pointed at this
// folder's file is pointed back at its own and stopped; one that named this
// folder's file already, or one changed again since, stays as it is.
TEST_F(DriverBringUp, ReleaseUndoesWhatBringUpChanged) {
    const std::string driver = CopyDrivers();
    const std::string other = "C:\\other product\\Quendra.sys";
    enum Found { None, Elsewhere, Here, ChangedSince };
    const struct {
        Found found;
        const char *release;
    } cases[] = {{None, "release 1"},
                 {Elsewhere, "release 1"},
                 {Here, "release 0"},
                 {ChangedSince, "release 0"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.found);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey);
        std::string registered;
        if (c.found != None) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
            if (c.found == Here) {
                ASSERT_TRUE(ChangeImagePath(kDriverServiceName, driver));
            }
            registered = RegisteredImagePath();
        }
        EXPECT_EQ("open 1\npath " + driver + "\n",
                  RunProbe(std::string(kModuleDir) + " open record"));
        if (c.found == ChangedSince) {
            ASSERT_TRUE(ChangeImagePath(kDriverServiceName, other));
            registered = other;
        }
        EXPECT_EQ(std::string(c.release) + "\npath \n",
                  RunProbe(std::string(kModuleDir) + " release"));
        if (c.found == None) {
            EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
        } else {
            EXPECT_EQ(registered, RegisteredImagePath());
            EXPECT_EQ(static_cast<DWORD>(c.found == Elsewhere ? SERVICE_STOPPED : SERVICE_RUNNING),
                      ServiceState(kDriverServiceName));
        }
        RemoveServiceIfPresent(kDriverServiceName);
    }
}

// A driver that will not stop (here one without an unload routine): the
// registration bring-up made is marked for deletion, which Windows completes
// at the next restart (EndDriverAsARestartWould), and the
// release says that a restart is needed.
TEST_F(DriverBringUp, ReleaseOfADriverThatWillNotStopNeedsARestart) {
    const std::string driver = CopyDrivers();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey);
    EXPECT_EQ("open 1\npath " + driver + "\n", RunProbe(std::string(kModuleDir) + " open record"));
    ASSERT_TRUE(sim::Control().RefuseUnload(true));
    EXPECT_EQ("release 2\npath \n", RunProbe(std::string(kModuleDir) + " release"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDriverServiceName));
    EXPECT_FALSE(ChangeStartType(kDriverServiceName, SERVICE_DEMAND_START));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
    EndDriverAsARestartWould();
    EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
}

// Gives the key the access list written in SDDL.
void SetKeyAccess(HKEY key, const char *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
}

// The driver path buffer holds 259 characters and the terminator; a longer
// path counts as a missing file. The registration found is disabled, so that
// bring-up reaches it with the path it uses (and leaves it untouched) but
// Wine loads nothing from such a path. (The directories are made through the
// long-path prefix, since the driver path in them may exceed MAX_PATH.)
TEST_F(DriverBringUp, DriverPathUpToItsBufferIsUsed) {
    const std::string file = DriverFile();
    const std::size_t fits = 259 - file.size(); // the directory with its backslash
    RegisterDisabledDriverService();
    const std::string registered = RegisteredImagePath();
    ASSERT_NE("", registered);
    for (const std::size_t dirLength : {fits + 1, fits}) {
        SCOPED_TRACE(dirLength);
        const std::string dir = "C:\\" + std::string(dirLength - 4, 'd');
        CreateDirectoryA(("\\\\?\\" + dir).c_str(), nullptr);
        CopyFileOrFail(ArtifactPath(file), "\\\\?\\" + dir + "\\" + file);
        const std::string output = RunProbe(dir + " open");
        if (dirLength == fits)
            EXPECT_EQ("open 0\ninstall none 0 disabled\npath " + dir + "\\" + file + "\n", output);
        else
            EXPECT_EQ(0u, output.find("open 0\ninstall file 0\npath ")) << output;
        EXPECT_EQ(registered, RegisteredImagePath());
    }
}

// A registration that refuses every change, as a policy might, through its
// registry key or through its service object's own descriptor (which grants
// only what a locked driver service grants: query and start): one that
// names another file is left as it is, and bring-up fails with the error of
// the change; one that names the checked file already needs no change and
// is started, each step asking only the rights it needs.
TEST_F(DriverBringUp, LockedRegistrationIsUsedOnlyWhenItNamesTheCheckedFile) {
    const std::string driver = CopyDrivers();
    const std::string objectLock = " lock:O:BAG:SYD:(A;;CCLCLORP;;;WD)";
    for (const bool byKey : {true, false}) {
        for (const bool named : {false, true}) {
            SCOPED_TRACE(std::string(byKey ? "key" : "service object") +
                         (named ? " names the checked file" : " names another file"));
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
            if (named) {
                ASSERT_TRUE(ChangeImagePath(kDriverServiceName, driver));
            }
            const std::string registered = RegisteredImagePath();
            UniqueRegKey key;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverServiceKey().c_str(),
                                                   0, WRITE_DAC, key.put()));
            if (byKey)
                SetKeyAccess(key.get(), "D:P(A;;KR;;;WD)"); // everyone may read, nobody change

            EXPECT_EQ((byKey ? "" : "lock 1\n") +
                          std::string(named ? "open 1" : "open 0\ninstall repoint 5") +
                          ("\npath " + driver + "\n"),
                      RunProbe(std::string(kModuleDir) + (byKey ? "" : objectLock) + " open"));
            if (byKey)
                SetKeyAccess(key.get(), "D:(A;;KA;;;WD)");
            EXPECT_EQ(registered, RegisteredImagePath());
            EXPECT_EQ(static_cast<DWORD>(named ? SERVICE_RUNNING : SERVICE_STOPPED),
                      ServiceState(kDriverServiceName));
            RemoveServiceIfPresent(kDriverServiceName);
        }
    }
}

// An open the loaded driver refuses ends bring-up at once, before the driver
// file is sought: the driver service is left alone. (Wine looks \\.\NAME up in
// the prefix's dosdevices folder first: a folder there refuses the open.)
// Requests before bring-up and after the failed one reach nothing.
TEST_F(DriverBringUp, RefusedOpenLeavesTheDriverServiceAlone) {
    CopyFileOrFail(ArtifactPath("Quendra.sys"), Dir("Quendra.sys"));
    ASSERT_TRUE(LoadDriver());
    const std::string refusal =
        std::string("Z:") + std::getenv("WINEPREFIX") + "\\dosdevices\\quendra_1_0_1";
    ASSERT_TRUE(CreateDirectoryA(refusal.c_str(), nullptr)) << refusal;

    EXPECT_EQ("read 50C 0\nopen 0\nread 50C 0\nwrite 50C 0\npath \n",
              RunProbe(std::string(kModuleDir) + " read:50C open read:50C write:50C:1"));
    EXPECT_EQ("", Requests());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDriverServiceName));
    RemoveDirectoryA(refusal.c_str());
}

} // namespace

int main(int argc, char **argv) {
    return wgbtest::TestMain(argc, argv, Probe);
}
