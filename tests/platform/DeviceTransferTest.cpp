// Moving pixels between DIB blocks and devices: SetDIBitsToDevice, BitBlt, StretchBlt,
// DIB sections and GetDIBits.
#include "platform/DeviceBitmap.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using platform::Bitmap;
using platform::DeviceContext;
using platform::StretchMode;

namespace {

// A DIB block in one buffer: header, colour table, bottom-up rows.
struct Dib {
    Dib(int32_t width, int32_t height, uint16_t bpp)
    {
        const uint32_t colors = bpp <= 8 ? 1u << bpp : 0;
        stride = ((uint32_t(width) * bpp + 31) / 32) * 4;
        block.assign(40 + colors * 4 + size_t(stride) * size_t(height), 0);
        BITMAPINFOHEADER& h = Info()->bmiHeader;
        h.biSize = 40;
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = bpp;
        h.biClrUsed = colors;
        h.biSizeImage = stride * uint32_t(height);
        bits = block.data() + 40 + colors * 4;
    }
    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(block.data()); }
    RGBQUAD* Colors() { return Info()->bmiColors; }
    uint8_t* Row(int32_t storedRow) { return bits + size_t(storedRow) * stride; }
    // A 24-bit pixel of a stored row.
    void Set24(int32_t x, int32_t storedRow, uint8_t b, uint8_t g, uint8_t r)
    {
        uint8_t* p = Row(storedRow) + 3 * x;
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
    std::vector<uint8_t> block;
    uint8_t* bits;
    uint32_t stride;
};

struct Canvas {
    Canvas(int32_t width, int32_t height, uint16_t bpp = 32)
        : bitmap(width, height, bpp)
        , dc(DeviceContext::CreateCompatible(nullptr))
    {
        dc.SelectBitmap(&bitmap);
    }
    Canvas(const Canvas&) = delete; // the context points at this bitmap
    // The blue channel of each device pixel, row by row from the top, as text.
    std::string Blue() const
    {
        std::string text;
        for (int32_t y = 0; y < bitmap.Height(); y++) {
            for (int32_t x = 0; x < bitmap.Width(); x++)
                text += (x ? " " : "") + std::to_string(bitmap.GetPixel(x, y).rgbBlue);
            text += "\n";
        }
        return text;
    }
    Bitmap bitmap;
    DeviceContext dc;
};

// Paints pixel (x, y) with blue = value(x, y), green = 2 x blue (mod 256), red = 255 - blue.
void Paint(Canvas& canvas, uint8_t (*value)(int32_t, int32_t))
{
    for (int32_t y = 0; y < canvas.bitmap.Height(); y++)
        for (int32_t x = 0; x < canvas.bitmap.Width(); x++) {
            const uint8_t v = value(x, y);
            canvas.bitmap.SetPixel(x, y, RGBQUAD { v, uint8_t(2 * v), uint8_t(255 - v), 0 });
        }
}

} // namespace

TEST(SetDIBitsToDevice, TheBottomDibRowLandsOnTheBottomDeviceRow)
{
    Dib dib(3, 2, 24);
    for (int32_t x = 0; x < 3; x++) {
        dib.Set24(x, 0, uint8_t(10 + x), 0, 0); // stored row 0: the picture's bottom line
        dib.Set24(x, 1, uint8_t(20 + x), 0, 0);
    }
    Canvas canvas(6, 4);
    EXPECT_EQ(canvas.dc.SetDIBitsToDevice(2, 1, 3, 2, 0, 0, 0, 2, dib.bits, dib.Info()), 2);
    EXPECT_EQ(canvas.Blue(),
        "0 0 0 0 0 0\n"
        "0 0 20 21 22 0\n"
        "0 0 10 11 12 0\n"
        "0 0 0 0 0 0\n");
}

TEST(SetDIBitsToDevice, SourceOffsetsCountFromTheDibsLowerLeftCorner)
{
    Dib dib(4, 3, 24);
    for (int32_t y = 0; y < 3; y++)
        for (int32_t x = 0; x < 4; x++)
            dib.Set24(x, y, uint8_t(10 * y + x), 0, 0);
    Canvas canvas(3, 2);
    // A 2 x 2 piece from column 1, stored rows 1 and 2 (row 1 at the bottom).
    canvas.dc.SetDIBitsToDevice(0, 0, 2, 2, 1, 1, 0, 3, dib.bits, dib.Info());
    EXPECT_EQ(canvas.Blue(),
        "21 22 0\n"
        "11 12 0\n");
}

