// RemoveModuleName over arbitrary text, with the lead-byte tests of several
// kinds of ANSI code page.
//
// Input: one byte that chooses the code page, then the text (up to its first
// NUL). Code pages: single-byte; Shift-JIS lead bytes; 0x81 to 0xFE (the
// Chinese and Korean double-byte pages); lead bytes among 0x80 to 0xFF taken
// from the next 16 input bytes; any lead bytes at all, ASCII included, taken
// from the next 32 input bytes.
//
// Properties, for every code page: nothing is read or written behind the
// terminator; the text shrinks by 14 characters per occurrence counted; what
// remains is the text with that many copies of the name taken out. For the
// code pages whose lead bytes are all 0x80 or above, as in every real one,
// also: exactly the occurrences that begin on a character boundary of the
// text are removed, so none that began on one is left and none that began on
// the second byte of a character is touched.

#include "button/module_name.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <bitset>
#include <string>

namespace {

constexpr std::size_t kNameLength = sizeof(kModuleFileName) - 1;

enum CodePage : std::uint8_t {
    kSingleByte,
    kShiftJis,
    kWideLeadRange,
    kHighLeadTable,
    kAnyLeadTable,
    kCodePageCount
};

std::bitset<256> g_leadBytes;

bool TableLeadByte(unsigned char byte) {
    return g_leadBytes.test(byte);
}

// Lead-byte ranges of the real double-byte code pages: code page 932, then
// 936, 949 and 950.
bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
bool WideRangeLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}
bool NoLeadByte(unsigned char) {
    return false;
}

// Fills the table from table bits of input, starting at lead byte first.
void FillTable(const std::uint8_t *&data, std::size_t &size, unsigned first, std::size_t bytes) {
    g_leadBytes.reset();
    for (std::size_t i = 0; i < bytes && size > 0; ++i, ++data, --size)
        for (unsigned bit = 0; bit < 8; ++bit)
            if (*data & (1u << bit))
                g_leadBytes.set(first + i * 8 + bit);
}

// Character boundaries of text: a lead byte followed by any byte but the
// terminator starts a character of two bytes.
std::vector<bool> Boundaries(const std::string &text, LeadByteTest isLeadByte) {
    std::vector<bool> boundary(text.size() + 1, false);
    std::size_t i = 0;
    while (i < text.size()) {
        boundary[i] = true;
        const bool doubleByte =
            isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
        i += doubleByte ? 2 : 1;
    }
    boundary[text.size()] = true;
    return boundary;
}

// The text without the occurrences of the name that begin on a character
// boundary (the name has no border, so occurrences never overlap).
std::string WithoutBoundaryOccurrences(const std::string &text, LeadByteTest isLeadByte,
                                       int &count) {
    const std::vector<bool> boundary = Boundaries(text, isLeadByte);
    std::string kept;
    count = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (boundary[i] && text.compare(i, kNameLength, kModuleFileName) == 0) {
            ++count;
            i += kNameLength;
        } else {
            kept += text[i++];
        }
    }
    return kept;
}

// True when result is text with count copies of the name taken out: it is a
// subsequence of text, and the bytes taken out are those of count names.
bool IsTextLessNames(const std::string &text, const std::string &result, int count) {
    if (text.size() != result.size() + kNameLength * static_cast<std::size_t>(count))
        return false;
    std::string takenOut;
    std::size_t r = 0;
    for (char c : text) {
        if (r < result.size() && result[r] == c)
            ++r;
        else
            takenOut += c;
    }
    if (r != result.size())
        return false;
    std::string names;
    for (int i = 0; i < count; ++i)
        names += kModuleFileName;
    std::sort(takenOut.begin(), takenOut.end());
    std::sort(names.begin(), names.end());
    return takenOut == names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto codePage = static_cast<CodePage>(data[0] % kCodePageCount);
    ++data;
    --size;

    LeadByteTest isLeadByte = NoLeadByte;
    switch (codePage) {
    case kShiftJis:
        isLeadByte = ShiftJisLeadByte;
        break;
    case kWideLeadRange:
        isLeadByte = WideRangeLeadByte;
        break;
    case kHighLeadTable:
        FillTable(data, size, 0x80, 16);
        isLeadByte = TableLeadByte;
        break;
    case kAnyLeadTable:
        FillTable(data, size, 0x00, 32);
        isLeadByte = TableLeadByte;
        break;
    default: // single-byte
        break;
    }

    std::vector<char> buffer = TerminatedText(data, size);
    const std::string text(buffer.data());
    const int count = RemoveModuleName(buffer.data(), isLeadByte);
    const std::string result(buffer.data());

    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(result.size() == text.size() - kNameLength * static_cast<std::size_t>(count));
    FUZZ_CHECK(IsTextLessNames(text, result, count));

    if (codePage != kAnyLeadTable) {
        int expectedCount = 0;
        FUZZ_CHECK(result == WithoutBoundaryOccurrences(text, isLeadByte, expectedCount));
        FUZZ_CHECK(count == expectedCount);
    }
    return 0;
}
