// Expanding 16- and 32-bit pixels into a 24-bit image, from a separate buffer and in place.
#include "image/core/CxImage.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// 16-bit rows are padded to 4 bytes.
size_t Stride16(int32_t width) { return size_t((width + 1) / 2) * 4; }

std::vector<uint8_t> Rows16(int32_t width, int32_t height, uint16_t (*pixel)(int32_t, int32_t))
{
    std::vector<uint8_t> bytes(Stride16(width) * size_t(height), 0xEE);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            const uint16_t w = pixel(x, y);
            bytes[size_t(y) * Stride16(width) + 2 * size_t(x)] = uint8_t(w);
            bytes[size_t(y) * Stride16(width) + 2 * size_t(x) + 1] = uint8_t(w >> 8);
        }
    return bytes;
}

struct Bgr {
    uint8_t b, g, r;
};

Bgr At(const CxImage& image, int32_t x, int32_t y)
{
    const RGBQUAD c = image.GetPixelColor(x, y, false);
    return Bgr { c.rgbBlue, c.rgbGreen, c.rgbRed };
}

#define EXPECT_BGR(image, x, y, eb, eg, er)                                                        \
    do {                                                                                           \
        const Bgr got = At(image, x, y);                                                           \
        EXPECT_EQ(got.b, eb) << "blue at " << x << "," << y;                                       \
        EXPECT_EQ(got.g, eg) << "green at " << x << "," << y;                                      \
        EXPECT_EQ(got.r, er) << "red at " << x << "," << y;                                        \
    } while (0)

uint16_t Pattern(int32_t x, int32_t y) { return uint16_t(0x1357 * (x + 1) + 0x2468 * y); }

} // namespace

TEST(ExpandBitfields, FiveFiveFive)
{
    const uint16_t pixels[] = { 0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x0421, 0x8000 };
    CxImage image(6, 1, 24);
    image.Clear(0x55);
    image.ExpandBitfields(reinterpret_cast<const uint8_t*>(pixels), 0x7C00, 0x03E0, 0x001F, 16);
    EXPECT_BGR(image, 0, 0, 248, 248, 248);
    EXPECT_BGR(image, 1, 0, 0, 0, 248);
    EXPECT_BGR(image, 2, 0, 0, 248, 0);
    EXPECT_BGR(image, 3, 0, 248, 0, 0);
    EXPECT_BGR(image, 4, 0, 8, 8, 8);
    EXPECT_BGR(image, 5, 0, 0, 0, 0); // the unused top bit is masked away
}

TEST(ExpandBitfields, FiveSixFive)
{
    const uint16_t pixels[] = { 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0820 };
    CxImage image(5, 1, 24);
    image.ExpandBitfields(reinterpret_cast<const uint8_t*>(pixels), 0xF800, 0x07E0, 0x001F, 16);
    EXPECT_BGR(image, 0, 0, 248, 252, 248);
    EXPECT_BGR(image, 1, 0, 0, 0, 248);
    EXPECT_BGR(image, 2, 0, 0, 252, 0);
    EXPECT_BGR(image, 3, 0, 248, 0, 0);
    EXPECT_BGR(image, 4, 0, 0, 4, 8);
}

TEST(ExpandBitfields, SixteenBitRowsArePaddedToFourBytes)
{
    // Width 3: source rows 8 bytes apart, the last two bytes of each row are padding.
    const auto source = Rows16(3, 2, Pattern);
    CxImage image(3, 2, 24);
    image.ExpandBitfields(source.data(), 0x7C00, 0x03E0, 0x001F, 16);
    for (int32_t y = 0; y < 2; y++)
        for (int32_t x = 0; x < 3; x++) {
            const uint16_t w = Pattern(x, y);
            EXPECT_BGR(image, x, y, uint8_t((w & 0x1F) << 3), uint8_t((w & 0x3E0) >> 2),
                uint8_t((w & 0x7C00) >> 7));
        }
}

TEST(ExpandBitfields, InPlaceGivesTheSameResultAsFromASeparateBuffer)
{
    for (const int32_t width : { 1, 2, 3, 5, 8, 13 }) {
        const int32_t height = 4;
        const auto source = Rows16(width, height, Pattern);

        CxImage expected(uint32_t(width), height, 24);
        expected.ExpandBitfields(source.data(), 0xF800, 0x07E0, 0x001F, 16);

        CxImage inPlace(uint32_t(width), height, 24);
        ASSERT_LE(source.size(), inPlace.GetHeader().biSizeImage);
        std::memcpy(inPlace.GetBits(0), source.data(), source.size());
        inPlace.ExpandBitfields(inPlace.GetBits(0), 0xF800, 0x07E0, 0x001F, 16);

        for (int32_t y = 0; y < height; y++)
            for (int32_t x = 0; x < width; x++) {
                const Bgr a = At(expected, x, y), b = At(inPlace, x, y);
                EXPECT_TRUE(a.b == b.b && a.g == b.g && a.r == b.r)
                    << "width " << width << " at " << x << "," << y;
            }
    }
}

TEST(ExpandBitfields, ThirtyTwoBitsTakeTheFirstThreeBytesAndIgnoreTheMasks)
{
    // Width 3: source rows are exactly 12 bytes apart.
    const uint8_t source[] = {
        1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, //
        21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, //
    };
    CxImage image(3, 2, 24);
    image.ExpandBitfields(source, 0, 0, 0, 32);
    EXPECT_BGR(image, 0, 0, 1, 2, 3);
    EXPECT_BGR(image, 1, 0, 5, 6, 7);
    EXPECT_BGR(image, 2, 0, 9, 10, 11);
    EXPECT_BGR(image, 0, 1, 21, 22, 23);
    EXPECT_BGR(image, 2, 1, 29, 30, 31);
}

TEST(ExpandBitfields, OtherDepthsAndNon24BitTargetsAreLeftAlone)
{
    const uint8_t source[64] = { 0xFF };
    CxImage image(2, 2, 24);
    image.Clear(0x33);
    image.ExpandBitfields(source, 0x7C00, 0x03E0, 0x001F, 24);
    image.ExpandBitfields(source, 0x7C00, 0x03E0, 0x001F, 8);
    EXPECT_BGR(image, 0, 0, 0x33, 0x33, 0x33);

    CxImage indexed(2, 2, 8);
    indexed.Clear(0x33);
    indexed.ExpandBitfields(source, 0x7C00, 0x03E0, 0x001F, 32);
    EXPECT_EQ(indexed.GetBits(0)[0], 0x33);
}
