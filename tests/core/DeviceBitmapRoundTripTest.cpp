// An image to a device bitmap and back: the pixels and palette that come back are the
// ones that went in.
#include "image/core/CxImage.h"
#include "platform/DeviceBitmap.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

// An image of the given depth with a palette of distinct colours and a pattern that
// uses many indices (or colours) and differs between rows.
CxImage Patterned(uint32_t width, uint32_t height, uint32_t bpp)
{
    CxImage image(width, height, bpp);
    image.Clear(0);
    for (uint32_t i = 0; i < image.GetNumColors(); i++)
        image.SetPaletteColor(i, uint8_t(i * 7 + 1), uint8_t(255 - i), uint8_t(i * 3));
    const uint32_t colors = image.GetNumColors();
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++) {
            if (colors)
                image.SetPixelIndex(int32_t(x), int32_t(y), uint8_t((x * 5 + y * 3) % colors));
            else
                image.SetPixelColor(int32_t(x), int32_t(y),
                    RGBQUAD { uint8_t(x * 9), uint8_t(y * 17), uint8_t(x + y), 0 });
        }
    return image;
}

void ExpectSamePixels(const CxImage& a, const CxImage& b)
{
    ASSERT_EQ(a.GetWidth(), b.GetWidth());
    ASSERT_EQ(a.GetHeight(), b.GetHeight());
    for (int32_t y = 0; y < a.GetHeight(); y++)
        for (int32_t x = 0; x < a.GetWidth(); x++) {
            const RGBQUAD p = a.GetPixelColor(x, y, false), q = b.GetPixelColor(x, y, false);
            ASSERT_TRUE(p.rgbBlue == q.rgbBlue && p.rgbGreen == q.rgbGreen && p.rgbRed == q.rgbRed)
                << "pixel " << x << "," << y;
        }
}

} // namespace

class DeviceBitmapRoundTrip : public testing::TestWithParam<uint32_t> { };

TEST_P(DeviceBitmapRoundTrip, ADibSectionKeepsDepthPaletteAndEveryByte)
{
    const uint32_t bpp = GetParam();
    const CxImage image = Patterned(13, 5, bpp);
    std::unique_ptr<platform::Bitmap> section(image.MakeDeviceBitmap());
    ASSERT_NE(section, nullptr);
    const platform::BitmapInfo object = section->GetObject();
    EXPECT_EQ(object.bmWidth, 13);
    EXPECT_EQ(object.bmHeight, 5);
    EXPECT_EQ(object.bmBitsPixel, bpp);
    EXPECT_EQ(std::memcmp(section->Bits(), image.GetBits(0), image.GetHeader().biSizeImage), 0);

    CxImage back;
    back.SetLastError("");
    ASSERT_TRUE(back.CreateFromDeviceBitmap(section.get())) << back.GetLastError();
    EXPECT_EQ(back.GetBpp(), bpp);
    EXPECT_EQ(back.GetNumColors(), image.GetNumColors());
    EXPECT_EQ(std::memcmp(back.GetDIB(), image.GetDIB(), image.GetSize()), 0)
        << "header, palette and pixels come back unchanged";
}

TEST_P(DeviceBitmapRoundTrip, AScreenBitmapShowsTheColoursTopDownAndComesBackAs24Bits)
{
    const uint32_t bpp = GetParam();
    const CxImage image = Patterned(13, 5, bpp);
    platform::DeviceContext screen = platform::DeviceContext::Screen();
    std::unique_ptr<platform::Bitmap> bitmap(image.MakeDeviceBitmap(&screen));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->BitsPerPixel(), 32);
    for (int32_t y = 0; y < 5; y++)
        for (int32_t x = 0; x < 13; x++) {
            // Device row 0 is the top line, which is the image's last stored row.
            const RGBQUAD d = bitmap->GetPixel(x, 4 - y), c = image.GetPixelColor(x, y, false);
            ASSERT_TRUE(d.rgbBlue == c.rgbBlue && d.rgbGreen == c.rgbGreen && d.rgbRed == c.rgbRed)
                << "pixel " << x << "," << y;
        }

    CxImage back;
    ASSERT_TRUE(back.CreateFromDeviceBitmap(bitmap.get())) << back.GetLastError();
    EXPECT_EQ(back.GetBpp(), 24) << "a 32-bit device bitmap becomes a 24-bit image";
    ExpectSamePixels(image, back);
}

INSTANTIATE_TEST_SUITE_P(Depths, DeviceBitmapRoundTrip, testing::Values(1u, 4u, 8u, 24u));

TEST(DeviceBitmap, AnEmptyImageMakesNoBitmap)
{
    CxImage empty;
    EXPECT_EQ(empty.MakeDeviceBitmap(), nullptr);
    platform::DeviceContext screen = platform::DeviceContext::Screen();
    EXPECT_EQ(empty.MakeDeviceBitmap(&screen), nullptr);
}

TEST(DeviceBitmap, CreateFromDeviceBitmapReplacesTheImageAndForgetsTheOldPalette)
{
    CxImage image(4, 4, 8);
    image.CreateAlpha();
    image.SetPaletteColor(5, 1, 2, 3);
    const RGBQUAD colour { 3, 2, 1, 0 };
    ASSERT_EQ(image.FindNearestIndex(colour), 5);

    CxImage source = Patterned(6, 2, 8);
    std::unique_ptr<platform::Bitmap> section(source.MakeDeviceBitmap());
    ASSERT_TRUE(image.CreateFromDeviceBitmap(section.get()));
    EXPECT_EQ(image.GetWidth(), 6);
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(image.FindNearestIndex(colour), source.FindNearestIndex(colour));
}

TEST(DeviceBitmap, CreateFromDeviceBitmapRefusals)
{
    CxImage image(2, 2, 24);
    EXPECT_FALSE(image.CreateFromDeviceBitmap(nullptr));

    CxImage lender(2, 2, 24);
    CxImage borrower;
    borrower.ShareBuffers(&lender);
    platform::Bitmap bitmap(3, 3, 32);
    EXPECT_FALSE(borrower.CreateFromDeviceBitmap(&bitmap));
    EXPECT_EQ(borrower.GetDIB(), lender.GetDIB());

    platform::Bitmap nothing(0, 0, 32);
    EXPECT_FALSE(image.CreateFromDeviceBitmap(&nothing));
    EXPECT_STREQ(
        image.GetLastError(), "CxImage::Create : width and height must be greater than zero");
}

TEST(DeviceBitmap, APaletteGivenForTheConversionDoesNotChangeTrueColourPixels)
{
    platform::Bitmap bitmap(2, 1, 32);
    bitmap.SetPixel(0, 0, RGBQUAD { 10, 20, 30, 0 });
    bitmap.SetPixel(1, 0, RGBQUAD { 200, 100, 50, 0 });
    const platform::Palette palette({ { 0, 0, 0, 0 }, { 255, 255, 255, 0 } });
    CxImage image;
    ASSERT_TRUE(image.CreateFromDeviceBitmap(&bitmap, &palette));
    const RGBQUAD c = image.GetPixelColor(1, 0, false);
    EXPECT_EQ(c.rgbBlue, 200);
    EXPECT_EQ(c.rgbGreen, 100);
    EXPECT_EQ(c.rgbRed, 50);
}
