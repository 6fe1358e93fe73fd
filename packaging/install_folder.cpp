// Custom action of the package (deferred, run as LocalSystem, before anything
// is installed): a first installation goes only into a folder in which nobody
// but an administrator can have put a file, and which nobody else can swap.
//
//   CheckInstallFolder  refuses, failing the installation, a folder that
//                       already exists and holds anything (Windows Installer
//                       keeps an existing file of a higher version, which the
//                       service would then run as LocalSystem) or that others
//                       may change, one that is a link to another place, and
//                       one under folders whose entries others may delete or
//                       rename (OthersWhoMayChangeParents). Others: anyone
//                       but administrators, SYSTEM, TrustedInstaller and the
//                       account installing, an administrator. The message
//                       names the folder and why. CustomActionData: the
//                       folder, "|", the installing account's SID (UserSID).
//
// Deferred rather than immediate: it sees the folder as LocalSystem, which a
// user's permissions cannot hide entries from, just before the installation
// uses it, not while the script is still being written.

#include "common/ansi_text.h"
#include "common/protection.h"
#include "packaging/custom_action.h"

#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct LocalFreer {
    void operator()(void *memory) const { LocalFree(memory); }
};
using LocalSid = std::unique_ptr<void, LocalFreer>;

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
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND; // not even "." and "..": empty
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &entry));
    error = GetLastError();
    FindClose(find);
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

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckInstallFolder(MSIHANDLE install) {
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
    const LocalSid installer(sid); // the installing account, an administrator

    std::wstring fault = ExistingFolderFault(folder, installer.get());
    if (fault.empty())
        fault = ParentsFault(folder, installer.get());
    if (!fault.empty())
        return Refuse(install, folder, fault);
    LogLine(install, L"install_folder: ", folder + L" is new or empty, under admin-only folders");
    return ERROR_SUCCESS;
}
