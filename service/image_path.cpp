#include "service/image_path.h"

#include <cstring>

bool QuoteImagePath(const char *modulePath, char *out, std::size_t outSize) {
    const std::size_t length = std::strlen(modulePath);
    const std::size_t needed = length + 3; // two quotes and the terminator
    if (outSize < needed) {
        if (outSize > 0)
            out[0] = '\0';
        return false;
    }
    out[0] = '"';
    std::memcpy(out + 1, modulePath, length);
    out[length + 1] = '"';
    out[length + 2] = '\0';
    return true;
}
