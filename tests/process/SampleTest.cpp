// The overflow treatments and the interpolating sampler.
#include "TestPictures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr double PI = 3.14159265358979323846;

void ExpectColor(RGBQUAD got, uint8_t blue, uint8_t green, uint8_t red, uint8_t alpha)
{
    EXPECT_EQ(got.rgbBlue, blue);
    EXPECT_EQ(got.rgbGreen, green);
    EXPECT_EQ(got.rgbRed, red);
    EXPECT_EQ(got.rgbReserved, alpha);
}

// A 24-bit picture in which every pixel has its own colour.
void FillDistinct(CxImage& image)
{
    for (int32_t y = 0; y < image.GetHeight(); y++)
        for (int32_t x = 0; x < image.GetWidth(); x++)
            image.SetPixelColor(
                x, y, RGBQUAD { uint8_t(x * 10 + 5), uint8_t(y * 10 + 5), uint8_t(x + y), 0 });
}

TEST(ApplyOverflow, IntegerModes)
{
    CxImage image(8, 5, 24);
    auto map = [&](int32_t x, int32_t y, int mode) {
        image.ApplyOverflow(x, y, mode);
        return std::pair(x, y);
    };
    EXPECT_EQ(map(-1, 2, OM_WRAP), std::pair(7, 2));
    EXPECT_EQ(map(8, 2, OM_WRAP), std::pair(0, 2));
    EXPECT_EQ(map(-17, -6, OM_WRAP), std::pair(7, 4));
    EXPECT_EQ(map(-1, 2, OM_REFLECT), std::pair(1, 2));
    EXPECT_EQ(map(8, 2, OM_REFLECT), std::pair(7, 2));
    EXPECT_EQ(map(9, 5, OM_REFLECT), std::pair(6, 4));
    EXPECT_EQ(map(-8, -1, OM_REFLECT), std::pair(0, 1));
    EXPECT_EQ(map(-3, 99, OM_CLAMP_TO_EDGE), std::pair(0, 4));
    EXPECT_EQ(map(-3, 99, OM_FIXED_COLOR), std::pair(-3, 99));
    EXPECT_EQ(map(-3, 99, 7), std::pair(-3, 99));
    EXPECT_EQ(map(3, 2, OM_WRAP), std::pair(3, 2));
    // Extreme coordinates stay defined.
    EXPECT_EQ(map(INT32_MIN, INT32_MAX, OM_REFLECT).first, int32_t((uint64_t(1) << 31) % 8));
}

TEST(ApplyOverflow, RealModes)
{
    CxImage image(8, 5, 24);
    auto map = [&](float x, float y, int mode) {
        image.ApplyOverflow(x, y, mode);
        return std::pair(x, y);
    };
    EXPECT_EQ(map(-0.5f, 2.0f, OM_WRAP), std::pair(7.5f, 2.0f));
    EXPECT_EQ(map(9.25f, -5.0f, OM_WRAP), std::pair(1.25f, 0.0f));
    EXPECT_EQ(map(-3.0f, 7.5f, OM_CLAMP_TO_EDGE), std::pair(0.0f, 4.0f));
    EXPECT_EQ(map(-1.5f, 2.0f, OM_REFLECT), std::pair(1.5f, 2.0f));
    EXPECT_EQ(map(8.5f, 2.0f, OM_REFLECT), std::pair(7.0f - 0.5f, 2.0f));
    EXPECT_EQ(map(7.5f, 4.5f, OM_WRAP), std::pair(7.5f, 4.5f)); // inside: untouched
}

