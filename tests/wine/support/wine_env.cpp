#include "support/wine_env.h"

#include "common/win_handles.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace wgbtest {

namespace {

constexpr DWORD kPollMs = 50;

std::string Lowered(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void CreateDirectories(const std::string &dir) {
    for (size_t pos = dir.find('\\', 3); pos != std::string::npos; pos = dir.find('\\', pos + 1))
        CreateDirectoryA(dir.substr(0, pos).c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
}

} // namespace

std::string WindowsPathOf(const std::string &unixPath) {
    std::string path = "Z:" + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string ArtifactPath(const std::string &fileName) {
    const char *dir = std::getenv("WGB_ARTIFACTS");
    if (dir == nullptr || *dir == '\0') {
        ADD_FAILURE() << "WGB_ARTIFACTS is not set: run the test through run-in-wine";
        return fileName;
    }
    return WindowsPathOf(dir) + "\\" + fileName;
}

std::string Quoted(const std::string &text) {
    std::string quoted = "\"" + text;
    for (auto it = text.rbegin(); it != text.rend() && *it == '\\'; ++it)
        quoted += '\\';
    return quoted + "\"";
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadTextFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteTextFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void CopyFileOrFail(const std::string &from, const std::string &to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
        << "cannot copy " << from << " to " << to << ": error " << GetLastError();
}

void RemoveDirectoryTree(const std::string &dir) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string PrepareInstallDir(const InstallLayout &layout, const std::string &dir) {
    RemoveDirectoryTree(dir);
    CreateDirectories(dir);
    const std::string root = dir + "\\";
    CopyFileOrFail(ArtifactPath("WGBService.exe"), root + layout.exeName);
    if (layout.driver32)
        CopyFileOrFail(ArtifactPath("Quendra.sys"), root + "Quendra.sys");
    if (layout.driver64 && FileExists(ArtifactPath("Quendra_X64.sys")))
        CopyFileOrFail(ArtifactPath("Quendra_X64.sys"), root + "Quendra_X64.sys");
    if (layout.companion)
        CopyFileOrFail(ArtifactPath("WGB.exe"), root + "WGB.exe");
    if (layout.ini)
        WriteTextFile(root + "WGB.ini", *layout.ini);
    return root;
}

std::string MainBoardIni(const std::vector<std::string> &values) {
    std::string ini = "[MainBoard]\r\n";
    for (size_t i = 0; i < values.size(); ++i)
        ini += std::to_string(i + 1) + "=" + values[i] + "\r\n";
    return ini;
}

void SetBoardProduct(const std::string &product) {
    WriteTextFile("Z:\\sys\\class\\dmi\\id\\board_name", product + "\n");
}

bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (cond())
            return true;
        if (GetTickCount64() >= deadline)
            return cond();
        Sleep(kPollMs);
    }
}

namespace {

std::optional<DWORD> Run(const std::string &cmdLine, HANDLE stdoutWrite, DWORD timeoutMs) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (stdoutWrite != nullptr) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = stdoutWrite;
        si.hStdError = stdoutWrite;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION pi = {};
    std::string line = cmdLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, stdoutWrite != nullptr, 0, nullptr,
                        nullptr, &si, &pi))
        return std::nullopt;
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

} // namespace

std::optional<DWORD> RunProgram(const std::string &cmdLine, DWORD timeoutMs) {
    return Run(cmdLine, nullptr, timeoutMs);
}

std::optional<DWORD> RunProgramCapture(const std::string &cmdLine, std::string &output,
                                       DWORD timeoutMs) {
    // The child writes into a file: a pipe would need a reader thread.
    char tempDir[MAX_PATH];
    char tempFile[MAX_PATH];
    GetTempPathA(MAX_PATH, tempDir);
    GetTempFileNameA(tempDir, "wgb", 0, tempFile);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    std::optional<DWORD> code;
    {
        UniqueHandle file(CreateFileA(tempFile, GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return std::nullopt;
        code = Run(cmdLine, file.get(), timeoutMs);
    }
    output = ReadTextFile(tempFile);
    DeleteFileA(tempFile);
    return code;
}

std::vector<DWORD> ProcessesNamed(const std::string &exeName) {
    std::vector<DWORD> pids;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return pids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    const std::string wanted = Lowered(exeName);
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        if (Lowered(entry.szExeFile) == wanted)
            pids.push_back(entry.th32ProcessID);
    return pids;
}

void KillProcessesNamed(const std::string &exeName) {
    for (DWORD pid : ProcessesNamed(exeName)) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (process) {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), kDeadlineMs);
        }
    }
}

int ThreadCount(DWORD pid) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == pid)
            ++count;
    return count;
}

namespace {

UniqueServiceHandle OpenManager() {
    return UniqueServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

UniqueServiceHandle OpenService(SC_HANDLE manager, const std::string &name) {
    return UniqueServiceHandle(OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS));
}

} // namespace

bool ServiceExists(const std::string &name) {
    UniqueServiceHandle manager = OpenManager();
    return static_cast<bool>(OpenService(manager.get(), name));
}

std::optional<SERVICE_STATUS_PROCESS> ServiceStatus(const std::string &name) {
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service = OpenService(manager.get(), name);
    if (!service)
        return std::nullopt;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE *>(&status), sizeof status, &needed))
        return std::nullopt;
    return status;
}

DWORD ServiceState(const std::string &name) {
    std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(name);
    return status ? status->dwCurrentState : 0;
}

std::optional<ServiceConfig> QueryServiceConfiguration(const std::string &name) {
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service = OpenService(manager.get(), name);
    if (!service)
        return std::nullopt;
    DWORD needed = 0;
    QueryServiceConfigA(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    if (!QueryServiceConfigA(service.get(), config, needed, &needed))
        return std::nullopt;
    ServiceConfig result;
    result.serviceType = config->dwServiceType;
    result.startType = config->dwStartType;
    result.errorControl = config->dwErrorControl;
    result.imagePath = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    result.account = config->lpServiceStartName ? config->lpServiceStartName : "";
    return result;
}

bool WaitForServiceState(const std::string &name, DWORD state, DWORD timeoutMs) {
    return WaitUntil([&] { return ServiceState(name) == state; }, timeoutMs);
}

bool ControlServiceByName(const std::string &name, DWORD control) {
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service = OpenService(manager.get(), name);
    SERVICE_STATUS status = {};
    return service && ControlService(service.get(), control, &status);
}

bool StartServiceByName(const std::string &name) {
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service = OpenService(manager.get(), name);
    return service && StartServiceA(service.get(), 0, nullptr);
}

void RemoveServiceIfPresent(const std::string &name) {
    {
        UniqueServiceHandle manager = OpenManager();
        UniqueServiceHandle service = OpenService(manager.get(), name);
        if (!service)
            return;
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED)
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitUntil([&] {
            return QueryServiceStatus(service.get(), &status) &&
                   status.dwCurrentState == SERVICE_STOPPED;
        });
        DeleteService(service.get());
    }
    EXPECT_TRUE(WaitUntil([&] { return !ServiceExists(name); }))
        << "service " << name << " was not removed";
}

std::optional<DWORD> ReadRegistryDword(HKEY root, const std::string &subKey,
                                       const std::string &value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegGetValueA(root, subKey.c_str(), value.c_str(), RRF_RT_REG_DWORD, nullptr, &data,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

void WriteRegistryDword(HKEY root, const std::string &subKey, const std::string &value,
                        DWORD data) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), value.c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE *>(&data), sizeof data));
}

std::string ServiceKey(const std::string &serviceName) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + serviceName;
}

} // namespace wgbtest