TEST(SetDIBitsToDevice, OnlyTheScansPresentArePainted)
{
    Dib dib(2, 4, 24);
    for (int32_t y = 0; y < 4; y++)
        for (int32_t x = 0; x < 2; x++)
            dib.Set24(x, y, uint8_t(1 + y), 0, 0);
    Canvas canvas(2, 4);
    // The bits hold stored rows 1 and 2 only.
    EXPECT_EQ(canvas.dc.SetDIBitsToDevice(0, 0, 2, 4, 0, 0, 1, 2, dib.Row(1), dib.Info()), 2);
    EXPECT_EQ(canvas.Blue(),
        "0 0\n"
        "3 3\n"
        "2 2\n"
        "0 0\n");
}

TEST(SetDIBitsToDevice, IndexedRowsAreLookedUpInTheColourTable)
{
    for (const uint16_t bpp : { uint16_t(1), uint16_t(4), uint16_t(8) }) {
        Dib dib(9, 1, bpp);
        const uint32_t colors = 1u << bpp;
        for (uint32_t i = 0; i < colors; i++)
            dib.Colors()[i] = RGBQUAD { uint8_t(100 + i), 0, 0, 0 };
        // Pixel x holds index x mod colours.
        for (int32_t x = 0; x < 9; x++) {
            const uint32_t index = uint32_t(x) % colors;
            uint8_t* row = dib.Row(0);
            if (bpp == 8)
                row[x] = uint8_t(index);
            else if (bpp == 4)
                row[x / 2] |= uint8_t(x % 2 ? index : index << 4);
            else
                row[x / 8] |= uint8_t(index << (7 - x % 8));
        }
        Canvas canvas(9, 1);
        canvas.dc.SetDIBitsToDevice(0, 0, 9, 1, 0, 0, 0, 1, dib.bits, dib.Info());
        for (int32_t x = 0; x < 9; x++)
            EXPECT_EQ(canvas.bitmap.GetPixel(x, 0).rgbBlue, 100 + uint32_t(x) % colors)
                << bpp << " bpp, x " << x;
    }
}

TEST(SetDIBitsToDevice, TheClipRegionAndTheBitmapEdgesLimitThePainting)
{
    Dib dib(4, 4, 24);
    for (int32_t y = 0; y < 4; y++)
        for (int32_t x = 0; x < 4; x++)
            dib.Set24(x, y, 9, 0, 0);
    Canvas canvas(5, 5);
    canvas.dc.SelectClipRect(RECT { 1, 1, 3, 5 }, platform::RegionMode::And);
    canvas.dc.SetDIBitsToDevice(0, 0, 4, 4, 0, 0, 0, 4, dib.bits, dib.Info());
    EXPECT_EQ(canvas.Blue(),
        "0 0 0 0 0\n"
        "0 9 9 0 0\n"
        "0 9 9 0 0\n"
        "0 9 9 0 0\n"
        "0 0 0 0 0\n");

    Canvas edge(3, 3);
    edge.dc.SetDIBitsToDevice(-2, 1, 4, 4, 0, 0, 0, 4, dib.bits, dib.Info());
    EXPECT_EQ(edge.Blue(),
        "0 0 0\n"
        "9 9 0\n"
        "9 9 0\n");
}

TEST(SetDIBitsToDevice, RefusesWhatItCannotRead)
{
    Dib dib(2, 2, 24);
    Canvas canvas(2, 2);
    EXPECT_EQ(canvas.dc.SetDIBitsToDevice(0, 0, 2, 2, 0, 0, 0, 2, nullptr, dib.Info()), 0);
    EXPECT_EQ(canvas.dc.SetDIBitsToDevice(0, 0, 2, 2, 0, 0, 0, 2, dib.bits, nullptr), 0);
    EXPECT_EQ(canvas.dc.SetDIBitsToDevice(0, 0, 0, 2, 0, 0, 0, 2, dib.bits, dib.Info()), 0);
    dib.Info()->bmiHeader.biCompression = 1;
    EXPECT_EQ(canvas.dc.SetDIBitsToDevice(0, 0, 2, 2, 0, 0, 0, 2, dib.bits, dib.Info()), 0);
}

TEST(BitBlt, CopiesARectangleBetweenContexts)
{
    Canvas source(4, 3);
    Paint(source, [](int32_t x, int32_t y) { return uint8_t(10 * y + x); });
    Canvas target(5, 4);
    EXPECT_TRUE(target.dc.BitBlt(1, 1, 2, 2, source.dc, 2, 1));
    EXPECT_EQ(target.Blue(),
        "0 0 0 0 0\n"
        "0 12 13 0 0\n"
        "0 22 23 0 0\n"
        "0 0 0 0 0\n");
    const RGBQUAD c = target.bitmap.GetPixel(1, 1);
    EXPECT_EQ(c.rgbGreen, 24);
    EXPECT_EQ(c.rgbRed, 255 - 12);
}

