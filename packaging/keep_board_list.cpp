// A custom action of the package (run from its Binary table, as LocalSystem):
// keeps a WGB.ini that an administrator edited through an upgrade or a
// repair, whatever the installer's own rules for unversioned files would do.
// A list is the administrator's unless it is, byte for byte, the list an
// installed product of ours shipped (the MsiFileHash row of its cached
// package); one nobody touched takes the new package's list.
//
//   keep_board_list aside LIST CODES  before InstallFiles: a copy of an edited
//                                     LIST goes to LIST.keep (CODES: the
//                                     installed products, separated by ';')
//   keep_board_list back LIST         after InstallFiles: LIST.keep replaces
//                                     what was installed
//   keep_board_list drop LIST         rollback of aside: LIST.keep goes
//
// Exit code 0; 1 when a file could not be copied or moved, which fails the
// installation; 2 for a bad command line.

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstring>
#include <string>

namespace {

// The MsiFileHash row of the list, whose File key every version keeps.
constexpr const char *kShippedHashQuery =
    "SELECT `HashPart1`, `HashPart2`, `HashPart3`, `HashPart4` FROM `MsiFileHash` "
    "WHERE `File_` = 'WGBIni'";

class MsiHandle {
  public:
    MsiHandle() = default;
    MsiHandle(const MsiHandle &) = delete;
    MsiHandle &operator=(const MsiHandle &) = delete;
    ~MsiHandle() { MsiCloseHandle(handle_); }
    MSIHANDLE *put() { return &handle_; }
    MSIHANDLE get() const { return handle_; }

  private:
    MSIHANDLE handle_ = 0;
};

// True when the product's cached package holds a hash of its list equal to
// the given one.
bool ShippedByProduct(const std::string &productCode, const MSIFILEHASHINFO &hash) {
    char package[MAX_PATH];
    DWORD size = sizeof package;
    if (MsiGetProductInfoA(productCode.c_str(), INSTALLPROPERTY_LOCALPACKAGE, package, &size) !=
        ERROR_SUCCESS)
        return false;
    MsiHandle database, view, record;
    if (MsiOpenDatabaseA(package, MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewA(database.get(), kShippedHashQuery, view.put()) != ERROR_SUCCESS ||
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
bool ShippedAsIs(const char *list, const char *productCodes) {
    MSIFILEHASHINFO hash{};
    hash.dwFileHashInfoSize = sizeof hash;
    if (MsiGetFileHashA(list, 0, &hash) != ERROR_SUCCESS)
        return false;
    std::string codes = productCodes;
    for (size_t start = 0; start < codes.size();) {
        size_t end = codes.find(';', start);
        if (end == std::string::npos)
            end = codes.size();
        if (end > start && ShippedByProduct(codes.substr(start, end - start), hash))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3)
        return 2;
    const char *verb = argv[1];
    const char *list = argv[2];
    const std::string kept = std::string(list) + ".keep";

    if (std::strcmp(verb, "aside") == 0 && argc == 4) {
        if (GetFileAttributesA(list) == INVALID_FILE_ATTRIBUTES || ShippedAsIs(list, argv[3]))
            return 0;
        return CopyFileA(list, kept.c_str(), FALSE) ? 0 : 1;
    }
    if (std::strcmp(verb, "back") == 0 && argc == 3) {
        if (GetFileAttributesA(kept.c_str()) == INVALID_FILE_ATTRIBUTES)
            return 0;
        return MoveFileExA(kept.c_str(), list, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
    }
    if (std::strcmp(verb, "drop") == 0 && argc == 3) {
        DeleteFileA(kept.c_str());
        return 0;
    }
    return 2;
}
