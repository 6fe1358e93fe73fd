// The main job, shown to a person: the real WGBService.exe installed through
// the Service Control Manager on a simulated served board; the simulated
// button pressed, held, released and pressed again; the companion starting
// in the logged-on user's session. Runs inside a session made by run-in-wine.

#include "support/console.h"
#include "support/port_trace.h"
#include "support/service_run.h"
#include "support/sim_client.h"
#include "support/wine_env.h"

using namespace wgbtest;

namespace {

constexpr const char *kInstallDir = "C:\\Program Files\\WGB Demo";
constexpr const char *kBoard = "B760M-WGB Rev 1.02";
constexpr DWORD kWaitMs = 90000;

// Reads of the button port from the trace's cursor on.
bool WaitForButtonPolls(PortTrace &trace, int count) {
    return trace
        .WaitForReads(
            count, [](const sim_trace_entry &e) { return e.port == kButtonPort; }, kWaitMs)
        .has_value();
}

void ShowRecord(const CompanionRecord &r) {
    auto field = [&](const char *key) { return CompanionField(r, key); };
    Say("      command line : %s", field(companion_record::kCommandLine).c_str());
    Say("      user         : %s (session %s)", field(companion_record::kUser).c_str(),
        field(companion_record::kSession).c_str());
    Say("      desktop      : %s\\%s", field(companion_record::kWindowStation).c_str(),
        field(companion_record::kDesktop).c_str());
    Say("      USERPROFILE  : %s", field("env.USERPROFILE").c_str());
}

} // namespace

int main() {
    Say("WGBService demonstration in a Wine session");
    Say("");

    SetBoardProduct(kBoard);
    InstallLayout layout;
    layout.ini = MainBoardIni({"Z790-WGB-6231;second input", "B760M-WGB;first series"});
    const std::string dir = PrepareInstallDir(layout, kInstallDir);
    if (!FileExists(dir + "WGBService.exe") || !FileExists(dir + "WGB.ini"))
        Fail("could not lay out the install directory");
    Say("1. Install directory %s", dir.c_str());
    Say("   WGBService.exe, Quendra.sys (driver stand-in), WGB.exe (stub companion), WGB.ini:");
    Say("     [MainBoard] 1=Z790-WGB-6231;second input  2=B760M-WGB;first series");
    Say("   Baseboard product text reported by WMI: \"%s\" (entry 2 matches)", kBoard);
    Say("");

    const std::string install = Quoted(dir + "WGBService.exe") + " -qtrinstall";
    Say("2. %s", install.c_str());
    std::optional<DWORD> code = RunProgram(install);
    if (!code)
        Fail("the install run did not end");
    if (!WaitForServiceState(kServiceName, SERVICE_RUNNING, kWaitMs))
        Fail("the service did not reach the running state");
    std::optional<ServiceConfig> config = QueryServiceConfiguration(kServiceName);
    // The SCM keeps the start type it was created with until Windows restarts;
    // the automatic start is in the registry's "Start" value.
    std::optional<DWORD> start =
        ReadRegistryDword(HKEY_LOCAL_MACHINE, ServiceKey(kServiceName), "Start");
    Say("   exit code %lu; service %s is running; registry \"Start\" = %lu (automatic)", *code,
        kServiceName, start.value_or(0));
    Say("   image path: %s", config ? config->imagePath.c_str() : "?");
    Say("");

    Say("3. The service identifies the board and brings up the I/O driver...");
    if (!WaitForServiceState(kDriverServiceName, SERVICE_RUNNING, kWaitMs))
        Fail("the driver service did not start");
    SimControl sim;
    if (!sim.IsOpen())
        Fail("cannot reach the stand-in's control device");
    PortTrace trace(sim);
    if (!WaitForButtonPolls(trace, 1))
        Fail("the service does not poll the button");
    Say("   driver service %s running; the service reads port 0x%X every 3 s", kDriverServiceName,
        kButtonPort);
    Say("");

    Say("4. Button pressed (port 0x%X bit 0 reads 0)", kButtonPort);
    sim.SetPort(kButtonPort, kButtonPressed);
    if (!WaitForCompanionRecords(dir, 1, kWaitMs))
        Fail("the companion did not start");
    Say("   companion started:");
    ShowRecord(ReadCompanionRecords(dir).front());
    Say("");

    Say("5. Button held for three more polls...");
    trace.SkipToEnd();
    if (!WaitForButtonPolls(trace, 3))
        Fail("the service stopped polling");
    Say("   starts so far: %zu (one press, one start)", ReadCompanionRecords(dir).size());
    Say("");

    Say("6. Button released, then pressed again");
    sim.SetPort(kButtonPort, kButtonReleased);
    trace.SkipToEnd();
    if (!WaitForButtonPolls(trace, 1))
        Fail("the service stopped polling");
    sim.SetPort(kButtonPort, kButtonPressed);
    if (!WaitForCompanionRecords(dir, 2, kWaitMs))
        Fail("the companion did not start again");
    Say("   companion started a second time:");
    ShowRecord(ReadCompanionRecords(dir).back());
    sim.SetPort(kButtonPort, kButtonReleased);
    Say("");

    const std::string uninstall = Quoted(dir + "WGBService.exe") + " -qtruninstall";
    Say("7. %s", uninstall.c_str());
    RunProgram(uninstall);
    if (!WaitUntil([] { return !ServiceExists(kServiceName); }, kWaitMs))
        Fail("the service was not removed");
    Say("   service %s stopped and deleted", kServiceName);
    Say("");
    Say("Done.");
    return 0;
}
