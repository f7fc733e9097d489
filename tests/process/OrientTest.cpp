// Flips, mirror, quarter turns and the negative, checked as operations on pictures.
#include "TestPictures.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

using bvtest::FromImage;
using bvtest::PatternPicture;
using bvtest::Picture;
using bvtest::ToImage;

namespace {

// The expected results, written in picture terms (top row first).
Picture Transformed(const Picture& p, int32_t newWidth, int32_t newHeight,
    auto sourceOf /* (newX, newRow) -> (x, row) */)
{
    Picture out;
    out.width = newWidth;
    out.height = newHeight;
    for (int32_t row = 0; row < newHeight; row++) {
        for (int32_t x = 0; x < newWidth; x++) {
            const auto [sx, srow] = sourceOf(x, row);
            out.values.push_back(p.At(sx, srow));
            if (!p.alpha.empty())
                out.alpha.push_back(p.alpha[size_t(srow) * p.width + sx]);
        }
    }
    return out;
}

Picture UpsideDown(const Picture& p)
{
    return Transformed(p, p.width, p.height,
        [&](int32_t x, int32_t row) { return std::pair(x, p.height - 1 - row); });
}

Picture LeftToRight(const Picture& p)
{
    return Transformed(p, p.width, p.height,
        [&](int32_t x, int32_t row) { return std::pair(p.width - 1 - x, row); });
}

// A quarter turn counter-clockwise: the old right column becomes the top row.
Picture TurnedLeft(const Picture& p)
{
    return Transformed(p, p.height, p.width,
        [&](int32_t x, int32_t row) { return std::pair(p.width - 1 - row, x); });
}

// A quarter turn clockwise: the old left column, read bottom up, becomes the top row.
Picture TurnedRight(const Picture& p)
{
    return Transformed(p, p.height, p.width,
        [&](int32_t x, int32_t row) { return std::pair(row, p.height - 1 - x); });
}

struct Shape {
    int32_t width, height;
};

class Orientation : public testing::TestWithParam<std::tuple<uint32_t, Shape>> { };

TEST_P(Orientation, MatchesThePictureOperation)
{
    const auto [bpp, shape] = GetParam();
    const Picture picture = PatternPicture(shape.width, shape.height, bpp, true);

    struct Case {
        const char* name;
        bool (*apply)(CxImage&);
        Picture expected;
    };
    const Case cases[] = {
        { "Flip", [](CxImage& i) { return i.Flip(); }, UpsideDown(picture) },
        { "Mirror", [](CxImage& i) { return i.Mirror(); }, LeftToRight(picture) },
        { "RotateLeft", [](CxImage& i) { return i.RotateLeft(); }, TurnedLeft(picture) },
        { "RotateRight", [](CxImage& i) { return i.RotateRight(); }, TurnedRight(picture) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CxImage image;
        ToImage(picture, bpp, image);
        image.SetTransparentIndex(1);
        image.SetFrameDelay(42);
        ASSERT_TRUE(c.apply(image));
        EXPECT_EQ(image.GetBpp(), bpp);
        EXPECT_EQ(FromImage(image), c.expected);
        // The info record and the palette come along.
        EXPECT_EQ(image.GetTransparentIndex(), 1);
        EXPECT_EQ(image.GetFrameDelay(), 42u);
        if (bpp < 24) {
            const RGBQUAD last = image.GetPaletteColor(image.GetNumColors() - 1);
            const RGBQUAD want = bvtest::TestPaletteEntry(image.GetNumColors() - 1);
            EXPECT_EQ(last.rgbRed, want.rgbRed);
            EXPECT_EQ(last.rgbBlue, want.rgbBlue);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, Orientation,
    testing::Combine(testing::Values(1u, 4u, 8u, 24u),
        testing::Values(
            Shape { 3, 2 }, Shape { 5, 3 }, Shape { 9, 7 }, Shape { 33, 1 }, Shape { 70, 131 })),
    [](const auto& info) {
        const Shape s = std::get<1>(info.param);
        return std::to_string(std::get<0>(info.param)) + "bpp_" + std::to_string(s.width) + "x"
            + std::to_string(s.height);
    });

TEST(Orientation, RotateLeftOfThreeByTwoPutsTheOldTopRightAtTopLeft)
{
    Picture p;
    p.width = 3;
    p.height = 2;
    p.values = { 0x000001, 0x000002, 0x000003, 0x000004, 0x000005, 0x000006 };
    CxImage image;
    ToImage(p, 24, image);
    ASSERT_TRUE(image.RotateLeft());
    const Picture turned = FromImage(image);
    EXPECT_EQ(turned.width, 2);
    EXPECT_EQ(turned.height, 3);
    EXPECT_EQ(turned.values, (std::vector<uint32_t> { 3, 6, 2, 5, 1, 4 }));
}

TEST(Orientation, RotationIntoADestinationLeavesTheSourceAlone)
{
    const Picture picture = PatternPicture(6, 4, 8, true);
    CxImage image;
    ToImage(picture, 8, image);
    CxImage left;
    CxImage right;
    ASSERT_TRUE(image.RotateLeft(&left));
    ASSERT_TRUE(image.RotateRight(&right));
    EXPECT_EQ(FromImage(image), picture);
    EXPECT_EQ(FromImage(left), TurnedLeft(picture));
    EXPECT_EQ(FromImage(right), TurnedRight(picture));
}

TEST(Orientation, FourTurnsAndTwoFlipsGiveTheOriginalBack)
{
    const Picture picture = PatternPicture(67, 5, 24, true);
    CxImage image;
    ToImage(picture, 24, image);
    image.SetXDPI(300);
    for (int i = 0; i < 4; i++)
        ASSERT_TRUE(image.RotateRight());
    ASSERT_TRUE(image.Flip());
    ASSERT_TRUE(image.Flip());
    EXPECT_EQ(FromImage(image), picture);
    EXPECT_EQ(image.GetXDPI(), 300);
    EXPECT_EQ(image.GetHeader().biXPelsPerMeter, 11811);
}

TEST(Orientation, EmptyImageIsRefused)
{
    CxImage image;
    EXPECT_FALSE(image.Flip());
    EXPECT_FALSE(image.Mirror());
    EXPECT_FALSE(image.RotateLeft());
    EXPECT_FALSE(image.RotateRight());
    EXPECT_FALSE(image.Negative());
}

int32_t StopAtOnce(CxImage*, uint32_t) { return 1; }

TEST(Orientation, AStoppedRotationStillDeliversTheTurnedImage)
{
    CxImage image;
    ToImage(PatternPicture(100, 80, 24, false), 24, image);
    image.SetEscapeCallback(StopAtOnce);
    ASSERT_TRUE(image.RotateLeft());
    EXPECT_EQ(image.GetWidth(), 80);
    EXPECT_EQ(image.GetHeight(), 100);
}

// --- Negative ------------------------------------------------------------------------

TEST(Negative, TrueColourInvertsEveryPixelAndTheTransparentColour)
{
    Picture picture = PatternPicture(5, 3, 24, true);
    CxImage image;
    ToImage(picture, 24, image);
    image.SetTransparentColor(RGBQUAD { 10, 20, 30, 0 });
    ASSERT_TRUE(image.Negative());
    for (uint32_t& v : picture.values)
        v ^= 0xFFFFFF;
    EXPECT_EQ(FromImage(image), picture); // alpha untouched
    const RGBQUAD t = image.GetTransparentColor();
    EXPECT_EQ(t.rgbBlue, 245);
    EXPECT_EQ(t.rgbGreen, 235);
    EXPECT_EQ(t.rgbRed, 225);
}

// Nothing public makes a selection mask; a derived image, as a codec would, can.
class SelectableImage : public CxImage {
public:
    // Selects the pixels for which `chosen(x, y)` holds; the box is the whole image.
    template <typename Chosen> void Select(Chosen chosen)
    {
        const size_t bytes = size_t(GetWidth()) * size_t(GetHeight());
        std::free(selection);
        selection = static_cast<uint8_t*>(std::malloc(bytes));
        for (int32_t y = 0; y < GetHeight(); y++)
            for (int32_t x = 0; x < GetWidth(); x++)
                selection[size_t(y) * GetWidth() + x] = chosen(x, y) ? 255 : 0;
        info.selectionBox = RECT { 0, GetHeight(), GetWidth(), 0 };
    }
};

TEST(Negative, WithASelectionOnlySelectedPixelsChange)
{
    auto chosen = [](int32_t x, int32_t y) { return (x + 2 * y) % 3 == 0; };
    for (const uint32_t bpp : { 24u, 8u }) {
        SCOPED_TRACE(bpp);
        const Picture picture = PatternPicture(6, 4, bpp, bpp == 24);
        SelectableImage image;
        ToImage(picture, bpp, image);
        if (bpp == 8)
            image.MakeGreyPalette();
        image.Select(chosen);
        ASSERT_TRUE(image.Negative());

        Picture want = picture;
        for (int32_t row = 0; row < picture.height; row++) {
            for (int32_t x = 0; x < picture.width; x++) {
                if (chosen(x, picture.height - 1 - row)) {
                    uint32_t& v = want.values[size_t(row) * picture.width + x];
                    v = bpp == 24 ? (v ^ 0xFFFFFF) : (255 - v);
                }
            }
        }
        EXPECT_EQ(FromImage(image), want);
    }
}

TEST(Negative, PaletteImageInvertsThePaletteAndKeepsThePixels)
{
    const Picture picture = PatternPicture(7, 3, 8, false);
    CxImage image;
    ToImage(picture, 8, image);
    ASSERT_TRUE(image.Negative());
    EXPECT_EQ(FromImage(image), picture);
    for (uint32_t i = 0; i < 256; i++) {
        const RGBQUAD c = image.GetPaletteColor(i);
        const RGBQUAD want = bvtest::TestPaletteEntry(i);
        ASSERT_EQ(c.rgbBlue, 255 - want.rgbBlue);
        ASSERT_EQ(c.rgbGreen, 255 - want.rgbGreen);
        ASSERT_EQ(c.rgbRed, 255 - want.rgbRed);
    }
}

TEST(Negative, GreyRampComplementsTheIndices)
{
    for (const uint32_t bpp : { 4u, 8u }) {
        SCOPED_TRACE(bpp);
        Picture picture = PatternPicture(9, 5, bpp, false);
        CxImage image;
        ToImage(picture, bpp, image);
        image.MakeGreyPalette();
        if (bpp == 4) {
            // MakeGreyPalette steps by 17; a ramp of 16 entries holds 0..15.
            for (uint32_t i = 0; i < 16; i++)
                image.SetPaletteColor(i, uint8_t(i), uint8_t(i), uint8_t(i));
        }
        ASSERT_TRUE(image.IsGreyRamp());
        ASSERT_TRUE(image.Negative());
        const uint32_t top = (1u << bpp) - 1;
        for (uint32_t& v : picture.values)
            v = top - v;
        EXPECT_EQ(FromImage(image), picture);
        EXPECT_TRUE(image.IsGreyRamp());
    }
}

} // namespace
