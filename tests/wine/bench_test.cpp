// The test bench itself: the I/O driver stand-in loaded through the SCM, its
// control device, and the stub companion's start records.

#include "support/sim_client.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace wgbtest;

constexpr uint16_t kPlainPort = 0x0678;
constexpr uint16_t kHighPort = 0x1234;
constexpr uint16_t kButtonPorts[] = {0x50C, 0x50D};

struct Reply {
    bool ok;
    DWORD error;
    std::vector<uint8_t> out;
};

// One control request with the given lengths; the buffer is large enough for
// both directions and starts with input.
Reply Send(HANDLE device, DWORD code, const std::vector<uint8_t> &input, DWORD inLength,
           DWORD outLength) {
    std::vector<uint8_t> in(input);
    in.resize(inLength > in.size() ? inLength : in.size());
    std::vector<uint8_t> out(outLength + 1, 0);
    DWORD returned = 0;
    SetLastError(ERROR_SUCCESS);
    BOOL ok = DeviceIoControl(device, code, in.data(), inLength, outLength ? out.data() : nullptr,
                              outLength, &returned, nullptr);
    out.resize(ok ? returned : 0);
    return {ok != FALSE, ok ? ERROR_SUCCESS : GetLastError(), out};
}

std::vector<uint8_t> ReadInput(uint16_t port) {
    return {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
}

std::vector<uint8_t> WriteInput(uint32_t port, uint8_t value) {
    return {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8),
            static_cast<uint8_t>(port >> 16), static_cast<uint8_t>(port >> 24), value};
}

Reply ReadPort(HANDLE device, uint16_t port) {
    return Send(device, IOCTL_READ_IO_PORT_BYTE, ReadInput(port), 2, 2);
}

Reply WritePort(HANDLE device, uint32_t port, uint8_t value) {
    return Send(device, IOCTL_WRITE_IO_PORT_BYTE, WriteInput(port, value), 5, 0);
}

uint64_t SystemTimeNow() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

DWORD OpenError() {
    UniqueHandle device = OpenIoDevice();
    return device ? ERROR_SUCCESS : GetLastError();
}

// ---- the driver service ---------------------------------------------------

TEST(StandInService, DevicesExistExactlyWhileTheDriverRuns) {
    UnloadDriver();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), OpenError()) << "nothing registered";

    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), OpenError()) << "registered, stopped";

    ASSERT_TRUE(SetDriverFailStart(true));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), StartDriverService());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kDriverServiceName));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), OpenError()) << "start refused";

    ASSERT_TRUE(SetDriverFailStart(false));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), StartDriverService());
    // The device is there as soon as the start has succeeded: no waiting.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError());
    EXPECT_TRUE(SimControl().IsOpen());

    ASSERT_TRUE(StopDriverService());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), OpenError()) << "stopped again";
    EXPECT_FALSE(SimControl().IsOpen());

    UnloadDriver();
}

// ---- port requests and the control device --------------------------------

class StandInDriver : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadDriver()); }
    static void TearDownTestSuite() { UnloadDriver(); }

    void SetUp() override {
        ASSERT_TRUE(control.IsOpen()) << "control device: error " << GetLastError();
        ASSERT_TRUE(control.Reset());
        device = OpenIoDevice();
        ASSERT_TRUE(device) << "error " << GetLastError();
    }

    SimControl control;
    UniqueHandle device;
};

TEST_F(StandInDriver, AnswersBothRequestsWithTheirLayouts) {
    for (uint16_t port : kButtonPorts) {
        Reply r = ReadPort(device.get(), port);
        ASSERT_TRUE(r.ok) << "error " << r.error;
        ASSERT_EQ(2u, r.out.size());
        EXPECT_EQ(0xFF, r.out[0]) << "button input 0x" << std::hex << port << " starts released";
        EXPECT_EQ(SIM_READ_FILLER, r.out[1]) << "byte 1 carries something to ignore";
    }

    // A port above 0xFF travels whole in both requests.
    ASSERT_TRUE(control.SetPort(kHighPort & 0xFF, 0x11));
    ASSERT_TRUE(control.SetPort(kHighPort, 0x5A));
    EXPECT_EQ(0x5A, ReadPort(device.get(), kHighPort).out.at(0));

    Reply w = WritePort(device.get(), kHighPort, 0xC3);
    ASSERT_TRUE(w.ok) << "error " << w.error;
    EXPECT_TRUE(w.out.empty());
    EXPECT_EQ(0xC3, control.Port(kHighPort));
    EXPECT_EQ(0x11, control.Port(kHighPort & 0xFF));
    EXPECT_EQ(0xC3, ReadPort(device.get(), kHighPort).out.at(0));
}

