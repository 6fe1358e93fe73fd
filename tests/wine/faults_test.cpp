// Faults from outside the service: a WGB.ini that is binary, huge or as long
// as the board list gets; baseboard product texts that are very long or hold
// letters outside ASCII; the driver's device vanishing while the service
// polls; a missing companion; a session without a logged-on user. Whatever
// happens, the service process lives on, its control handler answers, and a
// stop ends it. Every poll costs 3000 ms, so one service start serves several
// checks where the fault allows.

#include "support/button_process_watch.h"
#include "support/faults_service.h"
#include "support/port_trace.h"
#include "support/service_run.h"
#include "support/sim_client.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace wgbtest;
namespace rec = companion_record;

constexpr char kInstallDir[] = "C:\\Program Files\\WGB Fault Tools";
constexpr char kServedBoard[] = "WGB Test Board";
constexpr char kServedEntry[] = "WGB Test;the test board";

constexpr std::uint16_t kDefaultInput = 0x50C;
constexpr std::uint16_t kAlternativeInput = 0x50D;
// Levels of the default input: bit 0 low while pressed.
constexpr std::uint8_t kReleased = 0xFF;
constexpr std::uint8_t kPressed = 0xFE;

constexpr DWORD kPollIntervalMs = 3000;
// Polls that must pass before "nothing happened" is believed.
constexpr int kQuietPolls = 2;

// Where a companion command line without quotes would start a program
// instead: the path cut at its first and at its second blank.
const std::vector<std::string> kHijackDirs = {"C:\\", "C:\\Program Files\\"};
const std::vector<std::string> kHijackPrograms = {"C:\\Program.exe", "C:\\Program Files\\WGB.exe"};

// ---- INI files and product texts ----------------------------------------------

// Bytes of every value, NUL, CR, LF, '[' and '=' included, the same on every
// run. The first byte is no part of a byte-order mark.
std::string BinaryBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    bytes[0] = 'B';
    return bytes;
}

// Several megabytes: comment lines, then a value of a megabyte at key 1 (cut
// to 255 characters when read), then the served entry at key 2.
std::string HugeIni() {
    constexpr std::size_t kCommentBytes = 4u << 20;
    constexpr std::size_t kValueBytes = 1u << 20;
    const std::string comment = "; a comment line that holds no key of the board list at all\r\n";
    std::string ini = "[MainBoard]\r\n";
    while (ini.size() < kCommentBytes)
        ini += comment;
    return ini + "1=" + std::string(kValueBytes, 'v') + "\r\n2=" + kServedEntry + "\r\n";
}

// Keys 1 to 4096; only lastValue (key 4096) and key 4097 may serve the board.
std::string FullIni(const std::string &lastValue, const std::string &afterLast = "") {
    std::string ini = "[MainBoard]\r\n";
    for (int key = 1; key < 4096; ++key)
        ini += std::to_string(key) + "=Z790-" + std::to_string(key) + ";other board\r\n";
    ini += "4096=" + lastValue + "\r\n";
    if (!afterLast.empty())
        ini += "4097=" + afterLast + "\r\n";
    return ini;
}

// 10,000 characters whose head holds the served fragment and the model
// number of the alternative input. (Wine hands over only the first 127.)
std::string LongProduct() {
    std::string product = "WGB Test Board 6231 ";
    while (product.size() < 10000)
        product += "long product text ";
    product.resize(10000);
    return product;
}

// "Carte mère Élite", Latin-1 in the DMI data; Wine reports it in the ANSI
// code page 1252, where these letters have the same bytes.
constexpr char kLatin1Product[] = "Carte m\xe8re \xc9lite B760";
constexpr char kLatin1Entry[] = "m\xe8re \xc9lite;Latin-1 letters";

// ---- the service under test ---------------------------------------------------

// The service installed from dir; everything is checked against its process.
RunningService InstallFrom(const std::string &dir) {
    RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    EXPECT_TRUE(service.process) << "no service process";
    return service;
}

