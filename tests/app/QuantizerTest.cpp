#include "app/ColorQuantizer.h"
#include "image/core/CxStream.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace {

struct Color {
    uint8_t r, g, b;
};

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; i++)
        v[at + i] = uint8_t(x >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& v, size_t at)
{
    return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16
        | uint32_t(v[at + 3]) << 24;
}

// A bottom-up 24-bit BMP whose pixel (x, y), y counted from the top, is pixel(x, y).
std::vector<uint8_t> MakeBmp24(int w, int h, const std::function<Color(int, int)>& pixel)
{
    const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
    std::vector<uint8_t> file(54 + size_t(stride) * h, 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, uint32_t(file.size()));
    Put32(file, 10, 54);
    Put32(file, 14, 40);
    Put32(file, 18, uint32_t(w));
    Put32(file, 22, uint32_t(h));
    Put16(file, 26, 1);
    Put16(file, 28, 24);
    for (int y = 0; y < h; y++) {
        uint8_t* row = file.data() + 54 + size_t(h - 1 - y) * stride;
        for (int x = 0; x < w; x++) {
            const Color c = pixel(x, y);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
    return file;
}

struct Quantized {
    bool ok = false;
    std::vector<uint8_t> file;
    uint32_t colors = 0;
    uint32_t stride = 0;
    RGBQUAD Entry(uint32_t i) const
    {
        return RGBQUAD { file[54 + 4 * i], file[55 + 4 * i], file[56 + 4 * i], file[57 + 4 * i] };
    }
    // Index of pixel (x, y), y from the top.
    uint8_t Index(int x, int y, int h) const
    {
        return file[54 + 4 * colors + size_t(h - 1 - y) * stride + x];
    }
};

Quantized Quantize(const std::vector<uint8_t>& bmp)
{
    CxMemStream in(bmp.data(), bmp.size());
    CxMemStream out;
    Quantized q;
    q.ok = QuantizeBmpStream(&in, &out);
    q.file.assign(out.Data(), out.Data() + out.Length());
    if (q.file.size() >= 54) {
        q.colors = Get32(q.file, 46);
        q.stride = (Get32(q.file, 18) + 3) & ~3u;
    }
    return q;
}

uint32_t BruteNearest(const std::vector<RGBQUAD>& palette, uint8_t r, uint8_t g, uint8_t b)
{
    uint32_t best = 0;
    int bestD = INT32_MAX;
    for (uint32_t i = 0; i < palette.size(); i++) {
        const int dr = palette[i].rgbRed - r, dg = palette[i].rgbGreen - g,
                  db = palette[i].rgbBlue - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestD) {
            bestD = d;
            best = i;
        }
    }
    return best;
}

} // namespace

TEST(Quantizer, KeepsUpTo256DistinctColoursExactlyInTreeOrder)
{
    // 256 colours whose top six bits differ: r, g, b each from 4 or 8 levels, multiples of 4.
    std::vector<Color> colors;
    for (int r = 0; r < 8; r++)
        for (int g = 0; g < 8; g++)
            for (int b = 0; b < 4; b++)
                colors.push_back(Color { uint8_t(r * 36), uint8_t(g * 36), uint8_t(b * 84) });
    ASSERT_EQ(colors.size(), 256u);
    const int w = 16, h = 16;
    const auto bmp = MakeBmp24(w, h, [&](int x, int y) { return colors[size_t(y * w + x)]; });
    const Quantized q = Quantize(bmp);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.colors, 256u);

    // Tree order sorts by the interleaved bits (r, g, b) from the top bit down.
    auto key = [](Color c) {
        uint32_t k = 0;
        for (int bit = 7; bit >= 2; bit--)
            k = (k << 3) | (((c.r >> bit) & 1) << 2) | (((c.g >> bit) & 1) << 1)
                | ((c.b >> bit) & 1);
        return k;
    };
    std::vector<Color> sorted = colors;
    std::sort(sorted.begin(), sorted.end(), [&](Color a, Color b) { return key(a) < key(b); });
    for (uint32_t i = 0; i < 256; i++) {
        const RGBQUAD e = q.Entry(i);
        EXPECT_EQ(e.rgbRed, sorted[i].r);
        EXPECT_EQ(e.rgbGreen, sorted[i].g);
        EXPECT_EQ(e.rgbBlue, sorted[i].b);
        EXPECT_EQ(e.rgbReserved, 0);
    }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const RGBQUAD e = q.Entry(q.Index(x, y, h));
            const Color c = colors[size_t(y * w + x)];
            ASSERT_EQ(e.rgbRed, c.r);
            ASSERT_EQ(e.rgbGreen, c.g);
            ASSERT_EQ(e.rgbBlue, c.b);
        }
}

