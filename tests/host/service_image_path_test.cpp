// The image path registered for the service: the module path in quotes, or
// nothing when the quoted path would not fit.

#include <gtest/gtest.h>

#include "service/image_path.h"

#include <string>
#include <vector>

namespace {

TEST(QuoteImagePathTest, QuotesAPathWithBlanks) {
    char out[64];
    ASSERT_TRUE(QuoteImagePath("C:\\Program Files\\WGB Service\\WGBService.exe", out, sizeof out));
    EXPECT_EQ(std::string("\"C:\\Program Files\\WGB Service\\WGBService.exe\""), out);
}

TEST(QuoteImagePathTest, FitsExactlyWithRoomForQuotesAndTerminator) {
    const std::string path(10, 'p');
    std::vector<char> out(path.size() + 3, 'x');
    ASSERT_TRUE(QuoteImagePath(path.c_str(), out.data(), out.size()));
    EXPECT_EQ("\"" + path + "\"", out.data());
}

TEST(QuoteImagePathTest, RefusesOneByteShortAndWritesNothingPast) {
    const std::string path(10, 'p');
    // The last byte stands guard: the routine is told one byte less than the
    // quoted path needs and must stay inside what it was given.
    std::vector<char> out(path.size() + 3, 'x');
    EXPECT_FALSE(QuoteImagePath(path.c_str(), out.data(), out.size() - 1));
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ('x', out.back());
}

TEST(QuoteImagePathTest, RefusesAnEmptyBufferWithoutWriting) {
    char guard = 'x';
    EXPECT_FALSE(QuoteImagePath("a", &guard, 0));
    EXPECT_EQ('x', guard);
}

} // namespace