TEST(BitBlt, PartsOutsideTheSourceOrTheClipAreLeftAlone)
{
    Canvas source(2, 2);
    Paint(source, [](int32_t x, int32_t y) { return uint8_t(1 + 2 * y + x); });
    Canvas target(4, 4);
    target.dc.FillRect(RECT { 0, 0, 4, 4 }, RGB(0, 0, 7));
    target.dc.BitBlt(0, 0, 4, 4, source.dc, -1, -1);
    EXPECT_EQ(target.Blue(),
        "7 7 7 7\n"
        "7 1 2 7\n"
        "7 3 4 7\n"
        "7 7 7 7\n");

    Canvas clipped(3, 3);
    clipped.dc.SelectClipRect(RECT { 0, 0, 1, 3 }, platform::RegionMode::And);
    clipped.dc.BitBlt(0, 0, 2, 2, source.dc, 0, 0);
    EXPECT_EQ(clipped.Blue(),
        "1 0 0\n"
        "3 0 0\n"
        "0 0 0\n");
}

TEST(BitBlt, OverlappingCopyOntoItselfReadsTheOriginal)
{
    Canvas canvas(4, 1);
    Paint(canvas, [](int32_t x, int32_t) { return uint8_t(x + 1); });
    canvas.dc.BitBlt(1, 0, 3, 1, canvas.dc, 0, 0);
    EXPECT_EQ(canvas.Blue(), "1 1 2 3\n");
}

TEST(BitBlt, AnIndexedSourceGivesItsColours)
{
    Bitmap indexed(8, 1, 1, { { 0, 0, 0, 0 }, { 200, 200, 200, 0 } });
    indexed.Bits()[0] = 0xA0; // pixels 0 and 2 set
    DeviceContext source = DeviceContext::CreateCompatible(nullptr);
    source.SelectBitmap(&indexed);
    Canvas target(4, 1);
    EXPECT_TRUE(target.dc.BitBlt(0, 0, 4, 1, source, 0, 0));
    EXPECT_EQ(target.Blue(), "200 0 200 0\n");

    EXPECT_FALSE(source.BitBlt(0, 0, 1, 1, target.dc, 0, 0)) << "a 1-bit target is not painted";
}

TEST(StretchBlt, ColorOnColorRepeatsOrDropsWholePixels)
{
    Canvas source(2, 2);
    Paint(source, [](int32_t x, int32_t y) { return uint8_t(1 + 2 * y + x); });
    Canvas big(4, 4);
    ASSERT_TRUE(big.dc.StretchBlt(0, 0, 4, 4, source.dc, 0, 0, 2, 2));
    EXPECT_EQ(big.Blue(),
        "1 1 2 2\n"
        "1 1 2 2\n"
        "3 3 4 4\n"
        "3 3 4 4\n");

    Canvas wide(4, 2);
    Paint(wide, [](int32_t x, int32_t y) { return uint8_t(10 * y + x); });
    Canvas small(2, 1);
    ASSERT_TRUE(small.dc.StretchBlt(0, 0, 2, 1, wide.dc, 0, 0, 4, 2));
    EXPECT_EQ(small.Blue(), "0 2\n") << "nearest pixels, no averaging";
}

TEST(StretchBlt, HalftoneKeepsAUniformPictureUniform)
{
    Canvas source(7, 5);
    Paint(source, [](int32_t, int32_t) { return uint8_t(201); });
    const std::pair<int32_t, int32_t> sizes[]
        = { { 3, 2 }, { 13, 11 }, { 7, 5 }, { 1, 1 }, { 20, 3 } };
    for (const auto& [w, h] : sizes) {
        Canvas target(w, h);
        target.dc.SetStretchMode(StretchMode::Halftone);
        ASSERT_TRUE(target.dc.StretchBlt(0, 0, w, h, source.dc, 0, 0, 7, 5));
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) {
                const RGBQUAD c = target.bitmap.GetPixel(x, y);
                ASSERT_EQ(c.rgbBlue, 201) << w << "x" << h << " at " << x << "," << y;
                ASSERT_EQ(c.rgbGreen, uint8_t(402));
                ASSERT_EQ(c.rgbRed, 54);
            }
    }
}

TEST(StretchBlt, HalftoneHalvingAveragesTwoByTwoBlocks)
{
    auto value = [](int32_t x, int32_t y) { return uint8_t((x * 37 + y * 91) % 251); };
    Canvas source(8, 6);
    Paint(source, value);
    Canvas target(4, 3);
    target.dc.SetStretchMode(StretchMode::Halftone);
    ASSERT_TRUE(target.dc.StretchBlt(0, 0, 4, 3, source.dc, 0, 0, 8, 6));
    for (int32_t y = 0; y < 3; y++)
        for (int32_t x = 0; x < 4; x++) {
            const int sum = value(2 * x, 2 * y) + value(2 * x + 1, 2 * y) + value(2 * x, 2 * y + 1)
                + value(2 * x + 1, 2 * y + 1);
            const int expected = (2 * sum + 4) / 8; // the mean, rounded half up
            EXPECT_NEAR(target.bitmap.GetPixel(x, y).rgbBlue, expected, sum % 4 == 2 ? 1 : 0)
                << "block " << x << "," << y << " sum " << sum;
        }
}

