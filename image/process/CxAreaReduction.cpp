#include "CxAreaReduction.h"

#include "platform/Vectors.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int64_t WHOLE = 1000; // the weight of one whole source pixel
constexpr int32_t MAX_BAND_ROWS = 257; // whole rows summed per column in 16 bits

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
// compiler add 16 or 32 bytes at a time.
BV_WIDEST_VECTORS void AddToSums(uint16_t* __restrict sums, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        for (size_t j = 0; j < 32; j++)
            sums[i + j] = uint16_t(sums[i + j] + row[i + j]);
    }
    for (; i < n; i++)
        sums[i] = uint16_t(sums[i] + row[i]);
}

// sums[i] = row[i] for n bytes: the first row of a band, so that no pass clears the sums.
BV_WIDEST_VECTORS void SetSums(uint16_t* __restrict sums, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        for (size_t j = 0; j < 32; j++)
            sums[i + j] = row[i + j];
    }
    for (; i < n; i++)
        sums[i] = row[i];
}

} // namespace

// Which result row a source row feeds: all of it to r, or (split) the part 1000 - fy to r
// and fy to r + 1.
struct CxAreaReduction::RowPlan {
    int32_t r;
    int32_t fy;
    bool split;
};

// A source column split between result columns k and k + 1, and the thousandths of it
// that belong to k + 1.
struct CxAreaReduction::ColumnSplit {
    int32_t column;
    int64_t fx;
};

CxAreaReduction::CxAreaReduction(int32_t width, int32_t height, CxImage& result)
    : width(width)
    , height(height)
    , newWidth(result.GetWidth())
    , newHeight(result.GetHeight())
    , result(result)
{
    // The scales, and the limits that step by them, are single precision: which result
    // pixel a split source pixel feeds is decided by these comparisons, so they are kept
    // exactly.
    const float xScale = float(width) / float(newWidth);
    const float yScale = float(height) / float(newHeight);
    divisor = std::max<int64_t>(int64_t(yScale * xScale * float(WHOLE)), 1);
    reciprocal = 1.0 / double(divisor);
    // With inverse = ceil(2^64 / divisor) = (2^64 + e) / divisor, the high half of
    // sum x inverse is floor(sum / divisor) while sum x e < 2^64, and e < divisor.
    if (divisor > 1) {
        const uint64_t d = uint64_t(divisor);
        inverse = UINT64_MAX / d + 1;
        exactBelow = UINT64_MAX / d;
    }

    // Where the columns split depends only on the column and the limit stepping along
    // the row, so it is found once for every row.
    splits.reserve(size_t(newWidth));
    float xLimit = xScale - 1.0f;
    for (int32_t sx = 0; sx < width && int32_t(splits.size()) < newWidth; sx++) {
        if (float(sx) >= xLimit) {
            splits.push_back(ColumnSplit { sx, int64_t((float(sx) - xLimit) * float(WHOLE)) });
            xLimit += xScale;
        }
    }

    plan.resize(size_t(height));
    pending.assign(size_t(newHeight), 0);
    float yLimit = yScale - 1.0f;
    int32_t r = 0;
    for (int32_t sy = 0; sy < height; sy++) {
        RowPlan& row = plan[size_t(sy)];
        row.r = r;
        row.split = float(sy) >= yLimit;
        row.fy = row.split ? int32_t((float(sy) - yLimit) * float(WHOLE)) : 0;
        if (r < newHeight)
            pending[size_t(r)]++;
        if (row.split) {
            if (r + 1 < newHeight)
                pending[size_t(r) + 1]++;
            yLimit += yScale;
            r++;
        }
    }

    accumulators.resize(size_t(newHeight));
    written.assign(size_t(newHeight), false);
    discarded.assign(size_t(newWidth + 1) * 3, 0);
    columnSums.assign(size_t(width) * 3, 0);
}

CxAreaReduction::~CxAreaReduction() = default;

uint64_t CxAreaReduction::WorkingBytes(int32_t width, int32_t height, int32_t newWidth)
{
    // The column sums, the plan of the source rows, and a few accumulator rows of one
    // pixel more than the result row.
    return uint64_t(width) * 3 * sizeof(uint16_t) + uint64_t(height) * sizeof(RowPlan)
        + 4 * uint64_t(newWidth + 1) * 3 * sizeof(int64_t);
}

