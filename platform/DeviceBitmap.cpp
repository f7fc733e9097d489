#include "DeviceBitmap.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

    uint32_t StrideFor(int32_t width, uint16_t bitsPerPixel)
    {
        return uint32_t(((uint64_t(width) * bitsPerPixel + 31) / 32) * 4);
    }

    bool IsPaintable(const Bitmap* bitmap)
    {
        return bitmap && (bitmap->BitsPerPixel() == 24 || bitmap->BitsPerPixel() == 32);
    }

    RECT Intersect(const RECT& a, const RECT& b)
    {
        return RECT { std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom) };
    }

    bool IsEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

    // The colour table a DIB header describes: biClrUsed entries, or all of its depth.
    uint32_t DibColorCount(const BITMAPINFOHEADER& header)
    {
        if (header.biBitCount > 8)
            return 0;
        const uint32_t full = 1u << header.biBitCount;
        return header.biClrUsed ? std::min(header.biClrUsed, full) : full;
    }

    using Span = HalftoneStretch::Span;

    std::vector<Span> AreaSpans(int32_t count, double scale, int32_t limit)
    {
        std::vector<Span> spans(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; i++) {
            const double start = i * scale;
            const double end = std::min(double(limit), (i + 1) * scale);
            const int32_t first = std::min(limit - 1, int32_t(start));
            const int32_t last = std::max(first, std::min(limit - 1, int32_t(end - 1e-9)));
            Span& span = spans[size_t(i)];
            span.first = first;
            double total = 0;
            for (int32_t s = first; s <= last; s++) {
                const double w = std::max(0.0, std::min(end, s + 1.0) - std::max(start, double(s)));
                span.weights.push_back(w);
                total += w;
            }
            if (total <= 0) {
                span.weights.assign(1, 1.0);
                total = 1;
            }
            for (double& w : span.weights)
                w /= total;
        }
        return spans;
    }

} // namespace

HalftoneStretch::HalftoneStretch(
    int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height)
    : width(std::max(width, 1))
    , height(std::max(height, 1))
    , columns(AreaSpans(this->width, double(sourceWidth) / this->width, std::max(sourceWidth, 1)))
    , rows(AreaSpans(this->height, double(sourceHeight) / this->height, std::max(sourceHeight, 1)))
    , feeds(size_t(std::max(sourceHeight, 1)), { 0, 0 })
    , horizontal(size_t(this->width) * 3)
    , sums(size_t(this->height))
    , result(size_t(this->width) * size_t(this->height))
{
    // The spans run forward, so the destination rows a source row feeds are one run.
    std::vector<bool> fed(feeds.size(), false);
    for (int32_t j = 0; j < this->height; j++) {
        const Span& span = rows[size_t(j)];
        for (size_t k = 0; k < span.weights.size(); k++) {
            const size_t sy = size_t(span.first) + k;
            if (!fed[sy])
                feeds[sy].first = j;
            feeds[sy].second = j + 1;
            fed[sy] = true;
        }
    }
}

HalftoneStretch::~HalftoneStretch() = default;

template <typename Pixel> void HalftoneStretch::AddHorizontal(Pixel pixel)
{
    const size_t sy = size_t(rowsAdded++);
    if (sy >= feeds.size())
        return;
    for (int32_t i = 0; i < width; i++) {
        double b = 0, g = 0, r = 0;
        const Span& span = columns[size_t(i)];
        for (size_t k = 0; k < span.weights.size(); k++) {
            const RGBQUAD c = pixel(span.first + int32_t(k));
            b += c.rgbBlue * span.weights[k];
            g += c.rgbGreen * span.weights[k];
            r += c.rgbRed * span.weights[k];
        }
        double* out = &horizontal[size_t(i) * 3];
        out[0] = b;
        out[1] = g;
        out[2] = r;
    }
    // Each destination row adds the source rows it covers in their order, from zero.
    for (int32_t j = feeds[sy].first; j < feeds[sy].second; j++) {
        const Span& span = rows[size_t(j)];
        const double weight = span.weights[sy - size_t(span.first)];
        std::vector<double>& sum = sums[size_t(j)];
        if (sum.empty())
            sum.assign(horizontal.size(), 0.0);
        for (size_t n = 0; n < sum.size(); n++)
            sum[n] += horizontal[n] * weight;
        if (sy + 1 == size_t(span.first) + span.weights.size()) {
            RGBQUAD* out = &result[size_t(j) * size_t(width)];
            for (int32_t i = 0; i < width; i++) {
                const double* in = &sum[size_t(i) * 3];
                out[i] = RGBQUAD { uint8_t(std::min(255.0, in[0] + 0.5)),
                    uint8_t(std::min(255.0, in[1] + 0.5)), uint8_t(std::min(255.0, in[2] + 0.5)),
                    0 };
            }
            sum = std::vector<double>();
        }
    }
}

