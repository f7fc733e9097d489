// The PCX reader on small hand-made files.
#include "ReaderTestSupport.h"
#include "image/formats/pcx/CxImagePCX.h"

#include <gtest/gtest.h>

namespace {

using bvtest::Bytes;
using bvtest::Rgb;

// A 128-byte header; the colour map holds entry i = (i * 16, i * 8, i * 4).
Bytes PcxHeader(
    uint8_t bits, uint8_t planes, uint16_t width, uint16_t height, uint16_t bytesPerLine)
{
    Bytes b;
    b.U8(10).U8(5).U8(1).U8(bits).U16(0).U16(0).U16(width - 1).U16(height - 1).U16(150).U16(75);
    for (int i = 0; i < 16; i++)
        b.U8(i * 16).U8(i * 8).U8(i * 4);
    b.U8(0).U8(planes).U16(bytesPerLine).Fill(60, 0);
    return b;
}

TEST(PcxReader, EightBitFilesTakeTheTrailerPalette)
{
    Bytes file = PcxHeader(8, 1, 2, 1, 2).Raw({ 0x01, 0xC1, 0xFF, 12 });
    for (int i = 0; i < 256; i++)
        file.U8(i).U8(255 - i).U8(7);
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, file.data)) << pcx.GetLastError();
    EXPECT_EQ(pcx.GetBpp(), 8);
    EXPECT_EQ(Rgb(pcx.GetPixelColor(0, 0)), 0x01FE07u);
    EXPECT_EQ(Rgb(pcx.GetPixelColor(1, 0)), 0xFF0007u);
    EXPECT_EQ(pcx.GetXDPI(), 150);
    EXPECT_EQ(pcx.GetYDPI(), 75);

    std::vector<uint8_t> badMarker = file.data;
    badMarker[128 + 3] = 0;
    CxImagePCX bad;
    EXPECT_FALSE(bvtest::DecodeWith(bad, badMarker));
    EXPECT_STREQ(bad.GetLastError(), "bad color map signature");
}

TEST(PcxReader, OneBitFilesAreBlackAndWhite)
{
    std::vector<uint8_t> file = PcxHeader(1, 1, 8, 1, 2).Raw({ 0xA0, 0x00 }).data;
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, file));
    EXPECT_EQ(pcx.GetBpp(), 1);
    EXPECT_EQ(Rgb(pcx.GetPaletteColor(0)), 0u);
    EXPECT_EQ(Rgb(pcx.GetPaletteColor(1)), 0xFFFFFFu);
    EXPECT_EQ(pcx.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(pcx.GetPixelIndex(1, 0), 0);
    EXPECT_EQ(pcx.GetPixelIndex(2, 0), 1);
}

TEST(PcxReader, FourOneBitPlanesGiveSixteenColours)
{
    // Pixel 0 sets planes 0 and 2 (index 5), pixel 1 plane 3 (index 8).
    std::vector<uint8_t> file = PcxHeader(1, 4, 2, 1, 1).Raw({ 0x80, 0x00, 0x80, 0x40 }).data;
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, file));
    EXPECT_EQ(pcx.GetBpp(), 4);
    EXPECT_EQ(pcx.GetPixelIndex(0, 0), 5);
    EXPECT_EQ(pcx.GetPixelIndex(1, 0), 8);
    EXPECT_EQ(Rgb(pcx.GetPaletteColor(5)), 0x502814u);
}

TEST(PcxReader, PackedTwoBitPixelsUseTheHeaderMap)
{
    std::vector<uint8_t> file = PcxHeader(2, 1, 4, 1, 2).Raw({ 0x1B, 0x00 }).data;
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, file));
    EXPECT_EQ(pcx.GetBpp(), 4);
    for (int x = 0; x < 4; x++)
        EXPECT_EQ(pcx.GetPixelIndex(x, 0), x);
}

TEST(PcxReader, TrueColourRowsRunTopDown)
{
    // 1 x 2, 3 planes: row 0 (the top) red, row 1 blue; a fourth plane is alpha.
    std::vector<uint8_t> rgb = PcxHeader(8, 3, 1, 2, 1).Raw({ 0xC1, 200, 0, 0, 0, 0, 100 }).data;
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, rgb));
    EXPECT_EQ(pcx.GetBpp(), 24);
    EXPECT_EQ(Rgb(pcx.GetPixelColor(0, 1)), 0xC80000u);
    EXPECT_EQ(Rgb(pcx.GetPixelColor(0, 0)), 0x000064u);

    std::vector<uint8_t> rgba = PcxHeader(8, 4, 1, 1, 1).Raw({ 1, 2, 3, 44 }).data;
    CxImagePCX alpha;
    ASSERT_TRUE(bvtest::DecodeWith(alpha, rgba));
    ASSERT_TRUE(alpha.HasAlpha());
    EXPECT_EQ(alpha.GetAlpha(0, 0), 44);
}

