#pragma once
// Comparison of texts that ignores the case of ASCII letters only, the same
// under every code page and locale.

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when both texts are equal whole, ignoring the case of ASCII letters.
inline bool EqualIgnoringAsciiCase(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b))
            return false;
    }
    return *a == '\0' && *b == '\0';
}
