// The drawing layer: bitmaps, device contexts with clip regions, and the transfers
// between device-independent bitmap blocks and devices. It stands in for the desktop
// drawing calls the image library was written against, in plain C++.
//
// Coordinates on a device count from the top-left corner, y downwards. Every bitmap
// keeps its pixels in DIB layout: rows padded to 4 bytes, stored bottom row first.
// Devices paint into 24- or 32-bit bitmaps (32-bit pixels are blue, green, red, unused).
#pragma once

#include "DibTypes.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

// What a bitmap says of itself (the fields of the desktop's BITMAP record that are used).
struct BitmapInfo {
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmBitsPixel;
};

class Bitmap {
public:
    // bitsPerPixel: 1, 4, 8, 24 or 32; colours: the colour table of an indexed bitmap.
    Bitmap(int32_t width, int32_t height, uint16_t bitsPerPixel, std::vector<RGBQUAD> colors = {});

    int32_t Width() const { return width; }
    int32_t Height() const { return height; }
    uint16_t BitsPerPixel() const { return bitsPerPixel; }
    uint32_t Stride() const { return stride; }
    uint8_t* Bits() { return bits.data(); }
    const uint8_t* Bits() const { return bits.data(); }
    // The start of device row y (0 = top).
    uint8_t* DeviceRow(int32_t y) { return bits.data() + size_t(height - 1 - y) * stride; }
    const uint8_t* DeviceRow(int32_t y) const
    {
        return bits.data() + size_t(height - 1 - y) * stride;
    }
    const std::vector<RGBQUAD>& Colors() const { return colors; }
    BitmapInfo GetObject() const;

    // Colour of device pixel (x, y), reserved byte 0; no bounds test.
    RGBQUAD GetPixel(int32_t x, int32_t y) const;
    // Writes a colour into device pixel (x, y) of a 24- or 32-bit bitmap; no bounds test.
    void SetPixel(int32_t x, int32_t y, RGBQUAD color);

private:
    int32_t width;
    int32_t height;
    uint16_t bitsPerPixel;
    uint32_t stride;
    std::vector<RGBQUAD> colors;
    std::vector<uint8_t> bits;
};

// A logical palette: an ordered set of colours with a nearest-colour search.
class Palette {
public:
    explicit Palette(std::vector<RGBQUAD> entries);
    const std::vector<RGBQUAD>& Entries() const { return entries; }
    // The exact nearest entry by squared RGB distance; ties go to the lowest index.
    uint32_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue) const;

private:
    std::vector<RGBQUAD> entries;
};

// The halftone stretch of a picture of sourceWidth x sourceHeight onto width x height:
// each destination pixel is the area-weighted mean of the source area it covers. The
// horizontal pass is made on each source row as it comes, top row first, and the vertical
// pass adds each row into the destination rows it covers, so a picture can be stretched
// while it is read, never held whole. StretchBlt's halftone mode is this one fed the
// source rectangle's rows.
class HalftoneStretch {
public:
    HalftoneStretch(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height);
    ~HalftoneStretch();
    HalftoneStretch(const HalftoneStretch&) = delete;
    HalftoneStretch& operator=(const HalftoneStretch&) = delete;

    // The next source row, top first: sourceWidth pixels, as colours or as blue, green,
    // red bytes.
    void AddRow(const RGBQUAD* pixels);
    void AddRow(const uint8_t* blueGreenRed);
    int32_t RowsAdded() const { return rowsAdded; }
    // The destination pixels, top row first, once every source row has been added.
    const std::vector<RGBQUAD>& Result() const { return result; }

    // The source pixels a destination pixel covers along one axis, with their shares.
    struct Span {
        int32_t first;
        std::vector<double> weights;
    };

private:
    template <typename Pixel> void AddHorizontal(Pixel pixel);

    int32_t width;
    int32_t height;
    std::vector<Span> columns;
    std::vector<Span> rows;
    // For each source row, the destination rows it feeds: [first, second).
    std::vector<std::pair<int32_t, int32_t>> feeds;
    std::vector<double> horizontal; // the current source row, width x 3
    std::vector<std::vector<double>> sums; // per destination row while it is being filled
    std::vector<RGBQUAD> result;
    int32_t rowsAdded = 0;
};

