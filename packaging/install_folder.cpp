// Custom action of the package (deferred, run as LocalSystem, before anything
// is installed): a first installation goes only into a folder in which nobody
// but an administrator can have put a file, and which nobody else can swap.
//
//   CheckInstallFolder  refuses, failing the installation, a folder that
//                       already holds anything (Windows Installer keeps an
//                       existing file of a higher version, which the service
//                       would then run as LocalSystem), that is a link to
//                       another place, or that lies under folders whose
//                       entries others may delete or rename
//                       (OthersWhoMayChangeParents; the account installing,
//                       an administrator, counts as one). The message names
//                       the folder and why. CustomActionData: the folder,
//                       "|", the installing account's SID (UserSID).
//
// Deferred rather than immediate: it sees the folder as LocalSystem, which a
// user's permissions cannot hide entries from, just before the installation
// uses it, not while the script is still being written.

#include "common/protection.h"
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

std::wstring Wide(const std::string &text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], size);
    result.resize(result.size() - 1);
    return result;
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

std::wstring Listed(const std::vector<std::wstring> &names) {
    std::wstring text;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        text += (i == 0 ? L"" : L", ") + names[i];
    if (names.size() > kNamesShown)
        text += L" and " + std::to_wstring(names.size() - kNamesShown) + L" more";
    return text;
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
    const std::wstring noSlash = folder.substr(0, folder.size() - 1);
    const std::wstring again = L" Choose another folder with INSTALLDIR=, or remove it first.";

    const DWORD attributes = GetFileAttributesW(noSlash.c_str());
    const DWORD missing = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return Refuse(install, folder, L"it is a file, not a folder." + again);
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return Refuse(install, folder,
                          L"it is a link to another place (a junction or a symbolic link), "
                          L"which its maker could point elsewhere." +
                              again);
        std::vector<std::wstring> names;
        DWORD error = ERROR_SUCCESS;
        if (!Entries(folder, names, error))
            return Refuse(install, folder,
                          L"its contents cannot be listed (error " + std::to_wstring(error) +
                              L")." + again);
        if (!names.empty())
            return Refuse(install, folder,
                          L"it already holds files this package did not put there (" +
                              Listed(names) +
                              L"). Windows Installer would keep a file there of a higher "
                              L"version, which the service would then run as LocalSystem. "
                              L"Remove them (after an installation by hand: "
                              L"WGBService.exe -qtruninstall, then delete the folder), or "
                              L"choose another folder with INSTALLDIR=.");
    } else if (missing != ERROR_FILE_NOT_FOUND && missing != ERROR_PATH_NOT_FOUND) {
        return Refuse(install, folder,
                      L"it cannot be read (error " + std::to_wstring(missing) + L")." + again);
    }

    PSID installer = nullptr;
    if (bar != std::wstring::npos)
        ConvertStringSidToSidW(data.substr(bar + 1).c_str(), &installer);
    std::vector<std::string> others;
    const DWORD error = OthersWhoMayChangeParents(noSlash, installer, others);
    LocalFree(installer);
    if (error != ERROR_SUCCESS)
        return Refuse(install, folder,
                      L"the permissions of the folders above it cannot be read (error " +
                          std::to_wstring(error) + L")." + again);
    if (!others.empty()) {
        std::wstring who;
        for (const std::string &name : others)
            who += (who.empty() ? L"" : L"; ") + Wide(name);
        return Refuse(install, folder,
                      L"others than administrators may delete or rename what the folders "
                      L"above it hold, and so swap the installation folder (" +
                          who +
                          L"). Let only administrators and SYSTEM change those folders, or "
                          L"choose another folder with INSTALLDIR=.");
    }
    LogLine(install, L"install_folder: ", folder + L" is new or empty, under admin-only folders");
    return ERROR_SUCCESS;
}
