// Custom actions of the package (deferred, run as LocalSystem, before anything
// is installed): a first installation goes only into a folder in which nobody
// but an administrator can have put a file, and which nobody else can swap.
//
//   MakeInstallFolder    refuses, failing the installation, a folder that
//                        already exists and holds anything (Windows Installer
//                        keeps an existing file of a higher version, which
//                        the service would then run as LocalSystem) or that
//                        others may change, one that is a link to another
//                        place or lies below one, and one under folders whose
//                        entries others may delete or rename
//                        (OthersWhoMayChangeParents). Others: anyone but
//                        administrators, SYSTEM, TrustedInstaller and the
//                        account installing, an administrator. The message
//                        names the folder and why. Then it makes each missing
//                        folder, top down, each in one call that fails if the
//                        folder exists by then, owned by Administrators and
//                        with the installation folder's protected access list
//                        already in place: no moment in which a folder the
//                        service will run from exists and is someone else's
//                        (on C:\ any user may make folders). CustomActionData:
//                        the folder, "|", the installing account's SID
//                        (UserSID).
//   RemoveMadeFolders    its rollback: removes the folders it made, the
//                        deepest first, while they are empty.
//
// The folders made are listed in a volatile registry key only SYSTEM and
// administrators may write (kMadeFoldersKey), which the rollback reads: a
// failed installation removes what it made and nothing that was there.
//
// Deferred rather than immediate: it sees the folder as LocalSystem, which a
// user's permissions cannot hide entries from, just before the installation
// uses it, not while the script is still being written.

#include "common/ansi_text.h"
#include "common/protection.h"
#include "common/win_handles.h"
#include "packaging/custom_action.h"

#include <sddl.h>

#include <string>
#include <vector>

namespace {

// At most this many of a folder's names in the message.
constexpr std::size_t kNamesShown = 5;

UINT Refuse(MSIHANDLE install, const std::wstring &folder, const std::wstring &why) {
    const std::wstring text = L"WGBService cannot be installed into " + folder + L": " + why;
    LogLine(install, L"install_folder: ", text);
    // Field 0 is a template: "[1]" keeps brackets in the folder's name as they are.
    const MsiHandle record(MsiCreateRecord(1));
    MsiRecordSetStringW(record.get(), 0, L"[1]");
    MsiRecordSetStringW(record.get(), 1, text.c_str());
    MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK),
                      record.get());
    return ERROR_INSTALL_FAILURE;
}

// The names in an existing folder, or false when it cannot be listed.
bool Entries(const std::wstring &folder, std::vector<std::wstring> &names, DWORD &error) {
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileW((folder + L"*").c_str(), &entry));
    if (!find) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND; // not even "." and "..": empty
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find.get(), &entry));
    error = GetLastError();
    return error == ERROR_NO_MORE_FILES;
}

// The accounts, each with where, for the message.
std::wstring Joined(const std::vector<std::string> &others) {
    std::wstring text;
    for (const std::string &name : others)
        text += (text.empty() ? L"" : L"; ") + WideFromAnsi(name);
    return text;
}

std::wstring Listed(const std::vector<std::wstring> &names) {
    std::wstring text;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        text += (i == 0 ? L"" : L", ") + names[i];
    if (names.size() > kNamesShown)
        text += L" and " + std::to_wstring(names.size() - kNamesShown) + L" more";
    return text;
}

constexpr wchar_t kAgain[] = L" Choose another folder with INSTALLDIR=, or remove it first.";