struct BadLengths {
    const char *what;
    DWORD code;
    DWORD inLength;
    DWORD outLength;
    uint32_t port; // a write's 32-bit port field
};

TEST_F(StandInDriver, RejectsWrongLengthsWithoutPortAccess) {
    const BadLengths cases[] = {
        {"read, input 1", IOCTL_READ_IO_PORT_BYTE, 1, 2, kPlainPort},
        {"read, input 4", IOCTL_READ_IO_PORT_BYTE, 4, 2, kPlainPort},
        {"read, output 1", IOCTL_READ_IO_PORT_BYTE, 2, 1, kPlainPort},
        {"read, output 4", IOCTL_READ_IO_PORT_BYTE, 2, 4, kPlainPort},
        {"read, no output", IOCTL_READ_IO_PORT_BYTE, 2, 0, kPlainPort},
        {"write, input 2", IOCTL_WRITE_IO_PORT_BYTE, 2, 0, kPlainPort},
        {"write, input 4", IOCTL_WRITE_IO_PORT_BYTE, 4, 0, kPlainPort},
        {"write, input 8", IOCTL_WRITE_IO_PORT_BYTE, 8, 0, kPlainPort},
        {"write, output 2", IOCTL_WRITE_IO_PORT_BYTE, 5, 2, kPlainPort},
        {"write, port upper half set", IOCTL_WRITE_IO_PORT_BYTE, 5, 0, 0x10000u | kPlainPort},
    };
    ASSERT_TRUE(control.SetPort(kPlainPort, 0x42));
    for (const BadLengths &c : cases) {
        SCOPED_TRACE(c.what);
        Reply r = Send(device.get(), c.code, WriteInput(c.port, 0x99), c.inLength, c.outLength);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), r.error);
        EXPECT_EQ(0x42, control.Port(kPlainPort)) << "the port was written";
    }

    std::vector<sim_trace_entry> trace = control.Trace();
    ASSERT_EQ(std::size(cases), trace.size());
    for (size_t i = 0; i < trace.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(SIM_STATUS_INVALID_PARAMETER, trace[i].status);
        EXPECT_EQ(cases[i].inLength, trace[i].in_len);
        EXPECT_EQ(cases[i].outLength, trace[i].out_len);
    }
    std::optional<sim_counters> counters = control.Counters();
    ASSERT_TRUE(counters);
    EXPECT_EQ(0u, counters->reads + counters->writes) << "a port was accessed";
    EXPECT_EQ(std::size(cases), counters->failed);
}

TEST_F(StandInDriver, TracesRequestsInOrderWithSystemTime) {
    struct Step {
        uint8_t op;
        uint16_t port;
        uint8_t value;
    };
    const Step steps[] = {{SIM_OP_READ, 0x50C, 0xFF},      {SIM_OP_WRITE, kPlainPort, 0x01},
                          {SIM_OP_READ, kPlainPort, 0x01}, {SIM_OP_WRITE, kHighPort, 0x7E},
                          {SIM_OP_READ, 0x50D, 0xFF},      {SIM_OP_READ, kHighPort, 0x7E}};

    const uint64_t before = SystemTimeNow();
    for (const Step &s : steps) {
        Reply r = s.op == SIM_OP_READ ? ReadPort(device.get(), s.port)
                                      : WritePort(device.get(), s.port, s.value);
        ASSERT_TRUE(r.ok) << "error " << r.error;
    }
    const uint64_t after = SystemTimeNow();

    std::vector<sim_trace_entry> trace = control.Trace();
    ASSERT_EQ(std::size(steps), trace.size());
    uint64_t previous = before;
    for (size_t i = 0; i < trace.size(); ++i) {
        SCOPED_TRACE(Describe(trace[i]));
        EXPECT_EQ(i, trace[i].seq);
        EXPECT_EQ(steps[i].op, trace[i].op);
        EXPECT_EQ(steps[i].port, trace[i].port);
        EXPECT_EQ(steps[i].value, trace[i].value);
        EXPECT_EQ(SIM_STATUS_SUCCESS, trace[i].status);
        EXPECT_EQ(steps[i].op == SIM_OP_READ ? 2u : 5u, trace[i].in_len);
        EXPECT_EQ(steps[i].op == SIM_OP_READ ? 2u : 0u, trace[i].out_len);
        EXPECT_GE(trace[i].time, previous);
        previous = trace[i].time;
    }
    EXPECT_LE(previous, after);
    EXPECT_EQ(std::size(steps) - 2, control.Trace(2).size()) << "reading on from entry 2";

    ASSERT_TRUE(control.ClearTrace());
    EXPECT_TRUE(control.Trace().empty());
    ASSERT_TRUE(ReadPort(device.get(), kPlainPort).ok);
    trace = control.Trace();
    ASSERT_EQ(1u, trace.size());
    EXPECT_EQ(0u, trace[0].seq) << "numbering starts again";
}

