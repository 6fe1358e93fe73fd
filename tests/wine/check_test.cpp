// The check tool in Wine, for what only Windows' answers show: a served board
// end to end, a bare folder, WMI failing or giving no product text, --load
// leaving the registration as it found it, --out replacing a report whole.
// Each JSON report is parsed here and kept for the schema's validator, which
// runs on them after this program (tests/json/with-reports-validated).

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
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() { CleanUpAfterService(); }
    // dir with the service's files, the check tool and this board list.
    std::string Prepare(const std::string &dir, const std::string &entry) {
        return PrepareInstallDir(dir, MainBoardIni({"6231", entry}));
    }
};

// The report kept for the validator, in the folder WGB_REPORTS names.
void Keep(const std::string &text) {
    static int count = 0;
    const char *folder = std::getenv("WGB_REPORTS");
    ASSERT_NE(nullptr, folder) << "run through tests/json/with-reports-validated";
    std::string path = std::string("Z:") + folder + "/" + std::to_string(++count) + ".json";
    std::replace(path.begin(), path.end(), '/', '\\');
    ASSERT_TRUE(WriteTextFile(path, text)) << path;
}

// Runs the check tool with --json and these options: its exit code, and its
// report parsed (null when it is no JSON).
json RunJson(const std::string &dir, const std::string &options, DWORD exitCode) {
    std::string text;
    EXPECT_EQ(std::optional<DWORD>(exitCode),
              RunProgram(Quoted(dir + "WGBCheck.exe") + " --json" + options, &text))
        << text;
    Keep(text);
    return json::parse(text, nullptr, false);
}

// The member at the JSON pointer, null when the report has none: a group
// missing from a report fails the expectation, not the test program.
json At(const json &report, const char *pointer) {
    const json::json_pointer at(pointer);
    return report.is_object() && report.contains(at) ? report[at] : json();
}

// The codes of the report's findings, and each one's verdict.
std::vector<std::pair<std::string, std::string>> Codes(const json &report) {
    std::vector<std::pair<std::string, std::string>> codes;
    for (const json &finding : report.value("findings", json::array()))
        codes.emplace_back(finding.value("code", ""), finding.value("verdict", ""));
    return codes;
}
bool Has(const json &report, const char *code, const char *verdict) {
    const auto codes = Codes(report);
    return std::find(codes.begin(), codes.end(),
                     std::make_pair(std::string(code), std::string(verdict))) != codes.end();
}

std::string Utf8(const std::wstring &wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length,
                        nullptr, nullptr);
    return text;
}

