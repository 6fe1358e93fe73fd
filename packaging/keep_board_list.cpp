// Custom actions of the package (a DLL in its Binary table, deferred, run as
// LocalSystem): keep a WGB.ini that an administrator edited through an
// upgrade or a repair, whatever the installer's own rules for unversioned
// files would do, even with REINSTALLMODE=amus. A list is the administrator's
// unless it is, byte for byte, the list the installed version shipped (the
// hash of it that version recorded in the registry, which AppSearch reads
// before this version writes its own: no custom action may open a package's
// database); one nobody touched takes the new package's list.
//
//   KeepBoardList         before InstallFiles: a copy of an edited list goes
//                         to LIST.keep. CustomActionData: "LIST|HASH", the
//                         hash the installed version recorded.
//   RestoreKeptBoardList  after InstallFiles: LIST.keep replaces what was
//                         installed. CustomActionData: LIST.
//   DropKeptBoardList     rollback of KeepBoardList: LIST.keep goes.
//
// The copy lies in the installation folder, whose access list the package
// sets (administrators and SYSTEM only may write), and KeepBoardList first
// deletes any copy an interrupted run left: only this run's copy is restored.
// The copy keeps the list's attributes, which the restored list gets back; a
// read-only list is copied and replaced all the same. Paths are wide: a
// folder outside the code page is kept too. Each step's outcome goes to the
// installation's log. A step that fails fails the installation.

#include "packaging/custom_action.h"

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kKeptSuffix[] = L".keep";
constexpr wchar_t kDataSeparator = L'|';

void Log(MSIHANDLE install, const std::wstring &text) {
    LogLine(install, L"keep_board_list: ", text);
}

// True when the list is, byte for byte, the one the installed version
// shipped: its hash equals the one that version recorded (its MsiFileHash
// row, four numbers separated by blanks). A list no version vouches for, or
// a version that recorded none, is the administrator's.
bool ShippedAsIs(const std::wstring &list, const std::wstring &recorded) {
    MSIFILEHASHINFO hash{};
    hash.dwFileHashInfoSize = sizeof hash;
    if (MsiGetFileHashW(list.c_str(), 0, &hash) != ERROR_SUCCESS)
        return false;
    const wchar_t *next = recorded.c_str();
    for (const ULONG part : hash.dwData) {
        wchar_t *end = nullptr;
        const unsigned long recordedPart = std::wcstoul(next, &end, 10);
        if (end == next || recordedPart != part)
            return false;
        next = end;
    }
    return *next == L'\0';
}

// Deletes the file, read-only or not; true when it is gone.
bool DeleteAnyFile(const std::wstring &path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != FALSE;
}

UINT Outcome(MSIHANDLE install, bool done, const std::wstring &what) {
    if (done) {
        Log(install, what);
        return ERROR_SUCCESS;
    }
    Log(install, what + L" failed, error " + std::to_wstring(GetLastError()));
    return ERROR_INSTALL_FAILURE;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall KeepBoardList(MSIHANDLE install) {
    const std::wstring data = ActionData(install);
    const size_t separator = data.find(kDataSeparator);
    if (separator == std::wstring::npos || separator == 0)
        return Outcome(install, false, L"no list named");
    const std::wstring list = data.substr(0, separator);
    const std::wstring kept = list + kKeptSuffix;
    if (!DeleteAnyFile(kept))
        return Outcome(install, false, L"deleting a copy an earlier run left, " + kept + L",");
    if (GetFileAttributesW(list.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Outcome(install, true, L"no list at " + list + L": nothing to keep");
    if (ShippedAsIs(list, data.substr(separator + 1)))
        return Outcome(install, true,
                       list + L" is an installed version's own: the new one replaces it");
    return Outcome(install, CopyFileW(list.c_str(), kept.c_str(), TRUE) != FALSE,
                   L"keeping the edited " + list + L" as " + kept);
}

extern "C" __declspec(dllexport) UINT __stdcall RestoreKeptBoardList(MSIHANDLE install) {
    const std::wstring list = ActionData(install);
    if (list.empty())
        return Outcome(install, false, L"no list named");
    const std::wstring kept = list + kKeptSuffix;
    const DWORD attributes = GetFileAttributesW(kept.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Outcome(install, true, L"no edited list kept: " + list + L" is the package's");
    // A read-only file is not replaced: the copy's attributes go last.
    SetFileAttributesW(list.c_str(), FILE_ATTRIBUTE_NORMAL);
    const bool restored = SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL) &&
                          MoveFileExW(kept.c_str(), list.c_str(), MOVEFILE_REPLACE_EXISTING) &&
                          SetFileAttributesW(list.c_str(), attributes);
    return Outcome(install, restored, L"restoring the edited " + list);
}

extern "C" __declspec(dllexport) UINT __stdcall DropKeptBoardList(MSIHANDLE install) {
    const std::wstring list = ActionData(install);
    if (list.empty())
        return Outcome(install, false, L"no list named");
    return Outcome(install, DeleteAnyFile(list + kKeptSuffix), L"dropping the copy of " + list);
}
