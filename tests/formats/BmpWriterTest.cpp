// The BMP writer, checked by reading its files back with the BMP reader.
#include "ReaderTestSupport.h"
#include "image/formats/bmp/CxBmpWriter.h"
#include "image/formats/bmp/CxImageBMP.h"

#include <gtest/gtest.h>

namespace {

TEST(BmpWriter, RoundTripsEveryDepthWithItsPalette)
{
    for (const uint32_t bpp : { 1u, 4u, 8u, 24u }) {
        SCOPED_TRACE(bpp);
        CxImage image(13, 5, bpp);
        for (uint32_t i = 0; i < image.GetNumColors(); i++)
            image.SetPaletteColor(i, uint8_t(i * 3), uint8_t(255 - i), uint8_t(i ^ 0x5A));
        for (int y = 0; y < 5; y++) {
            for (int x = 0; x < 13; x++) {
                if (bpp == 24)
                    image.SetPixelColor(
                        x, y, RGBQUAD { uint8_t(x * 9), uint8_t(y * 40), uint8_t(x + y), 0 });
                else
                    image.SetPixelIndex(x, y, uint8_t((x * 7 + y) % image.GetNumColors()));
            }
        }
        image.SetXDPI(300);

        CxMemStream out;
        ASSERT_TRUE(SaveBmp(image, &out));
        const std::vector<uint8_t> bytes = out.TakeBuffer();
        ASSERT_EQ(bytes[0], 'B');
        CxImageBMP back;
        ASSERT_TRUE(bvtest::DecodeWith(back, bytes)) << back.GetLastError();
        ASSERT_EQ(back.GetBpp(), bpp);
        EXPECT_EQ(back.GetWidth(), 13);
        EXPECT_EQ(back.GetHeight(), 5);
        EXPECT_EQ(back.GetXDPI(), 300);
        for (uint32_t i = 0; i < image.GetNumColors(); i++)
            EXPECT_EQ(bvtest::Rgb(back.GetPaletteColor(i)), bvtest::Rgb(image.GetPaletteColor(i)));
        for (int y = 0; y < 5; y++) {
            for (int x = 0; x < 13; x++)
                EXPECT_EQ(
                    bvtest::Rgb(back.GetPixelColor(x, y)), bvtest::Rgb(image.GetPixelColor(x, y)));
        }
    }
}

TEST(BmpWriter, RefusesEmptyImagesAndNullStreams)
{
    CxMemStream out;
    EXPECT_FALSE(SaveBmp(CxImage(), &out));
    EXPECT_FALSE(SaveBmp(CxImage(2, 2, 24), nullptr));
    // A read-only stream can't be written.
    const uint8_t fixed[4] = {};
    CxMemStream readOnly(fixed, sizeof(fixed));
    EXPECT_FALSE(SaveBmp(CxImage(2, 2, 8), &readOnly));
}

} // namespace