// Installed as documented, on a listed board, under a computer name outside
// ASCII: every check OK but the protection, which warns for what Wine grants
// the logged-on user; the names reach the JSON as UTF-8. The watch sees a
// press at once and a release, in its lines and in its JSON.
TEST_F(Check, ServedBoardIsAllOkAndTheWatchSeesThePress) {
    const std::wstring computer = L"PR\u00DCF-7";
    for (const char *key : {"ComputerName", "ActiveComputerName"})
        WriteRegistryValue(HKEY_LOCAL_MACHINE,
                           std::string("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\") + key,
                           "ComputerName", REG_SZ,
                           "PR\xDC"
                           "F-7",
                           8);
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir, "WGB Test");
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
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(Utf8(computer), At(report, "/computerName"));
    EXPECT_EQ(WGB_FILE_VERSION, At(report, "/checkVersion"));
    EXPECT_EQ(WGB_FILE_VERSION, At(report, "/serviceVersion"));
    EXPECT_EQ("WGB Test Board", At(report, "/board/product"));
    EXPECT_EQ(json({"6231", "WGB Test"}), At(report, "/board/entries"));
    EXPECT_EQ(json::array(), At(report, "/files/missing"));
    EXPECT_FALSE(At(report, "/user/consoleSession").is_null());
    EXPECT_EQ(true, At(report, "/windows/memoryIntegrityConfigured"));
    const std::vector<std::pair<std::string, std::string>> served = {
        {"files.present", "OK"}, {"service.sound", "OK"}, {"board.listed", "OK"},
        {"board.input", "OK"},   {"driver.open", "OK"},   {"button.released", "OK"},
        {"user.atConsole", "OK"}};
    for (const auto &[code, verdict] : served)
        EXPECT_TRUE(Has(report, code.c_str(), verdict.c_str())) << code;
    for (const auto &[code, verdict] : Codes(report))
        EXPECT_TRUE(verdict == "OK" || code == "protection.othersMayChange") << code;

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
    Keep(ReadWholeFile(out));
    const json watched = json::parse(ReadWholeFile(out), nullptr, false);
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
        const std::string dir = Prepare(folder, "WGB Test");
        DeleteFileA((dir + "Quendra.sys").c_str());
        DeleteFileA((dir + "Quendra_X64.sys").c_str());
        const bool installable = dir.size() + 14 < 256;
        SCOPED_TRACE(dir.size());

        const json report = RunJson(dir, " --watch 1", 2);
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"files.missing", "FAIL"},          {"service.notRegistered", "FAIL"},
            {"board.notListed", "FAIL"},        {"board.input", "INFO"},
            {"driver.notLoaded", "FAIL"},       {"button.notReadable", "SKIP"},
            {"button.watchNotReadable", "SKIP"}};
        for (const auto &[code, verdict] : expected)
            EXPECT_TRUE(Has(report, code.c_str(), verdict.c_str())) << code;
        EXPECT_EQ("QX-1000 R\xC3\xA9v", At(report, "/board/product"));
        EXPECT_EQ(json({DriverFile()}), At(report, "/files/missing"));
        EXPECT_EQ(false, At(report, "/driver/registered"));
        EXPECT_EQ(false, At(report, "/complete"));
        for (const json &finding : At(report, "/findings")) {
            if (finding.value("code", "") == "service.notRegistered") {
                EXPECT_EQ(installable,
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
    const std::string dir = Prepare(kBareDir, "WGB Test");
    const std::string overrides = "Software\\Wine\\AppDefaults\\WGBCheck.exe\\DllOverrides";
    const std::string locked = dir + "locked.txt";
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string provider = std::string(system) + "\\wbem\\wbemprox.dll";
    UniqueHandle holder, link;
    const struct {
        const char *name;
        std::function<void()> change, undo;
        const char *wmi, *code;
    } cases[] = {
        {"WMI fails",
         [&] { WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "", 1); },
         [&] { RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str()); }, "failed", "board.wmiFailed"},
        {"no product text",
         [&] {
             CopyFileOrFail(provider, provider + ".wine");
             CopyFileOrFail(ArtifactPath("fake_wbemprox.dll"), provider);
             WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "native", 7);
         },
         [&] {
             RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
             CopyFileOrFail(provider + ".wine", provider);
         },
         "noProductText", "board.noProductText"},
        {"device refused",
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
         },
         "answered", "driver.deviceRefused"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        const json report = RunJson(dir, "", 2);
        c.undo();
        EXPECT_EQ(c.wmi, At(report, "/board/wmi"));
        EXPECT_TRUE(Has(report, c.code, "FAIL")) << report.dump();
        EXPECT_TRUE(Has(report, "button.notReadable", "SKIP")) << report.dump();
        EXPECT_EQ(std::string(c.wmi) == "answered", At(report, "/board").contains("inputPort"));
        EXPECT_FALSE(Has(report, "driver.notLoaded", "FAIL") && c.code[0] == 'd');
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
    const std::string dir = Prepare(kBareDir, "WGB Test");
    const struct {
        const char *what;
        bool registered, disabled;
        const char *code;
    } cases[] = {
        {"none", false, false, "driver.notLoaded"},
        {"disabled", true, true, "driver.disabled"},
        {"found", true, false, "driver.notLoaded"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.registered) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        }
        if (c.disabled) {
            ASSERT_TRUE(ChangeStartType(session::kDriverServiceName, SERVICE_DISABLED));
        }
        const std::optional<ServiceConfig> before = QueryConfig(session::kDriverServiceName);
        const json report = RunJson(dir, " --load", 2);
        EXPECT_TRUE(Has(report, "driver.loadRefused", "FAIL")) << report.dump();
        EXPECT_TRUE(Has(report, c.code, "FAIL")) << report.dump();
        EXPECT_EQ(2u,
                  At(report, "/driver/loadRefusedFor").size()); // the folder and the driver file
        EXPECT_FALSE(At(report, "/driver").contains("disabled"));
        const std::optional<ServiceConfig> after = QueryConfig(session::kDriverServiceName);
        ASSERT_EQ(before.has_value(), after.has_value());
        if (before) {
            EXPECT_EQ(before->imagePath, after->imagePath);
            EXPECT_EQ(before->start, after->start);
        }
        RemoveServiceIfPresent(session::kDriverServiceName);
    }
}

// --out writes the report in UTF-8, a folder's Latin-1 letters included,
// and nothing to standard output; it replaces the report there before. When
// the folder cannot be written or the replacement fails (a reader holds the
// old report without letting it go), the old report stays whole, no
// temporary file is left and the exit code is its own, not a bad argument's.
TEST_F(Check, OutReplacesTheReportWholeOrNotAtAll) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare("C:\\Program Files\\WGB Pr\xFC"
                                    "fung",
                                    "WGB Test");
    const std::string check = Quoted(dir + "WGBCheck.exe");
    const std::string reports = "C:\\wgb-reports\\";
    MakeEmptyDir(reports);
    const std::string report = reports + "machine.json";
    for (const char *format : {"", " --json"}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(WriteTextFile(report, "the report before"));
        std::string shown;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(check + format + " --out " + Quoted(report), &shown));
        EXPECT_EQ("", shown);
        const std::string written = ReadWholeFile(report);
        EXPECT_NE(std::string::npos, written.find("WGB Pr\xC3\xBC"
                                                  "fung"))
            << written;
        if (*format != '\0') {
            Keep(written);
            EXPECT_EQ("C:\\Program Files\\WGB Pr\xC3\xBC"
                      "fung\\",
                      json::parse(written)["machine"]["directory"]);
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

// Owned by administrators, which alone may change it; users read.
constexpr char kAdministratorsOnly[] =
    "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

PSECURITY_DESCRIPTOR Descriptor(const char *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    return descriptor;
}

// Write, append, delete, permission or owner rights of anyone but
// administrators, SYSTEM and TrustedInstaller warn; reading does not, nor
// entries only for what is created inside.
TEST(CheckProtection, OthersWhoMayChangeTheObject) {
    const struct {
        const char *sddl;
        std::vector<std::string> others;
    } cases[] = {
        {kAdministratorsOnly, {}},
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
        PSECURITY_DESCRIPTOR descriptor = Descriptor(c.sddl);
        EXPECT_EQ(c.others, OthersWhoMayChange(descriptor)) << c.sddl;
        LocalFree(descriptor);
    }
}

} // namespace
