#pragma once
// The texts the worker builds from the executable's directory, and the rule
// that they fit their 256-byte buffers.

#include "common/shared_state.h"

#include <cstddef>

inline constexpr char kIniFileName[] = "WGB.ini";
inline constexpr char kCompanionExeName[] = "WGB.exe";

// The directory, then "WGB.ini".
inline constexpr char kIniPathFormat[] = "%s%s";
// The companion's path, quoted so that blanks in the directory cannot make
// Windows start a program at a shorter prefix, then its switch.
inline constexpr char kCommandLineFormat[] = "\"%s%s\" /S";

std::size_t IniPathLength(std::size_t directoryLength);
std::size_t CommandLineLength(std::size_t directoryLength);

// True when both texts built from a directory of this length, with their
// terminating zero, fit a buffer of kTextBufferSize bytes.
bool DirectoryFitsTexts(std::size_t directoryLength);