void HalftoneStretch::AddRow(const RGBQUAD* pixels)
{
    AddHorizontal([pixels](int32_t x) { return pixels[x]; });
}

void HalftoneStretch::AddRow(const uint8_t* blueGreenRed)
{
    AddHorizontal([blueGreenRed](int32_t x) {
        const uint8_t* p = blueGreenRed + size_t(x) * 3;
        return RGBQUAD { p[0], p[1], p[2], 0 };
    });
}

Bitmap::Bitmap(int32_t width, int32_t height, uint16_t bitsPerPixel, std::vector<RGBQUAD> colors)
    : width(std::max(width, 0))
    , height(std::max(height, 0))
    , bitsPerPixel(bitsPerPixel)
    , stride(StrideFor(this->width, bitsPerPixel))
    , colors(std::move(colors))
    , bits(size_t(stride) * size_t(this->height), 0)
{
}

BitmapInfo Bitmap::GetObject() const
{
    return BitmapInfo { width, height, int32_t(stride), bitsPerPixel };
}

RGBQUAD Bitmap::GetPixel(int32_t x, int32_t y) const
{
    return ReadDibPixel(DeviceRow(y), x, bitsPerPixel, colors.data(), uint32_t(colors.size()));
}

void Bitmap::SetPixel(int32_t x, int32_t y, RGBQUAD color)
{
    uint8_t* row = DeviceRow(y);
    if (bitsPerPixel == 32) {
        uint8_t* p = row + size_t(x) * 4;
        p[0] = color.rgbBlue;
        p[1] = color.rgbGreen;
        p[2] = color.rgbRed;
        p[3] = 0;
    } else if (bitsPerPixel == 24) {
        uint8_t* p = row + size_t(x) * 3;
        p[0] = color.rgbBlue;
        p[1] = color.rgbGreen;
        p[2] = color.rgbRed;
    }
}

RGBQUAD ReadDibPixel(const uint8_t* row, int32_t x, uint16_t bitsPerPixel, const RGBQUAD* colors,
    uint32_t colorCount)
{
    uint32_t index;
    switch (bitsPerPixel) {
    case 32:
        return RGBQUAD { row[4 * x], row[4 * x + 1], row[4 * x + 2], 0 };
    case 24:
        return RGBQUAD { row[3 * x], row[3 * x + 1], row[3 * x + 2], 0 };
    case 8:
        index = row[x];
        break;
    case 4:
        index = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        break;
    case 1:
        index = (row[x >> 3] >> (7 - (x & 7))) & 1;
        break;
    default:
        return RGBQUAD { 0, 0, 0, 0 };
    }
    if (index >= colorCount)
        return RGBQUAD { 0, 0, 0, 0 };
    RGBQUAD c = colors[index];
    c.rgbReserved = 0;
    return c;
}

Palette::Palette(std::vector<RGBQUAD> entries)
    : entries(std::move(entries))
{
}

uint32_t Palette::NearestIndex(uint8_t red, uint8_t green, uint8_t blue) const
{
    uint32_t best = 0;
    int32_t bestDistance = INT32_MAX;
    for (uint32_t i = 0; i < entries.size(); i++) {
        const int32_t dr = int32_t(entries[i].rgbRed) - red;
        const int32_t dg = int32_t(entries[i].rgbGreen) - green;
        const int32_t db = int32_t(entries[i].rgbBlue) - blue;
        const int32_t d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0)
                break;
        }
    }
    return best;
}

DeviceContext DeviceContext::CreateCompatible(const DeviceContext*)
{
    DeviceContext dc;
    dc.stock = std::make_shared<Bitmap>(
        1, 1, 1, std::vector<RGBQUAD> { { 0, 0, 0, 0 }, { 255, 255, 255, 0 } });
    dc.bitmap = dc.stock.get();
    return dc;
}

