// Custom actions of the package (a DLL in its Binary table, deferred, run as
// LocalSystem): keep a WGB.ini that an administrator edited through an
// upgrade or a repair, whatever the installer's own rules for unversioned
// files would do, even with REINSTALLMODE=amus. A list is the administrator's
// unless it is, byte for byte, the list an installed product of ours shipped
// (the MsiFileHash row of its cached package); one nobody touched takes the
// new package's list.
//
//   KeepBoardList         before InstallFiles: a copy of an edited list goes
//                         to LIST.keep. CustomActionData: "LIST|CODES", the
//                         installed products separated by ';'.
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

#include <string>

namespace {

// The MsiFileHash row of the list, whose File key every version keeps.
constexpr const wchar_t *kShippedHashQuery =
    L"SELECT `HashPart1`, `HashPart2`, `HashPart3`, `HashPart4` FROM `MsiFileHash` "
    L"WHERE `File_` = 'WGBIni'";
constexpr wchar_t kKeptSuffix[] = L".keep";
constexpr wchar_t kDataSeparator = L'|';
// INSTALLPROPERTY_LOCALPACKAGE and MSIDBOPEN_READONLY, which the headers
// give only as TEXT() of the build's character set.
constexpr const wchar_t *kLocalPackage = L"LocalPackage";
const LPCWSTR kOpenReadOnly = nullptr;

void Log(MSIHANDLE install, const std::wstring &text) {
    LogLine(install, L"keep_board_list: ", text);
}

// True when the product's cached package holds a hash of its list equal to
// the given one.
bool ShippedByProduct(const std::wstring &productCode, const MSIFILEHASHINFO &hash) {
    wchar_t package[MAX_PATH];
    DWORD size = MAX_PATH;
    if (MsiGetProductInfoW(productCode.c_str(), kLocalPackage, package, &size) != ERROR_SUCCESS)
        return false;
    MsiHandle database, view, record;
    if (MsiOpenDatabaseW(package, kOpenReadOnly, database.put()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(database.get(), kShippedHashQuery, view.put()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS ||
        MsiViewFetch(view.get(), record.put()) != ERROR_SUCCESS)
        return false;
    for (UINT i = 0; i < 4; ++i) {
        if (static_cast<ULONG>(MsiRecordGetInteger(record.get(), i + 1)) != hash.dwData[i])
            return false;
    }
    return true;
}

// True when the list is one of the products' own. A list no product can
// vouch for is the administrator's.
bool ShippedAsIs(const std::wstring &list, const std::wstring &codes) {
    MSIFILEHASHINFO hash{};
    hash.dwFileHashInfoSize = sizeof hash;
    if (MsiGetFileHashW(list.c_str(), 0, &hash) != ERROR_SUCCESS)
        return false;
    for (size_t start = 0; start < codes.size();) {
        size_t end = codes.find(L';', start);
        if (end == std::wstring::npos)
            end = codes.size();
        if (end > start && ShippedByProduct(codes.substr(start, end - start), hash))
            return true;
        start = end + 1;
    }
    return false;
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