TEST(StretchBlt, HalftoneOfAPartOfTheSourceReadsOnlyThatPart)
{
    // Left half 0, right half 200: stretching only the right half gives 200 everywhere.
    Canvas source(4, 2);
    Paint(source, [](int32_t x, int32_t) { return uint8_t(x < 2 ? 0 : 200); });
    Canvas target(3, 3);
    target.dc.SetStretchMode(StretchMode::Halftone);
    ASSERT_TRUE(target.dc.StretchBlt(0, 0, 3, 3, source.dc, 2, 0, 2, 2));
    EXPECT_EQ(target.Blue(),
        "200 200 200\n"
        "200 200 200\n"
        "200 200 200\n");
}

TEST(StretchBlt, RefusesSourceRectanglesOutsideTheBitmapAndEmptySizes)
{
    Canvas source(4, 4);
    Canvas target(2, 2);
    EXPECT_FALSE(target.dc.StretchBlt(0, 0, 2, 2, source.dc, 3, 0, 2, 2));
    EXPECT_FALSE(target.dc.StretchBlt(0, 0, 2, 2, source.dc, -1, 0, 2, 2));
    EXPECT_FALSE(target.dc.StretchBlt(0, 0, 0, 2, source.dc, 0, 0, 2, 2));
    EXPECT_FALSE(target.dc.StretchBlt(0, 0, 2, 2, source.dc, 0, 0, 0, 2));
    EXPECT_TRUE(target.dc.StretchBlt(0, 0, 2, 2, source.dc, 0, 0, 4, 4));
}

TEST(DibSection, HasTheHeadersDepthAndColourTable)
{
    Dib dib(5, 2, 4);
    dib.Colors()[3] = RGBQUAD { 1, 2, 3, 0 };
    uint8_t* bits = nullptr;
    const auto section = platform::CreateDIBSection(nullptr, dib.Info(), &bits);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->BitsPerPixel(), 4);
    EXPECT_EQ(section->Stride(), 4u);
    EXPECT_EQ(bits, section->Bits());
    ASSERT_EQ(section->Colors().size(), 16u);
    EXPECT_EQ(section->Colors()[3].rgbRed, 3);

    dib.Info()->bmiHeader.biBitCount = 16;
    EXPECT_EQ(platform::CreateDIBSection(nullptr, dib.Info(), &bits), nullptr);
    EXPECT_EQ(bits, nullptr);
}

TEST(GetDIBits, ReadsADeviceBitmapInto24BitRowsBottomUp)
{
    Canvas canvas(3, 2);
    Paint(canvas, [](int32_t x, int32_t y) { return uint8_t(10 * y + x); });
    Dib dib(3, 2, 24);
    EXPECT_EQ(platform::GetDIBits(nullptr, &canvas.bitmap, 0, 2, dib.bits, dib.Info()), 2);
    // Stored row 0 is the device's bottom line (y = 1).
    EXPECT_EQ(dib.Row(0)[0], 10);
    EXPECT_EQ(dib.Row(0)[6], 12);
    EXPECT_EQ(dib.Row(1)[3], 1);
    EXPECT_EQ(dib.Row(1)[4], 2);

    Dib wrongWidth(4, 2, 24);
    EXPECT_EQ(
        platform::GetDIBits(nullptr, &canvas.bitmap, 0, 2, wrongWidth.bits, wrongWidth.Info()), 0);
    Dib indexed(3, 2, 8);
    EXPECT_EQ(platform::GetDIBits(nullptr, &canvas.bitmap, 0, 2, indexed.bits, indexed.Info()), 0)
        << "no conversion of true colour into an indexed depth";
}

TEST(CompatibleBitmap, IsBlackAt32BitsAndRefusesEmptySizes)
{
    const auto bitmap = platform::CreateCompatibleBitmap(nullptr, 3, 2);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->BitsPerPixel(), 32);
    EXPECT_EQ(bitmap->GetObject().bmWidthBytes, 12);
    for (uint32_t i = 0; i < bitmap->Stride() * 2; i++)
        EXPECT_EQ(bitmap->Bits()[i], 0);
    EXPECT_EQ(platform::CreateCompatibleBitmap(nullptr, 0, 2), nullptr);
}