DeviceContext DeviceContext::Screen() { return DeviceContext(); }

Bitmap* DeviceContext::SelectBitmap(Bitmap* newBitmap)
{
    Bitmap* old = bitmap;
    bitmap = newBitmap;
    clipped = false;
    clipRegion.clear();
    return old;
}

const Palette* DeviceContext::SelectPalette(const Palette* newPalette)
{
    const Palette* old = palette;
    palette = newPalette;
    return old;
}

std::vector<RECT> DeviceContext::VisibleRects() const
{
    std::vector<RECT> visible;
    if (!bitmap)
        return visible;
    const RECT bounds { 0, 0, bitmap->Width(), bitmap->Height() };
    if (!clipped) {
        if (!IsEmpty(bounds))
            visible.push_back(bounds);
        return visible;
    }
    for (const RECT& r : clipRegion) {
        const RECT v = Intersect(r, bounds);
        if (!IsEmpty(v))
            visible.push_back(v);
    }
    return visible;
}

RECT DeviceContext::GetClipBox() const
{
    const std::vector<RECT> visible = VisibleRects();
    if (visible.empty())
        return RECT { 0, 0, 0, 0 };
    RECT box = visible.front();
    for (const RECT& r : visible) {
        box.left = std::min(box.left, r.left);
        box.top = std::min(box.top, r.top);
        box.right = std::max(box.right, r.right);
        box.bottom = std::max(box.bottom, r.bottom);
    }
    return box;
}

void DeviceContext::SelectClipRect(const RECT& rect, RegionMode mode)
{
    switch (mode) {
    case RegionMode::Copy:
        clipRegion.assign(1, rect);
        break;
    case RegionMode::And: {
        std::vector<RECT> current = clipped ? clipRegion : VisibleRects();
        clipRegion.clear();
        for (const RECT& r : current) {
            const RECT v = Intersect(r, rect);
            if (!IsEmpty(v))
                clipRegion.push_back(v);
        }
        break;
    }
    case RegionMode::Or:
        if (!clipped)
            return; // the whole bitmap is visible already
        if (!IsEmpty(rect))
            clipRegion.push_back(rect);
        break;
    }
    clipped = true;
}

void DeviceContext::ResetClip()
{
    clipped = false;
    clipRegion.clear();
}

bool DeviceContext::IsVisible(int32_t x, int32_t y) const
{
    for (const RECT& r : VisibleRects()) {
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return true;
    }
    return false;
}

StretchMode DeviceContext::SetStretchMode(StretchMode mode)
{
    const StretchMode old = stretchMode;
    stretchMode = mode;
    return old;
}

int32_t DeviceContext::SetDIBitsToDevice(int32_t x, int32_t y, int32_t cx, int32_t cy,
    int32_t xSource, int32_t ySource, uint32_t startScan, uint32_t numScans, const void* bits,
    const BITMAPINFO* info)
{
    if (!info || !bits || cx <= 0 || cy <= 0)
        return 0;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    const uint16_t depth = header.biBitCount;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32)
        return 0;
    if (header.biWidth <= 0 || header.biCompression != 0)
        return 0;
    if (!IsPaintable(bitmap))
        return int32_t(numScans);

    const uint32_t dibStride = StrideFor(header.biWidth, depth);
    const uint32_t colorCount = DibColorCount(header);
    const auto* dibBits = static_cast<const uint8_t*>(bits);
    // Rows of 24 bits onto a 24-bit bitmap are copied as runs, unless they are the
    // bitmap's own.
    const uint8_t* own = bitmap->Bits();
    const uint8_t* ownEnd = own + size_t(bitmap->Stride()) * size_t(bitmap->Height());
    const bool copiesRuns = depth == 24 && bitmap->BitsPerPixel() == 24
        && (dibBits + size_t(numScans) * dibStride <= own || dibBits >= ownEnd);

    for (const RECT& visible : VisibleRects()) {
        const RECT area = Intersect(visible, RECT { x, y, x + cx, y + cy });
        for (int32_t dy = area.top; dy < area.bottom; dy++) {
            // The bottom row of the destination rectangle shows DIB row ySource.
            const int64_t dibRow = int64_t(ySource) + (int64_t(y) + cy - 1 - dy);
            if (dibRow < int64_t(startScan) || dibRow >= int64_t(startScan) + numScans)
                continue;
            const uint8_t* row = dibBits + size_t(dibRow - startScan) * dibStride;
            if (copiesRuns) {
                // The same bytes the pixels would get one by one.
                const int64_t left = std::max<int64_t>(area.left, int64_t(x) - xSource);
                const int64_t right
                    = std::min<int64_t>(area.right, int64_t(x) - xSource + header.biWidth);
                if (left < right)
                    std::memcpy(bitmap->DeviceRow(dy) + size_t(left) * 3,
                        row + size_t(int64_t(xSource) + (left - x)) * 3, size_t(right - left) * 3);
                continue;
            }
            for (int32_t dx = area.left; dx < area.right; dx++) {
                const int64_t column = int64_t(xSource) + (dx - x);
                if (column < 0 || column >= header.biWidth)
                    continue;
                bitmap->SetPixel(
                    dx, dy, ReadDibPixel(row, int32_t(column), depth, info->bmiColors, colorCount));
            }
        }
    }
    return int32_t(numScans);
}