TEST(Quantizer, ColoursDifferingInTheLowTwoBitsShareOneLeafAsTheirAverage)
{
    const Color a { 100, 200, 40 }, b { 103, 201, 42 };
    // Three pixels of a, one of b.
    const auto bmp = MakeBmp24(4, 1, [&](int x, int) { return x == 3 ? b : a; });
    const Quantized q = Quantize(bmp);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.colors, 1u);
    const RGBQUAD e = q.Entry(0);
    EXPECT_EQ(e.rgbRed, (3 * 100 + 103) / 4);
    EXPECT_EQ(e.rgbGreen, (3 * 200 + 201) / 4);
    EXPECT_EQ(e.rgbBlue, (3 * 40 + 42) / 4);
}

TEST(Quantizer, OneColourCanvasGivesOneEntryAndA58ByteOverhead)
{
    const int w = 120, h = 90;
    const auto bmp = MakeBmp24(w, h, [](int, int) { return Color { 255, 255, 255 }; });
    const Quantized q = Quantize(bmp);
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.colors, 1u);
    EXPECT_EQ(q.file.size(), size_t(120) * 90 + 58);
    EXPECT_EQ(Get32(q.file, 2), q.file.size());
    EXPECT_EQ(Get32(q.file, 10), 58u);
    EXPECT_EQ(Get32(q.file, 50), 1u); // colours important
    for (size_t i = 58; i < q.file.size(); i++)
        ASSERT_EQ(q.file[i], 0);
}

TEST(Quantizer, OddWidthRowsArePaddedWithZeros)
{
    const int w = 121, h = 3;
    const auto bmp = MakeBmp24(w, h, [](int x, int) {
        return x % 2 ? Color { 0, 0, 0 } : Color { 250, 10, 10 };
    });
    const Quantized q = Quantize(bmp);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.stride, 124u);
    ASSERT_EQ(q.colors, 2u);
    EXPECT_EQ(q.file.size(), size_t(124) * 3 + 54 + 8);
    EXPECT_EQ(Get32(q.file, 34), 124u * 3); // image size
    const size_t pixels = 54 + 8;
    for (int row = 0; row < h; row++) {
        for (int pad = 121; pad < 124; pad++)
            EXPECT_EQ(q.file[pixels + size_t(row) * 124 + pad], 0);
        // Black (index 0 in tree order) at odd columns, red at even ones.
        EXPECT_EQ(q.file[pixels + size_t(row) * 124 + 1], 0);
        EXPECT_EQ(q.file[pixels + size_t(row) * 124 + 0], 1);
    }
}

TEST(Quantizer, NoisyCanvasGetsAtMost256ColoursAndTheNearestEntryEverywhere)
{
    std::mt19937 random(7);
    const int w = 97, h = 61;
    std::vector<Color> pixels(size_t(w) * h);
    for (auto& c : pixels)
        c = Color { uint8_t(random()), uint8_t(random()), uint8_t(random()) };
    const auto bmp = MakeBmp24(w, h, [&](int x, int y) { return pixels[size_t(y * w + x)]; });
    const Quantized q = Quantize(bmp);
    ASSERT_TRUE(q.ok);
    ASSERT_GE(q.colors, 200u);
    ASSERT_LE(q.colors, 256u);
    std::vector<RGBQUAD> palette;
    for (uint32_t i = 0; i < q.colors; i++)
        palette.push_back(q.Entry(i));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const Color c = pixels[size_t(y * w + x)];
            ASSERT_EQ(q.Index(x, y, h), BruteNearest(palette, c.r, c.g, c.b));
        }
}

TEST(Quantizer, SixteenAndThirtyTwoBitSourcesReadThroughTheirMasks)
{
    // 2 x 1 pixels; 16 bits with the default 5-5-5 masks: pure red 0x7C00, green 0x03E0.
    std::vector<uint8_t> bmp16(54 + 4, 0);
    bmp16[0] = 'B';
    bmp16[1] = 'M';
    Put32(bmp16, 10, 54);
    Put32(bmp16, 14, 40);
    Put32(bmp16, 18, 2);
    Put32(bmp16, 22, 1);
    Put16(bmp16, 26, 1);
    Put16(bmp16, 28, 16);
    Put16(bmp16, 54, 0x7C00);
    Put16(bmp16, 56, 0x03E0);
    Quantized q = Quantize(bmp16);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.colors, 2u);
    // Tree order: green (child 2) before red (child 4).
    EXPECT_EQ(q.Entry(0).rgbGreen, 0xF8);
    EXPECT_EQ(q.Entry(1).rgbRed, 0xF8);

    // 32 bits with bit fields: red in the low byte.
    std::vector<uint8_t> bmp32(54 + 12 + 8, 0);
    bmp32[0] = 'B';
    bmp32[1] = 'M';
    Put32(bmp32, 10, 66);
    Put32(bmp32, 14, 40);
    Put32(bmp32, 18, 2);
    Put32(bmp32, 22, 1);
    Put16(bmp32, 26, 1);
    Put16(bmp32, 28, 32);
    Put32(bmp32, 30, 3);
    Put32(bmp32, 54, 0x0000FF);
    Put32(bmp32, 58, 0x00FF00);
    Put32(bmp32, 62, 0xFF0000);
    Put32(bmp32, 66, 0x000080);
    Put32(bmp32, 70, 0x800000);
    q = Quantize(bmp32);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.colors, 2u);
    EXPECT_EQ(q.Entry(0).rgbBlue, 0x80); // blue 0x80 is child 1
    EXPECT_EQ(q.Entry(1).rgbRed, 0x80);
}

