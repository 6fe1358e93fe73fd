// The check tool in Wine, for what only Windows' answers show: a served board
// end to end, a bare folder, WMI failing or giving no product text, a device
// that will not open, --load leaving the registration as it found it, --out
// replacing a report whole. Each JSON report is parsed here and kept for the
// schema's validator, which runs on them after this program
// (tests/json/with-reports-validated).

#include "check/judge.h"
#include "common/protection.h"
#include "common/system_library.h"
#include "sim/sim_client.h"
#include "support/nt_objects.h"
#include "support/service_env.h"

#include <aclapi.h>
#include <sddl.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

namespace {

using namespace wgbtest;
using nlohmann::json;

constexpr char kServedDir[] = "C:\\Program Files\\WGB Check";
constexpr char kBareDir[] = "C:\\wgb-bare";

class Check : public testing::Test {
  protected:
    void SetUp() override { CleanUpAfterService(); }
    void TearDown() override { CleanUpAfterService(); }
};

// dir with the service's files, the check tool and a list that serves "WGB Test".
std::string Prepare(const std::string &dir) {
    return PrepareInstallDir(dir, MainBoardIni({"6231", "WGB Test"}));
}

// The report kept for the validator, in the folder WGB_REPORTS names, and
// parsed (null when it is no JSON).
json Kept(const std::string &text) {
    static int count = 0;
    const char *folder = std::getenv("WGB_REPORTS");
    std::string path =
        "Z:" + std::string(folder ? folder : "/nowhere") + "/" + std::to_string(++count) + ".json";
    std::replace(path.begin(), path.end(), '/', '\\');
    EXPECT_TRUE(WriteTextFile(path, text))
        << path << ": run through tests/json/with-reports-validated";
    return json::parse(text, nullptr, false);
}

// Runs the check tool with --json and these options: its exit code, and its report.
json RunJson(const std::string &dir, const std::string &options, DWORD exitCode) {
    std::string text;
    EXPECT_EQ(std::optional<DWORD>(exitCode),
              RunProgram(Quoted(dir + "WGBCheck.exe") + " --json" + options, &text))
        << text;
    return Kept(text);
}

// The member at the JSON pointer, null when the report has none: a group
// missing from a report fails the expectation, not the test program.
json At(const json &report, const char *pointer) {
    const json::json_pointer at(pointer);
    return report.is_object() && report.contains(at) ? report[at] : json();
}

// "code VERDICT, ..." of the report's findings, but those of the checks left out.
std::string Codes(const json &report, const std::set<std::string> &leftOut) {
    std::string codes;
    for (const json &finding : At(report, "/findings")) {
        if (leftOut.count(finding.value("check", "")) == 0)
            codes += (codes.empty() ? "" : ", ") + finding.value("code", "") + " " +
                     finding.value("verdict", "");
    }
    return codes;
}

// Installed as documented, on a listed board, under a computer name outside
// ASCII, which reaches the JSON as UTF-8: every check OK but the protection,
// which warns for what Wine grants the logged-on user. The watch sees a press
// at once and a release, in its lines and in its JSON.
TEST_F(Check, ServedBoardIsAllOkAndTheWatchSeesThePress) {
    for (const char *key : {"ComputerName", "ActiveComputerName"})
        WriteRegistryValue(HKEY_LOCAL_MACHINE,
                           std::string("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\") + key,
                           "ComputerName", REG_SZ, "PR\334F-7", 8); // "PRÜF-7" in code page 1252
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir);
    const RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded());
    // The next boot reads "Start" from the registry, whatever the Service
    // Control Manager holds until then: let the two differ.
    ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DEMAND_START));
    WriteStartValue(kServiceName, SERVICE_AUTO_START);
    const DWORD on = 1;
    WriteRegistryValue(HKEY_LOCAL_MACHINE,
                       "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                       "HypervisorEnforcedCodeIntegrity",
                       "Enabled", REG_DWORD, &on, sizeof on);

    const json report = RunJson(dir, "", 1);
    EXPECT_EQ(
        "files.present OK, service.sound OK, board.listed OK, board.input OK, driver.open OK, "
        "button.released OK, user.atConsole OK",
        Codes(report, {"protection"}));
    EXPECT_EQ("PR\303\234F-7", At(report, "/computerName"));
    EXPECT_EQ(WGB_FILE_VERSION, At(report, "/checkVersion"));
    EXPECT_EQ(WGB_FILE_VERSION, At(report, "/serviceVersion"));
    EXPECT_EQ(true, At(report, "/windows/memoryIntegrityConfigured"));

    // The watch's lines go to a file, read while it runs.
    const std::string output = dir + "watch.txt";
    const UniqueHandle process =
        StartProgram(Quoted(dir + "WGBCheck.exe") + " --watch 3600", output);
    ASSERT_TRUE(process);
    const auto shows = [&](const char *text) {
        return WaitUntil([&] { return ReadWholeFile(output).find(text) != std::string::npos; });
    };
    sim::Control sim;
    EXPECT_TRUE(shows("released now: press it")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
    EXPECT_TRUE(shows(" s  pressed")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kReleased));
    EXPECT_TRUE(shows(" s  released")) << ReadWholeFile(output);
    TerminateProcess(process.get(), 0);
    EXPECT_NE(std::string::npos, ReadWholeFile(output).find("OK    user")) << ReadWholeFile(output);

    // A watch with no press sees no change; its JSON, beside its question on
    // standard error, says so.
    const std::string out = dir + "watch.json";
    EXPECT_EQ(std::optional<DWORD>(1),
              RunProgram(Quoted(dir + "WGBCheck.exe") + " --json --watch 1 --out " + Quoted(out)));
    const json watched = Kept(ReadWholeFile(out));
    EXPECT_EQ(json::array(), At(watched, "/button/watch"));
    EXPECT_EQ(0, At(watched, "/button/watchFailedReads"));
}

