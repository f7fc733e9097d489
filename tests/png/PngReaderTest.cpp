// The PNG reader on made-up files (written here chunk by chunk) and on PngSuite cases
// whose result the design fixes: palettes and tRNS, 2-bit widening, alpha channels,
// composition, Adam7, pHYs and the failures.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/png/CxImagePNG.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

void Chunk(Bytes& png, const char* type, const Bytes& data)
{
    Put32(png, uint32_t(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Put32(png, uint32_t(crc32(0, body.data(), uInt(body.size()))));
}

// A non-interlaced PNG of the given rows (each without its filter byte).
struct PngBuilder {
    uint32_t width = 1;
    uint32_t height = 1;
    uint8_t bitDepth = 8;
    uint8_t colorType = 0;
    std::vector<std::pair<std::string, Bytes>> extra; // chunks between IHDR and IDAT
    std::vector<Bytes> rows;

    Bytes Build() const
    {
        Bytes png = { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };
        Bytes ihdr;
        Put32(ihdr, width);
        Put32(ihdr, height);
        ihdr.insert(ihdr.end(), { bitDepth, colorType, 0, 0, 0 });
        Chunk(png, "IHDR", ihdr);
        for (const auto& [type, data] : extra)
            Chunk(png, type.c_str(), data);
        Bytes raw;
        for (const Bytes& row : rows) {
            raw.push_back(0);
            raw.insert(raw.end(), row.begin(), row.end());
        }
        uLongf size = compressBound(uLong(raw.size()));
        Bytes packed(size);
        compress(packed.data(), &size, raw.data(), uLong(raw.size()));
        packed.resize(size);
        Chunk(png, "IDAT", packed);
        Chunk(png, "IEND", {});
        return png;
    }
};

bool DecodeBytes(CxImagePNG& image, const Bytes& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream);
}

PngBuilder Palette2x1(Bytes trns)
{
    PngBuilder b;
    b.width = 2;
    b.colorType = 3;
    b.extra.push_back({ "PLTE", { 10, 20, 30, 40, 50, 60, 70, 80, 90 } });
    b.extra.push_back({ "tRNS", std::move(trns) });
    b.rows = { { 0, 2 } };
    return b;
}

int32_t EscapeAlways(CxImage*, uint32_t) { return 1; }

} // namespace

TEST(PngReader, TwoBitGreyBecomesFourBitWithFourGreys)
{
    CxImage image(bvtest::TestData("png/pngsuite/basn0g02.png").c_str(), CXIMAGE_FORMAT_PNG);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 4);
    const uint8_t greys[4] = { 0, 85, 170, 255 };
    for (uint32_t i = 0; i < 4; i++)
        EXPECT_EQ(image.GetPaletteColor(i).rgbRed, greys[i]);
    // The file's first row runs 0,0,0,0,1,1,1,1,...: four pixels per value.
    const int32_t top = image.GetHeight() - 1;
    for (int32_t x = 0; x < 16; x++)
        EXPECT_EQ(image.GetPixelIndex(x, top), (x / 4) % 4) << x;
}

TEST(PngReader, TwoBitWideningKeepsOddWidths)
{
    PngBuilder b;
    b.width = 5;
    b.bitDepth = 2;
    b.rows = { { 0x1B, 0x80 } }; // 0 1 2 3 2
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, b.Build())) << image.GetLastError();
    const uint8_t want[5] = { 0, 1, 2, 3, 2 };
    for (int32_t x = 0; x < 5; x++)
        EXPECT_EQ(image.GetPixelIndex(x, 0), want[x]);
}

TEST(PngReader, SingleZeroTrnsEntryGivesTransparentIndexZero)
{
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, Palette2x1({ 0 }).Build())) << image.GetLastError();
    EXPECT_EQ(image.GetTransparentIndex(), 0);
    EXPECT_FALSE(image.PaletteHasAlpha());
    EXPECT_EQ(image.GetPaletteColor(2).rgbRed, 70);
    EXPECT_EQ(image.GetPixelIndex(1, 0), 2);
}

