// The icon reader on small hand-made icons.
#include "ReaderTestSupport.h"
#include "image/formats/ico/CxImageICO.h"

#include <gtest/gtest.h>

namespace {

using bvtest::Bytes;
using bvtest::Rgb;

struct IconImage {
    uint8_t width;
    uint8_t height;
    uint16_t bits;
    std::vector<uint8_t> palette; // 4-byte entries
    std::vector<uint8_t> pixels; // stored rows, bottom first
    std::vector<uint8_t> mask; // stored rows of ((w + 31) / 32) * 4 bytes
};

std::vector<uint8_t> MakeIcon(const std::vector<IconImage>& images, uint16_t type = 1)
{
    Bytes file;
    file.U16(0).U16(type).U16(uint16_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    std::vector<Bytes> bodies;
    for (const IconImage& image : images) {
        Bytes body;
        body.U32(40).U32(image.width).U32(uint32_t(image.height) * 2).U16(1).U16(image.bits);
        body.U32(0).U32(0).U32(0).U32(0).U32(0).U32(0);
        body.Raw(image.palette).Raw(image.pixels).Raw(image.mask);
        file.U8(image.width).U8(image.height).U8(0).U8(0).U16(1).U16(image.bits);
        file.U32(uint32_t(body.Size())).U32(offset);
        offset += uint32_t(body.Size());
        bodies.push_back(body);
    }
    for (const Bytes& body : bodies)
        file.Raw(body.data);
    return file.data;
}

// A 4 x 4 8-bit image whose pixel (x, y) is index (y * 4 + x) % 10, with mask rows.
IconImage EightBit(std::vector<uint8_t> maskRows)
{
    IconImage image { 4, 4, 8, {}, {}, {} };
    for (int i = 0; i < 256; i++)
        image.palette.insert(image.palette.end(), { uint8_t(i), uint8_t(i), uint8_t(i), 0 });
    for (int i = 0; i < 16; i++)
        image.pixels.push_back(uint8_t(i % 10));
    for (const uint8_t row : maskRows)
        image.mask.insert(image.mask.end(), { row, 0, 0, 0 });
    return image;
}

// A 2 x 2 24-bit image with the given colours (blue, green, red per pixel, row 0 first).
IconImage TwentyFourBit(std::vector<uint8_t> bgr, std::vector<uint8_t> maskRows)
{
    IconImage image { 2, 2, 24, {}, {}, {} };
    for (int row = 0; row < 2; row++) {
        image.pixels.insert(image.pixels.end(), bgr.begin() + row * 6, bgr.begin() + row * 6 + 6);
        image.pixels.insert(image.pixels.end(), { 0, 0 });
    }
    for (const uint8_t row : maskRows)
        image.mask.insert(image.mask.end(), { row, 0, 0, 0 });
    return image;
}

TEST(IcoReader, PicksTheFrameAndCountsTheEntries)
{
    const std::vector<uint8_t> icon = MakeIcon({ EightBit({ 0, 0, 0, 0 }),
        TwentyFourBit(std::vector<uint8_t>(12, 9), { 0, 0 }), EightBit({ 0, 0, 0, 0 }) });
    CxImageICO second;
    second.SetFrame(1);
    ASSERT_TRUE(bvtest::DecodeWith(second, icon));
    EXPECT_EQ(second.GetNumFrames(), 3);
    EXPECT_EQ(second.GetWidth(), 2);
    EXPECT_EQ(second.GetBpp(), 24);

    CxImageICO past;
    past.SetLastError("before");
    past.SetFrame(3);
    EXPECT_FALSE(bvtest::DecodeWith(past, icon));
    EXPECT_EQ(past.GetNumFrames(), 3);
    EXPECT_STREQ(past.GetLastError(), "before");

    CxImageICO negative;
    negative.SetFrame(-1);
    EXPECT_FALSE(bvtest::DecodeWith(negative, icon));

    // Cursors (type 2) read the same way; other types are not icons.
    CxImageICO cursor;
    EXPECT_TRUE(bvtest::DecodeWith(cursor, MakeIcon({ EightBit({ 0, 0, 0, 0 }) }, 2)));
    CxImageICO other;
    EXPECT_FALSE(bvtest::DecodeWith(other, MakeIcon({ EightBit({ 0, 0, 0, 0 }) }, 3)));
}

TEST(IcoReader, MaskedPalettePixelsTakeTheLowestUnusedIndex)
{
    // Indices 0..9 in use; the mask marks the top-left 2 x 2 corner (stored rows 2, 3).
    CxImageICO icon;
    ASSERT_TRUE(bvtest::DecodeWith(icon, MakeIcon({ EightBit({ 0, 0, 0xC0, 0xC0 }) })));
    EXPECT_EQ(icon.GetTransparentIndex(), 10);
    EXPECT_FALSE(icon.HasAlpha());
    EXPECT_EQ(icon.GetPixelIndex(0, 3), 10);
    EXPECT_EQ(icon.GetPixelIndex(1, 2), 10);
    EXPECT_EQ(icon.GetPixelIndex(2, 2), 0); // (2 * 4 + 2) % 10
    EXPECT_EQ(icon.GetPixelIndex(1, 0), 1);

    CxImageICO unmasked;
    ASSERT_TRUE(bvtest::DecodeWith(unmasked, MakeIcon({ EightBit({ 0, 0, 0, 0 }) })));
    EXPECT_EQ(unmasked.GetTransparentIndex(), -1);
    EXPECT_FALSE(unmasked.HasAlpha());
}

TEST(IcoReader, OneMaskedColourBecomesTheTransparentColour)
{
    const std::vector<uint8_t> pixels = { 0, 0, 0, 50, 60, 70, 80, 90, 100, 0, 0, 0 };
    CxImageICO same;
    ASSERT_TRUE(bvtest::DecodeWith(same, MakeIcon({ TwentyFourBit(pixels, { 0x80, 0x40 }) })));
    EXPECT_EQ(Rgb(same.GetTransparentColor()), 0u);
    EXPECT_EQ(same.GetTransparentIndex(), 0);
    EXPECT_FALSE(same.HasAlpha());

    // Two colours under the mask: the alpha plane stays, 0 at the masked pixels.
    CxImageICO mixed;
    ASSERT_TRUE(bvtest::DecodeWith(mixed, MakeIcon({ TwentyFourBit(pixels, { 0xC0, 0 }) })));
    ASSERT_TRUE(mixed.HasAlpha());
    EXPECT_EQ(mixed.GetAlpha(0, 0), 0);
    EXPECT_EQ(mixed.GetAlpha(1, 0), 0);
    EXPECT_EQ(mixed.GetAlpha(0, 1), 255);
    EXPECT_EQ(mixed.GetTransparentIndex(), -1);
}

TEST(IcoReader, ThirtyTwoBitIconsKeepTheirAlphaUnderTheMask)
{
    IconImage image { 2, 1, 32, {}, { 10, 20, 30, 128, 40, 50, 60, 200 }, { 0x40, 0, 0, 0 } };
    CxImageICO icon;
    ASSERT_TRUE(bvtest::DecodeWith(icon, MakeIcon({ image })));
    ASSERT_TRUE(icon.HasAlpha());
    EXPECT_EQ(icon.GetAlpha(0, 0), 128);
    EXPECT_EQ(icon.GetAlpha(1, 0), 0);
    EXPECT_EQ(Rgb(icon.GetPixelColor(1, 0, false)), 0x3C3228u);
}

TEST(IcoReader, AFullMaskInvertsThePicture)
{
    IconImage image { 2, 1, 24, {}, { 0, 0, 0, 255, 255, 255, 0, 0 }, { 255, 255, 255, 255 } };
    CxImageICO icon;
    ASSERT_TRUE(bvtest::DecodeWith(icon, MakeIcon({ image })));
    EXPECT_EQ(icon.GetTransparentIndex(), 0);
    EXPECT_EQ(Rgb(icon.GetPixelColor(0, 0)), 0xFFFFFFu);
    EXPECT_EQ(Rgb(icon.GetPixelColor(1, 0)), 0u);
}

TEST(IcoReader, ASizeByteOfZeroMeans256)
{
    IconImage image { 0, 0, 1, { 0, 0, 0, 0, 255, 255, 255, 0 },
        std::vector<uint8_t>(256 * 32, 0xFF), std::vector<uint8_t>(256 * 32, 0) };
    CxImageICO icon;
    ASSERT_TRUE(bvtest::DecodeWith(icon, MakeIcon({ image })));
    EXPECT_EQ(icon.GetWidth(), 256);
    EXPECT_EQ(icon.GetHeight(), 256);
    EXPECT_EQ(icon.GetPixelIndex(255, 255), 1);
}

TEST(IcoReader, RefusesBrokenEntriesWithATextAndSurvivesTruncation)
{
    IconImage odd { 2, 2, 7, {}, std::vector<uint8_t>(16, 0), std::vector<uint8_t>(8, 0) };
    CxImageICO depth;
    EXPECT_FALSE(bvtest::DecodeWith(depth, MakeIcon({ odd })));
    EXPECT_STRNE(depth.GetLastError(), "");

    std::vector<uint8_t> pastEnd = MakeIcon({ EightBit({ 0, 0, 0, 0 }) });
    pastEnd[18] = 0xFF; // image offset far past the file
    pastEnd[21] = 0x7F;
    CxImageICO far;
    EXPECT_FALSE(bvtest::DecodeWith(far, pastEnd));
    EXPECT_STREQ(far.GetLastError(), "Corrupted ICO");

    // Many entries announced, few present.
    std::vector<uint8_t> manyEntries = MakeIcon({ EightBit({ 0, 0, 0, 0 }) });
    manyEntries[4] = 0xFF;
    manyEntries[5] = 0xFF;
    CxImageICO many;
    EXPECT_FALSE(bvtest::DecodeWith(many, manyEntries));
    EXPECT_EQ(many.GetNumFrames(), 0xFFFF);

    bvtest::DecodeEveryPrefix<CxImageICO>(MakeIcon({ EightBit({ 0, 0xF0, 0, 0 }),
        IconImage { 2, 1, 32, {}, std::vector<uint8_t>(8, 7), { 0x40, 0, 0, 0 } } }));
}

} // namespace
