// Sampling between pixels: the overflow treatments for positions outside the image and
// the interpolating sampler with its sixteen methods.
//
// Weights and sums are single-precision, as are the kernels' constants; the windows are
// placed from the truncated position exactly as the methods define them, so a sample
// near an edge reads the same pixels on every platform.
#include "image/core/CxImage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr float PI_F = 3.1415927f;
constexpr float TWO_PI_F = 6.2831855f;
constexpr RGBQUAD DEFAULT_FALLBACK { 255, 255, 255, 0 };

// Truncation toward zero that stays defined for every float: values beyond the int
// range (and NaN) land far outside any image.
int32_t TruncToInt(float v)
{
    if (!(v > -1073741824.0f && v < 1073741824.0f))
        return v > 0 ? 1073741824 : -1073741824;
    return int32_t(v);
}

// x truncated toward zero, minus one for negative values: floor, except that negative
// whole numbers also step down by one. The windows are placed from this value.
int32_t WindowBase(float v)
{
    const int32_t i = TruncToInt(v);
    return v < 0 ? i - 1 : i;
}

// A weighted sum as a channel byte: truncated toward zero and held to 0..255.
uint8_t SumToByte(float sum)
{
    if (!(sum > 0.0f))
        return 0;
    if (sum >= 255.0f)
        return 255;
    return uint8_t(sum);
}

// --- kernels --------------------------------------------------------------------------

float KernelBSpline(float t)
{
    if (t > 2.0f)
        return 0.0f;
    auto p = [](float u) { return u > 0.0f ? u * u * u : 0.0f; };
    return (p(t + 2.0f) - 4.0f * p(t + 1.0f) + 6.0f * p(t) - 4.0f * p(t - 1.0f)) * 0.16666667f;
}

float KernelBicubic(float t)
{
    const float a = std::fabs(t);
    const float a2 = a * a;
    const float a3 = a2 * a;
    if (a < 1.0f)
        return 1.0f - 2.0f * a2 + a3;
    if (a < 2.0f)
        return 4.0f - 8.0f * a + 5.0f * a2 - a3;
    return 0.0f;
}

float KernelKeysCubic(float t)
{
    constexpr float A = -0.5f;
    const float a = std::fabs(t);
    const float a2 = a * a;
    const float a3 = a2 * a;
    if (a < 1.0f)
        return (A + 2.0f) * a3 - (A + 3.0f) * a2 + 1.0f;
    if (a < 2.0f)
        return A * a3 - 5.0f * A * a2 + 8.0f * A * a - 4.0f * A;
    return 0.0f;
}

float KernelLanczos(float t)
{
    constexpr float R = 6.0f;
    if (std::fabs(t) > R)
        return 0.0f;
    if (t == 0.0f)
        return 1.0f;
    const float pit = PI_F * t;
    const float pitr = pit / R;
    return std::sin(pitr) / pitr * std::sin(pit) / pit;
}

float KernelBox(float t) { return (t >= -0.5f && t < 0.5f) ? 1.0f : 0.0f; }

float KernelHermite(float t)
{
    if (t < -1.0f || t >= 1.0f)
        return 0.0f;
    const float a = std::fabs(t);
    return 2.0f * a * a * a - 3.0f * a * a + 1.0f;
}

float KernelHamming(float t)
{
    if (t < -1.0f || t >= 1.0f)
        return 0.0f;
    const float a = std::fabs(t);
    return 0.92f * (2.0f * a * a * a - 3.0f * a * a) + 1.0f;
}

float KernelSinc(float t)
{
    if (t == 0.0f)
        return 1.0f;
    const float pit = PI_F * t;
    return std::sin(pit) / pit;
}

float KernelBlackman(float t)
{
    return 0.42f + 0.5f * std::cos(PI_F * t) + 0.08f * std::cos(TWO_PI_F * t);
}

