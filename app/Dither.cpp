#include "Dither.h"

#include "ColorQuantizer.h"
#include "image/core/CxImage.h"

#include <vector>

namespace {

// Red, green and blue (and a spare lane) side by side, so that the three channels go
// through the error arithmetic together.
using Lanes = int32_t __attribute__((vector_size(16)));
using Halves = uint64_t __attribute__((vector_size(16)));

Lanes Clamp255(Lanes v)
{
    v &= ~(v >> 31); // below 0: 0
    const Lanes over = v - 255;
    return v - (over & ~(over >> 31)); // above 255: 255
}

bool Differ(Lanes a, Lanes b)
{
    const Halves d = reinterpret_cast<Halves>(a ^ b);
    return (d[0] | d[1]) != 0;
}

// The colour cube cut into 32 x 32 x 32 cells, each answering with the entry nearest to
// its centre (the entries' own cells with those entries), worked out when first asked
// for. The error that the cell's width adds is passed on like any other.
class CellTable {
public:
    CellTable(const RGBQUAD* palette, uint32_t count)
        : search(palette, count)
        , cells(size_t(1) << 15, EMPTY)
    {
        for (uint32_t i = 0; i < count; i++) {
            uint16_t& cell
                = cells[Cell(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue)];
            if (cell == EMPTY)
                cell = uint16_t(i);
        }
    }
    static uint32_t Cell(int32_t r, int32_t g, int32_t b)
    {
        return uint32_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    }
    uint32_t Index(uint32_t cell, int32_t r, int32_t g, int32_t b)
    {
        uint16_t& index = cells[cell];
        if (index == EMPTY)
            index = uint16_t(search.Nearest(uint8_t(r | 4), uint8_t(g | 4), uint8_t(b | 4)));
        return index;
    }

private:
    static constexpr uint16_t EMPTY = 0xFFFF;
    PaletteSearch search;
    std::vector<uint16_t> cells;
};

} // namespace

std::unique_ptr<CxImage> DitherToPalette(const CxImage& canvas, const CxImage& frame)
{
    if (!canvas.IsValid() || !frame.IsValid() || canvas.GetBpp() != 24 || frame.GetBpp() != 8
        || canvas.GetWidth() != frame.GetWidth() || canvas.GetHeight() != frame.GetHeight()
        || frame.GetNumColors() == 0)
        return nullptr;
    auto result = std::make_unique<CxImage>(frame);
    if (!result->IsValid())
        return nullptr;
    const RGBQUAD* palette = frame.GetPalette();
    const uint32_t count = frame.GetNumColors();
    std::vector<Lanes> colours(count);
    for (uint32_t i = 0; i < count; i++)
        colours[i] = Lanes { palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue, 0 };
    CellTable table(palette, count);
    const int32_t w = canvas.GetWidth(), h = canvas.GetHeight();

    // Sixteenths of the error owed to each pixel of this row by the row above, and what
    // this row passes to the next, with a spare column at each end for what falls off the
    // edges. What a pixel passes on along its own row, and to the next row before the
    // pixel after it adds its share, stays in registers.
    std::vector<Lanes> owedAbove(size_t(w + 2), Lanes {}), owedBelow(owedAbove.size(), Lanes {});
    uint32_t lastCell = ~0u, index = 0;
    for (int32_t row = 0; row < h; row++) {
        const int32_t stored = h - 1 - row;
        const uint8_t* source = canvas.GetBits(uint32_t(stored));
        uint8_t* target = result->GetBits(uint32_t(stored));
        const int32_t step = (row % 2 == 0) ? 1 : -1;
        int32_t x = step > 0 ? 0 : w - 1;
        Lanes ahead {}; // 7/16 of the error, for the next pixel of the row
        Lanes behind {}; // owed so far to the pixel below the previous one
        Lanes under {}; // owed so far to the pixel below this one
        Lanes error {};
        // The same colour owed the same error as the pixel before gives the same index
        // and error again, without waiting for that pixel's lookup (flat areas).
        Lanes given { -1, -1, -1, -1 }, givenOwed {};
        for (int32_t k = 0; k < w; k++, x += step) {
            const uint8_t* p = source + 3 * x; // blue, green, red
            const Lanes colour { p[2], p[1], p[0], 0 };
            const Lanes owed = owedAbove[size_t(x + 1)] + ahead;
            if (Differ(colour, given) || Differ(owed, givenOwed)) {
                given = colour;
                givenOwed = owed;
                const Lanes want = Clamp255(colour + ((owed + 8) >> 4));
                const uint32_t cell = CellTable::Cell(want[0], want[1], want[2]);
                if (cell != lastCell) {
                    lastCell = cell;
                    index = table.Index(cell, want[0], want[1], want[2]);
                }
                error = want - colours[index];
            }
            target[x] = uint8_t(index);
            ahead = error * 7;
            owedBelow[size_t(x - step + 1)] = behind + error * 3;
            behind = under + error * 5;
            under = error;
        }
        owedBelow[size_t(x - step + 1)] = behind;
        owedAbove.swap(owedBelow);
    }
    return result;
}
