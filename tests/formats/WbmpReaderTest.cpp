// The WBMP reader on small hand-made files.
#include "ReaderTestSupport.h"
#include "image/formats/wbmp/CxImageWBMP.h"

#include <gtest/gtest.h>

namespace {

TEST(WbmpReader, RowsRunTopDownWithoutPadding)
{
    // 9 x 2: two bytes per row. Top row: pixels 0 and 8 white; bottom row: pixel 1 white.
    CxImageWBMP wbmp;
    ASSERT_TRUE(bvtest::DecodeWith(wbmp, { 0, 0, 9, 2, 0x80, 0x80, 0x40, 0x00 }));
    EXPECT_EQ(wbmp.GetBpp(), 1);
    EXPECT_EQ(wbmp.GetPixelIndex(0, 1), 1);
    EXPECT_EQ(wbmp.GetPixelIndex(8, 1), 1);
    EXPECT_EQ(wbmp.GetPixelIndex(1, 1), 0);
    EXPECT_EQ(wbmp.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(bvtest::Rgb(wbmp.GetPaletteColor(1)), 0xFFFFFFu);
    EXPECT_EQ(bvtest::Rgb(wbmp.GetPaletteColor(0)), 0u);
}

TEST(WbmpReader, ReadsMultiByteSizes)
{
    // Width 160 is 0x81 0x20; height 2.
    std::vector<uint8_t> file = { 0, 0, 0x81, 0x20, 2 };
    file.resize(file.size() + 40, 0xFF);
    CxImageWBMP wbmp;
    ASSERT_TRUE(bvtest::DecodeWith(wbmp, file));
    EXPECT_EQ(wbmp.GetWidth(), 160);
    EXPECT_EQ(wbmp.GetHeight(), 2);
    EXPECT_EQ(wbmp.GetPixelIndex(159, 0), 1);
}

TEST(WbmpReader, ShortFilesStillDecode)
{
    CxImageWBMP wbmp;
    ASSERT_TRUE(bvtest::DecodeWith(wbmp, { 0, 0, 8, 3, 0xFF }));
    EXPECT_EQ(wbmp.GetPixelIndex(0, 2), 1);
    EXPECT_EQ(wbmp.GetPixelIndex(0, 0), 0);
}

TEST(WbmpReader, RefusesBadHeadersWithTheirTexts)
{
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    };
    const Case cases[] = {
        { { 0, 0, 16 }, "Not a WBMP" },
        { { 0, 0, 0x81 }, "Not a WBMP" },
        { { 0, 0, 0x10, 0 }, "Corrupted WBMP" },
        { { 0, 0, 0, 5 }, "Corrupted WBMP" },
        { { 1, 0, 4, 4, 0, 0, 0, 0 }, "Unsupported WBMP type" },
        { { 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1 }, "Corrupted WBMP" },
        { { 0, 0, 0x8F, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0x7F }, "WBMP Create failed" },
    };
    for (const Case& c : cases) {
        CxImageWBMP wbmp;
        EXPECT_FALSE(bvtest::DecodeWith(wbmp, c.bytes));
        EXPECT_STREQ(wbmp.GetLastError(), c.text);
    }
}

} // namespace
