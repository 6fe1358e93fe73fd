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

// Usage: MODULE-DIR (without the closing backslash), then steps: "open"
// (recording what it changed, RecordDriverChange), "read:PORT",
// "write:PORT:VALUE" (hex), "lock:SDDL" (from then on every service object
// answers as one with that descriptor, LockServiceObjects; exit code 3 when
// it cannot), "disable-at-start" (from then on the driver service is disabled
// just before its start, AroundServiceStarts; exit code 3 when it cannot), "release"
// (ReleaseDriverService: "release" and the outcome's number). Prints a line per step (after a
// failed open whose driver service install went wrong, "install STEP ERROR", and "disabled" when
// the registration found was), then the driver path that bring-up built ("path" and nothing when it
// sought none).
int Probe(int argc, char **argv) {
    wsprintfA(g_szModuleDir, "%s\\", argv[0]);
    IoDriverState state = {};
    DriverServiceReport report;
    for (int i = 1; i < argc; ++i) {
        unsigned port = 0, value = 0;
        if (std::strcmp(argv[i], "release") == 0) {
            std::printf("release %d\n", static_cast<int>(ReleaseDriverService(kRecordKey)));
        } else if (std::strcmp(argv[i], "open") == 0) {
            report = DriverServiceReport();
            std::printf("open %d\n", OpenIoDriver(&state, &report) ? 1 : 0);
            RecordDriverChange(report, kRecordKey);
            static const char *const kSteps[] = {"none",  "manager", "create", "repoint",
                                                 "start", "device",  "file"};
            if (report.failedStep != DriverStep::None || report.disabled)
                std::printf("install %s %lu%s\n", kSteps[static_cast<int>(report.failedStep)],
                            report.error, report.disabled ? " disabled" : "");
        } else if (std::strncmp(argv[i], "lock:", 5) == 0) {
            if (!LockServiceObjects(argv[i] + 5))
                return 3;
        } else if (std::strcmp(argv[i], "disable-at-start") == 0) {
            if (!AroundServiceStarts([] { ChangeStartType(kDriverServiceName, SERVICE_DISABLED); },
                                     nullptr))
                return 3;
        } else if (std::sscanf(argv[i], "write:%x:%x", &port, &value) == 2)
            std::printf("write %X %d\n", port, WriteIoPortByte(port, value) ? 1 : 0);
        else if (std::sscanf(argv[i], "read:%x", &port) == 1)
            std::printf("read %X %X\n", port, ReadIoPortByte(port));
    }
    std::printf("path %s\n", g_szDriverPath);
    return 0;
}

// The probe's output for the steps, in dir.
std::string BringUp(const std::string &steps, const std::string &dir = kModuleDir) {
    return RunProbe(dir + " " + steps);
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

const std::string kDriverServiceKey =
    std::string("SYSTEM\\CurrentControlSet\\Services\\") + kDriverServiceName;

std::string RegisteredImagePath() {
    return QueryConfig(kDriverServiceName).value_or(ServiceConfig{}).imagePath;
}

// Both stand-ins in dir (through the long-path prefix: the driver path may
// exceed MAX_PATH); the one this Windows needs.
std::string CopyDrivers(const std::string &dir = kModuleDir) {
    for (const char *file : {"Quendra.sys", "Quendra_X64.sys"})
        if (FileExists(ArtifactPath(file)))
            CopyFileOrFail(ArtifactPath(file), "\\\\?\\" + dir + "\\" + file);
    return dir + "\\" + DriverFile();
}

// The registration a case finds before bring-up: none, the build's stand-in
// (another folder's file), one pointed at this folder's file already, one an
// administrator disabled, or the driver loaded. Gives its image path.
enum Found { Nothing, Elsewhere, Here, Disabled, Loaded };
std::string Register(Found found, const std::string &driver) {
    if (found == Nothing)
        return "";
    if (found == Loaded)
        EXPECT_TRUE(LoadDriver());
    else
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
    EXPECT_TRUE(found != Here || ChangeImagePath(kDriverServiceName, driver));
    EXPECT_TRUE(found != Disabled || ChangeStartType(kDriverServiceName, SERVICE_DISABLED));
    return RegisteredImagePath();
}

// Gives the key the access list written in SDDL.
void SetKeyAccess(HKEY key, const char *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
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
    const std::string driver = CopyDrivers();
    EXPECT_EQ("open 1\nread 50C FF\nwrite 1234 1\nread 1234 5A\nwrite FFFF 1\npath " + driver +
                  "\n",
              BringUp("open read:50C write:1234:5A read:1234 write:FFFF:1"));
    EXPECT_EQ("R50C=FF W1234=5A R1234=5A WFFFF=1 ", Requests());
    const ServiceConfig config = QueryConfig(kDriverServiceName).value_or(ServiceConfig{});
    EXPECT_EQ(driver, config.imagePath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config.start);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDriverServiceName));
}

