// Resampling to a new size: nearest pixel, cubic B-spline, bilinear and the
// area-averaging reduction that makes every frame of an animation.
//
// The scale factors are single-precision (old size / new size), and so are the limits
// that step by them and the products with them: which result pixel a split source pixel
// feeds is decided by those comparisons, so they are kept exactly.
#include "ProcessSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t WHOLE = 1000; // the weight of one whole source pixel
constexpr int32_t MAX_BAND_ROWS = 257; // whole rows summed per column in 16 bits

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

// Exact truncating division of a non-negative sum by the divisor, through a reciprocal
// with the quotient corrected by one step where rounding left it off.
class Divider {
public:
    explicit Divider(int64_t divisor)
        : divisor(divisor)
        , reciprocal(1.0 / double(divisor))
    {
    }
    uint8_t ToByte(int64_t sum) const
    {
        // Below 2^53 the estimate is off by at most one either way.
        int64_t q = int64_t(double(sum) * reciprocal);
        q -= int64_t(q * divisor > sum);
        q += int64_t((q + 1) * divisor <= sum);
        return q > 255 ? 255 : uint8_t(q);
    }

private:
    int64_t divisor;
    double reciprocal;
};

// A source column split between result columns k and k + 1, and the thousandths of it
// that belong to k + 1.
struct ColumnSplit {
    int32_t column;
    int64_t fx;
};

// Sums of each channel over the pixels [from, to) of a 24-bit row, or of a row of
// per-column sums.
struct RunSums {
    int64_t channel[3] = { 0, 0, 0 };
};

template <typename T> RunSums SumRun(const T* row, int32_t from, int32_t to)
{
    uint64_t blue = 0, green = 0, red = 0;
    for (const T *q = row + size_t(from) * 3, *end = row + size_t(to) * 3; q < end; q += 3) {
        blue += q[0];
        green += q[1];
        red += q[2];
    }
    RunSums sums;
    sums.channel[0] = int64_t(blue);
    sums.channel[1] = int64_t(green);
    sums.channel[2] = int64_t(red);
    return sums;
}

// sums[i] += row[i] for n bytes; the sums and the row never overlap, which lets the
// compiler add 16 bytes at a time.
void AddRow(uint16_t* __restrict sums, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        for (size_t j = 0; j < 16; j++)
            sums[i + j] = uint16_t(sums[i + j] + row[i + j]);
    }
    for (; i < n; i++)
        sums[i] = uint16_t(sums[i] + row[i]);
}

