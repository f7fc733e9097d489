// Resampling to a new size: nearest pixel, cubic B-spline, bilinear and the
// area-averaging reduction that makes every frame of an animation.
//
// The scale factors are single-precision (old size / new size), and so are the limits
// that step by them and the products with them: which result pixel a split source pixel
// feeds is decided by those comparisons, so they are kept exactly.
#include "CxAreaReduction.h"
#include "ProcessSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

uint8_t SumToByte(float sum)
{
    if (!(sum > 0.0f))
        return 0;
    if (sum >= 255.0f)
        return 255;
    return uint8_t(sum);
}

// The source coordinate (int)(i x scale), held inside the source.
int32_t ScaledIndex(int32_t i, float scale, int32_t limit)
{
    const float v = float(i) * scale;
    if (!(v < float(limit)))
        return limit - 1;
    return std::min(int32_t(v), limit - 1);
}

float KernelBSpline(float t)
{
    if (t > 2.0f)
        return 0.0f;
    auto p = [](float u) { return u > 0.0f ? u * u * u : 0.0f; };
    return (p(t + 2.0f) - 4.0f * p(t + 1.0f) + 6.0f * p(t) - 4.0f * p(t - 1.0f)) * 0.16666667f;
}

// The area-averaging reduction of a 24-bit image shrinking on both sides, fed its rows
// from the bottom up.
template <typename Step> void AreaAverage(const CxImage& source, CxImage& result, Step step)
{
    const int32_t height = source.GetHeight();
    CxAreaReduction reduction(source.GetWidth(), height, result);
    for (int32_t sy = 0; sy < height; sy++) {
        if (step(int32_t(int64_t(sy) * 100 / height)))
            break; // the rows below stay black, the one being filled gets its sum so far
        reduction.AddRow(sy, source.GetBits(0) + size_t(sy) * source.GetRowStride());
    }
    reduction.Finish();
}

// The colour of a source pixel by the addressing of its depth, without alpha.
RGBQUAD SourceColor(const CxImage& source, int32_t x, int32_t y)
{
    if (source.IsIndexed())
        return source.GetPaletteColor(source.GetPixelIndexUnchecked(x, y));
    const uint8_t* p = source.GetBits(0) + size_t(y) * source.GetRowStride() + size_t(x) * 3;
    return RGBQUAD { p[0], p[1], p[2], 0 };
}

void PutColor(CxImage& result, int32_t x, int32_t y, RGBQUAD color)
{
    if (result.IsIndexed()) {
        result.SetPixelColor(x, y, color, false);
        return;
    }
    uint8_t* p = result.GetBits(0) + size_t(y) * result.GetRowStride() + size_t(x) * 3;
    p[0] = color.rgbBlue;
    p[1] = color.rgbGreen;
    p[2] = color.rgbRed;
}

// Clears the result rows a stop left unreached.
void ClearRowsFrom(CxImage& result, int32_t y)
{
    if (y < result.GetHeight()) {
        std::memset(result.GetBits(0) + size_t(y) * result.GetRowStride(), 0,
            size_t(result.GetHeight() - y) * result.GetRowStride());
    }
}

template <typename Step>
void ResampleNearest(CxImage& source, CxImage& result, float xScale, float yScale, Step step)
{
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();
    std::vector<int32_t> columns(static_cast<size_t>(newWidth));
    for (int32_t x = 0; x < newWidth; x++)
        columns[x] = ScaledIndex(x, xScale, source.GetWidth());
    for (int32_t y = 0; y < newHeight; y++) {
        if (step(int32_t(int64_t(y) * 100 / newHeight))) {
            ClearRowsFrom(result, y);
            return;
        }
        const int32_t sy = ScaledIndex(y, yScale, source.GetHeight());
        for (int32_t x = 0; x < newWidth; x++)
            PutColor(result, x, y, SourceColor(source, columns[x], sy));
    }
}

template <typename Step>
void ResampleBSpline(CxImage& source, CxImage& result, float xScale, float yScale, Step step)
{
    const int32_t width = source.GetWidth();
    const int32_t height = source.GetHeight();
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();

    // The column weights K(rx - n) and base columns are the same on every row.
    std::vector<int32_t> baseX(static_cast<size_t>(newWidth));
    std::vector<float> weightX(size_t(newWidth) * 4);
    for (int32_t x = 0; x < newWidth; x++) {
        const float fx = float(x) * xScale - 0.5f;
        const float ix = std::floor(fx);
        const float rx = fx - ix;
        baseX[x] = int32_t(ix);
        for (int n = -1; n <= 2; n++)
            weightX[size_t(x) * 4 + (n + 1)] = KernelBSpline(rx - float(n));
    }

    for (int32_t y = 0; y < newHeight; y++) {
        if (step(int32_t(int64_t(y) * 100 / newHeight))) {
            ClearRowsFrom(result, y);
            return;
        }
        const float fy = float(y) * yScale - 0.5f;
        const float iyf = std::floor(fy);
        const float ry = fy - iyf;
        const int32_t iy = int32_t(iyf);
        float weightY[4];
        int32_t rows[4];
        for (int m = -1; m <= 2; m++) {
            weightY[m + 1] = KernelBSpline(float(m) - ry);
            rows[m + 1] = std::clamp(iy + m, 0, height - 1);
        }
        for (int32_t x = 0; x < newWidth; x++) {
            float sumR = 0.0f, sumG = 0.0f, sumB = 0.0f;
            for (int m = 0; m < 4; m++) {
                for (int n = 0; n < 4; n++) {
                    const float w = weightY[m] * weightX[size_t(x) * 4 + n];
                    const int32_t sx = std::clamp(baseX[x] + n - 1, 0, width - 1);
                    const RGBQUAD c = SourceColor(source, sx, rows[m]);
                    sumR += w * float(c.rgbRed);
                    sumG += w * float(c.rgbGreen);
                    sumB += w * float(c.rgbBlue);
                }
            }
            PutColor(
                result, x, y, RGBQUAD { SumToByte(sumB), SumToByte(sumG), SumToByte(sumR), 0 });
        }
    }
}

