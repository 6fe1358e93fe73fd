// Who may change a file or folder or swap it from above: the rights on an
// object that let others change it, those on a folder that let others delete
// or rename what it holds, and the walk over every folder above a path, those
// that exist and those still to be made.

#include "common/protection.h"
#include "support/wine_env.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace wgbtest;

struct LocalFreer {
    void operator()(void *memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

LocalMemory Descriptor(const char *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    return LocalMemory(descriptor);
}

LocalMemory Sid(const char *text) {
    PSID sid = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidA(text, &sid)) << text;
    return LocalMemory(sid);
}

// On the object itself, rights to write, append, delete, change permissions
// or take ownership let others change it. On a folder, only deleting or
// renaming entries, deleting or renaming the folder, its permissions or its
// ownership let others swap what it holds. Reading does not, nor entries
// only for what is made inside. The installing account may be trusted too.
TEST(Protection, OthersWhoMayChangeAnObjectOrSwapAFolderSEntries) {
    // C:\ as Windows 10 has it: users may make folders there, and modify
    // what they make.
    constexpr char kDriveRoot[] =
        "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI(A;OICIIO;GA;;;CO)"
        "(A;;FA;;;SY)(A;;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)";
    const std::string users = "BUILTIN\\Users", authenticated = "NT AUTHORITY\\Authenticated Users";
    const struct {
        const char *sddl, *alsoTrusted;
        std::vector<std::string> mayChange, maySwap;
    } cases[] = {
        {kDriveRoot, nullptr, {authenticated}, {}},
        {"O:BAD:(A;;0x2;;;BU)", nullptr, {users}, {}},     // write alone
        {"O:BAD:(A;;SD;;;BU)", nullptr, {users}, {users}}, // delete alone
        {"O:BAD:(A;;GW;;;BU)(A;;GA;;;AU)", nullptr, {users, authenticated}, {authenticated}},
        {"O:BAD:(A;;0x4;;;WD)(A;;0x40;;;IU)", // append, delete entries
         nullptr,
         {"Everyone", "NT AUTHORITY\\INTERACTIVE"},
         {"NT AUTHORITY\\INTERACTIVE"}},
        {"O:BAD:(A;;WD;;;AU)(A;;WO;;;BU)", nullptr, {authenticated, users}, {authenticated, users}},
        {"O:BUD:(A;;FA;;;BA)", nullptr, {users}, {users}}, // the owner
        {"O:BUD:(A;;FA;;;BU)", "S-1-5-32-545", {}, {}},
        {"O:BA", nullptr, {"Everyone (no access list)"}, {"Everyone (no access list)"}},
    };
    for (const auto &c : cases) {
        const LocalMemory descriptor = Descriptor(c.sddl);
        const LocalMemory trusted = c.alsoTrusted ? Sid(c.alsoTrusted) : nullptr;
        EXPECT_EQ(c.mayChange, OthersWhoMayChange(descriptor.get(), trusted.get())) << c.sddl;
        EXPECT_EQ(c.maySwap, OthersWhoMaySwapChildren(descriptor.get(), trusted.get())) << c.sddl;
    }
}

// Every folder above, up to the drive's root, named with what others may do
// there; a folder still to be made by what it would inherit. (Wine makes
// every folder the session user's, who is named on each one, and keeps of
// an access list only what its Unix permissions can say: the folder opened
// here to everyone.)
TEST(Protection, CoversEveryFolderAboveUpToTheRoot) {
    const std::string top = "C:\\wgb-protection", open = top + "\\open";
    ASSERT_TRUE(CreateDirectoryA(top.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((open + "\\inner").c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(open + "\\inner\\file.txt", "x"));
    const LocalMemory everyone = Descriptor("D:(A;OICI;FA;;;WD)");
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(everyone.get(), &present, &dacl, &defaulted));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              SetNamedSecurityInfoA(const_cast<char *>(open.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    char buffer[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    CloseHandle(token);
    const PSID user = reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid;
    const std::string userName = TokenUserName();

    const struct {
        std::string path;
        PSID alsoTrusted;
        std::vector<std::string> others;
    } cases[] = {
        {top + "\\WGB", user, {}},
        {top + "\\WGB", nullptr, {userName + " on " + top, userName + " on C:\\"}},
        {open + "\\inner\\WGB", user, {"Everyone on " + open}},
        {open + "\\to\\be\\made\\WGB",
         user,
         {"Everyone on " + open, "Everyone on the folders to be made in " + open}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> others;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  OthersWhoMayChangeParents(std::wstring(c.path.begin(), c.path.end()),
                                            c.alsoTrusted, others));
        EXPECT_EQ(c.others, others) << c.path;
    }

    // The check tool's judgement of a file: the file's own, then the folders'.
    std::vector<std::string> others;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              OthersWhoMayChangePath(open + "\\inner\\file.txt", KnownAccountName, others));
    EXPECT_EQ((std::vector<std::string>{userName, userName + " on " + open + "\\inner",
                                        userName + " on " + open, "Everyone on " + open,
                                        userName + " on " + top, userName + " on C:\\"}),
              others);
}

} // namespace
