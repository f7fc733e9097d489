// The readers' single exit: what a failure inside a reader leaves in lastError.
#include "image/core/CxReadError.h"

#include <gtest/gtest.h>

TEST(ReaderExit, FailuresBecomeFalseWithTheirText)
{
    CxImage image;
    image.SetLastError("earlier");
    EXPECT_FALSE(RunReader(image, "out of memory", [] { ThrowReadError("bad header"); }));
    EXPECT_STREQ(image.GetLastError(), "bad header");

    EXPECT_FALSE(RunReader(image, "out of memory", [] { throw std::bad_alloc(); }));
    EXPECT_STREQ(image.GetLastError(), "out of memory");

    image.SetLastError("earlier");
    EXPECT_FALSE(RunReader(image, "out of memory", [] { throw CxReadError::WithoutText(); }));
    EXPECT_STREQ(image.GetLastError(), "earlier");

    EXPECT_TRUE(RunReader(image, "out of memory", [] {}));
    EXPECT_FALSE(RunReader(image, "out of memory", [] { return false; }));
    EXPECT_STREQ(image.GetLastError(), "earlier");
}
