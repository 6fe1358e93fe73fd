#pragma once
// Reading one value of an INI file.

#include <string>

// The value of key in section of the INI file at path, or defaultText when
// there is none. At most 255 characters of a value are returned.
std::string ReadIniString(const char *path, const char *section, const char *key,
                          const char *defaultText);