// Never crashed: the same process, still running, reported running, and its
// control handler answers.
void ExpectAlive(const RunningService &service) {
    ASSERT_TRUE(service.process);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(service.process.get(), 0))
        << "the service process ended";
    const std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(kServiceName);
    ASSERT_TRUE(status);
    EXPECT_EQ(service.pid, status->dwProcessId);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status->dwCurrentState);
    const std::optional<SERVICE_STATUS> answer = InterrogateService(kServiceName);
    ASSERT_TRUE(answer) << "the control handler did not answer";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), answer->dwCurrentState);
}

// A stop reaches the stopped state and the process ends with exit code 0.
void ExpectStops(const RunningService &service) {
    ASSERT_TRUE(service.process);
    EXPECT_TRUE(ControlServiceByName(kServiceName, SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_STOPPED));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
              WaitForSingleObject(service.process.get(), kDeadlineMs));
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeProcess(service.process.get(), &code));
    EXPECT_EQ(0u, code);
}

class FaultTest : public testing::Test {
  protected:
    void SetUp() override {
        Clean();
        SetBoardProduct(kServedBoard);
        ASSERT_TRUE(WaitUntil([] { return !ProcessesNamed("explorer.exe").empty(); }))
            << "no logged-on user";
    }
    void TearDown() override { Clean(); }

    static void Clean() {
        RemoveServiceIfPresent(kServiceName);
        KillProcessesNamed("WGBService.exe");
        KillProcessesNamed("WGB.exe");
        KillProcessesNamed("Program.exe");
        UnloadDriver();
        for (const std::string &program : kHijackPrograms)
            DeleteFileA(program.c_str());
        for (const std::string &dir : kHijackDirs)
            DeleteFileA(CompanionRecordFile(dir).c_str());
    }

    static InstallLayout Layout(const std::string &ini) {
        InstallLayout layout;
        layout.ini = ini;
        return layout;
    }
};

// ---- faults read once, at the service's start -----------------------------------

enum class Outcome {
    Idle,             // the worker ends after the board list; no driver, no poll
    PollsDefault,     // served: polls port 0x50C
    PollsAlternative, // served, "6231" in the product: polls port 0x50D
};

struct StartCase {
    const char *name;
    std::string product;
    std::string ini;
    Outcome outcome;
};

const std::vector<StartCase> kStartCases = {
    {"BinaryIni", kServedBoard, BinaryBytes(64 * 1024), Outcome::Idle},
    // Lines of garbage before the section do not hide it.
    {"BinaryIniThenTheSection", kServedBoard,
     BinaryBytes(64 * 1024) + "\r\n" + MainBoardIni({kServedEntry}), Outcome::PollsDefault},
    {"HugeIni", kServedBoard, HugeIni(), Outcome::PollsDefault},
    {"Ini4096NonMatchingEntries", kServedBoard, FullIni("Z790-4096", kServedEntry), Outcome::Idle},
    {"Ini4096EntriesMatchingAtTheLast", kServedBoard, FullIni(kServedEntry), Outcome::PollsDefault},
    {"ProductOf10000Characters", LongProduct(), MainBoardIni({kServedEntry}),
     Outcome::PollsAlternative},
    {"ProductWithLatin1Letters", kLatin1Product, MainBoardIni({kLatin1Entry}),
     Outcome::PollsDefault},
};

void PrintTo(const StartCase &c, std::ostream *out) {
    *out << c.name;
}

class StartFaultTest : public FaultTest, public testing::WithParamInterface<StartCase> {};

TEST_P(StartFaultTest, ServiceLivesOnAnswersAndStops) {
    const StartCase &c = GetParam();
    SetBoardProduct(c.product);
    const std::string dir = PrepareInstallDir(Layout(c.ini), kInstallDir);
    const RunningService service = InstallFrom(dir);

    if (c.outcome == Outcome::Idle) {
        ASSERT_TRUE(WaitForWorkerEnd(service.pid)) << "the worker did not end";
        EXPECT_FALSE(ServiceExists(kDriverServiceName)) << "a board that is not served";
    } else {
        ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
        SimControl sim;
        PortTrace trace(sim);
        ASSERT_TRUE(trace.WaitForPolls(1));
        const std::uint16_t input =
            c.outcome == Outcome::PollsAlternative ? kAlternativeInput : kDefaultInput;
        for (const sim_trace_entry &entry : sim.Trace()) {
            EXPECT_EQ(SIM_OP_READ, entry.op) << entry;
            EXPECT_EQ(input, entry.port) << entry;
        }
    }
    ExpectAlive(service);
    ExpectStops(service);
}

