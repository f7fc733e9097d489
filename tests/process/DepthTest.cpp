// IncreaseBpp: deeper pixel formats keep the picture, its palette, transparency and alpha.
#include "TestPictures.h"

#include <gtest/gtest.h>

using bvtest::FromImage;
using bvtest::PatternPicture;
using bvtest::Picture;
using bvtest::ToImage;

namespace {

TEST(IncreaseBpp, IndexedToDeeperIndexedKeepsIndicesPaletteAndAlpha)
{
    const std::pair<uint32_t, uint32_t> steps[] = { { 1, 4 }, { 1, 8 }, { 4, 8 } };
    for (const auto& [from, to] : steps) {
        SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to));
        const Picture picture = PatternPicture(11, 5, from, true);
        CxImage image;
        ToImage(picture, from, image);
        image.SetTransparentIndex(1);
        ASSERT_TRUE(image.IncreaseBpp(to));
        EXPECT_EQ(image.GetBpp(), to);
        EXPECT_EQ(FromImage(image), picture);
        EXPECT_EQ(image.GetTransparentIndex(), 1);
        const uint32_t oldColors = 1u << from;
        for (uint32_t i = 0; i < image.GetNumColors(); i++) {
            const RGBQUAD c = image.GetPaletteColor(i);
            const RGBQUAD want
                = i < oldColors ? bvtest::TestPaletteEntry(i) : RGBQUAD { 0, 0, 0, 0 };
            ASSERT_EQ(c.rgbRed, want.rgbRed) << i;
            ASSERT_EQ(c.rgbGreen, want.rgbGreen) << i;
            ASSERT_EQ(c.rgbBlue, want.rgbBlue) << i;
        }
    }
}

TEST(IncreaseBpp, To24BitsGivesEveryPixelItsPaletteColour)
{
    for (const uint32_t from : { 1u, 4u, 8u }) {
        SCOPED_TRACE(from);
        const Picture picture = PatternPicture(13, 6, from, false);
        CxImage image;
        ToImage(picture, from, image);
        ASSERT_TRUE(image.IncreaseBpp(24));
        ASSERT_EQ(image.GetBpp(), 24);
        EXPECT_FALSE(image.HasAlpha());
        for (int32_t row = 0; row < picture.height; row++) {
            for (int32_t x = 0; x < picture.width; x++) {
                const RGBQUAD want = bvtest::TestPaletteEntry(picture.At(x, row));
                const RGBQUAD got = image.GetPixelColor(x, picture.height - 1 - row);
                ASSERT_EQ(got.rgbRed, want.rgbRed);
                ASSERT_EQ(got.rgbGreen, want.rgbGreen);
                ASSERT_EQ(got.rgbBlue, want.rgbBlue);
            }
        }
    }
}

TEST(IncreaseBpp, TransparentIndexBecomesTheTransparentColour)
{
    CxImage image(4, 4, 8);
    bvtest::MakeTestPalette(image);
    image.SetTransparentIndex(9);
    ASSERT_TRUE(image.IncreaseBpp(24));
    const RGBQUAD t = image.GetTransparentColor();
    const RGBQUAD want = bvtest::TestPaletteEntry(9);
    EXPECT_EQ(t.rgbRed, want.rgbRed);
    EXPECT_EQ(t.rgbGreen, want.rgbGreen);
    EXPECT_EQ(t.rgbBlue, want.rgbBlue);
}

TEST(IncreaseBpp, PaletteAlphaLandsInANewAlphaPlane)
{
    CxImage image(3, 2, 8);
    image.SetPaletteColor(0, 10, 20, 30, 0);
    image.SetPaletteColor(1, 40, 50, 60, 128);
    image.SetPaletteColor(2, 70, 80, 90, 255);
    for (int32_t x = 0; x < 3; x++) {
        image.SetPixelIndex(x, 0, uint8_t(x));
        image.SetPixelIndex(x, 1, uint8_t(2 - x));
    }
    ASSERT_TRUE(image.IncreaseBpp(24));
    ASSERT_TRUE(image.HasAlpha());
    EXPECT_EQ(image.GetAlpha(0, 0), 0);
    EXPECT_EQ(image.GetAlpha(1, 0), 128);
    EXPECT_EQ(image.GetAlpha(2, 0), 255);
    EXPECT_EQ(image.GetAlpha(0, 1), 255);
    EXPECT_EQ(image.GetPixelColor(1, 1).rgbRed, 40);
}

TEST(IncreaseBpp, AnExistingAlphaPlaneWinsOverPaletteAlpha)
{
    CxImage image(2, 1, 8);
    image.SetPaletteColor(0, 1, 2, 3, 99);
    image.Clear(0);
    image.CreateAlpha();
    image.SetAlpha(1, 0, 7);
    ASSERT_TRUE(image.IncreaseBpp(24));
    EXPECT_EQ(image.GetAlpha(0, 0), 255);
    EXPECT_EQ(image.GetAlpha(1, 0), 7);
}

TEST(IncreaseBpp, RefusesShallowerUnsupportedAndEmpty)
{
    CxImage image(5, 5, 24);
    image.Clear(0x42);
    EXPECT_FALSE(image.IncreaseBpp(8));
    EXPECT_FALSE(image.IncreaseBpp(16));
    EXPECT_FALSE(image.IncreaseBpp(32));
    EXPECT_TRUE(image.IncreaseBpp(24));
    EXPECT_EQ(image.GetBpp(), 24);
    EXPECT_EQ(image.GetPixelColor(2, 2).rgbGreen, 0x42);

    CxImage palette(5, 5, 8);
    EXPECT_FALSE(palette.IncreaseBpp(4));
    EXPECT_FALSE(palette.IncreaseBpp(2));
    EXPECT_EQ(palette.GetBpp(), 8);

    CxImage empty;
    EXPECT_FALSE(empty.IncreaseBpp(24));
}

int rowsAllowed = 0;
int32_t StopAfterRows(CxImage*, uint32_t) { return rowsAllowed-- > 0 ? 0 : 1; }

TEST(IncreaseBpp, AStopStillCompletesWithTheRowsDone)
{
    CxImage image(4, 6, 8);
    bvtest::MakeTestPalette(image);
    image.Clear(5);
    rowsAllowed = 2;
    image.SetEscapeCallback(StopAfterRows);
    ASSERT_TRUE(image.IncreaseBpp(24));
    EXPECT_EQ(image.GetBpp(), 24);
    EXPECT_EQ(image.GetPixelColor(0, 1).rgbRed, bvtest::TestPaletteEntry(5).rgbRed);
    EXPECT_EQ(image.GetPixelColor(0, 2).rgbRed, 0);
}

} // namespace
