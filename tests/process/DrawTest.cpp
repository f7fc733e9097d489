#include "image/core/CxImage.h"
#include "platform/DeviceBitmap.h"

#include <gtest/gtest.h>

namespace {

// A 24-bit canvas filled with one colour, selected into a memory context.
struct Canvas {
    platform::Bitmap bitmap;
    platform::DeviceContext dc;
    Canvas(int w, int h, RGBQUAD fill)
        : bitmap(w, h, 24)
        , dc(platform::DeviceContext::CreateCompatible(nullptr))
    {
        dc.SelectBitmap(&bitmap);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                bitmap.SetPixel(x, y, fill);
    }
    RGBQUAD At(int x, int y) const { return bitmap.GetPixel(x, y); }
};

bool Same(RGBQUAD a, RGBQUAD b)
{
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed;
}

constexpr RGBQUAD GREY { 100, 100, 100, 0 };

// A 24-bit image whose pixel (x, y), y counted from the top, has red = x * 10 + 1 and
// green = y * 10 + 1.
CxImage Gradient(int w, int h)
{
    CxImage image(uint32_t(w), uint32_t(h), 24);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            image.SetPixelColor(
                x, h - 1 - y, RGBQUAD { 0, uint8_t(y * 10 + 1), uint8_t(x * 10 + 1), 0 });
    return image;
}

} // namespace

TEST(Draw, NaturalSizeIsPaintedWhereAskedAndNothingElse)
{
    CxImage image = Gradient(4, 3);
    Canvas canvas(10, 8, GREY);
    EXPECT_EQ(image.Draw(&canvas.dc, 2, 1), 1);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 10; x++) {
            const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
            const RGBQUAD want = inside
                ? RGBQUAD { 0, uint8_t((y - 1) * 10 + 1), uint8_t((x - 2) * 10 + 1), 0 }
                : GREY;
            ASSERT_TRUE(Same(canvas.At(x, y), want)) << x << "," << y;
        }
}

TEST(Draw, ClipRectangleLimitsEveryPathAndIsRestored)
{
    for (int path = 0; path < 3; path++) {
        CxImage image = Gradient(6, 6);
        if (path == 1) { // an opaque alpha plane takes the blended path
            ASSERT_TRUE(image.CreateAlpha());
            for (int y = 0; y < 6; y++)
                for (int x = 0; x < 6; x++)
                    image.SetAlpha(x, y, 255);
        }
        Canvas canvas(8, 8, GREY);
        const RECT clip { 2, 3, 5, 5 };
        const int size = path == 2 ? 12 : 6; // path 2 stretches
        EXPECT_EQ(image.Draw(&canvas.dc, 0, 0, size, size, &clip), 1);
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++) {
                const bool inside = x >= 2 && x < 5 && y >= 3 && y < 5 && x < size && y < size;
                EXPECT_EQ(!Same(canvas.At(x, y), GREY), inside) << path << ": " << x << "," << y;
            }
        const RECT box = canvas.dc.GetClipBox();
        EXPECT_EQ(box.left, 0);
        EXPECT_EQ(box.top, 0);
        EXPECT_EQ(box.right, 8);
        EXPECT_EQ(box.bottom, 8);
    }
}

TEST(Draw, TransparentIndexLeavesTheDeviceUnderIt)
{
    CxImage image(4, 4, 8);
    for (uint32_t i = 0; i < 256; i++)
        image.SetPaletteColor(i, uint8_t(i), 0, 0);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            image.SetPixelIndex(x, y, uint8_t((x + y) % 5));
    image.SetTransparentIndex(3);
    Canvas canvas(4, 4, GREY);
    ASSERT_EQ(image.Draw(&canvas.dc, 0, 0), 1);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            const int index = (x + (3 - y)) % 5; // device row y is stored row 3 - y
            const RGBQUAD want = index == 3 ? GREY : RGBQUAD { 0, 0, uint8_t(index), 0 };
            ASSERT_TRUE(Same(canvas.At(x, y), want)) << x << "," << y;
        }
}

TEST(Draw, AlphaAndGlobalOpacityBlendOverTheDevice)
{
    CxImage image(2, 2, 24);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            image.SetPixelColor(x, y, RGBQUAD { 200, 40, 250, 0 });
    ASSERT_TRUE(image.CreateAlpha());
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            image.SetAlpha(x, y, 128);
    Canvas canvas(2, 2, RGBQUAD { 10, 20, 30, 0 });
    ASSERT_EQ(image.Draw(&canvas.dc, 0, 0), 1);
    const RGBQUAD got = canvas.At(1, 1);
    EXPECT_EQ(got.rgbBlue, (200 * 128 + 10 * 127) >> 8);
    EXPECT_EQ(got.rgbGreen, (40 * 128 + 20 * 127) >> 8);
    EXPECT_EQ(got.rgbRed, (250 * 128 + 30 * 127) >> 8);

    image.SetGlobalOpacity(0);
    Canvas untouched(2, 2, GREY);
    ASSERT_EQ(image.Draw(&untouched.dc, 0, 0), 1);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            EXPECT_TRUE(Same(untouched.At(x, y), GREY));
}

TEST(Draw, StretchTakesTheNearestPixelTheRightWayUp)
{
    CxImage image = Gradient(2, 2);
    Canvas canvas(4, 4, GREY);
    ASSERT_EQ(image.Draw(&canvas.dc, 0, 0, 4, 4), 1);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            const RGBQUAD want { 0, uint8_t((y / 2) * 10 + 1), uint8_t((x / 2) * 10 + 1), 0 };
            ASSERT_TRUE(Same(canvas.At(x, y), want)) << x << "," << y;
        }
}

TEST(Draw, NothingToDoGivesZeroOutsideTheClipGivesOne)
{
    CxImage image = Gradient(3, 3);
    Canvas canvas(4, 4, GREY);
    EXPECT_EQ(image.Draw(nullptr, 0, 0), 0);
    EXPECT_EQ(image.Draw(&canvas.dc, 0, 0, 0, 3), 0);
    EXPECT_EQ(image.Draw(&canvas.dc, 0, 0, 3, 0), 0);
    CxImage empty;
    EXPECT_EQ(empty.Draw(&canvas.dc, 0, 0), 0);
    image.Enable(false);
    EXPECT_EQ(image.Draw(&canvas.dc, 0, 0), 0);
    image.Enable(true);
    EXPECT_EQ(image.Draw(&canvas.dc, 10, 10), 1);
    EXPECT_EQ(image.Draw(&canvas.dc, -10, 1, -1, -1), 1);
    image.SetTransparentIndex(0); // the blended path too
    EXPECT_EQ(image.Draw(&canvas.dc, 20, 20), 1);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_TRUE(Same(canvas.At(x, y), GREY));
}