TEST_F(StandInDriver, FailsReadsOrWritesOnRequest) {
    struct Failing {
        bool reads;
        bool writes;
    };
    for (Failing f : {Failing{true, false}, Failing{false, true}, Failing{true, true}}) {
        SCOPED_TRACE(testing::Message()
                     << "reads fail " << f.reads << ", writes fail " << f.writes);
        ASSERT_TRUE(control.SetPort(kPlainPort, 0x42));
        ASSERT_TRUE(control.ClearTrace());
        ASSERT_TRUE(control.FailRequests(f.reads, f.writes));

        Reply r = ReadPort(device.get(), kPlainPort);
        Reply w = WritePort(device.get(), kPlainPort, 0x24);
        EXPECT_EQ(!f.reads, r.ok);
        EXPECT_EQ(f.reads ? static_cast<DWORD>(ERROR_IO_DEVICE) : 0u, r.error);
        EXPECT_EQ(!f.writes, w.ok);
        EXPECT_EQ(f.writes ? static_cast<DWORD>(ERROR_IO_DEVICE) : 0u, w.error);
        EXPECT_EQ(f.writes ? 0x42 : 0x24, control.Port(kPlainPort));

        std::vector<sim_trace_entry> trace = control.Trace();
        ASSERT_EQ(2u, trace.size());
        EXPECT_EQ(f.reads ? SIM_STATUS_IO_DEVICE_ERROR : SIM_STATUS_SUCCESS, trace[0].status);
        EXPECT_EQ(f.writes ? SIM_STATUS_IO_DEVICE_ERROR : SIM_STATUS_SUCCESS, trace[1].status);

        ASSERT_TRUE(control.FailRequests(false, false));
        EXPECT_TRUE(ReadPort(device.get(), kPlainPort).ok);
        EXPECT_TRUE(WritePort(device.get(), kPlainPort, 0x42).ok);
    }
}

TEST_F(StandInDriver, RefusesOpensUntilToldOtherwise) {
    struct Refusal {
        uint32_t status;
        DWORD error;
    };
    for (Refusal r : {Refusal{SIM_STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION},
                      Refusal{SIM_STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED}}) {
        SCOPED_TRACE(testing::Message() << "error " << r.error);
        ASSERT_TRUE(control.Reset());
        ASSERT_TRUE(control.RefuseOpens(r.status));
        EXPECT_EQ(r.error, OpenError());
        EXPECT_EQ(r.error, OpenError()) << "a second open";
        EXPECT_TRUE(ReadPort(device.get(), kPlainPort).ok) << "a handle opened before";
        std::optional<sim_counters> counters = control.Counters();
        ASSERT_TRUE(counters);
        EXPECT_EQ(0u, counters->opens) << "a refused open reached the device";

        control.AcceptOpens();
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError()) << "refusal over";
    }

    ASSERT_TRUE(control.RefuseOpens(SIM_STATUS_ACCESS_DENIED));
    ASSERT_TRUE(control.Reset());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError()) << "a reset ends a refusal";
    EXPECT_FALSE(control.RefuseOpens(SIM_STATUS_IO_DEVICE_ERROR)) << "no such refusal";
}

// ---- the stub companion ---------------------------------------------------

class StubCompanion : public testing::Test {
  protected:
    const std::string dir = "C:\\bench dir\\with blanks";
    const std::string workDir = "C:\\bench cwd";
    const std::string exe = dir + "\\WGB.exe";