INSTANTIATE_TEST_SUITE_P(Faults, StartFaultTest, testing::ValuesIn(kStartCases),
                         [](const testing::TestParamInfo<StartCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- faults while the service polls ---------------------------------------------

// Without a logged-on user a press starts nothing; without the companion file
// a press starts nothing either, not even a program at a shorter prefix of its
// path. The service polls on, and once both are back a press starts the
// companion. (The user leaves first: in Wine, explorer.exe may stay once a
// program started by the service has run on the user's desktop.)
TEST_F(FaultTest, PressWithoutUserOrCompanionStartsNothing) {
    const std::string dir = PrepareInstallDir(Layout(MainBoardIni({kServedEntry})), kInstallDir);
    const RunningService service = InstallFrom(dir);
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    SimControl sim;
    PortTrace trace(sim);
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    {
        const SessionWithoutUser noUser;
        ASSERT_TRUE(noUser.active()) << "explorer.exe did not leave";
        ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
        ASSERT_TRUE(trace.WaitForPolls(kQuietPolls));
        EXPECT_TRUE(ProcessesNamed("explorer.exe").empty()) << "the user came back meanwhile";
        EXPECT_TRUE(ReadCompanionRecords(dir).empty()) << "the companion started without a user";
        ExpectAlive(service);
    }

    ASSERT_TRUE(DeleteFileA((dir + "WGB.exe").c_str()));
    for (const std::string &program : kHijackPrograms)
        CopyFileOrFail(ArtifactPath("WGB.exe"), program);
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(trace.WaitForPolls(kQuietPolls));
    for (const std::string &hijackDir : kHijackDirs)
        EXPECT_TRUE(ReadCompanionRecords(hijackDir).empty())
            << "a program started in " << hijackDir;
    ExpectAlive(service);

    CopyFileOrFail(ArtifactPath("WGB.exe"), dir + "WGB.exe");
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
    ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kPressed));
    ASSERT_TRUE(WaitForCompanionRecords(dir, 1));
    EXPECT_EQ(CompanionCommandLine(dir),
              CompanionField(ReadCompanionRecords(dir).front(), rec::kCommandLine));
    for (const std::string &hijackDir : kHijackDirs)
        EXPECT_TRUE(ReadCompanionRecords(hijackDir).empty())
            << "a program started in " << hijackDir;
    ExpectAlive(service);
    ExpectStops(service);
}

// The driver service stopped through the SCM while the service polls: its
// device goes, every later read fails and reads as a held button. One start
// of the companion follows, then the latch holds: no further start, although
// the companion has ended, and the service stays alive and stoppable.
TEST_F(FaultTest, DriverDisappearingWhilePollingCountsAsOnePress) {
    const std::string dir = PrepareInstallDir(Layout(MainBoardIni({kServedEntry})), kInstallDir);
    const RunningService service = InstallFrom(dir);
    ASSERT_TRUE(WaitForDriverLoaded()) << "no driver bring-up";
    {
        SimControl sim;
        PortTrace trace(sim);
        ASSERT_TRUE(trace.SetAndWaitForPoll(kDefaultInput, kReleased));
        ASSERT_TRUE(trace.WaitForPolls(1));
    }
    EXPECT_TRUE(ReadCompanionRecords(dir).empty());

    ASSERT_TRUE(StopDriverService());
    EXPECT_FALSE(SimControl().IsOpen()) << "the stand-in's devices are still there";
    ASSERT_TRUE(WaitForCompanionRecords(dir, 1));
    EXPECT_EQ(CompanionCommandLine(dir),
              CompanionField(ReadCompanionRecords(dir).front(), rec::kCommandLine));
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed("WGB.exe").empty(); }));

    // With the device gone no trace shows the polls: a time of several poll
    // intervals stands in for them. A service that did not hold the latch
    // would start the companion again at the next poll.
    Sleep((kQuietPolls + 1) * kPollIntervalMs);
    EXPECT_EQ(1u, ReadCompanionRecords(dir).size());
    ExpectAlive(service);
    ExpectStops(service);
}

} // namespace
