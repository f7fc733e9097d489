#include "PaletteSearch.h"

#include <algorithm>
#include <cstdlib>

PaletteSearch::PaletteSearch(const RGBQUAD* palette, uint32_t count)
    : cellStart(size_t(CELLS_PER_AXIS) * CELLS_PER_AXIS * CELLS_PER_AXIS, 0)
    , cellCount(cellStart.size(), 0)
    , memoColour(MEMO_SIZE, EMPTY)
    , memoIndex(MEMO_SIZE, 0)
{
    entries.reserve(count);
    for (uint32_t i = 0; i < count; i++)
        entries.push_back(
            Entry { palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue, i, 0 });
}

void PaletteSearch::BuildCell(uint32_t cell)
{
    constexpr int32_t cellSize = 1 << CELL_SHIFT;
    constexpr int bits = 8 - CELL_SHIFT;
    const int32_t low[3] = { int32_t(cell >> (2 * bits)) * cellSize,
        int32_t((cell >> bits) & (CELLS_PER_AXIS - 1)) * cellSize,
        int32_t(cell & (CELLS_PER_AXIS - 1)) * cellSize };
    const auto axisNear = [&](int32_t v, int axis) {
        const int32_t lo = low[axis], hi = low[axis] + cellSize - 1;
        const int32_t d = v < lo ? lo - v : (v > hi ? v - hi : 0);
        return d * d;
    };
    const auto axisFar = [&](int32_t v, int axis) {
        const int32_t lo = low[axis], hi = low[axis] + cellSize - 1;
        const int32_t d = std::max(std::abs(v - lo), std::abs(v - hi));
        return d * d;
    };
    // Any colour of the cell is within `bound` of some entry, so its nearest entry is no
    // farther than that, and only entries that come that close to the cell can win.
    int32_t bound = INT32_MAX;
    for (const Entry& e : entries)
        bound = std::min(bound, axisFar(e.red, 0) + axisFar(e.green, 1) + axisFar(e.blue, 2));
    const size_t start = candidates.size();
    for (Entry e : entries) {
        e.cellDistance = axisNear(e.red, 0) + axisNear(e.green, 1) + axisNear(e.blue, 2);
        if (e.cellDistance <= bound)
            candidates.push_back(e);
    }
    std::stable_sort(candidates.begin() + std::ptrdiff_t(start), candidates.end(),
        [](const Entry& a, const Entry& b) { return a.cellDistance < b.cellDistance; });
    cellStart[cell] = uint32_t(start + 1);
    cellCount[cell] = uint16_t(candidates.size() - start);
}

uint32_t PaletteSearch::Search(uint8_t red, uint8_t green, uint8_t blue)
{
    constexpr int bits = 8 - CELL_SHIFT;
    const uint32_t cell = (uint32_t(red >> CELL_SHIFT) << (2 * bits))
        | (uint32_t(green >> CELL_SHIFT) << bits) | uint32_t(blue >> CELL_SHIFT);
    if (cellStart[cell] == 0)
        BuildCell(cell);
    const Entry* e = candidates.data() + (cellStart[cell] - 1);
    const Entry* end = e + cellCount[cell];
    // The distance above the index: the smallest key is the nearest entry, and of equal
    // distances the lowest index. No entry after one whose distance to the cell exceeds
    // the best distance can be nearer; one at the same distance may still tie.
    uint64_t best = UINT64_MAX;
    for (; e != end && uint64_t(e->cellDistance) <= (best >> 32); ++e) {
        const int32_t dr = e->red - red, dg = e->green - green, db = e->blue - blue;
        const uint64_t key = (uint64_t(uint32_t(dr * dr + dg * dg + db * db)) << 32) | e->index;
        best = std::min(best, key);
    }
    return uint32_t(best);
}

uint32_t PaletteSearch::SearchAndRemember(uint32_t colour, uint32_t slot)
{
    if (entries.empty())
        return 0;
    const uint32_t index = Search(uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour));
    memoColour[slot] = colour;
    memoIndex[slot] = uint16_t(index);
    return index;
}
