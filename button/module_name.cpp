#include "button/module_name.h"

#include <cstring>

int RemoveModuleName(char *text, LeadByteTest isLeadByte) {
    const std::size_t nameLength = sizeof(kModuleFileName) - 1;
    int count = 0;
    const char *read = text;
    char *write = text;
    while (*read != '\0') {
        if (std::strncmp(read, kModuleFileName, nameLength) == 0) {
            ++count;
            read += nameLength;
            continue;
        }
        // A double-byte character moves as a whole, so that its second byte is
        // never taken for the start of a match. A lead byte at the very end
        // stands alone.
        const bool doubleByte = isLeadByte(static_cast<unsigned char>(*read)) && read[1] != '\0';
        *write++ = *read++;
        if (doubleByte)
            *write++ = *read++;
    }
    *write = '\0';
    return count;
}