// No service, no driver file, a board not listed (its Latin-1 text in UTF-8
// in the JSON): each its finding, and the watch cannot run without the
// driver. From a folder whose path leaves the service's own too long to
// register, the advice is another folder.
TEST_F(Check, BareFolderFailsWithWhatToDo) {
    SetBoardProduct("QX-1000 R\xE9v");
    for (const std::string &folder : {std::string(kBareDir), "C:\\" + std::string(238, 'b')}) {
        const std::string dir = Prepare(folder);
        DeleteFileA((dir + "Quendra.sys").c_str());
        DeleteFileA((dir + "Quendra_X64.sys").c_str());
        SCOPED_TRACE(dir.size());

        const json report = RunJson(dir, " --watch 1", 2);
        EXPECT_EQ("files.missing FAIL, service.notRegistered FAIL, board.notListed FAIL, "
                  "board.input INFO, driver.notLoaded FAIL, button.notReadable SKIP, "
                  "button.watchNotReadable SKIP",
                  Codes(report, {"protection", "user"}));
        EXPECT_EQ("QX-1000 R\xC3\xA9v", At(report, "/board/product"));
        EXPECT_EQ(json({DriverFile()}), At(report, "/files/missing"));
        EXPECT_EQ(false, At(report, "/driver/registered"));
        for (const json &finding : At(report, "/findings")) {
            if (finding.value("code", "") == "service.notRegistered") {
                EXPECT_EQ(dir.size() + 14 < 256,
                          finding.value("action", "").find("-qtrinstall") != std::string::npos);
            }
        }
    }
}

