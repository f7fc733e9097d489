// Device contexts: the clip box and clip regions, filling, and palettes.
#include "platform/DeviceBitmap.h"

#include <gtest/gtest.h>
#include <string>

using platform::Bitmap;
using platform::DeviceContext;
using platform::RegionMode;

namespace {

std::string Text(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right)
        + "," + std::to_string(r.bottom);
}

#define EXPECT_BOX(dc, l, t, r, b) EXPECT_EQ(Text((dc).GetClipBox()), Text(RECT { l, t, r, b }))

// A memory context painting into a bitmap of its own.
struct Canvas {
    Canvas(int32_t width, int32_t height, uint16_t bpp = 32)
        : bitmap(width, height, bpp)
        , dc(DeviceContext::CreateCompatible(nullptr))
    {
        dc.SelectBitmap(&bitmap);
    }
    Canvas(const Canvas&) = delete; // the context points at this bitmap
    // Device pixels painted with FillRect's colour, as a picture of '#' and '.'.
    std::string Painted() const
    {
        std::string picture;
        for (int32_t y = 0; y < bitmap.Height(); y++) {
            for (int32_t x = 0; x < bitmap.Width(); x++)
                picture += bitmap.GetPixel(x, y).rgbRed ? '#' : '.';
            picture += '\n';
        }
        return picture;
    }
    Bitmap bitmap;
    DeviceContext dc;
};

} // namespace

TEST(ClipBox, AnUnclippedContextShowsItsWholeBitmap)
{
    Canvas canvas(40, 30);
    EXPECT_BOX(canvas.dc, 0, 0, 40, 30);
    EXPECT_TRUE(canvas.dc.IsVisible(0, 0));
    EXPECT_TRUE(canvas.dc.IsVisible(39, 29));
    EXPECT_FALSE(canvas.dc.IsVisible(40, 0));
    EXPECT_FALSE(canvas.dc.IsVisible(-1, 5));
}

TEST(ClipBox, AFreshMemoryContextShowsItsOnePixelStockBitmap)
{
    const DeviceContext dc = DeviceContext::CreateCompatible(nullptr);
    EXPECT_BOX(dc, 0, 0, 1, 1);
    ASSERT_NE(dc.SelectedBitmap(), nullptr);
    EXPECT_EQ(dc.SelectedBitmap()->BitsPerPixel(), 1);
}

TEST(ClipRegion, AndThenOrWithTheRememberedBoxRestoresTheWholeBitmap)
{
    Canvas canvas(40, 30);
    const RECT remembered = canvas.dc.GetClipBox();

    canvas.dc.SelectClipRect(RECT { 10, 5, 20, 15 }, RegionMode::And);
    EXPECT_BOX(canvas.dc, 10, 5, 20, 15);
    EXPECT_TRUE(canvas.dc.IsVisible(10, 5));
    EXPECT_FALSE(canvas.dc.IsVisible(20, 5));
    EXPECT_FALSE(canvas.dc.IsVisible(9, 10));

    canvas.dc.SelectClipRect(remembered, RegionMode::Or);
    EXPECT_BOX(canvas.dc, 0, 0, 40, 30);
    canvas.dc.FillRect(RECT { 0, 0, 40, 30 }, RGB(255, 0, 0));
    EXPECT_EQ(canvas.Painted().find('.'), std::string::npos) << canvas.Painted();
}

TEST(ClipRegion, AndWithARectangleReachingOutsideKeepsOnlyTheBitmapPart)
{
    Canvas canvas(10, 8);
    canvas.dc.SelectClipRect(RECT { -5, -5, 4, 3 }, RegionMode::And);
    EXPECT_BOX(canvas.dc, 0, 0, 4, 3);
    canvas.dc.SelectClipRect(RECT { 2, 1, 100, 100 }, RegionMode::And);
    EXPECT_BOX(canvas.dc, 2, 1, 4, 3);
}

TEST(ClipRegion, AndWithADisjointRectangleLeavesNothingVisibleUntilRestored)
{
    Canvas canvas(10, 8);
    const RECT remembered = canvas.dc.GetClipBox();
    canvas.dc.SelectClipRect(RECT { 2, 2, 4, 4 }, RegionMode::And);
    canvas.dc.SelectClipRect(RECT { 6, 6, 9, 9 }, RegionMode::And);
    EXPECT_BOX(canvas.dc, 0, 0, 0, 0);
    canvas.dc.FillRect(RECT { 0, 0, 10, 8 }, RGB(255, 0, 0));
    EXPECT_EQ(canvas.Painted().find('#'), std::string::npos);

    canvas.dc.SelectClipRect(remembered, RegionMode::Or);
    EXPECT_BOX(canvas.dc, 0, 0, 10, 8);
}

