// Finding the palette entry nearest to a colour, exactly, for every pixel of a frame.
#pragma once

#include "platform/DibTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The exact nearest palette entry by squared RGB distance, ties to the lowest index.
// The colour cube is cut into 8 x 8 x 8 cells; the first lookup in a cell keeps the
// entries that can be nearest to any colour of the cell (those whose distance to the cell
// is no more than the smallest farthest-corner distance of any entry), ordered by that
// distance, so a lookup stops as soon as the next entry can't come closer than the best
// one found. Colours already looked up are remembered in a small table, which is all the
// caching a frame's pixels need: checks in front of it (the last colour, the colour above)
// cost more in missed branches than they save.
class PaletteSearch {
public:
    // count: at most 256 entries.
    PaletteSearch(const RGBQUAD* palette, uint32_t count);
    uint32_t Nearest(uint8_t red, uint8_t green, uint8_t blue)
    {
        const uint32_t colour = (uint32_t(red) << 16) | (uint32_t(green) << 8) | blue;
        const uint32_t slot = (colour * 2654435761u) >> (32 - MEMO_BITS);
        if (memoColour[slot] == colour)
            return memoIndex[slot];
        return SearchAndRemember(colour, slot);
    }
    uint32_t Count() const { return uint32_t(entries.size()); }

private:
    struct Entry {
        int32_t red, green, blue;
        uint32_t index;
        int32_t cellDistance; // squared distance to the cell (in a cell's list)
    };
    static constexpr int CELL_SHIFT = 5;
    static constexpr int CELLS_PER_AXIS = 256 >> CELL_SHIFT;
    static constexpr int MEMO_BITS = 16;
    static constexpr uint32_t MEMO_SIZE = 1u << MEMO_BITS;
    void BuildCell(uint32_t cell);
    uint32_t Search(uint8_t red, uint8_t green, uint8_t blue);
    uint32_t SearchAndRemember(uint32_t colour, uint32_t slot);

    std::vector<Entry> entries;
    std::vector<uint32_t> cellStart; // offset into the candidates + 1; 0 = not built yet
    std::vector<uint16_t> cellCount; // in whole blocks of BLOCK
    // A cell's candidates, nearest to the cell first, one array per field so that a block
    // of them is measured at once; the last block is filled up with entries too far away
    // to be chosen.
    static constexpr size_t BLOCK = 8;
    static constexpr int32_t FAR = 1000;
    std::vector<int32_t> candidateRed, candidateGreen, candidateBlue;
    std::vector<int32_t> candidateIndex, candidateCellDistance;
    std::vector<uint32_t> memoColour; // 0x00RRGGBB, or EMPTY
    std::vector<uint16_t> memoIndex;
    static constexpr uint32_t EMPTY = 0xFFFFFFFF;
};
