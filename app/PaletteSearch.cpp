#include "PaletteSearch.h"

#include "platform/Vectors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

PaletteSearch::PaletteSearch(const RGBQUAD* palette, uint32_t count)
    : cellStart(size_t(CELLS_PER_AXIS) * CELLS_PER_AXIS * CELLS_PER_AXIS, 0)
    , cellCount(cellStart.size(), 0)
    , memoColour(MEMO_SIZE, EMPTY)
    , memoIndex(MEMO_SIZE, 0)
{
    count = std::min(count, 256u);
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
    std::vector<Entry> near;
    for (Entry e : entries) {
        e.cellDistance = axisNear(e.red, 0) + axisNear(e.green, 1) + axisNear(e.blue, 2);
        if (e.cellDistance <= bound)
            near.push_back(e);
    }
    std::stable_sort(near.begin(), near.end(),
        [](const Entry& a, const Entry& b) { return a.cellDistance < b.cellDistance; });
    // Filling: farther than any colour from any real entry, never nearer than the cell.
    while (near.size() % BLOCK != 0)
        near.push_back(Entry { FAR, FAR, FAR, 0, INT32_MAX });
    const size_t start = candidateRed.size();
    for (const Entry& e : near) {
        candidateRed.push_back(e.red);
        candidateGreen.push_back(e.green);
        candidateBlue.push_back(e.blue);
        candidateIndex.push_back(int32_t(e.index));
        candidateCellDistance.push_back(e.cellDistance);
    }
    cellStart[cell] = uint32_t(start + 1);
    cellCount[cell] = uint16_t(near.size() / BLOCK);
}

namespace {

using Lanes = int32_t __attribute__((vector_size(32)));

// The smallest key of the blocks of a cell's candidates, distance x 256 + index (an index
// is below 256), stopping at the first block whose nearest candidate is farther from the
// cell than the best distance found: no candidate after it can come nearer or tie. The
// rest of a block measured beside candidates that could is measured too, which changes
// nothing, as it can't come nearer either.
BV_WIDEST_VECTORS int32_t SmallestKey(const int32_t* red, const int32_t* green, const int32_t* blue,
    const int32_t* index, const int32_t* cellDistance, size_t blocks, int32_t r, int32_t g,
    int32_t b)
{
    constexpr size_t block = 8;
    Lanes best = Lanes {} + INT32_MAX;
    int32_t smallest = INT32_MAX;
    for (size_t k = 0; k < blocks; k++) {
        const size_t i = k * block;
        if (cellDistance[i] > (smallest >> 8))
            break;
        Lanes dr, dg, db, key;
        std::memcpy(&dr, red + i, sizeof dr);
        std::memcpy(&dg, green + i, sizeof dg);
        std::memcpy(&db, blue + i, sizeof db);
        std::memcpy(&key, index + i, sizeof key);
        dr -= r;
        dg -= g;
        db -= b;
        key += (dr * dr + dg * dg + db * db) << 8;
        best = key < best ? key : best;
        for (size_t lane = 0; lane < block; lane++)
            smallest = std::min(smallest, best[lane]);
    }
    return smallest;
}

} // namespace

uint32_t PaletteSearch::Search(uint8_t red, uint8_t green, uint8_t blue)
{
    constexpr int bits = 8 - CELL_SHIFT;
    const uint32_t cell = (uint32_t(red >> CELL_SHIFT) << (2 * bits))
        | (uint32_t(green >> CELL_SHIFT) << bits) | uint32_t(blue >> CELL_SHIFT);
    if (cellStart[cell] == 0)
        BuildCell(cell);
    const size_t start = cellStart[cell] - 1;
    const int32_t key = SmallestKey(candidateRed.data() + start, candidateGreen.data() + start,
        candidateBlue.data() + start, candidateIndex.data() + start,
        candidateCellDistance.data() + start, cellCount[cell], red, green, blue);
    return uint32_t(key) & 0xFF;
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
