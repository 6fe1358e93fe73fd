#pragma once
// Who besides administrators, SYSTEM and TrustedInstaller may change a file
// or folder, or a folder above it: a planted or altered file there runs as
// LocalSystem. The check tool reports them; the package refuses a first
// installation under folders they may change.

#include <windows.h>

#include <string>
#include <vector>

// Names an account, "DOMAIN\\name" where it has a domain; false when Windows
// knows no name for the SID.
using AccountNamer = bool (*)(PSID sid, std::string &name);
// The name in the ANSI code page, as the other functions here give it.
bool KnownAccountName(PSID sid, std::string &name);

// The accounts (names, or SID strings where no name is known) that the
// descriptor lets write, append, delete, delete children, change permissions
// or take ownership, or that own the object and so may change its
// permissions. A descriptor without a DACL lets everyone. Deny entries are
// not weighed: the answer errs towards a warning. alsoTrusted (may be null)
// counts as an administrator.
std::vector<std::string> OthersWhoMayChange(PSECURITY_DESCRIPTOR descriptor,
                                            PSID alsoTrusted = nullptr);

// The accounts that a folder's descriptor lets swap what it holds: delete or
// rename its entries (or the folder itself), change its permissions, or own
// it. alsoTrusted (may be null) counts as an administrator.
std::vector<std::string> OthersWhoMaySwapChildren(PSECURITY_DESCRIPTOR folder, PSID alsoTrusted);

// Those of every folder above path, up to its drive's or share's root, each
// named with the folder ("Everyone on C:\\Data"). A folder above that does
// not exist yet, which the installer will create, is judged by the rights it
// would inherit from the nearest one that does. ERROR_SUCCESS, or the Windows
// error that kept a descriptor from being read.
DWORD OthersWhoMayChangeParents(const std::wstring &path, PSID alsoTrusted,
                                std::vector<std::string> &others);

// Those of the object at path alone: ERROR_SUCCESS, or the Windows error that
// kept its descriptor from being read (ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND where there is none).
DWORD OthersWhoMayChangeObject(const std::wstring &path, PSID alsoTrusted,
                               std::vector<std::string> &others);

// Those of the object at path (OthersWhoMayChange) and of every folder above
// it (OthersWhoMayChangeParents), in UTF-8, every character of them: the
// accounts named by utf8Namer. ERROR_SUCCESS, or the Windows error that kept
// a descriptor from being read.
DWORD OthersWhoMayChangePath(const std::string &path, AccountNamer utf8Namer,
                             std::vector<std::string> &others);
