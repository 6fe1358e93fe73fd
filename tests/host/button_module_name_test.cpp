// RemoveModuleName under single- and double-byte code pages.

#include "button/module_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}
bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(RemoveModuleName, LeavesTheDirectory) {
    const struct {
        std::string text;
        LeadByteTest isLeadByte;
        const char *left;
        int count;
    } cases[] = {
        {"C:\\Tools\\WGBService.exe", NoLeadBytes, "C:\\Tools\\", 1},
        {"C:\\Tools\\wgbservice.exe", NoLeadBytes, "C:\\Tools\\wgbservice.exe", 0},
        {"C:\\WGBService.exe\\a\\WGBService.exe", NoLeadBytes, "C:\\\\a\\", 2},
        // A name that begins on the second byte of a character stays.
        {"C:\\\x83WGBService.exe", ShiftJisLeadByte, "C:\\\x83WGBService.exe", 0},
        // 0x83 0x5C is one character, whose second byte is a backslash.
        {"C:\\\x83\\WGBService.exe", ShiftJisLeadByte, "C:\\\x83\\", 1},
    };
    for (auto c : cases) {
        EXPECT_EQ(c.count, RemoveModuleName(c.text.data(), c.isLeadByte)) << c.left;
        EXPECT_STREQ(c.left, c.text.c_str());
    }
}

} // namespace