// Why an existing folder (with its closing backslash) is refused; "" when it
// is new, or empty and admin-only.
std::wstring ExistingFolderFault(const std::wstring &folder, PSID installer) {
    const std::wstring noSlash = folder.substr(0, folder.size() - 1);
    const DWORD attributes = GetFileAttributesW(noSlash.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? L""
                   : L"it cannot be read (error " + std::to_wstring(error) + L")." + kAgain;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return L"it is a file, not a folder." + std::wstring(kAgain);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return L"it is a link to another place (a junction or a symbolic link), which its "
               L"maker could point elsewhere." +
               std::wstring(kAgain);
    // Others who may change it could put a file in it after this check, or
    // hold it open to.
    std::vector<std::string> others;
    DWORD error = OthersWhoMayChangeObject(noSlash, installer, others);
    if (error != ERROR_SUCCESS)
        return L"its permissions cannot be read (error " + std::to_wstring(error) + L")." + kAgain;
    if (!others.empty())
        return L"it already exists, and others than administrators may change it (" +
               Joined(others) +
               L"): they could put files in it even now. Remove it, or choose another folder "
               L"with INSTALLDIR=.";
    std::vector<std::wstring> names;
    if (!Entries(folder, names, error))
        return L"its contents cannot be listed (error " + std::to_wstring(error) + L")." + kAgain;
    if (!names.empty())
        return L"it already holds files this package did not put there (" + Listed(names) +
               L"). Windows Installer would keep a file there of a higher version, which the "
               L"service would then run as LocalSystem. Remove them (after an installation by "
               L"hand: WGBService.exe -qtruninstall, then delete the folder), or choose another "
               L"folder with INSTALLDIR=.";
    return L"";
}

// Why the folders above are refused; "" when only administrators may change
// them.
std::wstring ParentsFault(const std::wstring &folder, PSID installer) {
    std::vector<std::string> others;
    const DWORD error =
        OthersWhoMayChangeParents(folder.substr(0, folder.size() - 1), installer, others);
    if (error != ERROR_SUCCESS)
        return L"the permissions of the folders above it cannot be read (error " +
               std::to_wstring(error) + L")." + kAgain;
    if (!others.empty())
        return L"others than administrators may delete or rename what the folders above it "
               L"hold, and so swap the installation folder (" +
               Joined(others) +
               L"). Let only administrators and SYSTEM change those folders, or choose another "
               L"folder with INSTALLDIR=.";
    return L"";
}

// Under HKEY_LOCAL_MACHINE, in the 32-bit view both actions share: the
// folders made, the uppermost first, one value each.
constexpr wchar_t kMadeFoldersKey[] = L"SOFTWARE\\WGBService-MadeFolders";

// The descriptor each folder it makes gets, as the package's access list
// gives the installation folder (MsiLockPermissionsEx): owned by
// Administrators, protected, SYSTEM and Administrators full control, Users
// read and execute, inherited by all inside.
constexpr wchar_t kMadeFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The folder above level ("C:\\A" above "C:\\A\\B"); "" above a drive's root.
std::wstring Above(const std::wstring &level) {
    const std::size_t cut = level.rfind(L'\\');
    return cut == std::wstring::npos || cut < 3 ? L"" : level.substr(0, cut);
}

// The folders of path (with its closing backslash) that do not exist yet,
// the uppermost first.
std::vector<std::wstring> MissingLevels(const std::wstring &folder) {
    std::vector<std::wstring> missing;
    for (std::wstring level = folder.substr(0, folder.size() - 1);
         !level.empty() && GetFileAttributesW(level.c_str()) == INVALID_FILE_ATTRIBUTES;
         level = Above(level))
        missing.insert(missing.begin(), level);
    return missing;
}

// Why a folder above is refused: a link (a junction, a symbolic link, a
// volume mounted in a folder) is judged by its target's rights, and its maker
// can point it elsewhere later. "" when none is.
std::wstring LinkAboveFault(const std::wstring &folder) {
    for (std::wstring level = Above(folder.substr(0, folder.size() - 1)); !level.empty();
         level = Above(level)) {
        const DWORD attributes = GetFileAttributesW(level.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return L"the folder " + level +
                   L" above it is a link to another place (a junction, a symbolic link or a "
                   L"mounted volume), which its maker could point elsewhere." +
                   std::wstring(kAgain);
    }
    return L"";
}

// The list of folders made, emptied.
UniqueRegKey FreshMadeFoldersList() {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMadeFoldersKey, KEY_WOW64_32KEY, 0);
    UniqueRegKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMadeFoldersKey, 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.put(), nullptr);
    return key;
}

// The folders made, as listed, the uppermost first.
std::vector<std::wstring> MadeFolders() {
    std::vector<std::wstring> made;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMadeFoldersKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      key.put()) != ERROR_SUCCESS)
        return made;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16];
        wchar_t folder[MAX_PATH * 4];
        DWORD nameSize = 16, folderSize = sizeof folder - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameSize, nullptr, &type,
                          reinterpret_cast<BYTE *>(folder), &folderSize) != ERROR_SUCCESS)
            break;
        folder[folderSize / sizeof(wchar_t)] = L'\0';
        if (type == REG_SZ)
            made.push_back(folder);
    }
    return made;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall MakeInstallFolder(MSIHANDLE install) {
    // A list an earlier run left (until a restart) is no concern of this one.
    const UniqueRegKey list = FreshMadeFoldersList();
    const std::wstring data = ActionData(install);
    const std::size_t bar = data.find(L'|');
    std::wstring folder = data.substr(0, bar);
    if (folder.empty())
        return Refuse(install, L"the installation folder", L"INSTALLDIR names no folder.");
    if (folder.back() != L'\\')
        folder += L'\\';
    PSID sid = nullptr;
    if (bar != std::wstring::npos)
        ConvertStringSidToSidW(data.substr(bar + 1).c_str(), &sid);
    const UniqueLocalMemory installer(sid); // the installing account, an administrator

    std::wstring fault = ExistingFolderFault(folder, installer.get());
    if (fault.empty())
        fault = LinkAboveFault(folder);
    if (fault.empty())
        fault = ParentsFault(folder, installer.get());
    if (!fault.empty())
        return Refuse(install, folder, fault);

    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMadeFolderSddl, SDDL_REVISION_1,
                                                              &made, nullptr))
        return Refuse(install, folder,
                      L"its access list cannot be made (error " + std::to_wstring(GetLastError()) +
                          L").");
    const UniqueLocalMemory descriptor(made);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, made, FALSE};
    int listed = 0;
    for (const std::wstring &level : MissingLevels(folder)) {
        if (!CreateDirectoryW(level.c_str(), &attributes)) {
            const DWORD error = GetLastError();
            return Refuse(install, folder,
                          error == ERROR_ALREADY_EXISTS
                              ? level +
                                    L" appeared while the installation ran: someone else "
                                    L"may own it." +
                                    std::wstring(kAgain)
                              : level + L" cannot be made (error " + std::to_wstring(error) +
                                    L")." + kAgain);
        }
        const std::wstring name = std::to_wstring(listed++);
        RegSetValueExW(list.get(), name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(level.c_str()),
                       static_cast<DWORD>((level.size() + 1) * sizeof(wchar_t)));
        LogLine(install, L"install_folder: ", L"made " + level);
    }
    LogLine(install, L"install_folder: ", folder + L" is new or empty, under admin-only folders");
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveMadeFolders(MSIHANDLE install) {
    const std::vector<std::wstring> made = MadeFolders();
    for (auto level = made.rbegin(); level != made.rend(); ++level) {
        if (GetFileAttributesW(level->c_str()) == INVALID_FILE_ATTRIBUTES)
            continue; // gone already, with the installation's own folders
        if (!RemoveDirectoryW(level->c_str()))
            break; // not empty: what is above stays too
        LogLine(install, L"install_folder: ", L"removed " + *level);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMadeFoldersKey, KEY_WOW64_32KEY, 0);
    return ERROR_SUCCESS;
}