// A symbolic link in the object namespace, there while its handle is open.
UniqueHandle DeviceLink(const wchar_t *name, const wchar_t *target) {
    using CreateLinkFn =
        LONG(WINAPI *)(HANDLE *, ACCESS_MASK, NtObjectAttributes *, NtCountedString *);
    const auto createLink =
        GetProcedure<CreateLinkFn>(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject");
    NtCountedString linkName = NtString(name);
    NtCountedString linkTarget = NtString(target);
    NtObjectAttributes attributes = NtObjectName(&linkName);
    HANDLE link = nullptr;
    if (!createLink || createLink(&link, 0xF0001 /* all access */, &attributes, &linkTarget) != 0)
        return UniqueHandle();
    return UniqueHandle(link);
}

// In a folder without the service: WMI that does not answer (its provider
// kept from loading into the check tool, through Wine's own per-program
// setting), a baseboard without a product text (a fake provider for the
// check tool alone), and a device name that leads to something that will not
// open (on Windows a file the test holds locked; Wine does not follow the
// link to a drive's file and answers "path not found"), which is no missing
// driver.
TEST_F(Check, WmiFailureNoProductTextAndARefusedDeviceAreToldApart) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir);
    const std::string overrides = "Software\\Wine\\AppDefaults\\WGBCheck.exe\\DllOverrides";
    const std::string locked = dir + "locked.txt";
    const std::string provider =
        std::string(std::getenv("SystemRoot")) + "\\system32\\wbem\\wbemprox.dll";
    UniqueHandle holder, link;
    const struct {
        const char *findings;
        std::function<void()> change, undo;
    } cases[] = {
        {"board.wmiFailed FAIL, driver.notLoaded FAIL, button.notReadable SKIP",
         [&] { WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "", 1); },
         [&] { RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str()); }},
        {"board.noProductText FAIL, driver.notLoaded FAIL, button.notReadable SKIP",
         [&] {
             CopyFileOrFail(provider, provider + ".wine");
             CopyFileOrFail(ArtifactPath("fake_wbemprox.dll"), provider);
             WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "native", 7);
         },
         [&] {
             RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
             CopyFileOrFail(provider + ".wine", provider);
         }},
        {"board.listed OK, board.input OK, driver.deviceRefused FAIL, button.notReadable SKIP",
         [&] {
             ASSERT_TRUE(WriteTextFile(locked, "not a device"));
             holder.reset(CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
             ASSERT_TRUE(holder);
             link = DeviceLink(L"\\??\\Quendra_1_0_1", L"\\??\\C:\\wgb-bare\\locked.txt");
             ASSERT_TRUE(link);
         },
         [&] {
             link.reset();
             holder.reset();
         }},
    };
    for (const auto &c : cases) {
        c.change();
        const json report = RunJson(dir, "", 2);
        c.undo();
        EXPECT_EQ(c.findings, Codes(report, {"files", "protection", "service", "user"}));
    }
}

// --load loads a kernel driver, elevated, from where the tool lies: in a
// folder others may change (in Wine every file's owner is the logged-on
// user, whose unelevated programs may change it) it loads nothing and leaves
// the registration as it found it, none, disabled or found. What bring-up
// and its undo do is the service's, tested with it; their findings are
// judged natively.
TEST_F(Check, LoadRefusesAFolderOthersMayChangeAndLeavesTheRegistration) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir);
    const auto registration = [] {
        const std::optional<ServiceConfig> config = QueryConfig(session::kDriverServiceName);
        return config ? config->imagePath + ", start " + std::to_string(config->start) : "none";
    };
    // Found none, then registered, then disabled.
    const char *const found[] = {"driver.notLoaded", "driver.notLoaded", "driver.disabled"};
    for (int i = 0; i < 3; ++i) {
        if (i == 1) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        }
        if (i == 2) {
            ASSERT_TRUE(ChangeStartType(session::kDriverServiceName, SERVICE_DISABLED));
        }
        const std::string before = registration();
        SCOPED_TRACE(before);
        const json report = RunJson(dir, " --load", 2);
        EXPECT_EQ("driver.loadRefused FAIL, " + std::string(found[i]) + " FAIL",
                  Codes(report, {"files", "protection", "service", "board", "button", "user"}));
        // The folder and the driver file; no bring-up ran.
        EXPECT_EQ(2u, At(report, "/driver/loadRefusedFor").size());
        EXPECT_FALSE(At(report, "/driver").contains("disabled"));
        EXPECT_EQ(before, registration());
    }
}

