#pragma once
// Texts in the ANSI code page: its double-byte characters, and conversion
// to and from UTF-16 (and UTF-8) for the wide calls of code whose paths and
// names are ANSI.

#include <windows.h>

#include <string>

// True when the byte begins a double-byte character in the machine's ANSI code page.
inline bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// text of that code page (CP_ACP, CP_UTF8) in UTF-16, and back.
inline std::wstring WideFrom(const std::string &text, UINT codePage) {
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], size);
    return wide;
}
inline std::string TextFrom(const std::wstring &wide, UINT codePage) {
    const int length = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), length, &text[0], size, nullptr, nullptr);
    return text;
}

inline std::wstring WideFromAnsi(const std::string &text) {
    return WideFrom(text, CP_ACP);
}
inline std::string AnsiFromWide(const std::wstring &text) {
    return TextFrom(text, CP_ACP);
}
inline std::string Utf8FromWide(const std::wstring &text) {
    return TextFrom(text, CP_UTF8);
}
inline std::string Utf8FromAnsi(const std::string &text) {
    return Utf8FromWide(WideFromAnsi(text));
}
inline std::string AnsiFromUtf8(const std::string &text) {
    return AnsiFromWide(WideFrom(text, CP_UTF8));
}

// True when every character of text has a place of its own in the ANSI code
// page: in it, no '?' and no look-alike ("best fit") stands in for one.
inline bool FitsAnsiCodePage(const std::wstring &text) {
    BOOL defaulted = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                        nullptr, 0, nullptr, &defaulted);
    return !defaulted;
}
