// The image buffer: sizes, strides and padding, the block layout, the refusals of
// impossible sizes, Clear, resolution and format options.
#include "image/core/CxImage.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <tuple>

namespace {

constexpr const char* TOO_BIG = "CXIMAGE_MAX_MEMORY exceeded";

uint32_t ExpectedStride(uint32_t width, uint32_t bpp) { return ((width * bpp + 31) / 32) * 4; }

// The largest index a pixel of this depth holds.
uint8_t MaxIndex(uint32_t bpp) { return bpp == 1 ? 1 : bpp == 4 ? 15 : 255; }

} // namespace

class StrideAtEveryDepth : public testing::TestWithParam<std::tuple<uint32_t, uint32_t>> { };

TEST_P(StrideAtEveryDepth, RowsArePaddedToFourBytesAndTheBlockHoldsThemAll)
{
    const auto [bpp, width] = GetParam();
    const uint32_t height = 3;
    CxImage image(width, height, bpp);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();

    const uint32_t stride = ExpectedStride(width, bpp);
    const uint32_t colors = bpp == 24 ? 0 : 1u << bpp;
    EXPECT_EQ(image.GetBpp(), bpp);
    EXPECT_EQ(image.GetRowStride(), stride);
    EXPECT_EQ(image.GetRowStride() % 4, 0u);
    EXPECT_EQ(image.GetHeader().biSizeImage, stride * height);
    EXPECT_EQ(image.GetNumColors(), colors);
    EXPECT_EQ(image.IsIndexed(), colors != 0);
    EXPECT_EQ(image.GetPaletteSize(), colors * 4);
    EXPECT_EQ(image.GetSize(), 40 + colors * 4 + stride * height);

    // The block starts with the header, then the palette, then stored row 0.
    const auto* block = static_cast<const uint8_t*>(image.GetDIB());
    EXPECT_EQ(std::memcmp(block, &image.GetHeader(), 40), 0);
    EXPECT_EQ(image.GetBits(0), block + 40 + colors * 4);
    EXPECT_EQ(image.GetBits(height - 1), image.GetBits(0) + (height - 1) * stride);
    EXPECT_EQ(image.GetBits(height), nullptr);
    if (colors) {
        EXPECT_EQ(reinterpret_cast<const uint8_t*>(image.GetPalette()), block + 40);
        for (uint32_t i = 0; i < colors; i++) {
            const RGBQUAD c = image.GetPaletteColor(i);
            EXPECT_EQ(c.rgbBlue | c.rgbGreen | c.rgbRed | c.rgbReserved, 0) << "entry " << i;
        }
    }
}

TEST_P(StrideAtEveryDepth, WritingEveryPixelOfARowLeavesPaddingAndOtherRowsAlone)
{
    const auto [bpp, width] = GetParam();
    CxImage image(width, 3, bpp);
    ASSERT_TRUE(image.IsValid());
    image.Clear(0);
    for (uint32_t x = 0; x < width; x++) {
        if (bpp == 24)
            image.SetPixelColor(int32_t(x), 1, RGBQUAD { 255, 255, 255, 0 });
        else
            image.SetPixelIndex(int32_t(x), 1, MaxIndex(bpp));
    }

    const uint32_t stride = image.GetRowStride();
    const uint32_t usedBits = width * bpp;
    const uint8_t* row0 = image.GetBits(0);
    for (uint32_t i = 0; i < stride; i++) {
        EXPECT_EQ(row0[i], 0) << "row 0 byte " << i;
        EXPECT_EQ(image.GetBits(2)[i], 0) << "row 2 byte " << i;
    }
    const uint8_t* row1 = image.GetBits(1);
    for (uint32_t bit = 0; bit < stride * 8; bit++) {
        const bool set = (row1[bit / 8] >> (7 - bit % 8)) & 1;
        EXPECT_EQ(set, bit < usedBits) << "row 1 bit " << bit;
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, StrideAtEveryDepth,
    testing::Combine(testing::Values(1u, 4u, 8u, 24u),
        testing::Values(1u, 2u, 3u, 5u, 7u, 8u, 9u, 31u, 32u, 33u, 65u)));

TEST(ImageCreate, NormalisesTheBitDepth)
{
    const std::pair<uint32_t, uint16_t> cases[] = { { 0, 1 }, { 1, 1 }, { 2, 4 }, { 3, 4 },
        { 4, 4 }, { 5, 8 }, { 8, 8 }, { 9, 24 }, { 16, 24 }, { 24, 24 }, { 32, 24 } };
    for (const auto& [asked, made] : cases) {
        CxImage image(4, 4, asked);
        EXPECT_EQ(image.GetBpp(), made) << "asked " << asked;
    }
}

TEST(ImageCreate, KnownSizes)
{
    CxImage four(3, 2, 3);
    EXPECT_EQ(four.GetBpp(), 4);
    EXPECT_EQ(four.GetNumColors(), 16u);
    EXPECT_EQ(four.GetRowStride(), 4u);
    EXPECT_EQ(four.GetHeader().biSizeImage, 8u);

    EXPECT_EQ(CxImage(1, 1, 24).GetRowStride(), 4u);
    EXPECT_EQ(CxImage(5, 1, 24).GetRowStride(), 16u);
    EXPECT_EQ(CxImage(33, 1, 1).GetRowStride(), 8u);
    EXPECT_EQ(CxImage(800, 1, 8).GetRowStride(), 800u);
}

TEST(ImageCreate, HeaderFieldsAndType)
{
    CxImage image;
    image.SetXDPI(300);
    ASSERT_NE(image.Create(7, 5, 8, CXIMAGE_FORMAT_PCX), nullptr);
    const BITMAPINFOHEADER& h = image.GetHeader();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 7);
    EXPECT_EQ(h.biHeight, 5);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biClrImportant, 0u);
    EXPECT_EQ(h.biXPelsPerMeter, 11811) << "resolution survives Create";
    EXPECT_EQ(image.GetType(), uint32_t(CXIMAGE_FORMAT_PCX));
}

