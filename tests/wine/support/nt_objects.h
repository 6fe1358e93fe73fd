#pragma once
// The records ntdll's object-namespace calls take (UNICODE_STRING and
// OBJECT_ATTRIBUTES), which the user-mode headers leave out: the tests make
// and remove the device links a driver leaves with them.

#include <windows.h>

#include <cwchar>

namespace wgbtest {

struct NtCountedString {
    USHORT length, maximumLength;
    const wchar_t *buffer;
};

struct NtObjectAttributes {
    ULONG length;
    HANDLE root;
    NtCountedString *name;
    ULONG attributes;
    void *descriptor, *qualityOfService;
};

inline NtCountedString NtString(const wchar_t *text) {
    const auto bytes = static_cast<USHORT>(wcslen(text) * 2);
    return {bytes, bytes, text};
}

// The object of that name, looked up without regard to letter case.
inline NtObjectAttributes NtObjectName(NtCountedString *name) {
    return {sizeof(NtObjectAttributes),  nullptr, name,
            0x40 /* case-insensitive */, nullptr, nullptr};
}

} // namespace wgbtest
