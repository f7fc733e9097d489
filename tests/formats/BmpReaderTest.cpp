// The BMP reader on small hand-made files.
#include "ReaderTestSupport.h"
#include "image/formats/bmp/CxImageBMP.h"

#include <gtest/gtest.h>

namespace {

using bvtest::Bytes;
using bvtest::Rgb;

struct BmpLayout {
    uint32_t headerSize = 40;
    int32_t width = 4;
    int32_t height = 2;
    uint16_t bits = 8;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    uint32_t sizeImage = 0;
    int32_t pelsPerMetre = 2835;
    std::vector<uint8_t> headerTail; // bytes 40.. of a longer header (masks first)
    std::vector<uint8_t> afterHeader; // masks after a 40-byte header
    std::vector<uint8_t> palette;
    std::vector<uint8_t> pixels;
    bool fileHeader = true;
};

std::vector<uint8_t> MakeBmp(const BmpLayout& s)
{
    Bytes info;
    info.U32(s.headerSize).U32(uint32_t(s.width)).U32(uint32_t(s.height)).U16(1).U16(s.bits);
    info.U32(s.compression).U32(s.sizeImage).U32(uint32_t(s.pelsPerMetre));
    info.U32(uint32_t(s.pelsPerMetre)).U32(s.clrUsed).U32(0);
    info.Raw(s.headerTail);
    if (s.headerSize > 40 && s.headerSize <= 1024 && info.Size() < s.headerSize)
        info.Fill(s.headerSize - info.Size(), 0);
    info.Raw(s.afterHeader).Raw(s.palette);
    Bytes file;
    if (s.fileHeader)
        file.U16(0x4D42)
            .U32(uint32_t(14 + info.Size() + s.pixels.size()))
            .U32(0)
            .U32(uint32_t(14 + info.Size()));
    file.Raw(info.data).Raw(s.pixels);
    return file.data;
}

std::vector<uint8_t> GreyPalette(int entries, int step)
{
    std::vector<uint8_t> p;
    for (int i = 0; i < entries; i++) {
        const uint8_t v = uint8_t(i * step);
        p.insert(p.end(), { v, v, v, 0x77 });
    }
    return p;
}

std::vector<uint8_t> Masks(uint32_t r, uint32_t g, uint32_t b)
{
    return Bytes().U32(r).U32(g).U32(b).data;
}

TEST(BmpReader, ReadsABareBitmapWithDataAfterThePalette)
{
    BmpLayout s;
    s.fileHeader = false;
    s.palette = GreyPalette(256, 1);
    s.pixels = { 1, 2, 3, 4, 5, 6, 7, 8 };
    CxImageBMP bmp;
    ASSERT_TRUE(bvtest::DecodeWith(bmp, MakeBmp(s))) << bmp.GetLastError();
    EXPECT_EQ(bmp.GetBpp(), 8);
    EXPECT_EQ(bmp.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(bmp.GetPixelIndex(3, 1), 8);
    EXPECT_EQ(bmp.GetPaletteColor(5).rgbReserved, 0);
}

TEST(BmpReader, ReadsOs2CoreHeadersWithThreeBytePalettes)
{
    Bytes file;
    file.U16(0x4D42).U32(0).U32(0).U32(14 + 12 + 6);
    file.U32(12).U16(8).U16(1).U16(1).U16(1);
    file.Raw({ 10, 20, 30, 40, 50, 60 });
    file.Raw({ 0xA0, 0, 0, 0 });
    CxImageBMP bmp;
    ASSERT_TRUE(bvtest::DecodeWith(bmp, file.data)) << bmp.GetLastError();
    EXPECT_EQ(bmp.GetWidth(), 8);
    EXPECT_EQ(bmp.GetNumColors(), 2u);
    EXPECT_EQ(Rgb(bmp.GetPaletteColor(0)), 0x1E140Au);
    EXPECT_EQ(Rgb(bmp.GetPaletteColor(1)), 0x3C3228u);
    EXPECT_EQ(bmp.GetPaletteColor(1).rgbReserved, 0);
    EXPECT_EQ(bmp.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(bmp.GetPixelIndex(1, 0), 0);
    EXPECT_EQ(bmp.GetPixelIndex(2, 0), 1);
    EXPECT_EQ(bmp.GetXDPI(), 0); // an OS/2 core header has no resolution
}

TEST(BmpReader, AcceptsV4AndV5HeadersWithPalettesAndBitFields)
{
    // 8-bit with a palette behind a 124-byte header, biSizeImage 0: common, valid files.
    BmpLayout pal;
    pal.headerSize = 124;
    pal.palette = GreyPalette(256, 1);
    pal.pixels = { 9, 8, 7, 6, 5, 4, 3, 2 };
    CxImageBMP v5;
    ASSERT_TRUE(bvtest::DecodeWith(v5, MakeBmp(pal))) << v5.GetLastError();
    EXPECT_EQ(v5.GetPixelIndex(1, 0), 8);

    // 16-bit 5-6-5 with its masks inside a 108-byte header.
    BmpLayout bf;
    bf.headerSize = 108;
    bf.width = 2;
    bf.height = 1;
    bf.bits = 16;
    bf.compression = 3;
    bf.headerTail = Masks(0xF800, 0x07E0, 0x001F);
    bf.pixels = Bytes().U16(0xF800).U16(0x07E0).data;
    CxImageBMP v4;
    ASSERT_TRUE(bvtest::DecodeWith(v4, MakeBmp(bf))) << v4.GetLastError();
    EXPECT_EQ(v4.GetBpp(), 24);
    EXPECT_EQ(Rgb(v4.GetPixelColor(0, 0)), 0xF80000u);
    EXPECT_EQ(Rgb(v4.GetPixelColor(1, 0)), 0x00FC00u);

    // The same masks after a 40-byte header.
    bf.headerSize = 40;
    bf.headerTail.clear();
    bf.afterHeader = Masks(0xF800, 0x07E0, 0x001F);
    CxImageBMP v3;
    ASSERT_TRUE(bvtest::DecodeWith(v3, MakeBmp(bf))) << v3.GetLastError();
    EXPECT_EQ(Rgb(v3.GetPixelColor(1, 0)), 0x00FC00u);
}

TEST(BmpReader, OtherLongHeadersNeedTheStrictSizeChecks)
{
    BmpLayout s;
    s.headerSize = 66;
    s.palette = GreyPalette(256, 1);
    s.pixels = std::vector<uint8_t>(8, 1);
    CxImageBMP withPalette;
    EXPECT_FALSE(bvtest::DecodeWith(withPalette, MakeBmp(s)));
    EXPECT_STREQ(withPalette.GetLastError(), "Error reading BMP info");

    // A 24-bit file that states its exact size passes.
    BmpLayout plain;
    plain.headerSize = 66;
    plain.bits = 24;
    plain.width = 1;
    plain.height = 1;
    plain.sizeImage = 4;
    plain.pixels = { 1, 2, 3, 0 };
    CxImageBMP exact;
    ASSERT_TRUE(bvtest::DecodeWith(exact, MakeBmp(plain))) << exact.GetLastError();
    EXPECT_EQ(Rgb(exact.GetPixelColor(0, 0)), 0x030201u);

    // An OS/2 version-2 header (64 bytes) is read without those checks.
    s.headerSize = 64;
    s.clrUsed = 256;
    CxImageBMP os2;
    EXPECT_TRUE(bvtest::DecodeWith(os2, MakeBmp(s))) << os2.GetLastError();
}

TEST(BmpReader, TopDownRowsGiveTheSameStoredRows)
{
    BmpLayout up;
    up.bits = 24;
    up.width = 1;
    up.height = 2;
    up.pixels = { 1, 2, 3, 0, 4, 5, 6, 0 };
    BmpLayout down = up;
    down.height = -2;
    down.pixels = { 4, 5, 6, 0, 1, 2, 3, 0 };
    CxImageBMP a, b;
    ASSERT_TRUE(bvtest::DecodeWith(a, MakeBmp(up)));
    ASSERT_TRUE(bvtest::DecodeWith(b, MakeBmp(down)));
    EXPECT_EQ(b.GetHeight(), 2);
    for (int y = 0; y < 2; y++)
        EXPECT_EQ(Rgb(a.GetPixelColor(0, y)), Rgb(b.GetPixelColor(0, y)));
}

TEST(BmpReader, SixteenBitsWithoutMasksAre555AndThirtyTwoBitMasksAreIgnored)
{
    BmpLayout s;
    s.bits = 16;
    s.width = 1;
    s.height = 1;
    s.pixels = Bytes().U16(0x7FFF).U16(0).data;
    CxImageBMP rgb555;
    ASSERT_TRUE(bvtest::DecodeWith(rgb555, MakeBmp(s)));
    EXPECT_EQ(Rgb(rgb555.GetPixelColor(0, 0)), 0xF8F8F8u);

    BmpLayout t;
    t.bits = 32;
    t.width = 1;
    t.height = 1;
    t.compression = 3;
    t.afterHeader = Masks(0xFF, 0xFF00, 0xFF0000);
    t.pixels = { 0x11, 0x22, 0x33, 0x44 };
    CxImageBMP bgr;
    ASSERT_TRUE(bvtest::DecodeWith(bgr, MakeBmp(t)));
    EXPECT_EQ(Rgb(bgr.GetPixelColor(0, 0)), 0x332211u);
    // A bare bitmap's pixels start after the masks.
    t.fileHeader = false;
    CxImageBMP bare;
    ASSERT_TRUE(bvtest::DecodeWith(bare, MakeBmp(t)));
    EXPECT_EQ(Rgb(bare.GetPixelColor(0, 0)), 0x332211u);
}

TEST(BmpReader, Rle8RunPastTheRowEndStopsAndDeltaPastTheTopKeepsTheLastRow)
{
    BmpLayout s;
    s.compression = 1;
    s.palette = GreyPalette(256, 1);
    // Row 0: 4 x 5 fills the row (stride 4); the next run of 2 would pass it: the end.
    s.pixels = { 4, 5, 2, 6, 0, 0, 1, 7 };
    CxImageBMP stopped;
    ASSERT_TRUE(bvtest::DecodeWith(stopped, MakeBmp(s)));
    EXPECT_EQ(stopped.GetPixelIndex(3, 0), 5);
    EXPECT_EQ(stopped.GetPixelIndex(0, 1), 0) << "decoding went on after the overrun";

    // A delta of 5 rows leaves the picture; the next run lands in row 0 again.
    s.pixels = { 0, 2, 0, 5, 2, 9, 0, 1 };
    CxImageBMP delta;
    ASSERT_TRUE(bvtest::DecodeWith(delta, MakeBmp(s)));
    EXPECT_EQ(delta.GetPixelIndex(0, 0), 9);
    EXPECT_EQ(delta.GetPixelIndex(1, 0), 9);

    // An absolute run continues into the next row; bytes past the buffer are dropped.
    s.pixels = { 0, 2, 2, 1, 0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 0, 1 };
    CxImageBMP absolute;
    ASSERT_TRUE(bvtest::DecodeWith(absolute, MakeBmp(s)));
    EXPECT_EQ(absolute.GetPixelIndex(2, 1), 1);
    EXPECT_EQ(absolute.GetPixelIndex(3, 1), 2);
}

TEST(BmpReader, Rle4FollowsTheUsualLayout)
{
    BmpLayout s;
    s.bits = 4;
    s.compression = 2;
    s.width = 8;
    s.height = 1;
    s.palette = GreyPalette(16, 17);
    // 3 pixels of 1,2,1; then 3 pixels of 3,4,3 starting on a low nibble; then an
    // absolute run of 3 pixels (5, 6, 7) whose last falls past the buffer; end of bitmap.
    s.pixels = { 3, 0x12, 3, 0x34, 0, 3, 0x56, 0x70, 0, 1 };
    CxImageBMP bmp;
    ASSERT_TRUE(bvtest::DecodeWith(bmp, MakeBmp(s)));
    const uint8_t want[8] = { 1, 2, 1, 3, 4, 3, 5, 6 };
    for (int x = 0; x < 8; x++)
        EXPECT_EQ(bmp.GetPixelIndex(x, 0), want[x]) << x;

    // An odd delta moves by whole pixels.
    s.pixels = { 0, 2, 3, 0, 2, 0x90, 0, 1 };
    CxImageBMP delta;
    ASSERT_TRUE(bvtest::DecodeWith(delta, MakeBmp(s)));
    EXPECT_EQ(delta.GetPixelIndex(2, 0), 0);
    EXPECT_EQ(delta.GetPixelIndex(3, 0), 9);
    EXPECT_EQ(delta.GetPixelIndex(4, 0), 0);
}

TEST(BmpReader, ResolutionBecomesDotsPerInch)
{
    BmpLayout s;
    s.palette = GreyPalette(256, 1);
    s.pixels = std::vector<uint8_t>(8, 0);
    CxImageBMP bmp;
    ASSERT_TRUE(bvtest::DecodeWith(bmp, MakeBmp(s)));
    EXPECT_EQ(bmp.GetXDPI(), 72);
    EXPECT_EQ(bmp.GetYDPI(), 72);
    s.pelsPerMetre = 0;
    CxImageBMP none;
    ASSERT_TRUE(bvtest::DecodeWith(none, MakeBmp(s)));
    EXPECT_EQ(none.GetXDPI(), 0);
}

int32_t AlwaysStop(CxImage*, uint32_t) { return 1; }

TEST(BmpReader, EscapeCallbackAsksForTheHeaderOnly)
{
    BmpLayout s;
    s.width = 300;
    s.height = 200;
    s.palette = GreyPalette(256, 1);
    CxImageBMP bmp;
    bmp.SetEscapeCallback(AlwaysStop);
    EXPECT_TRUE(bvtest::DecodeWith(bmp, MakeBmp(s)));
    EXPECT_EQ(bmp.GetWidth(), 300);
    EXPECT_EQ(bmp.GetHeight(), 200);
    EXPECT_FALSE(bmp.IsValid());
    EXPECT_STREQ(bmp.GetLastError(), "output dimensions returned");
}

TEST(BmpReader, TwoBitPixelsWidenToFourBits)
{
    BmpLayout s;
    s.bits = 2;
    s.width = 5;
    s.height = 1;
    s.palette = GreyPalette(4, 85);
    s.pixels = { 0b00011011, 0b10000000, 0, 0 };
    CxImageBMP bmp;
    ASSERT_TRUE(bvtest::DecodeWith(bmp, MakeBmp(s))) << bmp.GetLastError();
    EXPECT_EQ(bmp.GetBpp(), 4);
    const uint8_t want[5] = { 0, 1, 2, 3, 2 };
    for (int x = 0; x < 5; x++)
        EXPECT_EQ(bmp.GetPixelIndex(x, 0), want[x]);
    EXPECT_EQ(Rgb(bmp.GetPaletteColor(3)), 0xFFFFFFu);
}

TEST(BmpReader, RefusesHostileHeadersWithTheirTexts)
{
    struct Case {
        const char* what;
        BmpLayout layout;
        const char* text;
    };
    std::vector<Case> cases;
    BmpLayout base;
    base.palette = GreyPalette(256, 1);
    base.pixels = std::vector<uint8_t>(8, 0);

    Case hugePalette { "palette longer than the file", base, "Error reading BMP info" };
    hugePalette.layout.clrUsed = 0x40000000;
    cases.push_back(hugePalette);
    Case negativeWidth { "negative width", base, "Can't allocate memory" };
    negativeWidth.layout.width = -4;
    cases.push_back(negativeWidth);
    Case enormous { "enormous size", base, "Can't allocate memory" };
    enormous.layout.width = 0x7FFFFFFF;
    enormous.layout.height = 0x7FFFFFFF;
    cases.push_back(enormous);
    Case lowest { "height INT32_MIN", base, "Error reading BMP info" };
    lowest.layout.height = INT32_MIN;
    cases.push_back(lowest);
    Case noDepth { "bit count 0", base, "Error reading BMP info" };
    noDepth.layout.bits = 0;
    cases.push_back(noDepth);
    Case oddDepth { "bit count 30000", base, "Error reading BMP info" };
    oddDepth.layout.bits = 30000;
    cases.push_back(oddDepth);
    Case shortHeader { "header of 20 bytes", base, "Error reading BMP info" };
    shortHeader.layout.headerSize = 20;
    cases.push_back(shortHeader);
    Case longHeader { "header longer than the file", base, "Error reading BMP info" };
    longHeader.layout.headerSize = 0xFFFFFFF0;
    longHeader.layout.sizeImage = 8;
    longHeader.layout.palette.clear();
    cases.push_back(longHeader);
    Case jpeg { "8-bit JPEG compression", base, "compression type not supported" };
    jpeg.layout.compression = 4;
    cases.push_back(jpeg);
    Case rle24 { "24-bit RLE", base, "unknown compression" };
    rle24.layout.bits = 24;
    rle24.layout.compression = 4;
    rle24.layout.palette.clear();
    cases.push_back(rle24);

    for (const Case& c : cases) {
        CxImageBMP bmp;
        EXPECT_FALSE(bvtest::DecodeWith(bmp, MakeBmp(c.layout))) << c.what;
        EXPECT_STREQ(bmp.GetLastError(), c.text) << c.what;
    }

    CxImageBMP tiny;
    EXPECT_FALSE(bvtest::DecodeWith(tiny, { 'B', 'M', 0, 0 }));
    EXPECT_STREQ(tiny.GetLastError(), "Not a BMP");
    EXPECT_FALSE(tiny.Decode(nullptr));
}

TEST(BmpReader, SurvivesEveryTruncation)
{
    BmpLayout rle;
    rle.compression = 1;
    rle.palette = GreyPalette(256, 1);
    rle.pixels = { 4, 5, 0, 0, 0, 4, 1, 2, 3, 4, 0, 2, 1, 1, 2, 7, 0, 1 };
    bvtest::DecodeEveryPrefix<CxImageBMP>(MakeBmp(rle));
    BmpLayout bf;
    bf.headerSize = 124;
    bf.bits = 16;
    bf.compression = 3;
    bf.headerTail = Masks(0xF800, 0x07E0, 0x001F);
    bf.pixels = std::vector<uint8_t>(16, 0x5A);
    bvtest::DecodeEveryPrefix<CxImageBMP>(MakeBmp(bf));
}

} // namespace