bool DeviceContext::BitBlt(int32_t x, int32_t y, int32_t cx, int32_t cy,
    const DeviceContext& source, int32_t xSource, int32_t ySource)
{
    const Bitmap* from = source.bitmap;
    if (!IsPaintable(bitmap) || !from || cx <= 0 || cy <= 0)
        return false;
    // Copy through a snapshot so that a context may copy onto itself.
    const Bitmap snapshot = *from;
    for (const RECT& visible : VisibleRects()) {
        const RECT area = Intersect(visible, RECT { x, y, x + cx, y + cy });
        for (int32_t dy = area.top; dy < area.bottom; dy++) {
            const int32_t sy = ySource + (dy - y);
            if (sy < 0 || sy >= snapshot.Height())
                continue;
            for (int32_t dx = area.left; dx < area.right; dx++) {
                const int32_t sx = xSource + (dx - x);
                if (sx < 0 || sx >= snapshot.Width())
                    continue;
                bitmap->SetPixel(dx, dy, snapshot.GetPixel(sx, sy));
            }
        }
    }
    return true;
}

bool DeviceContext::StretchBlt(int32_t x, int32_t y, int32_t cx, int32_t cy,
    const DeviceContext& source, int32_t xSource, int32_t ySource, int32_t cxSource,
    int32_t cySource)
{
    const Bitmap* from = source.bitmap;
    if (!IsPaintable(bitmap) || !from || cx <= 0 || cy <= 0 || cxSource <= 0 || cySource <= 0)
        return false;
    if (xSource < 0 || ySource < 0 || int64_t(xSource) + cxSource > from->Width()
        || int64_t(ySource) + cySource > from->Height())
        return false;

    // Every result pixel is made before any is written, so the source may be the
    // destination itself.
    std::vector<RGBQUAD> result;
    if (stretchMode == StretchMode::ColorOnColor) {
        const double scaleX = double(cxSource) / cx;
        const double scaleY = double(cySource) / cy;
        result.resize(static_cast<size_t>(cx) * static_cast<size_t>(cy));
        for (int32_t j = 0; j < cy; j++) {
            const int32_t sy = ySource + std::min(cySource - 1, int32_t(j * scaleY));
            for (int32_t i = 0; i < cx; i++) {
                const int32_t sx = xSource + std::min(cxSource - 1, int32_t(i * scaleX));
                result[size_t(j) * cx + i] = from->GetPixel(sx, sy);
            }
        }
    } else {
        // Halftone: each destination pixel is the area-weighted mean of the source area
        // it covers, done as a horizontal then a vertical pass.
        HalftoneStretch stretch(cxSource, cySource, cx, cy);
        std::vector<RGBQUAD> row(static_cast<size_t>(cxSource));
        for (int32_t sy = 0; sy < cySource; sy++) {
            if (from->BitsPerPixel() == 24) {
                stretch.AddRow(from->DeviceRow(ySource + sy) + size_t(xSource) * 3);
                continue;
            }
            for (int32_t i = 0; i < cxSource; i++)
                row[size_t(i)] = from->GetPixel(xSource + i, ySource + sy);
            stretch.AddRow(row.data());
        }
        result = stretch.Result();
    }

    for (const RECT& visible : VisibleRects()) {
        const RECT area = Intersect(visible, RECT { x, y, x + cx, y + cy });
        for (int32_t dy = area.top; dy < area.bottom; dy++)
            for (int32_t dx = area.left; dx < area.right; dx++)
                bitmap->SetPixel(dx, dy, result[size_t(dy - y) * cx + (dx - x)]);
    }
    return true;
}

