#include "button/module_directory.h"

std::size_t CutToDirectory(char *path, LeadByteTest isLeadByte) {
    std::size_t end = 0; // just past the last backslash seen
    for (std::size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\')
            end = i + 1;
        // A double-byte character moves as a whole; a lead byte at the very
        // end stands alone.
        else if (isLeadByte(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0')
            ++i;
    }
    path[end] = '\0';
    return end;
}
