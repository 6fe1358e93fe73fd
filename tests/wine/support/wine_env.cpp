#include "support/wine_env.h"

#include "button/process_lookup.h"
#include "common/ascii_case.h"
#include "common/win_handles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace wgbtest {

namespace {
constexpr DWORD kPollMs = 50;
} // namespace

std::string ArtifactPath(const std::string &fileName) {
    const char *dir = std::getenv("WGB_ARTIFACTS");
    if (dir == nullptr)
        ADD_FAILURE() << "WGB_ARTIFACTS is not set: run the test through run-in-wine";
    std::string path = std::string("Z:") + (dir ? dir : "") + "/" + fileName;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

void MakeEmptyDir(const std::string &dir) {
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found))
        DeleteFileA((dir + "\\" + found.cFileName).c_str());
    FindClose(find);
    for (size_t pos = dir.find('\\', 3); pos != std::string::npos; pos = dir.find('\\', pos + 1))
        CreateDirectoryA(dir.substr(0, pos).c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
}

std::string PrepareInstallDir(const std::string &dir, const std::optional<std::string> &ini) {
    MakeEmptyDir(dir);
    const std::string root = dir + "\\";
    for (const char *file : {"WGBService.exe", "Quendra.sys", "Quendra_X64.sys", "WGB.exe"})
        if (FileExists(ArtifactPath(file)))
            CopyFileOrFail(ArtifactPath(file), root + file);
    if (ini)
        WriteTextFile(root + "WGB.ini", *ini);
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
    while (!cond()) {
        if (GetTickCount64() >= deadline)
            return cond();
        Sleep(kPollMs);
    }
    return true;
}

std::optional<DWORD> RunProgram(const std::string &cmdLine, std::string *output) {
    // The child writes into a file: a pipe would need a reader thread.
    char file[MAX_PATH] = "";
    char tempDir[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, tempDir);
    GetTempFileNameA(tempDir, "wgb", 0, file);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle out(CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out.get();
    PROCESS_INFORMATION pi = {};
    std::string line = cmdLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
        return std::nullopt;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    std::optional<DWORD> code;
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.get(), kDeadlineMs) != WAIT_OBJECT_0)
        TerminateProcess(process.get(), 1);
    else if (GetExitCodeProcess(process.get(), &exitCode))
        code = exitCode;
    out.reset();
    if (output) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        *output = text.str();
    }
    DeleteFileA(file);
    return code;
}

std::vector<DWORD> ProcessesNamed(const std::string &exeName) {
    std::vector<DWORD> pids;
    for (const ProcessEntry &process : SnapshotProcesses())
        if (EqualIgnoringAsciiCase(process.exeName.c_str(), exeName.c_str()))
            pids.push_back(process.processId);
    return pids;
}

void KillProcessesNamed(const std::string &exeName) {
    for (DWORD pid : ProcessesNamed(exeName)) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (process && TerminateProcess(process.get(), 1))
            WaitForSingleObject(process.get(), kDeadlineMs);
    }
}

void WriteRegistryValue(HKEY root, const std::string &subKey, const std::string &name, DWORD type,
                        const void *data, DWORD size) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), name.c_str(), 0, type,
                                            static_cast<const BYTE *>(data), size));
}

std::string RunProbe(const std::string &args) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string output;
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(self) + " --probe " + args, &output))
        << args << "\n"
        << output;
    return output;
}

int TestMain(int argc, char **argv, int (*probe)(int, char **)) {
    if (argc > 1 && std::strcmp(argv[1], "--probe") == 0) {
        // A probe's report is compared byte for byte: no CR before each LF.
        _setmode(_fileno(stdout), _O_BINARY);
        return probe(argc - 2, argv + 2);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace wgbtest
