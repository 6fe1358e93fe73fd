// The main job, shown to a person: the real WGBService.exe installed through
// the Service Control Manager on a simulated served board; the simulated
// button pressed, held, released and pressed again; the companion starting
// in the logged-on user's session. Runs inside a session made by run-in-wine
// (scripts/demo).

#include "sim/companion/companion_record.h"
#include "harness/session.h"
#include "sim/sim_client.h"
#include "tools/console.h"

using namespace session;
using namespace tools;
namespace rec = companion_record;

namespace {

constexpr const char *kBoard = "B760M-WGB Rev 1.02";

void ShowStart(rec::Record r) {
    Say("      command line : %s", r[rec::kCommandLine].c_str());
    Say("      user         : %s (session %s)", r[rec::kUser].c_str(), r[rec::kSession].c_str());
    Say("      desktop      : %s\\%s", r[rec::kWindowStation].c_str(), r[rec::kDesktop].c_str());
    Say("      USERPROFILE  : %s", r["env.USERPROFILE"].c_str());
}

void WaitForStarts(const std::string &dir, size_t count) {
    if (!WaitUntil([&] { return rec::ReadRecords(dir).size() >= count; }))
        Fail("the companion did not start");
}

} // namespace

int main() {
    Say("WGBService demonstration in a Wine session");
    Say("");
    SetBoardProduct(kBoard);
    const std::string dir = LayOutOrFail("C:\\Program Files\\WGB Demo",
                                         {"Z790-WGB-6231;second input", "B760M-WGB;first series"});
    Say("1. Install directory %s", dir.c_str());
    Say("   WGBService.exe, WGBCheck.exe, Quendra.sys and Quendra_X64.sys (driver stand-ins),");
    Say("   WGB.exe (stub companion), WGB.ini:");
    Say("     [MainBoard] 1=Z790-WGB-6231;second input  2=B760M-WGB;first series");
    Say("   Baseboard product text reported by WMI: \"%s\" (entry 2 matches)", kBoard);
    Say("");

    Say("2. \"%sWGBService.exe\" -qtrinstall", dir.c_str());
    RunToEnd(dir + "WGBService.exe", "-qtrinstall");
    if (!WaitForServiceState(kServiceName, SERVICE_RUNNING))
        Fail("the service did not reach the running state");
    Say("   service %s is running, process %lu", kServiceName, ServiceProcessId(kServiceName));
    Say("");

    Say("3. The service identifies the board and brings up the I/O driver...");
    if (!WaitForServiceState(kDriverServiceName, SERVICE_RUNNING))
        Fail("the driver service did not start");
    sim::Control sim;
    if (!sim.WaitForPolls(1, DeadlineMs()))
        Fail("the service does not poll the button");
    Say("   driver service %s running; the service reads port 0x%X every 3 s", kDriverServiceName,
        sim::kButtonPort);
    Say("");

    Say("4. \"%sWGBCheck.exe\": what an integrator sees on this machine", dir.c_str());
    RunToEnd(dir + "WGBCheck.exe", "");
    Say("");

    Say("5. Button pressed (port 0x%X bit 0 reads 0)", sim::kButtonPort);
    sim.SetPort(sim::kButtonPort, sim::kPressed);
    WaitForStarts(dir, 1);
    Say("   companion started:");
    ShowStart(rec::ReadRecords(dir).front());
    Say("");

    Say("6. Button held for three more polls...");
    if (!sim.WaitForPolls(3, DeadlineMs()))
        Fail("the service stopped polling");
    Say("   starts so far: %zu (one press, one start)", rec::ReadRecords(dir).size());
    Say("");

    Say("7. Button released, then pressed again");
    if (!sim.SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()))
        Fail("the service stopped polling");
    sim.SetPort(sim::kButtonPort, sim::kPressed);
    WaitForStarts(dir, 2);
    Say("   companion started a second time:");
    ShowStart(rec::ReadRecords(dir).back());
    sim.SetPort(sim::kButtonPort, sim::kReleased);
    Say("");

    Say("8. \"%sWGBService.exe\" -qtruninstall", dir.c_str());
    RunToEnd(dir + "WGBService.exe", "-qtruninstall");
    if (!WaitForServiceState(kServiceName, 0))
        Fail("the service was not removed");
    Say("   service %s stopped and deleted", kServiceName);
    Say("");
    Say("Done.");
    return 0;
}
