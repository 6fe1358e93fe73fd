#pragma once
// Texts in the ANSI code page: its double-byte characters, and conversion
// to and from UTF-16 for the wide calls of code whose paths and names are ANSI.

#include <windows.h>

#include <string>

// True when the byte begins a double-byte character in the machine's ANSI code page.
inline bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

inline std::wstring WideFromAnsi(const std::string &text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], size);
    result.resize(result.size() - 1);
    return result;
}

inline std::string AnsiFromWide(const std::wstring &text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], size, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}
