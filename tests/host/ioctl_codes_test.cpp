#include "hwaccess/ioctl_codes.h"

#include <gtest/gtest.h>

// The external driver's control codes.
TEST(IoctlCodes, MatchTheDriverInterface) {
    EXPECT_EQ(0xC35060CCu, IOCTL_READ_IO_PORT_BYTE);
    EXPECT_EQ(0xC350A0D8u, IOCTL_WRITE_IO_PORT_BYTE);
}