// The Bessel function of the first kind, order one, by the rational approximations for
// |u| < 8 and the asymptotic form beyond.
double BesselJ1(double u)
{
    if (u == 0.0)
        return 0.0;
    const double p = std::fabs(u);
    if (p < 8.0) {
        static constexpr double N[]
            = { 5.811993540016061e20, -6.672106568924916e19, 2.3164335806340024e18,
                  -3.588817569910106e16, 2.9087952638347756e14, -1.3229834803321265e12,
                  3.4132341823017006e9, -4.695753530642996e6, 2.7011227108923235e3 };
        static constexpr double D[] = { 1.1623987080032122e21, 1.185770712190321e19,
            6.092061398917522e16, 2.0816612213076075e14, 5.2437102621676495e11, 1.013863514358674e9,
            1.5017935949985855e6, 1.6069315734814877e3, 1.0 };
        const double z = u * u;
        double n = 0.0;
        double d = 0.0;
        for (int i = 8; i >= 0; i--) {
            n = n * z + N[i];
            d = d * z + D[i];
        }
        return u * n / d;
    }
    static constexpr double NP[] = { 35224.66491336798, 62758.84524716128, 31353.963110915956,
        4985.4832060594335, 211.15291828539623, 1.2571716929145342 };
    static constexpr double DP[] = { 35224.66491336798, 62694.34695935605, 31240.406381904104,
        4930.396490181089, 203.07751891347593, 1.0 };
    static constexpr double NQ[] = { 351.17519143035526, 721.0391804904475, 425.98730116544425,
        83.18989576738508, 4.568171629551227, 0.03532840052740124 };
    static constexpr double DQ[] = { 7491.737417180912, 15414.177339265098, 9152.231701516992,
        1811.1867005523513, 103.81875854621337, 1.0 };
    const double z = (8.0 / p) * (8.0 / p);
    double np = 0.0, dp = 0.0, nq = 0.0, dq = 0.0;
    for (int i = 5; i >= 0; i--) {
        np = np * z + NP[i];
        dp = dp * z + DP[i];
        nq = nq * z + NQ[i];
        dq = dq * z + DQ[i];
    }
    const double p1 = np / dp;
    const double q1 = nq / dq;
    const double s = std::sin(p);
    const double c = std::cos(p);
    const double root2 = std::sqrt(2.0);
    double j1 = std::sqrt(2.0 / (3.141592653589793 * p))
        * (p1 * (s - c) / root2 + (8.0 / p) * q1 * (s + c) / root2);
    if (u < 0.0)
        j1 = -j1;
    return j1;
}

float KernelBessel(float t)
{
    if (t == 0.0f)
        return 0.7853982f;
    return float(BesselJ1(double(PI_F * t)) / (2.0 * double(t)));
}

float KernelGaussian(float t) { return std::exp(-2.0f * t * t) * 0.7978846f; }

float KernelQuadratic(float t)
{
    if (t < -1.5f)
        return 0.0f;
    if (t < -0.5f)
        return 0.5f * (t + 1.5f) * (t + 1.5f);
    if (t < 0.5f)
        return 0.75f - t * t;
    if (t < 1.5f)
        return 0.5f * (t - 1.5f) * (t - 1.5f);
    return 0.0f;
}

float KernelMitchell(float t)
{
    const float a = std::fabs(t);
    const float a2 = a * a;
    const float a3 = a2 * a;
    if (a < 1.0f)
        return 1.1666666f * a3 - 2.0f * a2 + 0.8888889f;
    if (a < 2.0f)
        return -0.3888889f * a3 + 2.0f * a2 - 3.3333333f * a + 1.7777778f;
    return 0.0f;
}

float KernelCatmullRom(float t)
{
    const float a = std::fabs(t);
    const float a2 = a * a;
    const float a3 = a2 * a;
    if (a < 1.0f)
        return 0.5f * (3.0f * a3 - 5.0f * a2 + 2.0f);
    if (a < 2.0f)
        return 0.5f * (-a3 + 5.0f * a2 - 8.0f * a + 4.0f);
    return 0.0f;
}

using Kernel = float (*)(float);

Kernel KernelOf(int method)
{
    switch (method) {
    case IM_BSPLINE:
        return KernelBSpline;
    case IM_BICUBIC:
        return KernelBicubic;
    case IM_KEYS_CUBIC:
        return KernelKeysCubic;
    case IM_LANCZOS:
        return KernelLanczos;
    case IM_BOX:
        return KernelBox;
    case IM_HERMITE:
        return KernelHermite;
    case IM_HAMMING:
        return KernelHamming;
    case IM_SINC:
        return KernelSinc;
    case IM_BLACKMAN:
        return KernelBlackman;
    case IM_BESSEL:
        return KernelBessel;
    case IM_GAUSSIAN:
        return KernelGaussian;
    case IM_QUADRATIC:
        return KernelQuadratic;
    case IM_MITCHELL:
        return KernelMitchell;
    case IM_CATROM:
        return KernelCatmullRom;
    default:
        return nullptr;
    }
}

int32_t WrapInt(int64_t v, int32_t size)
{
    int64_t r = v % size;
    if (r < 0)
        r += size;
    return int32_t(r);
}

int32_t ReflectInt(int64_t v, int32_t size)
{
    if (v < 0)
        return int32_t((-v) % size);
    if (v >= size)
        return int32_t(size - (v % size) - 1);
    return int32_t(v);
}

} // namespace

