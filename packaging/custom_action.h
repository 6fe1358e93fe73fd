#pragma once
// What the package's custom actions share: an owning MSI handle, a line in
// the installation's log and a deferred action's CustomActionData.

#include "common/win_handles.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

using MsiHandle = UniqueWinHandle<NullHandleTraits<MSIHANDLE, MsiCloseHandle>>;

// A line in the installation's log (/l*v, or MsiLogging's), after the
// action's prefix ("keep_board_list: ").
inline void LogLine(MSIHANDLE install, const wchar_t *prefix, const std::wstring &text) {
    const MsiHandle record(MsiCreateRecord(0));
    MsiRecordSetStringW(record.get(), 0, (prefix + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

// The deferred action's CustomActionData.
inline std::wstring ActionData(MSIHANDLE install) {
    DWORD size = 0;
    wchar_t empty[1] = L"";
    if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA)
        return L"";
    std::wstring data(++size, L'\0');
    if (MsiGetPropertyW(install, L"CustomActionData", &data[0], &size) != ERROR_SUCCESS)
        return L"";
    data.resize(size);
    return data;
}