TEST(SampleWithOverflow, OutsideByMode)
{
    CxImage image(4, 3, 8);
    bvtest::MakeTestPalette(image);
    image.Clear(6);
    const RGBQUAD fallback { 1, 2, 3, 4 };

    ExpectColor(image.SampleWithOverflow(-1, 0, OM_FIXED_COLOR), 255, 255, 255, 0);
    ExpectColor(image.SampleWithOverflow(-1, 0, OM_FIXED_COLOR, &fallback), 1, 2, 3, 4);
    ExpectColor(image.SampleWithOverflow(-1, 0, 7, &fallback), 1, 2, 3, 4);
    ExpectColor(image.SampleWithOverflow(-1, 0, OM_TRANS_COLOR, &fallback), 1, 2, 3, 4);
    image.SetTransparentIndex(9);
    const RGBQUAD nine = bvtest::TestPaletteEntry(9);
    ExpectColor(image.SampleWithOverflow(-1, 0, OM_TRANS_COLOR, &fallback), nine.rgbBlue,
        nine.rgbGreen, nine.rgbRed, 0);
    ExpectColor(image.SampleWithOverflow(9, 9, OM_TRANSPARENT, &fallback), nine.rgbBlue,
        nine.rgbGreen, nine.rgbRed, 0);
    image.CreateAlpha();
    ExpectColor(image.SampleWithOverflow(9, 9, OM_TRANSPARENT, &fallback), 1, 2, 3, 0);
    const RGBQUAD six = bvtest::TestPaletteEntry(6);
    ExpectColor(image.SampleWithOverflow(-5, 7, OM_CLAMP_TO_EDGE), six.rgbBlue, six.rgbGreen,
        six.rgbRed, 0);

    CxImage truecolor(4, 3, 24);
    truecolor.Clear(0);
    truecolor.SetTransparentIndex(0);
    truecolor.SetTransparentColor(RGBQUAD { 9, 8, 7, 0 });
    ExpectColor(truecolor.SampleWithOverflow(4, 0, OM_TRANS_COLOR), 9, 8, 7, 0);

    CxImage empty;
    ExpectColor(empty.SampleWithOverflow(0, 0, OM_WRAP, &fallback), 1, 2, 3, 4);
    ExpectColor(empty.SampleInterpolated(0.5f, 0.5f, IM_LANCZOS, OM_WRAP), 255, 255, 255, 0);
}

TEST(SampleInterpolated, BilinearAtAPixelReturnsThePixel)
{
    CxImage image(6, 4, 24);
    FillDistinct(image);
    ExpectColor(image.SampleInterpolated(3.0f, 2.0f, IM_BILINEAR, OM_CLAMP_TO_EDGE), 35, 25, 5, 0);
    // Half a pixel past the last column: the general path with the edge repeated.
    ExpectColor(image.SampleInterpolated(5.5f, 0.0f, IM_BILINEAR, OM_CLAMP_TO_EDGE), 55, 5, 5, 0);
    // Half-way between two pixels, through the fixed-point fast path.
    ExpectColor(image.SampleInterpolated(1.5f, 1.0f, IM_BILINEAR, OM_CLAMP_TO_EDGE), 20, 15, 2, 0);
}

TEST(SampleInterpolated, BilinearBlendsAlphaOnlyWithAnAlphaPlane)
{
    CxImage image(4, 4, 24);
    FillDistinct(image);
    EXPECT_EQ(image.SampleInterpolated(1.5f, 1.5f, IM_BILINEAR, OM_CLAMP_TO_EDGE).rgbReserved, 0);
    image.CreateAlpha();
    image.SetAlpha(1, 1, 0);
    image.SetAlpha(2, 1, 100);
    image.SetAlpha(1, 2, 200);
    image.SetAlpha(2, 2, 100);
    EXPECT_EQ(image.SampleInterpolated(1.5f, 1.5f, IM_BILINEAR, OM_CLAMP_TO_EDGE).rgbReserved, 100);
    // The same blend on the general path (the window crosses the edge).
    image.SetAlpha(3, 3, 40);
    EXPECT_EQ(image.SampleInterpolated(3.5f, 3.0f, IM_BILINEAR, OM_CLAMP_TO_EDGE).rgbReserved, 40);
}

TEST(SampleInterpolated, FarOutsideAnswersTheFallbackAtOnce)
{
    CxImage image(6, 4, 24);
    FillDistinct(image);
    for (int method = 1; method <= 16; method++) {
        SCOPED_TRACE(method);
        ExpectColor(
            image.SampleInterpolated(-10.0f, -10.0f, method, OM_FIXED_COLOR), 255, 255, 255, 0);
    }
    const RGBQUAD fallback { 7, 7, 7, 7 };
    ExpectColor(
        image.SampleInterpolated(100.0f, 1.0f, IM_BICUBIC, OM_FIXED_COLOR, &fallback), 7, 7, 7, 7);
    // Not finite: outside like any other far position.
    ExpectColor(image.SampleInterpolated(NAN, 1.0f, IM_BILINEAR, OM_FIXED_COLOR), 255, 255, 255, 0);
    ExpectColor(
        image.SampleInterpolated(1e30f, INFINITY, IM_LANCZOS, OM_FIXED_COLOR), 255, 255, 255, 0);
}

TEST(SampleInterpolated, FarOutsideWithWrapSamplesTheWrappedPosition)
{
    CxImage image(8, 6, 24);
    FillDistinct(image);
    for (const int method : { IM_BILINEAR, IM_BICUBIC, IM_LANCZOS }) {
        SCOPED_TRACE(method);
        const RGBQUAD near = image.SampleInterpolated(2.25f, 3.5f, method, OM_WRAP);
        const RGBQUAD far = image.SampleInterpolated(2.25f + 24.0f, 3.5f - 12.0f, method, OM_WRAP);
        ExpectColor(far, near.rgbBlue, near.rgbGreen, near.rgbRed, near.rgbReserved);
    }
}

