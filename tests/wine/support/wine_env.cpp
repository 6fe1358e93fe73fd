#include "support/wine_env.h"

#include "common/ansi_text.h"
#include "common/win_handles.h"

#include <gtest/gtest.h>

#define SECURITY_WIN32
#include <secext.h>

#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>

namespace wgbtest {

std::string PrepareInstallDir(const std::string &dir, const std::optional<std::string> &ini) {
    const std::string root = LayOut(dir, ini);
    EXPECT_FALSE(root.empty()) << "cannot lay out " << dir << " from the build (WGB_ARTIFACTS)";
    return root.empty() ? dir + "\\" : root;
}

void CopyFileOrFail(const std::string &from, const std::string &to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
        << "cannot copy " << from << " to " << to << ": error " << GetLastError();
}

void WriteRegistryValue(HKEY root, const std::string &subKey, const std::string &name, DWORD type,
                        const void *data, DWORD size) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), name.c_str(), 0, type,
                                            static_cast<const BYTE *>(data), size));
}

bool TokenElevated() {
    UniqueHandle token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
           GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

std::string TokenUserName() {
    wchar_t name[512];
    ULONG size = 512;
    return GetUserNameExW(NameSamCompatible, name, &size) ? Utf8FromWide(name) : "";
}

std::string RunProbe(const std::string &args) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string output;
    const std::optional<DWORD> code = RunProgram(Quoted(self) + " --probe " + args, &output);
    // No exit code: the probe did not start, or did not end in time.
    const std::string error = code ? "" : "error " + std::to_string(GetLastError());
    EXPECT_EQ(std::optional<DWORD>(0), code) << args << "\n" << output << error;
    return output;
}

nlohmann::json KeptReport(const std::string &text) {
    static int count = 0;
    const char *folder = std::getenv("WGB_REPORTS");
    // Windows' file functions take "/" for "\\".
    const std::string path =
        "Z:" + std::string(folder ? folder : "/nowhere") + "/" + std::to_string(++count) + ".json";
    EXPECT_TRUE(WriteTextFile(path, text))
        << path << ": run through tests/json/with-reports-validated";
    return nlohmann::json::parse(text, nullptr, false);
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
