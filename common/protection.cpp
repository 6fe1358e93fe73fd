#include "common/protection.h"

#include "common/ansi_text.h"
#include "common/win_handles.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// On the object itself: change its data, delete it, change its permissions.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE |
                                      FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;
// On a folder above: delete or rename what it holds, or the folder itself, or
// give themselves the right to.
constexpr ACCESS_MASK kSwapRights =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

constexpr const char *kTrustedSids[] = {
    "S-1-5-32-544",                                                   // Administrators
    "S-1-5-18",                                                       // SYSTEM
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", // TrustedInstaller
};
// In an entry a new folder inherits: its creator, here the installer (SYSTEM).
constexpr char kCreatorOwner[] = "S-1-3-0";

std::string SidString(PSID sid) {
    UniqueLocalMemory text;
    if (!ConvertSidToStringSidA(sid, reinterpret_cast<char **>(text.put())))
        return "?";
    return static_cast<const char *>(text.get());
}

bool IsTrusted(PSID sid, PSID alsoTrusted) {
    if (alsoTrusted != nullptr && EqualSid(sid, alsoTrusted))
        return true;
    const std::string text = SidString(sid);
    for (const char *trusted : kTrustedSids) {
        if (text == trusted)
            return true;
    }
    return false;
}

// How the names are written: the accounts by a namer, the folders in a code page.
struct Naming {
    AccountNamer account;
    UINT codePage;
};
constexpr Naming kAnsi = {KnownAccountName, CP_ACP};

std::string AccountName(PSID sid, const Naming &naming) {
    std::string name;
    return naming.account(sid, name) ? name : SidString(sid);
}

void AddOnce(std::vector<std::string> &names, const std::string &name) {
    for (const std::string &known : names) {
        if (known == name)
            return;
    }
    names.push_back(name);
}

enum class Applies { ToObject, ToNewFolderInside };

// Who the descriptor grants any of rights, or who owns the object: on the
// object itself, or on a folder made inside it, which inherits the entries
// for folders (and gets the installer as its owner).
std::vector<std::string> Grantees(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights,
                                  PSID alsoTrusted, Applies applies, const Naming &naming) {
    std::vector<std::string> others;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (applies == Applies::ToObject &&
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner &&
        !IsTrusted(owner, alsoTrusted))
        AddOnce(others, AccountName(owner, naming));

    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return others;
    if (!present || dacl == nullptr) {
        AddOnce(others, "Everyone (no access list)");
        return others;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void *entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        const auto *header = static_cast<ACE_HEADER *>(entry);
        // Entries only for what is created inside do not apply to the object.
        const bool applied = applies == Applies::ToObject
                                 ? (header->AceFlags & INHERIT_ONLY_ACE) == 0
                                 : (header->AceFlags & CONTAINER_INHERIT_ACE) != 0;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || !applied)
            continue;
        auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
        const PSID sid = &allowed->SidStart;
        if (applies == Applies::ToNewFolderInside && SidString(sid) == kCreatorOwner)
            continue;
        if ((allowed->Mask & rights) != 0 && !IsTrusted(sid, alsoTrusted))
            AddOnce(others, AccountName(sid, naming));
    }
    return others;
}

// The length of a full path's root: "C:\" or "\\server\share\"; 0 for any
// other path, which has no folders above that can be named.
std::size_t RootLength(const std::wstring &path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return 3;
    if (path.compare(0, 2, L"\\\\") != 0)
        return 0;
    const std::size_t server = path.find(L'\\', 2);
    const std::size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
    return share == std::wstring::npos ? 0 : share + 1;
}

// The folder above path, down to the root; "" above the root.
std::wstring Parent(const std::wstring &path, std::size_t root) {
    std::size_t end = path.size();
    while (end > root && path[end - 1] == L'\\')
        --end;
    if (root == 0 || end <= root)
        return L"";
    const std::size_t cut = path.rfind(L'\\', end - 1);
    return path.substr(0, cut < root ? root : cut);
}

DWORD ReadDescriptor(const std::wstring &path, UniqueLocalMemory &descriptor) {
    PSECURITY_DESCRIPTOR read = nullptr;
    const DWORD error = GetNamedSecurityInfoW(
        path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &read);
    descriptor.reset(read);
    return error;
}

DWORD ObjectOthers(const std::wstring &path, PSID alsoTrusted, const Naming &naming,
                   std::vector<std::string> &others) {
    UniqueLocalMemory descriptor;
    const DWORD error = ReadDescriptor(path, descriptor);
    others = error == ERROR_SUCCESS
                 ? Grantees(descriptor.get(), kChangeRights, alsoTrusted, Applies::ToObject, naming)
                 : std::vector<std::string>{};
    return error;
}

DWORD ParentsOthers(const std::wstring &path, PSID alsoTrusted, const Naming &naming,
                    std::vector<std::string> &others) {
    others.clear();
    const std::size_t root = RootLength(path);
    bool toBeMade = false; // a folder just below this one does not exist yet
    for (std::wstring folder = Parent(path, root); !folder.empty(); folder = Parent(folder, root)) {
        UniqueLocalMemory descriptor;
        const DWORD error = ReadDescriptor(folder, descriptor);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            toBeMade = true;
            continue;
        }
        if (error != ERROR_SUCCESS)
            return error;
        const std::string named = TextFrom(folder, naming.codePage);
        for (const std::string &name :
             Grantees(descriptor.get(), kSwapRights, alsoTrusted, Applies::ToObject, naming))
            AddOnce(others, name + " on " + named);
        if (toBeMade) {
            for (const std::string &name : Grantees(descriptor.get(), kSwapRights, alsoTrusted,
                                                    Applies::ToNewFolderInside, naming))
                AddOnce(others, name + " on the folders to be made in " + named);
        }
        toBeMade = false;
    }
    return ERROR_SUCCESS;
}

} // namespace

bool KnownAccountName(PSID sid, std::string &name) {
    char account[256], domain[256];
    DWORD accountSize = sizeof account, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid, account, &accountSize, domain, &domainSize, &use))
        return false;
    name = domain[0] != '\0' ? std::string(domain) + "\\" + account : std::string(account);
    return true;
}

std::vector<std::string> OthersWhoMayChange(PSECURITY_DESCRIPTOR descriptor, PSID alsoTrusted) {
    return Grantees(descriptor, kChangeRights, alsoTrusted, Applies::ToObject, kAnsi);
}

DWORD OthersWhoMayChangeObject(const std::wstring &path, PSID alsoTrusted,
                               std::vector<std::string> &others) {
    return ObjectOthers(path, alsoTrusted, kAnsi, others);
}

std::vector<std::string> OthersWhoMaySwapChildren(PSECURITY_DESCRIPTOR folder, PSID alsoTrusted) {
    return Grantees(folder, kSwapRights, alsoTrusted, Applies::ToObject, kAnsi);
}

DWORD OthersWhoMayChangeParents(const std::wstring &path, PSID alsoTrusted,
                                std::vector<std::string> &others) {
    return ParentsOthers(path, alsoTrusted, kAnsi, others);
}

DWORD OthersWhoMayChangePath(const std::string &path, AccountNamer utf8Namer,
                             std::vector<std::string> &others) {
    const Naming utf8 = {utf8Namer, CP_UTF8};
    const std::wstring widePath = WideFromAnsi(path);
    DWORD error = ObjectOthers(widePath, nullptr, utf8, others);
    if (error != ERROR_SUCCESS)
        return error;
    std::vector<std::string> above;
    error = ParentsOthers(widePath, nullptr, utf8, above);
    for (const std::string &name : above)
        AddOnce(others, name);
    return error;
}