TEST(PngReader, SeveralTrnsEntriesGiveAnAlphaPalette)
{
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, Palette2x1({ 0, 128 }).Build())) << image.GetLastError();
    EXPECT_EQ(image.GetTransparentIndex(), -1);
    EXPECT_EQ(image.GetPaletteColor(0).rgbReserved, 0);
    EXPECT_EQ(image.GetPaletteColor(1).rgbReserved, 128);
    // Entries beyond the tRNS count are opaque.
    EXPECT_EQ(image.GetPaletteColor(2).rgbReserved, 255);
    EXPECT_EQ(image.GetPaletteColor(200).rgbReserved, 255);
}

TEST(PngReader, SingleNonZeroTrnsEntryIsAlphaNotTransparency)
{
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, Palette2x1({ 77 }).Build()));
    EXPECT_EQ(image.GetTransparentIndex(), -1);
    EXPECT_EQ(image.GetPaletteColor(0).rgbReserved, 77);
    EXPECT_EQ(image.GetPaletteColor(1).rgbReserved, 255);
}

TEST(PngReader, RgbaKeepsItsAlphaChannel)
{
    PngBuilder b;
    b.width = 2;
    b.colorType = 6;
    b.rows = { { 255, 0, 0, 10, 0, 0, 255, 250 } };
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, b.Build())) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 24);
    ASSERT_TRUE(image.HasAlpha());
    EXPECT_EQ(image.GetAlpha(0, 0), 10);
    EXPECT_EQ(image.GetAlpha(1, 0), 250);
    EXPECT_EQ(image.GetPixelColor(0, 0, false).rgbRed, 255);
    EXPECT_EQ(image.GetPixelColor(1, 0, false).rgbBlue, 255);
}

TEST(PngReader, SixteenBitRgbaIsComposedOntoGrey192OrItsBackground)
{
    PngBuilder b;
    b.colorType = 6;
    b.bitDepth = 16;
    b.rows = { { 0xFF, 0xFF, 0, 0, 0, 0, 0, 0 } }; // fully transparent red
    {
        CxImagePNG image;
        ASSERT_TRUE(DecodeBytes(image, b.Build())) << image.GetLastError();
        const RGBQUAD c = image.GetPixelColor(0, 0, false);
        EXPECT_EQ(c.rgbRed, 192);
        EXPECT_EQ(c.rgbGreen, 192);
        EXPECT_EQ(c.rgbBlue, 192);
    }
    b.extra.push_back({ "bKGD", { 0, 0, 0x80, 0x00, 0x20, 0x00 } });
    {
        CxImagePNG image;
        ASSERT_TRUE(DecodeBytes(image, b.Build())) << image.GetLastError();
        const RGBQUAD c = image.GetPixelColor(0, 0, false);
        EXPECT_EQ(c.rgbRed, 0);
        EXPECT_EQ(c.rgbGreen, 0x80);
        EXPECT_EQ(c.rgbBlue, 0x20);
    }
}

TEST(PngReader, EightBitRgbaTakesItsBackgroundAsTransparentColour)
{
    PngBuilder b;
    b.colorType = 6;
    b.extra.push_back({ "bKGD", { 0, 1, 0, 2, 0, 3 } });
    b.rows = { { 9, 9, 9, 9 } };
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, b.Build()));
    const RGBQUAD t = image.GetTransparentColor();
    EXPECT_EQ(t.rgbRed, 1);
    EXPECT_EQ(t.rgbGreen, 2);
    EXPECT_EQ(t.rgbBlue, 3);
}