TEST(ImageCreate, ZeroSideFailsWithItsTextAndLeavesTheImageEmpty)
{
    CxImage image(4, 4, 8);
    ASSERT_TRUE(image.IsValid());
    EXPECT_EQ(image.Create(0, 10, 8, 0), nullptr);
    EXPECT_STREQ(
        image.GetLastError(), "CxImage::Create : width and height must be greater than zero");
    EXPECT_FALSE(image.IsValid());
    EXPECT_EQ(image.GetBits(0), nullptr);
    EXPECT_EQ(image.Create(10, 0, 8, 0), nullptr);
}

TEST(ImageCreate, SuccessKeepsAnEarlierError)
{
    CxImage image;
    image.Create(0, 1, 8);
    ASSERT_NE(image.Create(2, 2, 8), nullptr);
    EXPECT_STREQ(
        image.GetLastError(), "CxImage::Create : width and height must be greater than zero");
}

// Sizes whose byte counts overflow 32 (or 64) bits, or exceed the limit, are refused before
// anything is allocated; a naive 32-bit computation would make a tiny buffer for some.
TEST(ImageCreate, RefusesSizesBeyondTheMemoryLimit)
{
    struct Case {
        uint32_t width, height, bpp;
        const char* why;
    };
    const Case cases[] = {
        { 0x7FFFFFFF, 0x7FFFFFFF, 24, "both sides at the largest" },
        { 0x7FFFFFFF, 0x7FFFFFFF, 1, "both sides at the largest, 1 bit" },
        { 0xFFFFFFFF, 1, 1, "width beyond 31 bits" },
        { 1, 0xFFFFFFFF, 1, "height beyond 31 bits" },
        { 0x0AAAAAAB, 1, 24, "width x 24 wraps to 8 in 32 bits" },
        { 0x10000, 0x10000, 8, "stride x height wraps to 0 in 32 bits" },
        { 0x20000, 0x8000, 8, "4 GiB image" },
        { 16000, 16000, 8, "just over 256,000,000 with header and palette" },
        { 0x7FFFFFFF, 1, 1, "one 1-bit row of 2^31 pixels" },
    };
    for (const Case& c : cases) {
        CxImage image(3, 3, 8);
        image.SetLastError("");
        EXPECT_EQ(image.Create(c.width, c.height, c.bpp), nullptr) << c.why;
        EXPECT_STREQ(image.GetLastError(), TOO_BIG) << c.why;
        EXPECT_FALSE(image.IsValid()) << c.why;
        EXPECT_EQ(image.GetBits(0), nullptr) << c.why;
    }
}

TEST(ImageCreate, ConstructorWithAnImpossibleSizeGivesAnEmptyImage)
{
    CxImage image(0x7FFFFFFF, 0x7FFFFFFF, 24);
    EXPECT_FALSE(image.IsValid());
    EXPECT_STREQ(image.GetLastError(), TOO_BIG);
}

TEST(ImageCreate, AWideButSmallImageIsAccepted)
{
    // 1,000,000 x 2 at 24 bits is 6 MB: long rows are fine while the total is within limit.
    CxImage image(1000000, 2, 24);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetRowStride(), 3000000u);
}

TEST(ImageClear, FillsEveryPixelByteIncludingPaddingAndKeepsThePalette)
{
    struct Case {
        uint32_t bpp;
        uint8_t value, stored;
    };
    const Case cases[] = { { 1, 1, 255 }, { 1, 0, 0 }, { 1, 0x40, 255 }, { 4, 0x1A, 0xAA },
        { 4, 0x07, 0x77 }, { 8, 0x1A, 0x1A }, { 24, 0x5C, 0x5C } };
    for (const Case& c : cases) {
        CxImage image(5, 3, c.bpp);
        if (image.IsIndexed())
            image.SetPaletteColor(1, 10, 20, 30);
        image.Clear(c.value);
        const uint8_t* bits = image.GetBits(0);
        for (uint32_t i = 0; i < image.GetHeader().biSizeImage; i++)
            ASSERT_EQ(bits[i], c.stored) << "bpp " << c.bpp << " value " << int(c.value);
        if (image.IsIndexed()) {
            EXPECT_EQ(image.GetPaletteColor(1).rgbRed, 10);
            EXPECT_EQ(image.GetPaletteColor(0).rgbRed, 0);
        }
    }
    CxImage empty;
    empty.Clear(3); // nothing to fill, nothing happens
    EXPECT_FALSE(empty.IsValid());
}

