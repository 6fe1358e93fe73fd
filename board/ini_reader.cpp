#include "board/ini_reader.h"

#include <windows.h>

namespace {
constexpr DWORD kIniValueBufferSize = 256;
}

std::string ReadIniString(const char *path, const char *section, const char *key,
                          const char *defaultText) {
    char buffer[kIniValueBufferSize] = {};
    GetPrivateProfileStringA(section, key, defaultText, buffer, kIniValueBufferSize, path);
    return buffer;
}