void CxImage::ApplyOverflow(int32_t& x, int32_t& y, int mode) const
{
    if (IsInside(x, y))
        return;
    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    if (width <= 0 || height <= 0)
        return;
    switch (mode) {
    case OM_WRAP:
        x = WrapInt(x, width);
        y = WrapInt(y, height);
        break;
    case OM_CLAMP_TO_EDGE:
        x = std::min(std::max(x, 0), width - 1);
        y = std::min(std::max(y, 0), height - 1);
        break;
    case OM_REFLECT:
        x = ReflectInt(x, width);
        y = ReflectInt(y, height);
        break;
    default:
        break;
    }
}

void CxImage::ApplyOverflow(float& x, float& y, int mode) const
{
    const float width = float(head.biWidth);
    const float height = float(head.biHeight);
    if (x >= 0.0f && x < width && y >= 0.0f && y < height)
        return;
    if (head.biWidth <= 0 || head.biHeight <= 0)
        return;
    switch (mode) {
    case OM_WRAP:
        x = std::fmod(x, width);
        y = std::fmod(y, height);
        if (x < 0.0f)
            x += width;
        if (y < 0.0f)
            y += height;
        break;
    case OM_CLAMP_TO_EDGE:
        x = x <= 0.0f ? 0.0f : std::min(x, width - 1.0f);
        y = y <= 0.0f ? 0.0f : std::min(y, height - 1.0f);
        break;
    case OM_REFLECT:
        if (x < 0.0f)
            x = std::fmod(-x, width);
        else if (x >= width)
            x = width - (std::fmod(x, width) + 1.0f);
        if (y < 0.0f)
            y = std::fmod(-y, height);
        else if (y >= height)
            y = height - (std::fmod(y, height) + 1.0f);
        break;
    default:
        break;
    }
}

RGBQUAD CxImage::SampleWithOverflow(int32_t x, int32_t y, int mode, const RGBQUAD* fallback)
{
    if (dib && IsInside(x, y))
        return GetPixelColorUnchecked(x, y);
    RGBQUAD color = fallback ? *fallback : DEFAULT_FALLBACK;
    if (!dib)
        return color;
    switch (mode) {
    case OM_TRANS_COLOR:
        if (info.transIndex == -1)
            return color;
        if (head.biBitCount < 24)
            return GetPaletteColor(uint32_t(info.transIndex));
        return info.transColor;
    case OM_TRANSPARENT:
        if (alpha) {
            color.rgbReserved = 0;
            return color;
        }
        if (info.transIndex >= 0)
            return GetTransparentColor();
        return color;
    case OM_WRAP:
    case OM_CLAMP_TO_EDGE:
    case OM_REFLECT:
        ApplyOverflow(x, y, mode);
        if (!IsInside(x, y))
            return color;
        return GetPixelColorUnchecked(x, y);
    default:
        return color;
    }
}