void DeviceContext::FillRect(const RECT& rect, COLORREF color)
{
    if (!IsPaintable(bitmap))
        return;
    const RGBQUAD quad { GetBValue(color), GetGValue(color), GetRValue(color), 0 };
    for (const RECT& visible : VisibleRects()) {
        const RECT area = Intersect(visible, rect);
        for (int32_t dy = area.top; dy < area.bottom; dy++)
            for (int32_t dx = area.left; dx < area.right; dx++)
                bitmap->SetPixel(dx, dy, quad);
    }
}

std::unique_ptr<Bitmap> CreateCompatibleBitmap(const DeviceContext*, int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    return std::make_unique<Bitmap>(width, height, 32);
}

std::unique_ptr<Bitmap> CreateDIBitmap(
    DeviceContext* dc, const BITMAPINFOHEADER* header, const void* bits, const BITMAPINFO* info)
{
    if (!header || header->biWidth <= 0 || header->biHeight <= 0)
        return nullptr;
    auto result = CreateCompatibleBitmap(dc, header->biWidth, header->biHeight);
    if (!result || !bits || !info)
        return result;
    DeviceContext memory = DeviceContext::CreateCompatible(dc);
    memory.SelectBitmap(result.get());
    memory.SetDIBitsToDevice(
        0, 0, header->biWidth, header->biHeight, 0, 0, 0, uint32_t(header->biHeight), bits, info);
    return result;
}

std::unique_ptr<Bitmap> CreateDIBSection(DeviceContext*, const BITMAPINFO* info, uint8_t** bits)
{
    if (bits)
        *bits = nullptr;
    if (!info)
        return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    const uint16_t depth = header.biBitCount;
    if (header.biWidth <= 0 || header.biHeight <= 0
        || (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32))
        return nullptr;
    std::vector<RGBQUAD> colors(info->bmiColors, info->bmiColors + DibColorCount(header));
    auto section
        = std::make_unique<Bitmap>(header.biWidth, header.biHeight, depth, std::move(colors));
    if (bits)
        *bits = section->Bits();
    return section;
}

int32_t GetDIBits(DeviceContext*, const Bitmap* bitmap, uint32_t startScan, uint32_t lines,
    void* bits, BITMAPINFO* info)
{
    if (!bitmap || !bits || !info)
        return 0;
    BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biWidth != bitmap->Width() || startScan >= uint32_t(bitmap->Height()))
        return 0;
    lines = std::min(lines, uint32_t(bitmap->Height()) - startScan);
    const uint16_t depth = header.biBitCount;
    const uint32_t stride = StrideFor(header.biWidth, depth);
    auto* out = static_cast<uint8_t*>(bits);

    if (depth == bitmap->BitsPerPixel()) {
        if (depth <= 8) {
            const uint32_t count
                = std::min<uint32_t>(DibColorCount(header), uint32_t(bitmap->Colors().size()));
            std::memcpy(info->bmiColors, bitmap->Colors().data(), count * sizeof(RGBQUAD));
        }
        std::memcpy(
            out, bitmap->Bits() + size_t(startScan) * bitmap->Stride(), size_t(lines) * stride);
        return int32_t(lines);
    }
    if (depth != 24)
        return 0; // conversions into indexed depths are not offered
    for (uint32_t line = 0; line < lines; line++) {
        uint8_t* row = out + size_t(line) * stride;
        const int32_t deviceRow = bitmap->Height() - 1 - int32_t(startScan + line);
        for (int32_t x = 0; x < bitmap->Width(); x++) {
            const RGBQUAD c = bitmap->GetPixel(x, deviceRow);
            row[3 * x] = c.rgbBlue;
            row[3 * x + 1] = c.rgbGreen;
            row[3 * x + 2] = c.rgbRed;
        }
    }
    return int32_t(lines);
}

} // namespace platform