TEST(ImageResolution, DpiBecomesPixelsPerMetre)
{
    CxImage image;
    EXPECT_EQ(image.GetXDPI(), 96);
    EXPECT_EQ(image.GetHeader().biXPelsPerMeter, 3780);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, 3780);

    image.SetXDPI(300);
    EXPECT_EQ(image.GetXDPI(), 300);
    EXPECT_EQ(image.GetHeader().biXPelsPerMeter, 11811);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, 3780);

    image.SetYDPI(72);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, 2835);

    image.SetXDPI(0);
    EXPECT_EQ(image.GetXDPI(), 96);
    EXPECT_EQ(image.GetHeader().biXPelsPerMeter, 3780);
    image.SetYDPI(-5);
    EXPECT_EQ(image.GetYDPI(), 96);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, 3780);
}

TEST(ImageResolution, HugeDpiFromAFileDoesNotOverflow)
{
    CxImage image;
    image.SetXDPI(INT_MAX);
    image.SetYDPI(54546085);
    EXPECT_EQ(image.GetXDPI(), INT_MAX);
    EXPECT_EQ(image.GetHeader().biXPelsPerMeter, INT_MAX);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, INT_MAX);
    image.SetYDPI(54546084);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, 2147483622);
}

TEST(ImageFormatOptions, IdZeroMeansTheImagesOwnTypeAndIdsPastTheTableAreRefused)
{
    CxImage image(CXIMAGE_FORMAT_TIF);
    EXPECT_TRUE(image.SetFormatOption(0x55, 0));
    EXPECT_EQ(image.GetFormatOption(CXIMAGE_FORMAT_TIF), 0x55u);
    EXPECT_EQ(image.GetFormatOption(0), 0x55u);

    EXPECT_TRUE(image.SetFormatOption(7, CXIMAGE_FORMAT_GIF));
    EXPECT_EQ(image.GetFormatOption(CXIMAGE_FORMAT_GIF), 7u);
    EXPECT_EQ(image.GetFormatOption(CXIMAGE_FORMAT_TIF), 0x55u);

    EXPECT_FALSE(image.SetFormatOption(9, CMAX_IMAGE_FORMATS));
    EXPECT_FALSE(image.SetFormatOption(9, 0xFFFFFFFF));
    EXPECT_EQ(image.GetFormatOption(CMAX_IMAGE_FORMATS), 0u);
    EXPECT_EQ(image.GetFormatOption(0xFFFFFFFF), 0u);
}

TEST(ImageRecord, StartsWithTheDocumentedDefaults)
{
    CxImage image(CXIMAGE_FORMAT_PNG);
    EXPECT_FALSE(image.IsValid());
    EXPECT_EQ(image.GetType(), uint32_t(CXIMAGE_FORMAT_PNG));
    EXPECT_EQ(image.GetTransparentIndex(), -1);
    EXPECT_EQ(image.GetGlobalOpacity(), 255);
    EXPECT_TRUE(image.IsEnabled());
    EXPECT_STREQ(image.GetLastError(), "");
    EXPECT_EQ(image.GetFrameDelay(), 0u);
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetBits(0), nullptr);
    EXPECT_EQ(image.GetPalette(), nullptr);
}

TEST(ImageRecord, LastErrorKeeps255CharactersAndItsTerminator)
{
    CxImage image;
    const std::string longText(400, 'x');
    image.SetLastError(longText.c_str());
    EXPECT_EQ(std::strlen(image.GetLastError()), 255u);
    image.SetLastError(nullptr);
    EXPECT_STREQ(image.GetLastError(), "");
}

TEST(ImageRecord, TransparentColourDropsItsReservedByteAndFollowsTheIndex)
{
    CxImage image(2, 2, 8);
    image.SetTransparentColor(RGBQUAD { 1, 2, 3, 99 });
    EXPECT_EQ(image.GetTransparentColor().rgbReserved, 0);
    EXPECT_EQ(image.GetTransparentColor().rgbRed, 3);

    image.SetPaletteColor(4, 40, 50, 60, 70);
    image.SetTransparentIndex(4);
    const RGBQUAD c = image.GetTransparentColor();
    EXPECT_EQ(c.rgbRed, 40);
    EXPECT_EQ(c.rgbBlue, 60);
    EXPECT_EQ(c.rgbReserved, 70);

    CxImage rgb(2, 2, 24);
    rgb.SetTransparentColor(RGBQUAD { 7, 8, 9, 0 });
    rgb.SetTransparentIndex(4);
    EXPECT_EQ(rgb.GetTransparentColor().rgbBlue, 7) << "a 24-bit image has no palette to ask";
}
