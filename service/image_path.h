#pragma once
// The image path registered for the service.

#include <cstddef>

// Writes the module path in double quotes into out (outSize bytes, the
// terminator included). The quotes keep a path with blanks from being read as
// a shorter program followed by arguments. Returns false, leaving out empty
// when outSize allows, if the quoted path does not fit.
bool QuoteImagePath(const char *modulePath, char *out, std::size_t outSize);
