#include "button/module_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}

// Lead bytes of a double-byte code page of the Shift-JIS kind, whose second
// bytes include ASCII letters and the backslash.
bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct RemoveCase {
    const char *what;
    std::string text;
    LeadByteTest isLeadByte;
    std::string expected;
    int expectedCount;
};

void PrintTo(const RemoveCase &c, std::ostream *os) {
    *os << c.what;
}

class RemoveModuleNameTest : public testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveModuleNameTest, LeavesTheExpectedTextAndCount) {
    const RemoveCase &c = GetParam();
    // Room behind the text shows that nothing is written past the terminator.
    std::vector<char> buffer(c.text.begin(), c.text.end());
    buffer.push_back('\0');
    buffer.push_back('#');
    EXPECT_EQ(c.expectedCount, RemoveModuleName(buffer.data(), c.isLeadByte));
    EXPECT_EQ(c.expected, std::string(buffer.data()));
    EXPECT_EQ('#', buffer.back());
}

const RemoveCase kRemoveCases[] = {
    {"plain path", "C:\\Tools\\WGBService.exe", NoLeadBytes, "C:\\Tools\\", 1},
    {"no occurrence", "C:\\Tools\\Other.exe", NoLeadBytes, "C:\\Tools\\Other.exe", 0},
    {"empty text", "", NoLeadBytes, "", 0},
    {"case differs", "C:\\Tools\\wgbservice.exe", NoLeadBytes, "C:\\Tools\\wgbservice.exe", 0},
    {"name cut short", "C:\\Tools\\WGBService.ex", NoLeadBytes, "C:\\Tools\\WGBService.ex", 0},
    {"several occurrences", "C:\\WGBService.exe\\a\\WGBService.exe\\WGBService.exe", NoLeadBytes,
     "C:\\\\a\\\\", 3},
    {"adjacent occurrences", "C:\\WGBService.exeWGBService.exe", NoLeadBytes, "C:\\", 2},
    {"only the name", "WGBService.exe", NoLeadBytes, "", 1},
    {"occurrence inside a directory name", "C:\\xWGBService.exey\\WGBService.exe", NoLeadBytes,
     "C:\\xy\\", 2},
    {"overlap impossible", "WGBService.exeService.exe", NoLeadBytes, "Service.exe", 1},
    {"name is the second byte of a character", "C:\\\x83WGBService.exe", ShiftJisLeadByte,
     "C:\\\x83WGBService.exe", 0},
    {"same bytes in a single-byte code page", "C:\\\x83WGBService.exe", NoLeadBytes, "C:\\\x83", 1},
    {"name after a character ending in a backslash byte", "C:\\\x83\\WGBService.exe",
     ShiftJisLeadByte, "C:\\\x83\\", 1},
    {"double-byte characters before the name", "C:\\\x93\xFA\x96\x7B\\WGBService.exe",
     ShiftJisLeadByte, "C:\\\x93\xFA\x96\x7B\\", 1},
    {"lead byte at the very end", "C:\\WGBService.exe\x83", ShiftJisLeadByte, "C:\\\x83", 1},
};

std::string CaseName(const testing::TestParamInfo<RemoveCase> &info) {
    std::string name = info.param.what;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, RemoveModuleNameTest, testing::ValuesIn(kRemoveCases), CaseName);

} // namespace