TEST(ClipRegion, ARegionOfTwoRectanglesPaintsOnlyInsideThem)
{
    Canvas canvas(8, 4);
    canvas.dc.SelectClipRect(RECT { 0, 0, 2, 2 }, RegionMode::Copy);
    canvas.dc.SelectClipRect(RECT { 5, 2, 7, 4 }, RegionMode::Or);
    EXPECT_BOX(canvas.dc, 0, 0, 7, 4) << "the box bounds both rectangles";
    EXPECT_FALSE(canvas.dc.IsVisible(3, 1)) << "but the gap between them is not visible";

    canvas.dc.FillRect(RECT { 0, 0, 8, 4 }, RGB(255, 0, 0));
    EXPECT_EQ(canvas.Painted(),
        "##......\n"
        "##......\n"
        ".....##.\n"
        ".....##.\n");

    canvas.dc.ResetClip();
    EXPECT_BOX(canvas.dc, 0, 0, 8, 4);
}

TEST(ClipRegion, OrOnAnUnclippedContextChangesNothing)
{
    Canvas canvas(6, 6);
    canvas.dc.SelectClipRect(RECT { 1, 1, 2, 2 }, RegionMode::Or);
    EXPECT_BOX(canvas.dc, 0, 0, 6, 6);
    EXPECT_TRUE(canvas.dc.IsVisible(5, 5));
}

TEST(ClipRegion, CopyReplacesTheRegion)
{
    Canvas canvas(6, 6);
    canvas.dc.SelectClipRect(RECT { 0, 0, 2, 2 }, RegionMode::And);
    canvas.dc.SelectClipRect(RECT { 3, 3, 5, 5 }, RegionMode::Copy);
    EXPECT_BOX(canvas.dc, 3, 3, 5, 5);
    EXPECT_FALSE(canvas.dc.IsVisible(0, 0));
}

TEST(FillRect, PaintsTheRectangleInTheGivenColourWithinTheBitmap)
{
    Canvas canvas(5, 3, 24);
    canvas.dc.FillRect(RECT { 3, -2, 9, 2 }, RGB(10, 20, 30));
    EXPECT_EQ(canvas.Painted(),
        "...##\n"
        "...##\n"
        ".....\n");
    const RGBQUAD c = canvas.bitmap.GetPixel(4, 0);
    EXPECT_EQ(c.rgbRed, 10);
    EXPECT_EQ(c.rgbGreen, 20);
    EXPECT_EQ(c.rgbBlue, 30);
    // Device row 0 is the top line: the last row in the bitmap's bottom-up storage.
    EXPECT_EQ(canvas.bitmap.Bits()[2 * canvas.bitmap.Stride() + 4 * 3 + 2], 10);
}

TEST(FillRect, TheScreenAndMonochromeBitmapsAreNotPaintedOn)
{
    DeviceContext screen = DeviceContext::Screen();
    screen.FillRect(RECT { 0, 0, 10, 10 }, RGB(1, 1, 1)); // must not crash
    EXPECT_EQ(screen.BitsPerPixel(), 32);

    Canvas mono(8, 1, 1);
    mono.dc.FillRect(RECT { 0, 0, 8, 1 }, RGB(255, 255, 255));
    EXPECT_EQ(mono.bitmap.Bits()[0], 0);
}

TEST(Palette, NearestIndexIsExactAndTiesGoToTheLowestIndex)
{
    const platform::Palette palette(
        { { 0, 0, 0, 0 }, { 0, 0, 100, 0 }, { 0, 0, 120, 0 }, { 0, 0, 110, 0 } });
    EXPECT_EQ(palette.NearestIndex(110, 0, 0), 3u);
    EXPECT_EQ(palette.NearestIndex(105, 0, 0), 1u);
    EXPECT_EQ(palette.NearestIndex(115, 0, 0), 2u);
    EXPECT_EQ(palette.NearestIndex(0, 0, 1), 0u);
    EXPECT_EQ(palette.Entries().size(), 4u);
}

TEST(DeviceContext, StretchModeAndPaletteSelectionReturnThePreviousOnes)
{
    DeviceContext dc = DeviceContext::CreateCompatible(nullptr);
    EXPECT_EQ(dc.GetStretchMode(), platform::StretchMode::ColorOnColor);
    EXPECT_EQ(
        dc.SetStretchMode(platform::StretchMode::Halftone), platform::StretchMode::ColorOnColor);
    EXPECT_EQ(dc.GetStretchMode(), platform::StretchMode::Halftone);

    const platform::Palette palette({ { 1, 2, 3, 0 } });
    EXPECT_EQ(dc.SelectPalette(&palette), nullptr);
    EXPECT_EQ(dc.SelectPalette(nullptr), &palette);

    Bitmap bitmap(2, 2, 32);
    Bitmap* const stock = dc.SelectBitmap(&bitmap);
    EXPECT_NE(stock, nullptr);
    EXPECT_EQ(dc.SelectBitmap(stock), &bitmap);
}
