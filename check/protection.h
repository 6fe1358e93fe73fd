#pragma once
// Who besides administrators, SYSTEM and TrustedInstaller may change a file
// or folder: a planted or altered file there runs as LocalSystem.

#include <windows.h>

#include <string>
#include <vector>

// The account's name, "DOMAIN\\name" where it has a domain; false when
// Windows knows no name for the SID.
bool KnownAccountName(PSID sid, std::string &name);

// The accounts (names, or SID strings where no name is known) that the
// descriptor lets write, append, delete, delete children, change permissions
// or take ownership, or that own the object and so may change its
// permissions. A descriptor without a DACL lets everyone. Deny entries are
// not weighed: the answer errs towards a warning.
std::vector<std::string> OthersWhoMayChange(PSECURITY_DESCRIPTOR descriptor);

// The same for the object at path: ERROR_SUCCESS, or the Windows error that
// kept its descriptor from being read.
DWORD OthersWhoMayChangePath(const std::string &path, std::vector<std::string> &others);