TEST(Quantizer, DamagedOrUnsupportedSourcesFail)
{
    const auto good = MakeBmp24(8, 8, [](int x, int y) {
        return Color { uint8_t(x), uint8_t(y), 0 };
    });
    auto truncated = good;
    truncated.resize(good.size() - 10);
    EXPECT_FALSE(Quantize(truncated).ok);
    auto badDepth = good;
    Put16(badDepth, 28, 7);
    EXPECT_FALSE(Quantize(badDepth).ok);
    auto compressed = good;
    Put32(compressed, 30, 1);
    EXPECT_FALSE(Quantize(compressed).ok);
    auto huge = good;
    Put32(huge, 18, 0x7FFFFFFF);
    EXPECT_FALSE(Quantize(huge).ok);
    auto notBmp = good;
    notBmp[0] = 'X';
    EXPECT_FALSE(Quantize(notBmp).ok);
    EXPECT_FALSE(Quantize(std::vector<uint8_t>(20, 0)).ok);
    EXPECT_TRUE(Quantize(good).ok);
}

TEST(PaletteSearch, EqualsBruteForceOnRandomPalettesAndColours)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 300; round++) {
        const uint32_t count = 1 + random() % 256;
        std::vector<RGBQUAD> palette(count);
        const int kind = round % 3;
        for (auto& e : palette) {
            if (kind == 0) { // spread over the cube
                e = RGBQUAD { uint8_t(random()), uint8_t(random()), uint8_t(random()), 0 };
            } else if (kind == 1) { // clustered, with duplicates: ties must go to the lowest
                e = RGBQUAD { uint8_t(120 + random() % 8), uint8_t(60 + random() % 8),
                    uint8_t(200 + random() % 8), 0 };
            } else { // on a coarse lattice, so that equal distances are common
                e = RGBQUAD { uint8_t((random() % 5) * 60), uint8_t((random() % 5) * 60),
                    uint8_t((random() % 5) * 60), 0 };
            }
        }
        PaletteSearch search(palette.data(), count);
        for (int i = 0; i < 2000; i++) {
            const uint8_t r = uint8_t(random()), g = uint8_t(random()), b = uint8_t(random());
            ASSERT_EQ(search.Nearest(r, g, b), BruteNearest(palette, r, g, b))
                << "round " << round << " colour " << int(r) << "," << int(g) << "," << int(b);
        }
    }
}

TEST(PaletteSearch, TiesGoToTheLowestIndex)
{
    const std::vector<RGBQUAD> palette { { 0, 0, 10, 0 }, { 0, 0, 20, 0 }, { 0, 0, 20, 0 },
        { 0, 0, 0, 0 } };
    PaletteSearch search(palette.data(), 4);
    EXPECT_EQ(search.Nearest(15, 0, 0), 0u); // 10 and 20 are both 5 away
    EXPECT_EQ(search.Nearest(20, 0, 0), 1u); // the duplicate at 2 loses
    EXPECT_EQ(search.Nearest(5, 0, 0), 0u); // 0 (index 3) and 10 (index 0) tie
}

TEST(PaletteSearch, RepeatedColoursGiveTheSearchResult)
{
    std::mt19937 random(99);
    std::vector<RGBQUAD> palette(40);
    for (auto& e : palette)
        e = RGBQUAD { uint8_t(random()), uint8_t(random()), uint8_t(random()), 0 };
    PaletteSearch search(palette.data(), 40);
    for (int i = 0; i < 5000; i++) {
        // Few distinct colours, so that most lookups are answered from the remembered ones.
        const uint8_t v = uint8_t((random() % 4) * 70);
        ASSERT_EQ(
            search.Nearest(v, uint8_t(255 - v), v), BruteNearest(palette, v, uint8_t(255 - v), v));
    }
}