RGBQUAD CxImage::SampleInterpolated(float x, float y, int method, int mode, const RGBQUAD* fallback)
{
    if (!dib || !std::isfinite(x) || !std::isfinite(y))
        return SampleWithOverflow(-999, -999, mode, fallback);

    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    int32_t xi = WindowBase(x);
    int32_t yi = WindowBase(y);

    if (method == IM_NEAREST)
        return SampleWithOverflow(TruncToInt(x + 0.5f), TruncToInt(y + 0.5f), mode, fallback);

    // Too far outside for any window pixel to be inside: the fixed treatments answer at
    // once, the others bring the position back into the image.
    auto farOutside = [&](int32_t before, int32_t after) {
        return xi + after < 0 || xi - before >= width || yi + after < 0 || yi - before >= height;
    };
    const Kernel kernel = KernelOf(method);
    const int32_t before = kernel == nullptr ? 0 : (method == IM_LANCZOS ? 5 : 1);
    const int32_t after = kernel == nullptr ? 1 : (method == IM_LANCZOS ? 6 : 2);
    // Bilinear's test is xi < -1 or xi >= width, which is the same shape with after = 1.
    if (farOutside(before, after)) {
        if (mode == OM_FIXED_COLOR || mode == OM_TRANS_COLOR || mode == OM_TRANSPARENT)
            return SampleWithOverflow(-999, -999, mode, fallback);
        ApplyOverflow(x, y, mode);
        xi = WindowBase(x);
        yi = WindowBase(y);
    }

    const bool trueColor = head.biClrUsed == 0;

    if (!kernel) {
        // Bilinear, and any method outside the table.
        if (trueColor && xi >= 0 && xi + 1 < width && yi >= 0 && yi + 1 < height) {
            const int32_t fx = TruncToInt((x - float(xi)) * 256.0f);
            const int32_t fy = TruncToInt((y - float(yi)) * 256.0f);
            const int32_t w11 = (fx * fy) >> 8;
            const int32_t w01 = fy - w11;
            const int32_t w10 = fx - w11;
            const int32_t w00 = 256 - fx - w01;
            const uint8_t* p00 = info.pixels + size_t(yi) * info.rowStride + size_t(xi) * 3;
            const uint8_t* p01 = p00 + info.rowStride;
            RGBQUAD out;
            out.rgbBlue = uint8_t((p00[0] * w00 + p00[3] * w10 + p01[0] * w01 + p01[3] * w11) >> 8);
            out.rgbGreen
                = uint8_t((p00[1] * w00 + p00[4] * w10 + p01[1] * w01 + p01[4] * w11) >> 8);
            out.rgbRed = uint8_t((p00[2] * w00 + p00[5] * w10 + p01[2] * w01 + p01[5] * w11) >> 8);
            if (alpha) {
                const uint8_t* a00 = alpha + size_t(yi) * width + xi;
                const uint8_t* a01 = a00 + width;
                out.rgbReserved
                    = uint8_t((a00[0] * w00 + a00[1] * w10 + a01[0] * w01 + a01[1] * w11) >> 8);
            } else {
                out.rgbReserved = 0;
            }
            return out;
        }

        const float fx = x - float(xi);
        const float fy = y - float(yi);
        const float w11 = fx * fy;
        const float w10 = fx - w11;
        const float w01 = fy - w11;
        const float w00 = 1.0f - fx - w01;
        const RGBQUAD c00 = SampleWithOverflow(xi, yi, mode, fallback);
        const RGBQUAD c10 = SampleWithOverflow(xi + 1, yi, mode, fallback);
        const RGBQUAD c01 = SampleWithOverflow(xi, yi + 1, mode, fallback);
        const RGBQUAD c11 = SampleWithOverflow(xi + 1, yi + 1, mode, fallback);
        auto mix = [&](uint8_t RGBQUAD::*channel) {
            return SumToByte(float(c00.*channel) * w00 + float(c10.*channel) * w10
                + float(c01.*channel) * w01 + float(c11.*channel) * w11);
        };
        RGBQUAD out;
        out.rgbBlue = mix(&RGBQUAD::rgbBlue);
        out.rgbGreen = mix(&RGBQUAD::rgbGreen);
        out.rgbRed = mix(&RGBQUAD::rgbRed);
        out.rgbReserved = alpha ? mix(&RGBQUAD::rgbReserved) : 0;
        return out;
    }

    // Separable kernels over a 4 x 4 (Lanczos: 12 x 12) window starting `before` pixels
    // left of and below the base.
    const int32_t size = before + after + 1;
    float wx[12];
    float wy[12];
    for (int32_t k = 0; k < size; k++) {
        wx[k] = kernel(float(xi - before + k) - x);
        wy[k] = kernel(float(yi - before + k) - y);
    }

    float sumBlue = 0.0f;
    float sumGreen = 0.0f;
    float sumRed = 0.0f;
    float sumAlpha = 0.0f;
    const int32_t x0 = xi - before;
    const int32_t y0 = yi - before;
    if (trueColor && x0 >= 0 && xi + after < width && y0 >= 0 && yi + after < height) {
        for (int32_t j = 0; j < size; j++) {
            const uint8_t* row = info.pixels + size_t(y0 + j) * info.rowStride + size_t(x0) * 3;
            const uint8_t* alphaRow = alpha ? alpha + size_t(y0 + j) * width + x0 : nullptr;
            for (int32_t i = 0; i < size; i++) {
                const float w = wy[j] * wx[i];
                sumBlue += w * float(row[3 * i]);
                sumGreen += w * float(row[3 * i + 1]);
                sumRed += w * float(row[3 * i + 2]);
                if (alphaRow)
                    sumAlpha += w * float(alphaRow[i]);
            }
        }
    } else {
        for (int32_t j = 0; j < size; j++) {
            for (int32_t i = 0; i < size; i++) {
                const float w = wy[j] * wx[i];
                const RGBQUAD c = SampleWithOverflow(x0 + i, y0 + j, mode, fallback);
                sumBlue += w * float(c.rgbBlue);
                sumGreen += w * float(c.rgbGreen);
                sumRed += w * float(c.rgbRed);
                sumAlpha += w * float(c.rgbReserved);
            }
        }
    }

    RGBQUAD out;
    out.rgbBlue = SumToByte(sumBlue);
    out.rgbGreen = SumToByte(sumGreen);
    out.rgbRed = SumToByte(sumRed);
    out.rgbReserved = alpha ? SumToByte(sumAlpha) : 0;
    return out;
}
