// Resample, with the area-averaging reduction checked against a box filter computed
// straight from its definition.
#include "TestPictures.h"
#include "image/process/CxAreaReduction.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A 24-bit picture of noise over gradients, the same on every run.
void FillNoise(CxImage& image, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 12345;
    for (int32_t y = 0; y < image.GetHeight(); y++) {
        uint8_t* p = image.GetBits(0) + size_t(y) * image.GetRowStride();
        for (int32_t x = 0; x < image.GetWidth(); x++) {
            for (int c = 0; c < 3; c++) {
                state = state * 1664525u + 1013904223u;
                const int gradient = c == 0 ? x * 255 / image.GetWidth()
                    : c == 1                ? y * 255 / image.GetHeight()
                                            : 128;
                const int v = gradient + int(state >> 27) - 16;
                p[3 * x + c] = uint8_t(std::clamp(v, 0, 255));
            }
        }
    }
}

void FillUniform(CxImage& image, uint8_t value)
{
    std::memset(image.GetBits(0), value, image.GetHeader().biSizeImage);
}

// The part of [a, a + 1) that lies in [low, high).
double Overlap(double a, double low, double high)
{
    return std::max(0.0, std::min(a + 1.0, high) - std::max(a, low));
}

// Every channel of every result pixel within 1 of the exact area average of the source
// region it covers.
void ExpectBoxAverage(const CxImage& source, const CxImage& result)
{
    const int32_t width = source.GetWidth();
    const int32_t height = source.GetHeight();
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();
    const double xs = double(width) / newWidth;
    const double ys = double(height) / newHeight;
    int failures = 0;
    std::vector<double> sums(size_t(newWidth) * 3);
    for (int32_t r = 0; r < newHeight; r++) {
        std::fill(sums.begin(), sums.end(), 0.0);
        const int32_t y0 = int32_t(std::floor(r * ys));
        const int32_t y1 = std::min(height, int32_t(std::ceil((r + 1) * ys)));
        for (int32_t sy = y0; sy < y1; sy++) {
            const double wy = Overlap(sy, r * ys, (r + 1) * ys);
            const uint8_t* p = source.GetBits(0) + size_t(sy) * source.GetRowStride();
            for (int32_t k = 0; k < newWidth; k++) {
                const int32_t x0 = int32_t(std::floor(k * xs));
                const int32_t x1 = std::min(width, int32_t(std::ceil((k + 1) * xs)));
                for (int32_t sx = x0; sx < x1; sx++) {
                    const double w = wy * Overlap(sx, k * xs, (k + 1) * xs);
                    for (int c = 0; c < 3; c++)
                        sums[size_t(k) * 3 + c] += w * p[3 * sx + c];
                }
            }
        }
        const uint8_t* out = result.GetBits(0) + size_t(r) * result.GetRowStride();
        for (int32_t i = 0; i < newWidth * 3; i++) {
            // The box filter's own byte, truncated like the result; the epsilon keeps
            // whole averages from falling a step through rounding of the sums.
            const double exact = sums[size_t(i)] / (xs * ys);
            const double want = std::floor(exact + 1e-9);
            if (std::fabs(out[i] - want) > 1.0 && failures++ < 5) {
                ADD_FAILURE() << "result pixel (" << i / 3 << ", " << r << ") channel " << i % 3
                              << " is " << int(out[i]) << ", the area average is " << exact;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

// The reduction written out pixel by pixel, as plainly as it is defined, with the
// accumulator type as a parameter: 64 bits gives the mended arithmetic, 32 bits the
// original one (only where it cannot overflow).
template <typename Accumulator>
std::vector<uint8_t> PlainReduction(const CxImage& source, int32_t newWidth, int32_t newHeight)
{
    const int32_t width = source.GetWidth();
    const int32_t height = source.GetHeight();
    const float xScale = float(width) / float(newWidth);
    const float yScale = float(height) / float(newHeight);
    const size_t stride = ((size_t(newWidth) * 24 + 31) / 32) * 4;
    std::vector<uint8_t> result(stride * newHeight, 0);
    std::vector<Accumulator> a(size_t(newWidth + 1) * 3, 0);
    std::vector<Accumulator> b(size_t(newWidth + 1) * 3, 0);
    Accumulator* current = a.data();
    Accumulator* next = b.data();
    const Accumulator divisor = Accumulator(yScale * xScale * 1000);
    float yLimit = yScale - 1;
    int32_t r = 0;
    uint8_t* out = result.data();
    for (int32_t sy = 0; sy < height; sy++) {
        const uint8_t* row = source.GetBits(0) + size_t(sy) * source.GetRowStride();
        float xLimit = xScale - 1;
        int32_t k = 0;
        if (sy >= yLimit) {
            const Accumulator fy = Accumulator((sy - yLimit) * 1000);
            int32_t written = 0;
            for (int32_t sx = 0; sx < width; sx++) {
                const uint8_t* v = row + 3 * sx;
                if (sx >= xLimit) {
                    const Accumulator fx = Accumulator((sx - xLimit) * 1000);
                    for (int c = 0; c < 3; c++) {
                        current[3 * k + c] += v[c] * ((1000 - fy) * (1000 - fx)) / 1000;
                        *out++ = uint8_t(current[3 * k + c] / divisor);
                        next[3 * k + c] += v[c] * fy * (1000 - fx) / 1000;
                        current[3 * (k + 1) + c] += v[c] * fx * (1000 - fy) / 1000;
                        next[3 * (k + 1) + c] = v[c] * fy * fx / 1000;
                    }
                    written++;
                    k++;
                    xLimit += xScale;
                } else {
                    for (int c = 0; c < 3; c++) {
                        current[3 * k + c] += v[c] * (1000 - fy);
                        next[3 * k + c] += v[c] * fy;
                    }
                }
            }
            if (written < newWidth) {
                for (int c = 0; c < 3; c++)
                    *out++ = uint8_t(current[3 * k + c] / divisor);
            }
            std::swap(current, next);
            next[0] = next[1] = next[2] = 0;
            yLimit += yScale;
            r++;
            out = result.data() + size_t(r) * stride;
        } else {
            for (int32_t sx = 0; sx < width; sx++) {
                const uint8_t* v = row + 3 * sx;
                if (sx >= xLimit) {
                    const Accumulator fx = Accumulator((sx - xLimit) * 1000);
                    for (int c = 0; c < 3; c++) {
                        current[3 * k + c] += v[c] * (1000 - fx);
                        current[3 * (k + 1) + c] += v[c] * fx;
                    }
                    k++;
                    xLimit += xScale;
                } else {
                    for (int c = 0; c < 3; c++)
                        current[3 * k + c] += v[c] * 1000;
                }
            }
        }
    }
    if (r < newHeight) {
        for (int32_t i = 0; i < newWidth * 3; i++)
            *out++ = uint8_t(current[i] / divisor);
    }
    return result;
}

std::vector<uint8_t> PixelBytes(const CxImage& image)
{
    const uint8_t* p = image.GetBits(0);
    std::vector<uint8_t> bytes(p, p + image.GetHeader().biSizeImage);
    // Padding is not part of the picture.
    const size_t used = size_t(image.GetWidth()) * 3;
    for (int32_t y = 0; y < image.GetHeight(); y++)
        std::fill(bytes.begin() + y * image.GetRowStride() + used,
            bytes.begin() + (y + 1) * image.GetRowStride(), 0);
    return bytes;
}

struct Reduction {
    int32_t width, height, newWidth, newHeight;
};

std::string Name(const Reduction& r)
{
    return std::to_string(r.width) + "x" + std::to_string(r.height) + "_to_"
        + std::to_string(r.newWidth) + "x" + std::to_string(r.newHeight);
}

class AreaAveraging : public testing::TestWithParam<Reduction> { };

TEST_P(AreaAveraging, IsTheBoxFilterAverageAndTheDefinedArithmetic)
{
    const Reduction r = GetParam();
    CxImage source(uint32_t(r.width), uint32_t(r.height), 24);
    ASSERT_TRUE(source.IsValid());
    FillNoise(source, uint32_t(r.width * 7 + r.newWidth));

    CxImage result;
    ASSERT_TRUE(source.Resample(r.newWidth, r.newHeight, RM_AREA_AVERAGE, &result));
    ASSERT_EQ(result.GetWidth(), r.newWidth);
    ASSERT_EQ(result.GetHeight(), r.newHeight);
    ExpectBoxAverage(source, result);

    EXPECT_EQ(PixelBytes(result), PlainReduction<int64_t>(source, r.newWidth, r.newHeight));
    // Where 32-bit accumulators can hold a whole result pixel, the results are those of
    // the 32-bit arithmetic.
    const double largestSum
        = double(r.width) / r.newWidth * double(r.height) / r.newHeight * 1000.0 * 255.0 * 1.01;
    if (largestSum < 2147483647.0) {
        EXPECT_EQ(PixelBytes(result), PlainReduction<int32_t>(source, r.newWidth, r.newHeight));
    }

    // The same bytes whatever order the rows come in: top down, as a reader decodes
    // them, or shuffled.
    std::vector<int32_t> order(size_t(r.height));
    for (int32_t sy = 0; sy < r.height; sy++)
        order[size_t(sy)] = r.height - 1 - sy;
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) {
            uint32_t state = 7;
            for (size_t i = order.size(); i > 1; i--) {
                state = state * 1664525u + 1013904223u;
                std::swap(order[i - 1], order[(state >> 8) % i]);
            }
        }
        CxImage streamed(uint32_t(r.newWidth), uint32_t(r.newHeight), 24);
        CxAreaReduction reduction(r.width, r.height, streamed);
        for (const int32_t sy : order)
            reduction.AddRow(sy, source.GetBits(0) + size_t(sy) * source.GetRowStride());
        reduction.Finish();
        EXPECT_EQ(PixelBytes(streamed), PixelBytes(result)) << "pass " << pass;
    }
}

TEST(AreaAveraging, ASideThatKeepsItsSizeIsCopied)
{
    CxImage source(40, 30, 24);
    FillNoise(source, 5);
    CxImage same(40, 30, 24);
    CxAreaReduction copy(40, 30, same);
    for (int32_t sy = 29; sy >= 0; sy--)
        copy.AddRow(sy, source.GetBits(0) + size_t(sy) * source.GetRowStride());
    copy.Finish();
    EXPECT_EQ(PixelBytes(same), PixelBytes(source));

    // Only the rows shrink: each result pixel averages whole columns of rows.
    CxImage rows(40, 10, 24);
    CxAreaReduction reduction(40, 30, rows);
    for (int32_t sy = 0; sy < 30; sy++)
        reduction.AddRow(sy, source.GetBits(0) + size_t(sy) * source.GetRowStride());
    reduction.Finish();
    ExpectBoxAverage(source, rows);
}

INSTANTIATE_TEST_SUITE_P(Sizes, AreaAveraging,
    testing::Values(Reduction { 600, 400, 120, 80 }, Reduction { 100, 50, 30, 20 },
        Reduction { 101, 77, 30, 19 }, Reduction { 640, 480, 120, 90 },
        Reduction { 1000, 750, 333, 211 }, Reduction { 13, 1000, 12, 999 },
        Reduction { 7, 5, 3, 2 }, Reduction { 50, 40, 1, 1 }, Reduction { 50, 40, 49, 1 },
        Reduction { 300, 7, 299, 6 }, Reduction { 2, 2, 1, 1 }, Reduction { 997, 13, 10, 3 },
        Reduction { 4000, 3000, 600, 450 },
        // One result pixel sums 100 x 100 source pixels: beyond 32-bit accumulators, as in
        // a 12000 x 9000 photo reduced to 120 x 90.
        Reduction { 1200, 900, 12, 9 }, Reduction { 2000, 1500, 13, 7 }),
    [](const auto& info) { return Name(info.param); });

TEST(AreaAveraging, UniformPictureStaysUniformUnderWholeFactors)
{
    // At 1200 x 900 to 12 x 9 one result pixel of 255 sums 255 x 100 x 100 x 1000, more
    // than a 32-bit accumulator holds.
    const Reduction cases[]
        = { { 600, 400, 120, 80 }, { 90, 60, 45, 20 }, { 1200, 900, 12, 9 }, { 64, 64, 1, 1 } };
    for (const Reduction& r : cases) {
        for (const int value : { 0, 1, 128, 254, 255 }) {
            SCOPED_TRACE(Name(r) + " value " + std::to_string(value));
            CxImage source(uint32_t(r.width), uint32_t(r.height), 24);
            FillUniform(source, uint8_t(value));
            ASSERT_TRUE(source.Resample(r.newWidth, r.newHeight, RM_AREA_AVERAGE));
            for (int32_t y = 0; y < r.newHeight; y++) {
                const uint8_t* p = source.GetBits(0) + size_t(y) * source.GetRowStride();
                for (int32_t i = 0; i < r.newWidth * 3; i++)
                    ASSERT_EQ(p[i], value) << "at byte " << i << " of row " << y;
            }
        }
    }
}

TEST(AreaAveraging, UniformPictureUnderOtherFactorsLosesAtMostOne)
{
    for (const int value : { 1, 100, 255 }) {
        CxImage source(100, 77, 24);
        FillUniform(source, uint8_t(value));
        ASSERT_TRUE(source.Resample(30, 19, RM_AREA_AVERAGE));
        for (int32_t y = 0; y < 19; y++) {
            const uint8_t* p = source.GetBits(0) + size_t(y) * source.GetRowStride();
            for (int32_t i = 0; i < 30 * 3; i++) {
                ASSERT_LE(p[i], value);
                ASSERT_GE(p[i], value - 1);
            }
        }
    }
}

int calls = 0;
int32_t StopAfterTenCalls(CxImage*, uint32_t) { return ++calls > 10 ? 1 : 0; }

TEST(AreaAveraging, AStopMovesThePartialResultIn)
{
    CxImage source(300, 200, 24);
    FillUniform(source, 200);
    calls = 0;
    source.SetEscapeCallback(StopAfterTenCalls);
    ASSERT_TRUE(source.Resample(30, 20, RM_AREA_AVERAGE));
    EXPECT_EQ(source.GetWidth(), 30);
    EXPECT_EQ(source.GetHeight(), 20);
    EXPECT_EQ(calls, 11);
    // Ten source rows make result row 0; the rows never reached are black.
    EXPECT_EQ(source.GetPixelColor(5, 0).rgbRed, 200);
    EXPECT_EQ(source.GetPixelColor(5, 19).rgbRed, 0);
}

// --- the other branches ------------------------------------------------------------------

TEST(Resample, SameSizeCopiesIntoTheDestinationOrDoesNothing)
{
    CxImage source(20, 10, 24);
    FillNoise(source, 3);
    source.CreateAlpha();
    source.SetAlpha(3, 4, 17);
    const std::vector<uint8_t> before = PixelBytes(source);
    EXPECT_TRUE(source.Resample(20, 10, RM_AREA_AVERAGE));
    EXPECT_EQ(PixelBytes(source), before);
    CxImage copy;
    EXPECT_TRUE(source.Resample(20, 10, RM_NEAREST, &copy));
    EXPECT_EQ(PixelBytes(copy), before);
    EXPECT_EQ(copy.GetAlpha(3, 4), 17);
}

TEST(Resample, RefusesZeroSidesAndEmptyImages)
{
    CxImage source(20, 10, 24);
    EXPECT_FALSE(source.Resample(0, 5));
    EXPECT_FALSE(source.Resample(5, 0, RM_AREA_AVERAGE));
    EXPECT_EQ(source.GetWidth(), 20);
    CxImage empty;
    EXPECT_FALSE(empty.Resample(5, 5));
}

TEST(Resample, TooLargeAResultLeavesTheImageUnchanged)
{
    CxImage source(20, 10, 24);
    FillNoise(source, 9);
    const std::vector<uint8_t> before = PixelBytes(source);
    EXPECT_FALSE(source.Resample(20000, 20000, RM_AREA_AVERAGE));
    EXPECT_STREQ(source.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(source.GetWidth(), 20);
    EXPECT_EQ(PixelBytes(source), before);
}

TEST(Resample, NearestTakesTheSourcePixelAtTheScaledPosition)
{
    CxImage source(10, 7, 24);
    FillNoise(source, 5);
    CxImage result;
    ASSERT_TRUE(source.Resample(4, 9, RM_NEAREST, &result));
    for (int32_t y = 0; y < 9; y++) {
        for (int32_t x = 0; x < 4; x++) {
            const RGBQUAD want
                = source.GetPixelColor(int32_t(x * 2.5f), int32_t(y * (7.0f / 9.0f)));
            const RGBQUAD got = result.GetPixelColor(x, y);
            ASSERT_EQ(got.rgbBlue, want.rgbBlue);
            ASSERT_EQ(got.rgbGreen, want.rgbGreen);
            ASSERT_EQ(got.rgbRed, want.rgbRed);
        }
    }
}

// The bilinear branch, in double precision, for a 24-bit source.
RGBQUAD BilinearAt(const CxImage& source, int32_t x, int32_t y, double xs, double ys)
{
    const double fx = x * xs, fy = y * ys;
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    const int32_t ix1 = std::min(ix + 1, source.GetWidth() - 1);
    const int32_t iy1 = std::min(iy + 1, source.GetHeight() - 1);
    const double dx = fx - ix, dy = fy - iy;
    const RGBQUAD p00 = source.GetPixelColor(ix, iy), p01 = source.GetPixelColor(ix, iy1);
    const RGBQUAD p10 = source.GetPixelColor(ix1, iy), p11 = source.GetPixelColor(ix1, iy1);
    auto mix = [&](uint8_t RGBQUAD::*c) {
        return uint8_t(
            ((1 - dy) * p00.*c + dy * p01.*c) * (1 - dx) + dx * ((1 - dy) * p10.*c + dy * p11.*c));
    };
    return RGBQUAD { mix(&RGBQUAD::rgbBlue), mix(&RGBQUAD::rgbGreen), mix(&RGBQUAD::rgbRed), 0 };
}

TEST(Resample, ShrinkingOneSideOrEnlargingIsBilinear)
{
    CxImage source(40, 30, 24);
    FillNoise(source, 11);
    const Reduction cases[] = { { 40, 30, 20, 45 }, { 40, 30, 50, 10 }, { 40, 30, 97, 61 } };
    for (const Reduction& r : cases) {
        SCOPED_TRACE(Name(r));
        CxImage result;
        ASSERT_TRUE(source.Resample(r.newWidth, r.newHeight, RM_AREA_AVERAGE, &result));
        for (int32_t y = 0; y < r.newHeight; y++) {
            for (int32_t x = 0; x < r.newWidth; x++) {
                const RGBQUAD want
                    = BilinearAt(source, x, y, 40.0 / r.newWidth, 30.0 / r.newHeight);
                const RGBQUAD got = result.GetPixelColor(x, y);
                ASSERT_NEAR(got.rgbBlue, want.rgbBlue, 1) << x << "," << y;
                ASSERT_NEAR(got.rgbGreen, want.rgbGreen, 1) << x << "," << y;
                ASSERT_NEAR(got.rgbRed, want.rgbRed, 1) << x << "," << y;
            }
        }
    }
}

TEST(Resample, PaletteImageKeepsItsPaletteAndGetsNearestIndices)
{
    // Four 4 x 4 quadrants of one index each; halving samples inside one quadrant.
    CxImage source(8, 8, 8);
    bvtest::MakeTestPalette(source);
    for (int32_t y = 0; y < 8; y++)
        for (int32_t x = 0; x < 8; x++)
            source.SetPixelIndex(x, y, uint8_t(3 + (x / 4) * 4 + (y / 4) * 40));
    for (const int mode : { RM_NEAREST, RM_AREA_AVERAGE }) {
        SCOPED_TRACE(mode);
        CxImage result;
        ASSERT_TRUE(source.Resample(4, 4, mode, &result));
        ASSERT_EQ(result.GetBpp(), 8);
        for (uint32_t i = 0; i < 256; i++) {
            ASSERT_EQ(result.GetPaletteColor(i).rgbRed, source.GetPaletteColor(i).rgbRed);
            ASSERT_EQ(result.GetPaletteColor(i).rgbGreen, source.GetPaletteColor(i).rgbGreen);
        }
        for (int32_t y = 0; y < 4; y++)
            for (int32_t x = 0; x < 4; x++)
                EXPECT_EQ(result.GetPixelIndex(x, y), 3 + (x / 2) * 4 + (y / 2) * 40)
                    << x << "," << y;
    }
    // The cubic blends across the quadrants; a single colour comes back as its index.
    source.Clear(77);
    CxImage result;
    ASSERT_TRUE(source.Resample(5, 3, RM_BSPLINE, &result));
    for (int32_t y = 0; y < 3; y++)
        for (int32_t x = 0; x < 5; x++)
            EXPECT_EQ(result.GetPixelIndex(x, y), 77);
}

TEST(Resample, CubicKeepsAUniformPictureAndFollowsAGradient)
{
    CxImage source(30, 20, 24);
    for (int32_t y = 0; y < 20; y++)
        for (int32_t x = 0; x < 30; x++)
            source.SetPixelColor(x, y, RGBQUAD { 90, uint8_t(x * 8), 200, 0 });
    CxImage result;
    ASSERT_TRUE(source.Resample(45, 13, RM_BSPLINE, &result));
    for (int32_t y = 0; y < 13; y++) {
        for (int32_t x = 0; x < 45; x++) {
            const RGBQUAD c = result.GetPixelColor(x, y);
            ASSERT_NEAR(c.rgbBlue, 90, 1);
            ASSERT_NEAR(c.rgbRed, 200, 1);
            // Away from the edges a B-spline reproduces a linear ramp.
            if (x > 2 && x < 42) {
                ASSERT_NEAR(c.rgbGreen, (x * (30.0 / 45) - 0.5) * 8, 1.01) << x;
            }
        }
    }
}

TEST(Resample, AlphaIsNearestSampledInEveryMode)
{
    CxImage source(12, 9, 24);
    FillNoise(source, 2);
    source.CreateAlpha();
    for (int32_t y = 0; y < 9; y++)
        for (int32_t x = 0; x < 12; x++)
            source.SetAlpha(x, y, uint8_t(x * 20 + y));
    const Reduction sizes[] = { { 12, 9, 4, 3 }, { 12, 9, 5, 7 }, { 12, 9, 30, 20 } };
    for (const int mode : { RM_NEAREST, RM_BSPLINE, RM_AREA_AVERAGE }) {
        for (const Reduction& r : sizes) {
            SCOPED_TRACE(Name(r) + " mode " + std::to_string(mode));
            CxImage result;
            ASSERT_TRUE(source.Resample(r.newWidth, r.newHeight, mode, &result));
            ASSERT_TRUE(result.HasAlpha());
            const float xs = 12.0f / float(r.newWidth), ys = 9.0f / float(r.newHeight);
            for (int32_t y = 0; y < r.newHeight; y++)
                for (int32_t x = 0; x < r.newWidth; x++)
                    ASSERT_EQ(result.GetAlpha(x, y),
                        source.GetAlpha(int32_t(float(x) * xs), int32_t(float(y) * ys)));
        }
    }
}

TEST(Resample, TheResultCarriesTheInfoRecord)
{
    CxImage source(40, 30, 24);
    source.SetFrameDelay(7);
    source.SetTransparentColor(RGBQUAD { 1, 2, 3, 0 });
    source.SetXDPI(200);
    ASSERT_TRUE(source.Resample(10, 10, RM_AREA_AVERAGE));
    EXPECT_EQ(source.GetFrameDelay(), 7u);
    EXPECT_EQ(source.GetTransparentColor().rgbRed, 3);
    EXPECT_EQ(source.GetXDPI(), 200);
    EXPECT_EQ(source.GetHeader().biXPelsPerMeter, 7874);
}

} // namespace
