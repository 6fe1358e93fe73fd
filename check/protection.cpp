#include "check/protection.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE |
                                      FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;

constexpr const char *kTrustedSids[] = {
    "S-1-5-32-544",                                                   // Administrators
    "S-1-5-18",                                                       // SYSTEM
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", // TrustedInstaller
};

std::string SidString(PSID sid) {
    char *text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return "?";
    std::string result = text;
    LocalFree(text);
    return result;
}

bool IsTrusted(PSID sid) {
    const std::string text = SidString(sid);
    for (const char *trusted : kTrustedSids) {
        if (text == trusted)
            return true;
    }
    return false;
}

std::string AccountName(PSID sid) {
    std::string name;
    return KnownAccountName(sid, name) ? name : SidString(sid);
}

void AddOnce(std::vector<std::string> &names, const std::string &name) {
    for (const std::string &known : names) {
        if (known == name)
            return;
    }
    names.push_back(name);
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

std::vector<std::string> OthersWhoMayChange(PSECURITY_DESCRIPTOR descriptor) {
    std::vector<std::string> others;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && !IsTrusted(owner))
        AddOnce(others, AccountName(owner));

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
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
        const PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kChangeRights) != 0 && !IsTrusted(sid))
            AddOnce(others, AccountName(sid));
    }
    return others;
}

DWORD OthersWhoMayChangePath(const std::string &path, std::vector<std::string> &others) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoA(
        path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return error;
    others = OthersWhoMayChange(descriptor);
    LocalFree(descriptor);
    return ERROR_SUCCESS;
}