// --out writes the report in UTF-8, a folder's Latin-1 letters included,
// and nothing to standard output; it replaces the report there before. When
// the folder cannot be written or the replacement fails (a reader holds the
// old report without letting it go), the old report stays whole, no
// temporary file is left and the exit code is its own, not a bad argument's.
TEST_F(Check, OutReplacesTheReportWholeOrNotAtAll) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare("C:\\Program Files\\WGB Pr\374fung"); // "Prüfung" in 1252
    const std::string check = Quoted(dir + "WGBCheck.exe");
    const std::string reports = "C:\\wgb-reports\\", report = reports + "machine.json";
    MakeEmptyDir(reports);
    for (const char *format : {"", " --json"}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(WriteTextFile(report, "the report before"));
        std::string shown;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(check + format + " --out " + Quoted(report), &shown));
        EXPECT_EQ("", shown);
        const std::string written = ReadWholeFile(report);
        if (*format == '\0') {
            EXPECT_NE(std::string::npos, written.find("WGB Pr\303\274fung")) << written;
        } else {
            EXPECT_EQ("C:\\Program Files\\WGB Pr\303\274fung\\",
                      At(Kept(written), "/machine/directory"));
        }
    }

    const std::string before = "{\"the report\": \"before\"}\n";
    ASSERT_TRUE(WriteTextFile(report, before));
    {
        // A reader that lets nobody delete or rename the file meanwhile.
        const UniqueHandle reader(CreateFileA(report.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader);
        std::string shown;
        EXPECT_EQ(std::optional<DWORD>(kExitNotWritten),
                  RunProgram(check + " --json --out " + Quoted(report), &shown));
        EXPECT_NE(std::string::npos, shown.find("cannot write")) << shown;
    }
    EXPECT_EQ(before, ReadWholeFile(report));
    EXPECT_EQ(std::optional<DWORD>(kExitNotWritten),
              RunProgram(check + " --out " + Quoted(reports + "gone\\machine.txt")));
    WIN32_FIND_DATAA found = {}; // no temporary file left
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((reports + "wgb*.tmp").c_str(), &found));

    std::string usage;
    EXPECT_EQ(std::optional<DWORD>(kExitBadArgument), RunProgram(check + " --watch 5s", &usage));
    EXPECT_NE(std::string::npos, usage.find("Usage: WGBCheck")) << usage;
}

// Write, append, delete, permission or owner rights of anyone but
// administrators, SYSTEM and TrustedInstaller warn; reading does not, nor
// entries only for what is created inside.
TEST(CheckProtection, OthersWhoMayChangeTheObject) {
    const struct {
        const char *sddl;
        std::vector<std::string> others;
    } cases[] = {
        // Owned by administrators, which alone may change it; users read.
        {"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", {}},
        {"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", {}},
        {"O:BAD:(A;OICIIO;FA;;;CO)(A;OICIIO;GA;;;BU)", {}},
        {"O:BAD:(A;;0x1301bf;;;BU)", {"BUILTIN\\Users"}},
        {"O:BAD:(A;;0x2;;;BU)", {"BUILTIN\\Users"}}, // write alone
        {"O:BAD:(A;;SD;;;BU)", {"BUILTIN\\Users"}},  // delete alone
        {"O:BAD:(A;;GW;;;BU)(A;;GA;;;AU)", {"BUILTIN\\Users", "NT AUTHORITY\\Authenticated Users"}},
        {"O:BAD:(A;;0x4;;;WD)(A;;0x40;;;IU)", {"Everyone", "NT AUTHORITY\\INTERACTIVE"}},
        {"O:BAD:(A;;WD;;;AU)(A;;WO;;;BU)", {"NT AUTHORITY\\Authenticated Users", "BUILTIN\\Users"}},
        {"O:BUD:(A;;FA;;;BA)", {"BUILTIN\\Users"}},
        {"O:BA", {"Everyone (no access list)"}},
    };
    for (const auto &c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr))
            << c.sddl;
        EXPECT_EQ(c.others, OthersWhoMayChange(descriptor)) << c.sddl;
        LocalFree(descriptor);
    }
}

} // namespace
