// The TGA reader on small hand-made files.
#include "ReaderTestSupport.h"
#include "image/formats/tga/CxImageTGA.h"

#include <gtest/gtest.h>

namespace {

using bvtest::Bytes;
using bvtest::Rgb;

Bytes TgaHeader(uint8_t type, uint16_t width, uint16_t height, uint8_t depth,
    uint8_t descriptor = 0, uint8_t idLength = 0, uint16_t mapLength = 0, uint8_t mapEntry = 0,
    uint16_t mapFirst = 0)
{
    Bytes b;
    b.U8(idLength).U8(mapLength ? 1 : 0).U8(type).U16(mapFirst).U16(mapLength).U8(mapEntry);
    b.U16(0).U16(0).U16(width).U16(height).U8(depth).U8(descriptor);
    return b;
}

TEST(TgaReader, BottomUpAndTopDownFilesGiveTheSamePicture)
{
    // Two rows of one 24-bit pixel: file row 0 is the bottom line unless bit 5 is set.
    std::vector<uint8_t> up = TgaHeader(2, 1, 2, 24).Raw({ 1, 2, 3, 4, 5, 6 }).data;
    std::vector<uint8_t> down = TgaHeader(2, 1, 2, 24, 0x20).Raw({ 4, 5, 6, 1, 2, 3 }).data;
    CxImageTGA a, b;
    ASSERT_TRUE(bvtest::DecodeWith(a, up));
    ASSERT_TRUE(bvtest::DecodeWith(b, down));
    EXPECT_EQ(Rgb(a.GetPixelColor(0, 0)), 0x030201u);
    EXPECT_EQ(Rgb(b.GetPixelColor(0, 0)), 0x030201u);
    EXPECT_EQ(Rgb(b.GetPixelColor(0, 1)), 0x060504u);
}

TEST(TgaReader, TopDownAlphaStaysWithItsPixels)
{
    std::vector<uint8_t> file = TgaHeader(2, 1, 2, 32, 0x20).Raw({ 1, 1, 1, 10, 2, 2, 2, 20 }).data;
    CxImageTGA tga;
    ASSERT_TRUE(bvtest::DecodeWith(tga, file));
    ASSERT_TRUE(tga.HasAlpha());
    // The first file row (colour 1, alpha 10) is the top line: stored row 1.
    EXPECT_EQ(tga.GetPixelColor(0, 1, false).rgbRed, 1);
    EXPECT_EQ(tga.GetAlpha(0, 1), 10);
    EXPECT_EQ(tga.GetAlpha(0, 0), 20);
}

TEST(TgaReader, PacketsRunAcrossRowEnds)
{
    // 4 x 3, 8-bit grey RLE. Row 0: one raw pixel, then a repeat of 10 (value 7) that
    // starts 3 before the row end: 7 more go to row 1 and row 2. Row 2 then ends with a
    // raw packet of 3 that crosses nothing.
    std::vector<uint8_t> file = TgaHeader(11, 4, 3, 8).Raw({ 0x00, 5, 0x89, 7, 0x00, 9 }).data;
    CxImageTGA tga;
    ASSERT_TRUE(bvtest::DecodeWith(tga, file)) << tga.GetLastError();
    const uint8_t want[3][4] = { { 5, 7, 7, 7 }, { 7, 7, 7, 7 }, { 7, 7, 7, 9 } };
    for (int y = 0; y < 3; y++) {
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(tga.GetPixelIndex(x, y), want[y][x]) << x << "," << y;
    }

    // A raw packet of 6 over a row of 4: the last 2 file pixels start the next row.
    std::vector<uint8_t> raw = TgaHeader(11, 4, 2, 8).Raw({ 0x05, 1, 2, 3, 4, 5, 6, 0x81, 8 }).data;
    CxImageTGA crossing;
    ASSERT_TRUE(bvtest::DecodeWith(crossing, raw));
    EXPECT_EQ(crossing.GetPixelIndex(3, 0), 4);
    EXPECT_EQ(crossing.GetPixelIndex(0, 1), 5);
    EXPECT_EQ(crossing.GetPixelIndex(1, 1), 6);
    EXPECT_EQ(crossing.GetPixelIndex(3, 1), 8);
}

TEST(TgaReader, SixteenBitPixelsAndColourMaps)
{
    std::vector<uint8_t> file = TgaHeader(2, 2, 1, 16).U16(0x7FFF).U16(0x001F).data;
    CxImageTGA tga;
    ASSERT_TRUE(bvtest::DecodeWith(tga, file));
    EXPECT_EQ(Rgb(tga.GetPixelColor(0, 0)), 0xF8F8F8u);
    EXPECT_EQ(Rgb(tga.GetPixelColor(1, 0)), 0x0000F8u);

    // A colour map of 16-bit entries that starts at index 2; an image ID of 5 bytes.
    std::vector<uint8_t> mapped = TgaHeader(1, 2, 1, 8, 0, 5, 2, 16, 2)
                                      .Raw({ 'i', 'm', 'a', 'g', 'e' })
                                      .U16(0x7C00)
                                      .U16(0x03E0)
                                      .Raw({ 2, 3 })
                                      .data;
    CxImageTGA cmap;
    ASSERT_TRUE(bvtest::DecodeWith(cmap, mapped)) << cmap.GetLastError();
    EXPECT_EQ(Rgb(cmap.GetPixelColor(0, 0)), 0xF80000u);
    EXPECT_EQ(Rgb(cmap.GetPixelColor(1, 0)), 0x00F800u);

    // 24-bit entries, blue first.
    std::vector<uint8_t> map24 = TgaHeader(1, 1, 1, 8, 0, 0, 1, 24).Raw({ 10, 20, 30, 0 }).data;
    CxImageTGA rgbMap;
    ASSERT_TRUE(bvtest::DecodeWith(rgbMap, map24));
    EXPECT_EQ(Rgb(rgbMap.GetPixelColor(0, 0)), 0x1E140Au);
}

TEST(TgaReader, GreyImagesEndWithTheGreyRamp)
{
    std::vector<uint8_t> file
        = TgaHeader(3, 2, 1, 8, 0, 0, 2, 24).Raw({ 9, 9, 9, 8, 8, 8, 0, 200 }).data;
    CxImageTGA tga;
    ASSERT_TRUE(bvtest::DecodeWith(tga, file));
    EXPECT_EQ(Rgb(tga.GetPixelColor(1, 0)), 0xC8C8C8u);
    EXPECT_EQ(Rgb(tga.GetPaletteColor(0)), 0u);
}

TEST(TgaReader, RightToLeftRowsAreMirrored)
{
    std::vector<uint8_t> file = TgaHeader(2, 2, 1, 32, 0x10).Raw({ 1, 1, 1, 11, 2, 2, 2, 22 }).data;
    CxImageTGA tga;
    ASSERT_TRUE(bvtest::DecodeWith(tga, file));
    EXPECT_EQ(tga.GetPixelColor(0, 0, false).rgbBlue, 2);
    EXPECT_EQ(tga.GetAlpha(0, 0), 22);
    EXPECT_EQ(tga.GetAlpha(1, 0), 11);
}

TEST(TgaReader, RefusesBadHeadersWithTheirTexts)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* text;
    };
    const Case cases[] = {
        { "short header", { 0, 0, 2, 0, 0 }, "Not a TGA" },
        { "image type 4", TgaHeader(4, 1, 1, 24).data, "Unknown TGA image type" },
        { "zero width", TgaHeader(2, 0, 1, 24).data, "bad TGA header" },
        { "zero height", TgaHeader(2, 1, 0, 24).data, "bad TGA header" },
        { "depth 12", TgaHeader(2, 1, 1, 12).data, "bad TGA header" },
        { "300 map entries", TgaHeader(1, 1, 1, 8, 0, 0, 300, 24).data, "bad TGA header" },
        { "16-bit grey", TgaHeader(3, 1, 1, 16).data, "bad TGA header" },
        { "16-bit indices", TgaHeader(1, 1, 1, 16, 0, 0, 2, 24).data, "bad TGA header" },
        { "65535 x 65535", TgaHeader(2, 65535, 65535, 32).data, "TGA Create failed" },
        { "no rows", TgaHeader(2, 2, 2, 24).data, "corrupted TGA" },
        { "half the rows", TgaHeader(10, 2, 4, 24).Raw({ 0x81, 1, 2, 3, 0x81, 1, 2, 3 }).data,
            "corrupted TGA" },
    };
    for (const Case& c : cases) {
        CxImageTGA tga;
        EXPECT_FALSE(bvtest::DecodeWith(tga, c.bytes)) << c.what;
        EXPECT_STREQ(tga.GetLastError(), c.text) << c.what;
    }
    bvtest::DecodeEveryPrefix<CxImageTGA>(
        TgaHeader(10, 3, 3, 32, 0x30)
            .Raw({ 0x84, 1, 2, 3, 4, 0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6, 7 })
            .data);
}

} // namespace