enum class RegionMode { And, Or, Copy };
enum class StretchMode { ColorOnColor, Halftone };

// A drawing surface: a memory context with a selected bitmap, or the screen.
class DeviceContext {
public:
    // A memory context compatible with another (or with the screen for null). It has a
    // 1 x 1 monochrome bitmap selected until another is selected, as on the desktop.
    static DeviceContext CreateCompatible(const DeviceContext* other);
    // The screen: 32 bits per pixel at 96 dots per inch; nothing can be painted on it.
    static DeviceContext Screen();

    // Selects a bitmap into the context and returns the one it had; the context does not
    // own it.
    Bitmap* SelectBitmap(Bitmap* bitmap);
    Bitmap* SelectedBitmap() const { return bitmap; }
    const Palette* SelectPalette(const Palette* palette);
    const Palette* SelectedPalette() const { return palette; }

    int32_t BitsPerPixel() const { return 32; }
    int32_t DotsPerInch() const { return 96; }

    // The bounding box of the visible area: the clip region within the bitmap.
    RECT GetClipBox() const;
    // Combines the clip region with a rectangle (And: intersect, Or: unite, Copy: replace).
    void SelectClipRect(const RECT& rect, RegionMode mode);
    // Removes the clip region: the whole bitmap is visible again.
    void ResetClip();
    bool IsVisible(int32_t x, int32_t y) const;

    StretchMode SetStretchMode(StretchMode mode);
    StretchMode GetStretchMode() const { return stretchMode; }

    // Paints rows of a DIB block onto the device: the destination rectangle's bottom
    // row receives DIB row ySource, the rows above it the following ones; bits points at
    // DIB row startScan, numScans rows are present. Returns the number of rows painted.
    int32_t SetDIBitsToDevice(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t xSource,
        int32_t ySource, uint32_t startScan, uint32_t numScans, const void* bits,
        const BITMAPINFO* info);
    // Copies a rectangle of another context's bitmap onto this one.
    bool BitBlt(int32_t x, int32_t y, int32_t cx, int32_t cy, const DeviceContext& source,
        int32_t xSource, int32_t ySource);
    // Stretches a rectangle of another context's bitmap onto a rectangle of this one:
    // ColorOnColor takes the nearest source pixel, Halftone averages the source area.
    bool StretchBlt(int32_t x, int32_t y, int32_t cx, int32_t cy, const DeviceContext& source,
        int32_t xSource, int32_t ySource, int32_t cxSource, int32_t cySource);
    // Fills a rectangle with one colour.
    void FillRect(const RECT& rect, COLORREF color);

private:
    DeviceContext() = default;
    // The visible rectangles: the clip region within the bitmap.
    std::vector<RECT> VisibleRects() const;

    Bitmap* bitmap = nullptr;
    std::shared_ptr<Bitmap> stock;
    const Palette* palette = nullptr;
    bool clipped = false;
    std::vector<RECT> clipRegion;
    StretchMode stretchMode = StretchMode::ColorOnColor;
};

// A device bitmap of the context's depth (32 bits), initialised from a DIB block.
std::unique_ptr<Bitmap> CreateDIBitmap(
    DeviceContext* dc, const BITMAPINFOHEADER* header, const void* bits, const BITMAPINFO* info);
// A bitmap in the header's own depth and colour table; *bits receives its pixel memory.
std::unique_ptr<Bitmap> CreateDIBSection(DeviceContext* dc, const BITMAPINFO* info, uint8_t** bits);
// A device bitmap of the context's depth, all black.
std::unique_ptr<Bitmap> CreateCompatibleBitmap(
    const DeviceContext* dc, int32_t width, int32_t height);
// Reads lines of a bitmap into a DIB block of the depth info describes; for an indexed
// depth the colour table is filled too. Returns the number of lines copied, 0 on failure.
int32_t GetDIBits(DeviceContext* dc, const Bitmap* bitmap, uint32_t startScan, uint32_t lines,
    void* bits, BITMAPINFO* info);

// Reads the colour of pixel x of a DIB row of the given depth.
RGBQUAD ReadDibPixel(const uint8_t* row, int32_t x, uint16_t bitsPerPixel, const RGBQUAD* colors,
    uint32_t colorCount);

} // namespace platform