    void SetUp() override {
        RemoveDirectoryTree("C:\\bench dir");
        ASSERT_TRUE(CreateDirectoryA("C:\\bench dir", nullptr));
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        CreateDirectoryA(workDir.c_str(), nullptr);
        CopyFileOrFail(ArtifactPath("WGB.exe"), exe);
    }
    void TearDown() override {
        DeleteFileA(CompanionStayFile(dir).c_str());
        RemoveDirectoryTree("C:\\bench dir");
    }

    // Starts the companion with cmdLine in workDir; the process handle.
    UniqueHandle Start(const std::string &cmdLine, DWORD *pid) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::string line = cmdLine;
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            workDir.c_str(), &si, &pi)) {
            ADD_FAILURE() << "cannot start " << cmdLine << ": error " << GetLastError();
            return UniqueHandle();
        }
        CloseHandle(pi.hThread);
        *pid = pi.dwProcessId;
        return UniqueHandle(pi.hProcess);
    }
};

std::string SelfObjectName(HANDLE object) {
    char name[256] = "";
    DWORD needed = 0;
    GetUserObjectInformationA(object, UOI_NAME, name, sizeof name, &needed);
    return name;
}

TEST_F(StubCompanion, RecordsHowItWasStarted) {
    // A value with a tab and a percent sign shows that records keep any text.
    const std::string userVar = "50% of\ta value";
    ASSERT_TRUE(SetEnvironmentVariableA("WGB_USER_VAR", userVar.c_str()));
    const std::string cmdLine = "\"" + exe + "\" /S \"two words\" plain";

    const uint64_t before = SystemTimeNow();
    DWORD pid = 0;
    UniqueHandle process = Start(cmdLine, &pid);
    ASSERT_TRUE(process);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.get(), kDeadlineMs))
        << "it leaves at once without a stay file";
    const uint64_t after = SystemTimeNow();
    SetEnvironmentVariableA("WGB_USER_VAR", nullptr);

    std::vector<CompanionRecord> records = ReadCompanionRecords(dir);
    ASSERT_EQ(1u, records.size());
    CompanionRecord &r = records[0];
    EXPECT_EQ(cmdLine, r["cmdline"]);
    EXPECT_EQ((std::vector<std::string>{exe, "/S", "two words", "plain"}), CompanionArgv(r));
    EXPECT_EQ(exe, r["exe"]);
    EXPECT_EQ(workDir, r["cwd"]);
    EXPECT_EQ(std::to_string(pid), r["pid"]);
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), r["ppid"]);
    const uint64_t started = std::stoull(r["time"]);
    EXPECT_GE(started, before);
    EXPECT_LE(started, after);

    char user[256] = "";
    DWORD size = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &size));
    EXPECT_EQ(user, r["user"]);
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(std::to_string(session), r["session"]);
    EXPECT_EQ(SelfObjectName(GetProcessWindowStation()), r["winsta"]);
    EXPECT_EQ(SelfObjectName(GetThreadDesktop(GetCurrentThreadId())), r["desktop"]);
    EXPECT_EQ(userVar, r["env.WGB_USER_VAR"]);
    EXPECT_FALSE(r["env.USERPROFILE"].empty());
    EXPECT_EQ("0", r["stay"]);
}

TEST_F(StubCompanion, StaysWhileTheStayFileExists) {
    WriteTextFile(CompanionStayFile(dir), "");
    DWORD pid = 0;
    UniqueHandle process = Start("\"" + exe + "\"", &pid);
    ASSERT_TRUE(process);
    ASSERT_TRUE(WaitUntil([&] { return ReadCompanionRecords(dir).size() == 1; }));
    EXPECT_EQ("1", ReadCompanionRecords(dir)[0]["stay"]);
    // It wrote its record with the stay file present, so it must still run.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 0));

    DWORD secondPid = 0;
    UniqueHandle second = Start("\"" + exe + "\" /S", &secondPid);
    ASSERT_TRUE(second);
    ASSERT_TRUE(WaitUntil([&] { return ReadCompanionRecords(dir).size() == 2; }))
        << "a second start appends a second record";
    EXPECT_EQ(std::to_string(secondPid), ReadCompanionRecords(dir)[1]["pid"]);

    ASSERT_TRUE(DeleteFileA(CompanionStayFile(dir).c_str()));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.get(), kDeadlineMs));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(second.get(), kDeadlineMs));
}

} // namespace