TEST(PngReader, InterlacedFileMatchesItsTwinAndSetsTheFormatOption)
{
    for (const char* name : { "basn2c08", "basn0g02", "basn3p04", "basn6a08", "basn4a16" }) {
        SCOPED_TRACE(name);
        std::string twin = name;
        twin[3] = 'i';
        CxImage plain(bvtest::TestData(std::string("png/pngsuite/") + name + ".png").c_str(),
            CXIMAGE_FORMAT_PNG);
        CxImage interlaced(
            bvtest::TestData("png/pngsuite/" + twin + ".png").c_str(), CXIMAGE_FORMAT_PNG);
        ASSERT_TRUE(plain.IsValid() && interlaced.IsValid());
        EXPECT_EQ(plain.GetFormatOption(CXIMAGE_FORMAT_PNG), 0u);
        EXPECT_EQ(interlaced.GetFormatOption(CXIMAGE_FORMAT_PNG), 1u);
        ASSERT_EQ(plain.GetSize(), interlaced.GetSize());
        EXPECT_EQ(
            std::memcmp(plain.GetBits(), interlaced.GetBits(), plain.GetHeader().biSizeImage), 0);
        ASSERT_EQ(plain.HasAlpha(), interlaced.HasAlpha());
        if (plain.HasAlpha()) {
            const size_t n = size_t(plain.GetWidth()) * plain.GetHeight();
            EXPECT_EQ(std::memcmp(plain.GetAlphaPlane(), interlaced.GetAlphaPlane(), n), 0);
        }
    }
}

TEST(PngReader, PhysInPixelsPerMetreGivesDotsPerInch)
{
    PngBuilder b;
    Bytes phys;
    Put32(phys, 3780);
    Put32(phys, 11811);
    phys.push_back(1);
    b.extra.push_back({ "pHYs", phys });
    b.rows = { { 0 } };
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, b.Build()));
    EXPECT_EQ(image.GetXDPI(), 96);
    EXPECT_EQ(image.GetYDPI(), 300);
}

TEST(PngReader, PhysWithoutUnitLeavesTheResolution)
{
    PngBuilder b;
    Bytes phys;
    Put32(phys, 1);
    Put32(phys, 1);
    phys.push_back(0);
    b.extra.push_back({ "pHYs", phys });
    b.rows = { { 0 } };
    CxImagePNG image;
    ASSERT_TRUE(DecodeBytes(image, b.Build()));
    EXPECT_EQ(image.GetXDPI(), 96);
    EXPECT_EQ(image.GetYDPI(), 96);
}

TEST(PngReader, TruncatedFileFailsWithTheReadErrorText)
{
    PngBuilder b;
    b.width = 64;
    b.height = 64;
    b.colorType = 2;
    b.rows.assign(64, Bytes(64 * 3, 0x5A));
    Bytes bytes = b.Build();
    bytes.resize(bytes.size() / 2);
    CxImagePNG image;
    EXPECT_FALSE(DecodeBytes(image, bytes));
    EXPECT_STREQ(image.GetLastError(), "Read Error");
}

TEST(PngReader, HugeDeclaredSizeFailsBeforeAnyLargeAllocation)
{
    PngBuilder b;
    b.width = 60000;
    b.height = 60000;
    b.colorType = 2;
    CxImagePNG image;
    EXPECT_FALSE(DecodeBytes(image, b.Build()));
    EXPECT_STREQ(image.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(PngReader, NotAPngFailsWithTheLibraryText)
{
    const Bytes bytes = { 'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0 };
    CxImagePNG image;
    EXPECT_FALSE(DecodeBytes(image, bytes));
    EXPECT_STRNE(image.GetLastError(), "");
}

TEST(PngReader, EscapeStopsTheDecodeAndKeepsTheLastError)
{
    PngBuilder b;
    b.rows = { { 0 } };
    CxImagePNG image;
    image.SetEscapeCallback(EscapeAlways);
    CxMemStream stream(nullptr, 0);
    const Bytes bytes = b.Build();
    CxMemStream png(bytes.data(), bytes.size());
    EXPECT_FALSE(image.Decode(&png));
    EXPECT_STREQ(image.GetLastError(), "");
}
