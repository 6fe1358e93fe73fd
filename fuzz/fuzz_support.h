#pragma once
// Shared pieces of the fuzz targets: a property check that the fuzzer reports
// as a crash, and the input as zero-terminated text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// A broken property aborts: the fuzzer saves the input and reports it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The bytes up to the first NUL, in a block of exactly that length plus the
// terminator: AddressSanitizer then catches any read behind the terminator.
inline std::vector<char> TerminatedText(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return std::vector<char>(1, '\0');
    const auto *end = static_cast<const std::uint8_t *>(std::memchr(data, 0, size));
    const std::size_t length = end ? static_cast<std::size_t>(end - data) : size;
    std::vector<char> text(length + 1);
    std::memcpy(text.data(), data, length);
    text[length] = '\0';
    return text;
}
