#pragma once
// The image path the installation registers for the service.

#include <cstddef>
#include <string>

// The module path is read into a buffer of this many bytes, the terminator
// included.
inline constexpr std::size_t kModulePathSize = 256;

// True when an executable at a path of this length can be registered: a
// longer path arrives cut at the buffer's end, and would name some other
// program.
inline bool ModulePathFits(std::size_t length) {
    return length != 0 && length < kModulePathSize;
}

// The module path in double quotes: the quotes keep a path with blanks from
// being read as a shorter program followed by arguments.
inline std::string QuotedImagePath(const std::string &modulePath) {
    return "\"" + modulePath + "\"";
}
