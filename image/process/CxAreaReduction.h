// The area-averaging reduction of a 24-bit picture, fed one source row at a time in any
// order: a reader can hand its rows over as it decodes them, and the full-size picture
// never needs to exist. Resample's reduction is this one fed from the image's rows.
//
// Weights are thousandths of a source pixel: a source pixel split by a result pixel
// boundary gives each side its share, and every result pixel is its weighted sum over the
// divisor. Each source row's shares are fixed by the row alone (which result rows and
// columns it feeds, and with what weights, follow from its index by the same
// single-precision steps whatever the order), and the sums are exact integers, so the
// result is the same byte for byte however the rows arrive.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>
#include <vector>

class CxAreaReduction {
public:
    // Reduces width x height to the size of result, a 24-bit image whose rows this object
    // writes as they become complete. Each side of the result is at most that of the
    // source; an equal side is copied as it is.
    CxAreaReduction(int32_t width, int32_t height, CxImage& result);
    ~CxAreaReduction();
    CxAreaReduction(const CxAreaReduction&) = delete;
    CxAreaReduction& operator=(const CxAreaReduction&) = delete;

    // Adds stored row sy (0 = bottom) of width blue-green-red pixels. Each row is added
    // at most once.
    void AddRow(int32_t sy, const uint8_t* pixels);
    // Writes every result row not yet written from what it holds: a row only partly fed
    // (the rows stopped early) gets the weighted sum so far, and a row no source row
    // reached is black.
    void Finish();

    // The bytes a reduction of width x height to a result newWidth wide holds while rows
    // arrive in order (top down or bottom up), beside the result itself.
    static uint64_t WorkingBytes(int32_t width, int32_t height, int32_t newWidth);

private:
    struct RowPlan;
    struct ColumnSplit;
    int64_t* Accumulator(int32_t r);
    void FoldBand();
    void AddSplitRow(const RowPlan& plan, const uint8_t* pixels);
    void Contributed(int32_t r, int32_t rows);
    void WriteRow(int32_t r);

    const int32_t width;
    const int32_t height;
    const int32_t newWidth;
    const int32_t newHeight;
    CxImage& result;
    int64_t divisor;
    double reciprocal;
    // Division by the divisor as a multiplication: the high half of sum x inverse is the
    // quotient for every sum below exactBelow (0: never).
    uint64_t inverse = 0;
    uint64_t exactBelow = 0;

    std::vector<RowPlan> plan;
    std::vector<ColumnSplit> splits;
    // Per result row: the source rows still to come, and the accumulator while it is
    // being filled (null before its first row and after it was written).
    std::vector<int32_t> pending;
    std::vector<std::vector<int64_t>> accumulators;
    std::vector<std::vector<int64_t>> spare;
    std::vector<int64_t> discarded; // shares of rows below the result's last row
    std::vector<bool> written;

    // Whole source rows of one result row, summed per column before they are weighted.
    std::vector<uint16_t> columnSums;
    int32_t bandRows = 0;
    int32_t bandRow = -1;
};