// The area-averaging reduction of a 24-bit image shrinking on both sides. Weights are
// thousandths of a source pixel: a source pixel split by a result pixel boundary gives
// each side its share, and every result pixel is its weighted sum over the divisor. Two
// accumulator rows (the result row being filled and the next one, which receives the
// lower part of a split source row) are kept; they are 64-bit, because one result pixel
// of a large reduction sums more than 2^31 (100 x 100 source pixels x 255 x 1000).
template <typename Step>
void AreaAverage(const CxImage& source, CxImage& result, float xScale, float yScale, Step step)
{
    const int32_t width = source.GetWidth();
    const int32_t height = source.GetHeight();
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();
    const uint32_t stride = source.GetRowStride();
    const uint32_t newStride = result.GetRowStride();

    // Where the columns split depends only on the column and the limit stepping along
    // the row, so it is found once, by the same comparisons, for every row.
    std::vector<ColumnSplit> splits;
    splits.reserve(size_t(newWidth));
    float xLimit = xScale - 1.0f;
    for (int32_t sx = 0; sx < width && int32_t(splits.size()) < newWidth; sx++) {
        if (float(sx) >= xLimit) {
            splits.push_back(ColumnSplit { sx, int64_t((float(sx) - xLimit) * float(WHOLE)) });
            xLimit += xScale;
        }
    }

    // One pixel more than the result row: a split at the last column feeds it.
    std::vector<int64_t> rowA(size_t(newWidth + 1) * 3, 0);
    std::vector<int64_t> rowB(size_t(newWidth + 1) * 3, 0);
    int64_t* current = rowA.data();
    int64_t* next = rowB.data();

    const Divider divide(std::max<int64_t>(int64_t(yScale * xScale * float(WHOLE)), 1));
    float yLimit = yScale - 1.0f;
    int32_t r = 0;
    uint8_t* out = result.GetBits(0);
    bool stopped = false;

    // Per source column and channel, the sum over the whole rows not yet weighted into
    // `current`; a band is at most MAX_BAND_ROWS rows, so 16 bits hold it.
    std::vector<uint16_t> columnSums(size_t(width) * 3, 0);
    int32_t bandRows = 0;
    auto foldBand = [&] {
        if (bandRows == 0)
            return;
        int64_t* a = current;
        int32_t sx = 0;
        for (const ColumnSplit& split : splits) {
            const RunSums run = SumRun(columnSums.data(), sx, split.column);
            const int64_t fx = split.fx;
            const uint16_t* v = columnSums.data() + size_t(split.column) * 3;
            for (int c = 0; c < 3; c++) {
                a[c] += run.channel[c] * WHOLE + int64_t(v[c]) * (WHOLE - fx);
                a[3 + c] += int64_t(v[c]) * fx;
            }
            a += 3;
            sx = split.column + 1;
        }
        const RunSums run = SumRun(columnSums.data(), sx, width);
        for (int c = 0; c < 3; c++)
            a[c] += run.channel[c] * WHOLE;
        std::fill(columnSums.begin(), columnSums.end(), 0);
        bandRows = 0;
    };

    for (int32_t sy = 0; sy < height; sy++) {
        if (step(int32_t(int64_t(sy) * 100 / height))) {
            stopped = true;
            break;
        }
        const uint8_t* p = source.GetBits(0) + size_t(sy) * stride;

        if (float(sy) >= yLimit) {
            // This source row is split between result row r and r + 1; fy is the part
            // that belongs to r + 1.
            foldBand();
            const int64_t fy = int64_t((float(sy) - yLimit) * float(WHOLE));
            const int64_t upper = WHOLE - fy;
            int64_t* a = current;
            int64_t* n = next;
            int32_t sx = 0;
            for (const ColumnSplit& split : splits) {
                const RunSums run = SumRun(p, sx, split.column);
                a[0] += run.channel[0] * upper;
                a[1] += run.channel[1] * upper;
                a[2] += run.channel[2] * upper;
                n[0] += run.channel[0] * fy;
                n[1] += run.channel[1] * fy;
                n[2] += run.channel[2] * fy;

                // The pixel at the split column is split between rows as well: four
                // result pixels share it, and column k of row r is complete.
                // Each product is at most 255 x 1000 x 1000, so 32 unsigned bits hold it
                // and divide it exactly as the signed arithmetic would.
                const uint32_t fx = uint32_t(split.fx);
                const uint32_t up = uint32_t(upper);
                const uint32_t down = uint32_t(fy);
                const uint8_t* v = p + size_t(split.column) * 3;
                for (int c = 0; c < 3; c++) {
                    const uint32_t value = v[c];
                    a[c] += value * (up * (1000 - fx)) / 1000;
                    n[c] += value * down * (1000 - fx) / 1000;
                    a[3 + c] += value * fx * up / 1000;
                    n[3 + c] = value * down * fx / 1000; // starts that accumulator afresh
                }
                a += 3;
                n += 3;
                sx = split.column + 1;
            }
            const RunSums run = SumRun(p, sx, width);
            a[0] += run.channel[0] * upper;
            a[1] += run.channel[1] * upper;
            a[2] += run.channel[2] * upper;
            n[0] += run.channel[0] * fy;
            n[1] += run.channel[1] * fy;
            n[2] += run.channel[2] * fy;

            // Result row r is complete: each column was final at its split pixel (and
            // the last one, which rounding of the limits may leave without a split, at
            // the end of the row).
            for (int32_t i = 0; out && i < newWidth * 3; i++)
                out[i] = divide.ToByte(current[i]);
            std::swap(current, next);
            next[0] = next[1] = next[2] = 0;
            yLimit += yScale;
            r++;
            out = r < newHeight ? result.GetBits(0) + size_t(r) * newStride : nullptr;
        } else {
            // The whole row belongs to result row r. Whole rows only add, so they are
            // summed per source column first and weighted once per band of rows.
            AddRow(columnSums.data(), p, size_t(width) * 3);
            if (++bandRows == MAX_BAND_ROWS)
                foldBand();
        }
    }
    foldBand();

    if (r < newHeight) {
        out = result.GetBits(0) + size_t(r) * newStride;
        for (int32_t i = 0; i < newWidth * 3; i++)
            out[i] = divide.ToByte(current[i]);
        // A stop leaves the rows below unreached; they are black, not unset memory.
        if (stopped && r + 1 < newHeight) {
            std::memset(result.GetBits(0) + size_t(r + 1) * newStride, 0,
                size_t(newHeight - r - 1) * newStride);
        }
    }
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
            AreaAverage(*this, resized, xScale, yScale, step);
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