TEST(SampleInterpolated, NearestRoundsHalfUpByTruncation)
{
    CxImage image(6, 4, 24);
    FillDistinct(image);
    EXPECT_EQ(image.SampleInterpolated(-0.7f, 1.0f, IM_NEAREST, OM_FIXED_COLOR).rgbBlue, 5);
    EXPECT_EQ(image.SampleInterpolated(2.5f, 1.0f, IM_NEAREST, OM_FIXED_COLOR).rgbBlue, 35);
    EXPECT_EQ(image.SampleInterpolated(2.49f, 1.0f, IM_NEAREST, OM_FIXED_COLOR).rgbBlue, 25);
}

TEST(SampleInterpolated, BoxTakesTheSampleHalfAPixelLeft)
{
    CxImage image(8, 6, 24);
    FillDistinct(image);
    // At x = 2.5 the samples sit at t = -1.5, -0.5, 0.5, 1.5: only column 2 counts.
    const RGBQUAD c = image.SampleInterpolated(2.5f, 3.0f, IM_BOX, OM_CLAMP_TO_EDGE);
    ExpectColor(c, 25, 35, 5, 0);
}

TEST(SampleInterpolated, OvershootIsHeldToTheByteRange)
{
    // Left half black, right half white: sinc and Lanczos ring past both ends.
    CxImage image(30, 30, 24);
    for (int32_t y = 0; y < 30; y++)
        for (int32_t x = 0; x < 30; x++)
            image.SetPixelColor(
                x, y, x < 15 ? RGBQUAD { 0, 0, 0, 0 } : RGBQUAD { 255, 255, 255, 0 });
    for (const int method : { IM_SINC, IM_LANCZOS, IM_BICUBIC, IM_CATROM }) {
        SCOPED_TRACE(method);
        EXPECT_EQ(image.SampleInterpolated(15.5f, 15.0f, method, OM_CLAMP_TO_EDGE).rgbRed, 255);
        EXPECT_EQ(image.SampleInterpolated(13.5f, 15.0f, method, OM_CLAMP_TO_EDGE).rgbRed, 0);
    }
}

TEST(SampleInterpolated, MethodsOutsideTheTableAreBilinear)
{
    CxImage image(9, 7, 24);
    FillDistinct(image);
    image.CreateAlpha();
    image.SetAlpha(4, 4, 10);
    for (float x = -1.5f; x < 10.0f; x += 0.37f) {
        for (float y = -1.5f; y < 8.0f; y += 0.41f) {
            const RGBQUAD want = image.SampleInterpolated(x, y, IM_BILINEAR, OM_REFLECT);
            for (const int method : { 0, 17, -3 }) {
                const RGBQUAD got = image.SampleInterpolated(x, y, method, OM_REFLECT);
                ASSERT_EQ(std::memcmp(&got, &want, 4), 0) << x << "," << y << " method " << method;
            }
        }
    }
}

// The kernels from their textbook definitions, in double precision.
double Keys(double t, double a)
{
    t = std::fabs(t);
    if (t < 1)
        return (a + 2) * t * t * t - (a + 3) * t * t + 1;
    if (t < 2)
        return a * t * t * t - 5 * a * t * t + 8 * a * t - 4 * a;
    return 0;
}

double Sinc(double t) { return t == 0 ? 1 : std::sin(PI * t) / (PI * t); }

double ReferenceKernel(int method, double t)
{
    const double a = std::fabs(t);
    switch (method) {
    case IM_BSPLINE:
        return a < 1 ? 2.0 / 3 - a * a + a * a * a / 2
            : a < 2  ? (2 - a) * (2 - a) * (2 - a) / 6
                     : 0;
    case IM_BICUBIC:
        return Keys(t, -1);
    case IM_KEYS_CUBIC:
    case IM_CATROM:
        return Keys(t, -0.5);
    case IM_LANCZOS:
        return a > 6 ? 0 : Sinc(t) * Sinc(t / 6);
    case IM_BOX:
        return t >= -0.5 && t < 0.5 ? 1 : 0;
    case IM_HERMITE:
        return t >= -1 && t < 1 ? 2 * a * a * a - 3 * a * a + 1 : 0;
    case IM_HAMMING:
        return t >= -1 && t < 1 ? 0.92 * (2 * a * a * a - 3 * a * a) + 1 : 0;
    case IM_SINC:
        return Sinc(t);
    case IM_BLACKMAN:
        return 0.42 + 0.5 * std::cos(PI * t) + 0.08 * std::cos(2 * PI * t);
    case IM_BESSEL:
        return t == 0 ? PI / 4 : std::cyl_bessel_j(1.0, PI * a) / (2 * a);
    case IM_GAUSSIAN:
        return std::exp(-2 * t * t) * std::sqrt(2 / PI);
    case IM_QUADRATIC:
        return a < 0.5 ? 0.75 - a * a : a < 1.5 ? 0.5 * (a - 1.5) * (a - 1.5) : 0;
    case IM_MITCHELL: {
        const double b = 1.0 / 3, c = 1.0 / 3;
        if (a < 1)
            return ((12 - 9 * b - 6 * c) * a * a * a + (-18 + 12 * b + 6 * c) * a * a + (6 - 2 * b))
                / 6;
        if (a < 2)
            return ((-b - 6 * c) * a * a * a + (6 * b + 30 * c) * a * a + (-12 * b - 48 * c) * a
                       + (8 * b + 24 * c))
                / 6;
        return 0;
    }
    default:
        return 0;
    }
}