// What one bring-up does with the driver's file (the stand-ins, none, a file
// Windows will not start, or the stand-ins where the driver path fills its
// buffer of 259 characters and the terminator, or overflows it) and the
// registration it finds (Found), also one that refuses every change, as a
// policy might, through its registry key or its service object's own
// descriptor (which grants only what a locked driver service grants: query
// and start), or disabled just before its start, a loaded driver that
// refuses the open, and a driver file a scanner holds open; and what the
// service's removal then undoes, by the record of what bring-up changed. Bring-up reports its
// failing step and error ("install ..."); a registration found elsewhere is
// pointed at the checked file and started; a disabled one stays untouched
// (not even opened for a change, which a locked one would refuse) and is not
// started; a loaded driver is only opened, its file not even
// sought; a missing file, or a path longer than its buffer, touches nothing;
// a refused open ends bring-up at once, the driver service left alone, and
// port requests before and after it reach nothing; a driver that fails to start
// leaves the registration as found: one bring-up made goes again, one it
// found stays, pointed back at its own file, unless it failed because an
// administrator disabled it: that decision is kept. A locked registration that
// names another file stays so and bring-up fails with the change's error;
// one that names the checked file needs no change and is started, each step
// asking only the rights it needs. The release, by the record, stops and
// deletes a registration bring-up made, points one it re-pointed back at its
// own file and stops it, and leaves one that named this folder's file
// already. (The undo of a change, a driver that will not stop and one
// changed since included, is the check tool's --load's too: its test pins
// each path.)
TEST_F(DriverBringUp, EachRegistrationFoundIsLeftAsItShould) {
    enum Files { StandIns, NoFile, NotADriver, PathFillsBuffer, PathOverflows };
    enum Lock { Open, KeyLock, FileHeld, ObjectLock, DeviceRefuses, DisabledAtStart };
    enum Release { Kept, Released };
    enum After { Gone, AsFound, AtTheCheckedFile };
    const struct {
        Files files;
        Found found;
        Lock lock;
        const char *output; // a closing "@" stands for the checked driver path
        Release release;
        const char *released; // the release's outcome
        After after;
        DWORD state;
    } cases[] = {
        {StandIns, Elsewhere, Open, "open 1\npath @", Kept, "", AtTheCheckedFile, SERVICE_RUNNING},
        {StandIns, Disabled, ObjectLock, "open 0\ninstall none 0 disabled\npath @", Kept, "",
         AsFound, SERVICE_STOPPED},
        {StandIns, Loaded, Open, "open 1\npath \n", Kept, "", AsFound, SERVICE_RUNNING},
        {NoFile, Nothing, Open, "open 0\ninstall file 0\npath @", Kept, "", Gone, 0},
        {NoFile, Elsewhere, Open, "open 0\ninstall file 0\npath @", Kept, "", AsFound,
         SERVICE_STOPPED},
        {NotADriver, Nothing, Open, "open 0\ninstall start ", Kept, "", Gone, 0},
        {NotADriver, Elsewhere, Open, "open 0\ninstall start ", Kept, "", AsFound, SERVICE_STOPPED},
        {StandIns, Elsewhere, KeyLock, "open 0\ninstall repoint 5\npath @", Kept, "", AsFound,
         SERVICE_STOPPED},
        {StandIns, Here, KeyLock, "open 1\npath @", Kept, "", AsFound, SERVICE_RUNNING},
        {StandIns, Elsewhere, ObjectLock, "open 0\ninstall repoint 5\npath @", Kept, "", AsFound,
         SERVICE_STOPPED},
        {StandIns, Here, ObjectLock, "open 1\npath @", Kept, "", AsFound, SERVICE_RUNNING},
        {StandIns, Nothing, Open, "open 1\npath @", Released, "release 1", Gone, 0},
        {StandIns, Nothing, FileHeld, "open 1\npath @", Kept, "", AtTheCheckedFile,
         SERVICE_RUNNING},
        {StandIns, Elsewhere, Open, "open 1\npath @", Released, "release 1", AsFound,
         SERVICE_STOPPED},
        {StandIns, Here, Open, "open 1\npath @", Released, "release 0", AsFound, SERVICE_RUNNING},
        // Disabled: bring-up reaches it with the path it uses, but Wine loads nothing from it.
        {PathFillsBuffer, Disabled, Open, "open 0\ninstall none 0 disabled\npath @", Kept, "",
         AsFound, SERVICE_STOPPED},
        {PathOverflows, Disabled, Open, "open 0\ninstall file 0\npath ", Kept, "", AsFound,
         SERVICE_STOPPED},
        // Disabled just before its start (which fails with ERROR_SERVICE_DISABLED):
        // an administrator's decision, kept even when bring-up made the registration.
        {StandIns, Nothing, DisabledAtStart, "open 0\ninstall start 1058\npath @", Kept, "",
         AtTheCheckedFile, SERVICE_STOPPED},
        {StandIns, Elsewhere, DisabledAtStart, "open 0\ninstall start 1058\npath @", Kept, "",
         AsFound, SERVICE_STOPPED},
        {StandIns, Loaded, DeviceRefuses, "read 50C 0\nopen 0\nread 50C 0\nwrite 50C 0\npath \n",
         Kept, "", AsFound, SERVICE_RUNNING},
    };
    const std::string refusal = DeviceRefusalFolder();
    // The directory with its backslash that leaves the driver path 259 characters.
    const std::size_t fits = 259 - std::strlen(DriverFile());
    for (const auto &c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        const bool longPath = c.files == PathFillsBuffer || c.files == PathOverflows;
        const std::string dir =
            longPath ? "C:\\" + std::string(fits - 4 + (c.files == PathOverflows), 'd')
                     : kModuleDir;
        MakeEmptyDir(dir);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey);
        const std::string driver = dir + "\\" + DriverFile();
        if (c.files == StandIns || longPath)
            CopyDrivers(dir);
        ASSERT_TRUE(c.files != NotADriver || WriteTextFile(driver, "not a driver image"));
        const std::string registered = Register(c.found, driver);
        ASSERT_TRUE(c.lock != DeviceRefuses || CreateDirectoryA(refusal.c_str(), nullptr));
        UniqueRegKey key;
        if (c.lock == KeyLock) {
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverServiceKey.c_str(), 0,
                                                   WRITE_DAC, key.put()));
            SetKeyAccess(key.get(), "D:P(A;;KR;;;WD)"); // everyone may read, nobody change
        }

        std::string expected = c.output;
        if (expected.back() == '@')
            expected.replace(expected.size() - 1, 1, driver + "\n");
        const char *const steps[] = {"lock:O:BAG:SYD:(A;;CCLCLORP;;;WD) open",
                                     "read:50C open read:50C write:50C:1", "disable-at-start open"};
        UniqueHandle held; // as a scanner holds a file: sharing read, write and delete
        if (c.lock == FileHeld)
            held.reset(CreateFileA(driver.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, 0));
        ASSERT_TRUE(c.lock != FileHeld || held);
        const std::string output =
            BringUp(c.lock < ObjectLock ? "open" : steps[c.lock - ObjectLock], dir);
        EXPECT_EQ(expected, output.substr(0, expected.size())) << output;
        EXPECT_EQ(std::string::npos, output.find("install start 0\n")) << output;
        EXPECT_TRUE(c.lock != DeviceRefuses || Requests().empty()) << Requests();
        RemoveDirectoryA(refusal.c_str());
        if (c.lock == KeyLock)
            SetKeyAccess(key.get(), "D:(A;;KA;;;WD)");
        if (c.release != Kept) {
            EXPECT_EQ(std::string(c.released) + "\npath \n", BringUp("release"));
        }
        if (c.after == Gone) {
            EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
        } else {
            EXPECT_EQ(c.after == AtTheCheckedFile ? driver : registered, RegisteredImagePath());
            EXPECT_EQ(c.state, ServiceState(kDriverServiceName));
        }
        if (c.found == Disabled || c.lock == DisabledAtStart) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), QueryConfig(kDriverServiceName)->start);
        }
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
        config.lpBinaryPathName = const_cast<char *>(c.registered);
        EXPECT_EQ(c.names, NamesFile(config, "C:\\wgb\\Quendra.sys")) << c.registered;
    }
}

} // namespace

int main(int argc, char **argv) {
    return wgbtest::TestMain(argc, argv, Probe);
}