int64_t* CxAreaReduction::Accumulator(int32_t r)
{
    if (r >= newHeight || written[size_t(r)])
        return discarded.data();
    std::vector<int64_t>& row = accumulators[size_t(r)];
    if (row.empty()) {
        if (!spare.empty()) {
            row.swap(spare.back());
            spare.pop_back();
        }
        row.assign(size_t(newWidth + 1) * 3, 0);
    }
    return row.data();
}

void CxAreaReduction::WriteRow(int32_t r)
{
    uint8_t* out = result.GetBits(0) + size_t(r) * result.GetRowStride();
    std::vector<int64_t>& sums = accumulators[size_t(r)];
    if (sums.empty()) {
        std::memset(out, 0, size_t(newWidth) * 3);
    } else {
        for (int32_t i = 0; i < newWidth * 3; i++) {
            const int64_t sum = sums[size_t(i)];
            int64_t q;
            if (uint64_t(sum) < exactBelow) {
                q = int64_t((unsigned __int128)uint64_t(sum) * inverse >> 64);
            } else {
                // Exact truncating division: below 2^53 the estimate is off by at most one.
                q = int64_t(double(sum) * reciprocal);
                q -= int64_t(q * divisor > sum);
                q += int64_t((q + 1) * divisor <= sum);
            }
            out[i] = q > 255 ? 255 : uint8_t(q);
        }
    }
    written[size_t(r)] = true;
    // The row's storage serves a later row.
    if (!sums.empty()) {
        spare.push_back(std::move(sums));
        sums = {};
    }
}

void CxAreaReduction::Contributed(int32_t r, int32_t rows)
{
    if (r >= newHeight || written[size_t(r)])
        return;
    pending[size_t(r)] -= rows;
    if (pending[size_t(r)] <= 0)
        WriteRow(r);
}

void CxAreaReduction::FoldBand()
{
    if (bandRows == 0)
        return;
    int64_t* a = Accumulator(bandRow);
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
    const int32_t rows = bandRows;
    bandRows = 0;
    Contributed(bandRow, rows);
}

void CxAreaReduction::AddSplitRow(const RowPlan& row, const uint8_t* p)
{
    const int64_t fy = row.fy;
    const int64_t upper = WHOLE - fy;
    int64_t* a = Accumulator(row.r);
    int64_t* n = Accumulator(row.r + 1);
    int32_t sx = 0;
    for (const ColumnSplit& split : splits) {
        const RunSums run = SumRun(p, sx, split.column);
        for (int c = 0; c < 3; c++) {
            a[c] += run.channel[c] * upper;
            n[c] += run.channel[c] * fy;
        }
        // The pixel at the split column is split between rows as well: four result
        // pixels share it. Each product is at most 255 x 1000 x 1000, so 32 unsigned bits
        // hold it and divide it exactly as signed arithmetic would.
        const uint32_t fx = uint32_t(split.fx);
        const uint32_t up = uint32_t(upper);
        const uint32_t down = uint32_t(fy);
        const uint8_t* v = p + size_t(split.column) * 3;
        for (int c = 0; c < 3; c++) {
            const uint32_t value = v[c];
            a[c] += value * (up * (1000 - fx)) / 1000;
            n[c] += value * down * (1000 - fx) / 1000;
            a[3 + c] += value * fx * up / 1000;
            n[3 + c] += value * down * fx / 1000;
        }
        a += 3;
        n += 3;
        sx = split.column + 1;
    }
    const RunSums run = SumRun(p, sx, width);
    for (int c = 0; c < 3; c++) {
        a[c] += run.channel[c] * upper;
        n[c] += run.channel[c] * fy;
    }
    Contributed(row.r, 1);
    Contributed(row.r + 1, 1);
}

void CxAreaReduction::AddRow(int32_t sy, const uint8_t* pixels)
{
    if (sy < 0 || sy >= height)
        return;
    const RowPlan& row = plan[size_t(sy)];
    if (bandRows > 0 && (row.split || row.r != bandRow))
        FoldBand();
    if (row.split) {
        AddSplitRow(row, pixels);
        return;
    }
    // Whole rows only add, so they are summed per source column first and weighted once
    // per band of rows.
    bandRow = row.r;
    if (bandRows == 0)
        SetSums(columnSums.data(), pixels, size_t(width) * 3);
    else
        AddToSums(columnSums.data(), pixels, size_t(width) * 3);
    if (++bandRows == MAX_BAND_ROWS)
        FoldBand();
}

void CxAreaReduction::Finish()
{
    FoldBand();
    for (int32_t r = 0; r < newHeight; r++) {
        if (!written[size_t(r)])
            WriteRow(r);
    }
}
