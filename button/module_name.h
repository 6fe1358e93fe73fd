#pragma once
// Removal of the service's own file name from a path, leaving its directory.

#include "common/shared_state.h"

// True when the byte begins a double-byte character in the ANSI code page.
using LeadByteTest = bool (*)(unsigned char byte);

// Deletes every occurrence of "WGBService.exe" from the zero-terminated text,
// closing the gaps, and returns how many were deleted. Matches are exact and
// case-sensitive, never overlap, and never begin on the second byte of a
// double-byte character.
int RemoveModuleName(char *text, LeadByteTest isLeadByte);
