#pragma once
// The executable's directory, taken from its module path.

#include <cstddef>

// True when the byte begins a double-byte character in the ANSI code page.
using LeadByteTest = bool (*)(unsigned char byte);

// Cuts the zero-terminated path after its last backslash, whatever the file
// is called, and returns the length of what remains: the directory with its
// trailing backslash. The second byte of a double-byte character is never
// taken for a backslash. A path without a backslash becomes empty.
std::size_t CutToDirectory(char *path, LeadByteTest isLeadByte);