template <typename Step>
void ResampleBilinear(CxImage& source, CxImage& result, float xScale, float yScale, Step step)
{
    const int32_t width = source.GetWidth();
    const int32_t height = source.GetHeight();
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();

    std::vector<int32_t> ix0(static_cast<size_t>(newWidth));
    std::vector<int32_t> ix1(static_cast<size_t>(newWidth));
    std::vector<float> dxs(static_cast<size_t>(newWidth));
    for (int32_t x = 0; x < newWidth; x++) {
        const float fx = float(x) * xScale;
        const int32_t ix = std::min(int32_t(fx), width - 1);
        ix0[x] = ix;
        ix1[x] = std::min(ix + 1, width - 1);
        dxs[x] = fx - float(ix);
    }

    for (int32_t y = 0; y < newHeight; y++) {
        if (step(int32_t(int64_t(y) * 100 / newHeight))) {
            ClearRowsFrom(result, y);
            return;
        }
        const float fy = float(y) * yScale;
        const int32_t iy = std::min(int32_t(fy), height - 1);
        const int32_t iy1 = std::min(iy + 1, height - 1);
        const float dy = fy - float(iy);
        for (int32_t x = 0; x < newWidth; x++) {
            const float dx = dxs[x];
            const RGBQUAD p00 = SourceColor(source, ix0[x], iy);
            const RGBQUAD p01 = SourceColor(source, ix0[x], iy1);
            const RGBQUAD p10 = SourceColor(source, ix1[x], iy);
            const RGBQUAD p11 = SourceColor(source, ix1[x], iy1);
            auto mix = [&](uint8_t RGBQUAD::*channel) {
                return SumToByte(
                    ((1.0f - dy) * float(p00.*channel) + dy * float(p01.*channel)) * (1.0f - dx)
                    + dx * ((1.0f - dy) * float(p10.*channel) + dy * float(p11.*channel)));
            };
            PutColor(result, x, y,
                RGBQUAD {
                    mix(&RGBQUAD::rgbBlue), mix(&RGBQUAD::rgbGreen), mix(&RGBQUAD::rgbRed), 0 });
        }
    }
}

} // namespace

bool CxImage::Resample(int32_t newWidth, int32_t newHeight, int mode, CxImage* destination)
{
    if (!dib)
        return false;
    if (newWidth <= 0 || newHeight <= 0)
        return false;
    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    if (newWidth == width && newHeight == height) {
        if (destination && destination != this)
            destination->Copy(*this, true, true, true);
        return true;
    }

    const float xScale = float(width) / float(newWidth);
    const float yScale = float(height) / float(newHeight);

    CxImage resized;
    resized.CopyInfo(*this);
    if (!resized.Create(uint32_t(newWidth), uint32_t(newHeight), head.biBitCount, info.type)) {
        bvprocess::CarryError(*this, resized);
        return false;
    }
    bvprocess::KeepResolution(resized, *this);
    resized.SetPalette(GetPalette(), 256);

    auto step = [this](int32_t percent) {
        info.progress = percent;
        return AskEscape();
    };
    switch (mode) {
    case RM_NEAREST:
        ResampleNearest(*this, resized, xScale, yScale, step);
        break;
    case RM_BSPLINE:
        ResampleBSpline(*this, resized, xScale, yScale, step);
        break;
    default:
        if (newWidth < width && newHeight < height && head.biBitCount == 24)
            AreaAverage(*this, resized, step);
        else
            ResampleBilinear(*this, resized, xScale, yScale, step);
        break;
    }

    if (alpha) {
        if (!resized.CreateAlpha()) {
            SetLastError("CxImage::Resample can't allocate the alpha plane");
            return false;
        }
        std::vector<int32_t> columns(static_cast<size_t>(newWidth));
        for (int32_t x = 0; x < newWidth; x++)
            columns[x] = ScaledIndex(x, xScale, width);
        for (int32_t y = 0; y < newHeight; y++) {
            const uint8_t* from = alpha + size_t(ScaledIndex(y, yScale, height)) * width;
            uint8_t* to = resized.alpha + size_t(y) * newWidth;
            for (int32_t x = 0; x < newWidth; x++)
                to[x] = from[columns[x]];
        }
    }

    return destination ? destination->Transfer(resized) : Transfer(resized);
}