TEST(SampleInterpolated, KernelsMatchTheirDefinitions)
{
    // One bright pixel on black: each sample on its row is the kernel at that offset
    // times the kernel at zero.
    CxImage image(30, 30, 24);
    image.Clear(0);
    image.SetPixelColor(15, 15, RGBQUAD { 200, 200, 200, 0 });
    const float offsets[] = { -1.75f, -1.0f, -0.5f, -0.25f, 0.0f, 0.3f, 0.5f, 1.2f, 1.9f };
    for (int method = IM_BSPLINE; method <= IM_CATROM; method++) {
        for (const float d : offsets) {
            const float x = 15.0f + d;
            const double want
                = 200.0 * ReferenceKernel(method, 15.0 - x) * ReferenceKernel(method, 0);
            const RGBQUAD got = image.SampleInterpolated(x, 15.0f, method, OM_CLAMP_TO_EDGE);
            EXPECT_NEAR(got.rgbGreen, std::clamp(want, 0.0, 255.0), 1.0)
                << "method " << method << " at offset " << d;
        }
    }
}

TEST(SampleInterpolated, DirectRowsAndPerPixelFetchesAgree)
{
    // The same grey picture as a 24-bit image (read straight from its rows) and as an
    // 8-bit grey ramp (read pixel by pixel): the same sums in the same order.
    CxImage truecolor(40, 36, 24);
    CxImage indexed(40, 36, 8);
    indexed.MakeGreyPalette();
    for (int32_t y = 0; y < 36; y++) {
        for (int32_t x = 0; x < 40; x++) {
            const uint8_t g = uint8_t((x * 37 + y * 91 + x * y) % 256);
            truecolor.SetPixelColor(x, y, RGBQUAD { g, g, g, 0 });
            indexed.SetPixelIndex(x, y, g);
        }
    }
    for (int method = IM_BILINEAR; method <= IM_CATROM; method++) {
        for (float x = 6.1f; x < 33.0f; x += 1.37f) {
            for (float y = 6.3f; y < 29.0f; y += 1.71f) {
                const RGBQUAD a = truecolor.SampleInterpolated(x, y, method, OM_CLAMP_TO_EDGE);
                const RGBQUAD b = indexed.SampleInterpolated(x, y, method, OM_CLAMP_TO_EDGE);
                // Bilinear's direct path has 8-bit fixed-point weights, truncated on each
                // axis, its other path real ones: next to a steep edge they part by 2.
                const int tolerance = method == IM_BILINEAR ? 2 : 0;
                ASSERT_NEAR(a.rgbRed, b.rgbRed, tolerance) << method << " at " << x << "," << y;
                ASSERT_NEAR(a.rgbBlue, b.rgbBlue, tolerance) << method << " at " << x << "," << y;
            }
        }
    }
}

TEST(SampleInterpolated, NormalisedKernelsKeepAUniformPicture)
{
    CxImage image(20, 20, 24);
    image.Clear(180);
    const int methods[] = { IM_BILINEAR, IM_BSPLINE, IM_BICUBIC, IM_KEYS_CUBIC, IM_LANCZOS, IM_BOX,
        IM_HERMITE, IM_QUADRATIC, IM_MITCHELL, IM_CATROM };
    for (const int method : methods) {
        for (float x = -3.0f; x < 23.0f; x += 0.77f) {
            const RGBQUAD c = image.SampleInterpolated(x, 7.4f, method, OM_CLAMP_TO_EDGE);
            ASSERT_NEAR(c.rgbRed, 180, 1) << method << " at " << x;
        }
    }
}

} // namespace
