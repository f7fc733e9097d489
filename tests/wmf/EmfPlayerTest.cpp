// The enhanced-metafile player over built pictures: clipping with saved states, world
// transforms, bitmaps the right way up, and open figures that stay open.
#include "image/core/CxStream.h"
#include "image/formats/wmf/CxImageWMF.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out.push_back(uint8_t(value >> (8 * i)));
}

Bytes Emr(uint32_t type, std::initializer_list<uint32_t> fields, const Bytes& tail = {})
{
    Bytes out;
    Put32(out, type);
    Put32(out, uint32_t(8 + fields.size() * 4 + tail.size()));
    for (const uint32_t f : fields)
        Put32(out, f);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

uint32_t FloatBits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// An enhanced metafile with bounds 0, 0, width, height on a 96-dpi reference device.
Bytes EnhancedMetafile(int32_t width, int32_t height, const std::vector<Bytes>& records)
{
    Bytes body;
    for (const Bytes& r : records)
        body.insert(body.end(), r.begin(), r.end());
    const Bytes end = Emr(14, { 0, 16, 20 });
    body.insert(body.end(), end.begin(), end.end());

    Bytes out;
    Put32(out, 1);
    Put32(out, 108);
    for (const int32_t v : { 0, 0, width, height })
        Put32(out, uint32_t(v));
    for (const int32_t v : { 0, 0, width * 2540 / 96, height * 2540 / 96 })
        Put32(out, uint32_t(v));
    Put32(out, 0x464D4520);
    Put32(out, 0x10000);
    Put32(out, uint32_t(108 + body.size()));
    Put32(out, uint32_t(records.size() + 2));
    Put32(out, 8); // handles (and the reserved half)
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0); // no palette
    for (const uint32_t v : { 1024u, 768u, 271u, 203u, 0u, 0u, 0u, 271000u, 203000u })
        Put32(out, v);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

constexpr uint32_t EMR_SELECTOBJECT = 37;
constexpr uint32_t NULL_PEN = 0x80000008;
constexpr uint32_t SRCCOPY = 0x00CC0020;

// A 2 x 2 24-bit bitmap, stored bottom row first: bottom red, green; top blue, yellow.
Bytes StretchDibits(int32_t x, int32_t y, int32_t cx, int32_t cy)
{
    Bytes tail;
    for (const uint32_t v : { 40u, 2u, 2u, (24u << 16) | 1u, 0u, 16u, 0u, 0u, 0u, 0u })
        Put32(tail, v);
    const uint8_t bits[16] = { 0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 0, 0 };
    tail.insert(tail.end(), bits, bits + 16);
    return Emr(81,
        { 0, 0, 0, 0, uint32_t(x), uint32_t(y), 0, 0, 2, 2, 80, 40, 120, 16, 0, SRCCOPY,
            uint32_t(cx), uint32_t(cy) },
        tail);
}

struct Color {
    int r, g, b;
};

Color At(const CxImage& image, int32_t x, int32_t y)
{
    const RGBQUAD c = image.GetPixelColor(x, image.GetHeight() - 1 - y, false);
    return { c.rgbRed, c.rgbGreen, c.rgbBlue };
}

void ExpectColor(const CxImage& image, int32_t x, int32_t y, Color expected)
{
    const Color c = At(image, x, y);
    EXPECT_TRUE(std::abs(c.r - expected.r) < 16 && std::abs(c.g - expected.g) < 16
        && std::abs(c.b - expected.b) < 16)
        << "at " << x << "," << y << ": " << c.r << " " << c.g << " " << c.b;
}

constexpr Color WHITE { 255, 255, 255 };
constexpr Color BLUE { 0, 0, 255 };

CxImageWMF Decoded(const Bytes& file)
{
    CxImageWMF reader;
    CxMemStream stream(file.data(), file.size());
    EXPECT_TRUE(reader.Decode(&stream)) << reader.GetLastError();
    return reader;
}

TEST(EmfPlayer, ClipRectangleEndsWithItsSavedState)
{
    const Bytes file = EnhancedMetafile(100, 50,
        {
            Emr(39, { 1, 0, 0x00FF0000, 0 }), // blue brush
            Emr(EMR_SELECTOBJECT, { 1 }),
            Emr(EMR_SELECTOBJECT, { NULL_PEN }),
            Emr(33, {}), // save
            Emr(30, { 0, 0, 50, 50 }), // intersect clip
            Emr(43, { 10, 10, 90, 40 }), // rectangle
            Emr(34, { uint32_t(-1) }), // restore
            Emr(43, { 10, 42, 90, 48 }),
        });
    const CxImageWMF image = Decoded(file);
    ASSERT_EQ(image.GetWidth(), 100);
    ASSERT_EQ(image.GetHeight(), 50);
    ExpectColor(image, 30, 25, BLUE);
    ExpectColor(image, 70, 25, WHITE); // clipped away
    ExpectColor(image, 70, 45, BLUE); // drawn after the clip was restored
    ExpectColor(image, 5, 5, WHITE);
}

TEST(EmfPlayer, BitmapsStandUprightWhereTheWorldTransformPutsThem)
{
    const Bytes file = EnhancedMetafile(100, 50,
        {
            Emr(35, { FloatBits(1), 0, 0, FloatBits(1), FloatBits(60), FloatBits(5) }),
            StretchDibits(0, 0, 20, 20),
        });
    const CxImageWMF image = Decoded(file);
    ExpectColor(image, 64, 9, BLUE); // top row of the bitmap, left
    ExpectColor(image, 75, 9, { 255, 255, 0 });
    ExpectColor(image, 64, 20, { 255, 0, 0 }); // bottom row, left
    ExpectColor(image, 75, 20, { 0, 255, 0 });
    ExpectColor(image, 50, 15, WHITE);
    ExpectColor(image, 90, 15, WHITE);
}

TEST(EmfPlayer, StrokedOpenFigureIsNotClosed)
{
    const Bytes file = EnhancedMetafile(100, 50,
        {
            Emr(38, { 2, 0, 3, 0, 0x00000000 }), // black pen, 3 wide
            Emr(EMR_SELECTOBJECT, { 2 }), Emr(59, {}), // begin path
            Emr(27, { 10, 10 }), Emr(54, { 50, 40 }), Emr(54, { 90, 10 }), Emr(60, {}), // end path
            Emr(64, { 0, 0, 100, 50 }), // stroke path
        });
    const CxImageWMF image = Decoded(file);
    ExpectColor(image, 50, 39, { 0, 0, 0 });
    ExpectColor(image, 30, 25, { 0, 0, 0 });
    ExpectColor(image, 50, 10, WHITE); // no closing line between the tips
    ExpectColor(image, 50, 25, WHITE);
}

TEST(EmfPlayer, MetricMappingTurnsTheYAxisUp)
{
    // 1 mm = 1024 / 271 pixels on the reference device; in hundredths of a millimetre
    // with the viewport origin at the bottom, y grows upwards.
    const Bytes file = EnhancedMetafile(100, 50,
        {
            Emr(17, { 3 }), // MM_HIMETRIC
            Emr(12, { 0, 50 }), // viewport origin at the bottom-left
            Emr(39, { 1, 0, 0x00FF0000, 0 }), Emr(EMR_SELECTOBJECT, { 1 }),
            Emr(EMR_SELECTOBJECT, { NULL_PEN }),
            Emr(43, { 0, 0, 500, 500 }), // 5 mm square: about 19 pixels
        });
    const CxImageWMF image = Decoded(file);
    ExpectColor(image, 9, 40, BLUE);
    ExpectColor(image, 9, 20, WHITE);
    ExpectColor(image, 30, 40, WHITE);
}

} // namespace