TEST(PcxReader, RunBytes)
{
    // 0xC3 0x55: three bytes; 0xC1 0xE0: one byte 0xE0; 0xC0 writes nothing but eats 0x99.
    std::vector<uint8_t> file
        = PcxHeader(8, 1, 4, 1, 4).Raw({ 0xC3, 0x55, 0xC0, 0x99, 0xC1, 0xE0, 12 }).data;
    file.resize(file.size() + 768, 0);
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, file)) << pcx.GetLastError();
    EXPECT_EQ(pcx.GetPixelIndex(2, 0), 0x55);
    EXPECT_EQ(pcx.GetPixelIndex(3, 0), 0xE0);

    std::vector<uint8_t> tooLong = PcxHeader(8, 1, 4, 1, 4).Raw({ 0xC5, 1 }).data;
    CxImagePCX run;
    EXPECT_FALSE(bvtest::DecodeWith(run, tooLong));
    EXPECT_STREQ(run.GetLastError(), "repeat count spans end of image");
}

TEST(PcxReader, RefusesBrokenFilesWithTheirTexts)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* text;
    };
    std::vector<uint8_t> notPcx = PcxHeader(8, 1, 1, 1, 1).data;
    notPcx[0] = 11;
    std::vector<uint8_t> encoding = PcxHeader(8, 1, 1, 1, 1).data;
    encoding[2] = 0;
    std::vector<uint8_t> inverted = PcxHeader(8, 1, 1, 1, 1).data;
    inverted[4] = 5; // xMin 5, xMax 2
    inverted[8] = 2;
    const Case cases[] = {
        { "short header", std::vector<uint8_t>(100, 10), "Can't read PCX image" },
        { "manufacturer 11", notPcx, "Error: Not a PCX file" },
        { "encoding 0", encoding, "PCX file has unknown encoding scheme" },
        { "5 planes", PcxHeader(1, 5, 8, 1, 1).data, "Can't handle image with more than 4 planes" },
        { "no data", PcxHeader(8, 1, 4, 4, 4).data, "corrupted PCX" },
        { "no planes", PcxHeader(1, 0, 30000, 2000, 4).data, "bad PCX header" },
        { "no bytes per line", PcxHeader(1, 1, 30000, 2000, 0).data, "bad PCX header" },
        { "large picture, tiny file", PcxHeader(8, 3, 1000, 1000, 1000).Raw({ 1, 2, 3 }).data,
            "corrupted PCX" },
        { "two 8-bit planes", PcxHeader(8, 2, 1, 1, 1).Raw({ 1, 2 }).data,
            "Can't handle more than 1 bit per pixel" },
    };
    for (const Case& c : cases) {
        CxImagePCX pcx;
        EXPECT_FALSE(bvtest::DecodeWith(pcx, c.bytes)) << c.what;
        EXPECT_STREQ(pcx.GetLastError(), c.text) << c.what;
    }
    CxImagePCX bounds;
    EXPECT_FALSE(bvtest::DecodeWith(bounds, inverted));
    EXPECT_STRNE(bounds.GetLastError(), "");
}

TEST(PcxReader, BytesPerLineShorterThanTheWidthStaysInside)
{
    // 16 pixels wide but one byte per plane line: the missing columns stay black.
    std::vector<uint8_t> rgb = PcxHeader(8, 3, 16, 2, 1).Raw({ 9, 9, 9, 9, 9, 9 }).data;
    CxImagePCX pcx;
    ASSERT_TRUE(bvtest::DecodeWith(pcx, rgb));
    EXPECT_EQ(Rgb(pcx.GetPixelColor(0, 0)), 0x090909u);
    EXPECT_EQ(Rgb(pcx.GetPixelColor(15, 0)), 0u);

    std::vector<uint8_t> packed = PcxHeader(4, 1, 16, 1, 1).Raw({ 0x12 }).data;
    CxImagePCX four;
    ASSERT_TRUE(bvtest::DecodeWith(four, packed));
    EXPECT_EQ(four.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(four.GetPixelIndex(15, 0), 0);

    Bytes trailer = PcxHeader(8, 1, 3, 2, 4).Raw({ 0xC8, 7, 12 });
    trailer.Fill(768, 1);
    bvtest::DecodeEveryPrefix<CxImagePCX>(trailer.data);
}

} // namespace
