#include "ColorQuantizer.h"

#include "image/core/CxByteOrder.h"
#include "image/core/CxImage.h"
#include "image/core/CxImageTypes.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxBmpLayout.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

struct Rgb {
    uint8_t red, green, blue;
};

// A channel from a bit-field pixel: the masked bits moved down to bit 0.
struct Channel {
    uint32_t mask = 0;
    int shift = 0; // position of the mask's lowest set bit
    int bits = 0; // number of set bits

    explicit Channel(uint32_t m)
        : mask(m)
        , shift(m ? std::countr_zero(m) : 0)
        , bits(std::popcount(m))
    {
    }
    // 16 bits: scaled so that the field's top bit becomes bit 7.
    uint8_t Scaled(uint32_t pixel) const
    {
        const uint32_t v = (pixel & mask) >> shift;
        return uint8_t(bits <= 8 ? v << (8 - bits) : v >> (bits - 8));
    }
    // 32 bits: the field as it is.
    uint8_t Plain(uint32_t pixel) const { return uint8_t((pixel & mask) >> shift); }
};

// The colours of stored row k (0 = bottom) of a bitmap, left to right.
class RowReader {
public:
    explicit RowReader(const LoadedDib& dib)
        : dib(dib)
        , red(dib.masks[0])
        , green(dib.masks[1])
        , blue(dib.masks[2])
        , row(size_t(dib.Width()))
    {
    }

    const std::vector<Rgb>& Read(int32_t k)
    {
        const uint8_t* p = dib.BottomUpRow(k);
        const int32_t w = dib.Width();
        const uint16_t bpp = dib.header.biBitCount;
        switch (bpp) {
        case 24:
            for (int32_t x = 0; x < w; x++, p += 3)
                row[size_t(x)] = Rgb { p[2], p[1], p[0] };
            break;
        case 32:
            for (int32_t x = 0; x < w; x++, p += 4) {
                const uint32_t v = ReadLe32(p);
                row[size_t(x)] = Rgb { red.Plain(v), green.Plain(v), blue.Plain(v) };
            }
            break;
        case 16:
            for (int32_t x = 0; x < w; x++, p += 2) {
                const uint32_t v = ReadLe16(p);
                row[size_t(x)] = Rgb { red.Scaled(v), green.Scaled(v), blue.Scaled(v) };
            }
            break;
        default:
            for (int32_t x = 0; x < w; x++) {
                uint32_t index;
                if (bpp == 8)
                    index = p[x];
                else if (bpp == 4)
                    index = (x & 1) ? (p[x >> 1] & 0x0F) : (p[x >> 1] >> 4);
                else
                    index = (p[x >> 3] >> (7 - (x & 7))) & 1;
                // An index beyond the colour table reads as black, as the system shows it.
                const RGBQUAD c = index < dib.colors.size() ? dib.colors[index] : RGBQUAD {};
                row[size_t(x)] = Rgb { c.rgbRed, c.rgbGreen, c.rgbBlue };
            }
            break;
        }
        return row;
    }

private:
    const LoadedDib& dib;
    Channel red, green, blue;
    std::vector<Rgb> row;
};

// Calls visit(x, red, green, blue) for the pixels of stored row k, left to right: the
// bytes of a 24-bit row are read in place, other rows through the reader.
template <typename Visit>
void VisitRow(const LoadedDib& dib, RowReader& reader, int32_t k, Visit visit)
{
    if (dib.header.biBitCount == 24) {
        const uint8_t* p = dib.BottomUpRow(k);
        const int32_t w = dib.Width();
        for (int32_t x = 0; x < w; x++, p += 3)
            visit(x, p[2], p[1], p[0]);
        return;
    }
    const std::vector<Rgb>& row = reader.Read(k);
    for (size_t x = 0; x < row.size(); x++)
        visit(int32_t(x), row[x].red, row[x].green, row[x].blue);
}

bool WriteAll(CxStream* stream, const void* data, size_t size)
{
    return size == 0 || stream->Write(data, 1, uint32_t(size)) == size;
}

} // namespace

// ----------------------------------------------------------------------------------------

bool LoadDib(CxStream* stream, LoadedDib& dib)
{
    if (!stream)
        return false;
    const int32_t size = stream->Size();
    if (size < int32_t(BMP_HEADERS_SIZE) || !stream->Seek(0, SEEK_SET))
        return false;
    std::vector<uint8_t> file(static_cast<size_t>(size));
    if (stream->Read(file.data(), 1, uint32_t(size)) != uint32_t(size))
        return false;
    const uint8_t* data = file.data();
    const BmpFileHeader fileHeader = ReadBmpFileHeader(data);
    if (fileHeader.bfType != BMP_SIGNATURE)
        return false;

    const uint32_t offBits = fileHeader.bfOffBits;
    BITMAPINFOHEADER& header = dib.header;
    header = ReadBmpInfoHeader(data + BMP_FILE_HEADER_SIZE);
    const uint32_t headerSize = header.biSize;
    if (headerSize < BMP_INFO_HEADER_SIZE || headerSize > uint32_t(size) - BMP_FILE_HEADER_SIZE)
        return false;
    header.biSize = BMP_INFO_HEADER_SIZE;
    const uint16_t bpp = header.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return false;
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN)
        return false;
    if (header.biCompression != BI_RGB
        && !(header.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32)))
        return false;
    dib.topDown = header.biHeight < 0;

    uint64_t tableStart = BMP_FILE_HEADER_SIZE + uint64_t(headerSize);
    if (bpp == 16 || bpp == 32) {
        if (header.biCompression == BI_BITFIELDS) {
            // The masks follow a 40-byte header, or sit inside a longer one.
            const uint64_t maskStart = BMP_HEADERS_SIZE;
            if (maskStart + 12 > uint64_t(size))
                return false;
            for (int i = 0; i < 3; i++)
                dib.masks[i] = ReadLe32(data + maskStart + 4 * i);
            if (headerSize == BMP_INFO_HEADER_SIZE)
                tableStart += 12;
        } else if (bpp == 16) {
            dib.masks[0] = 0x7C00;
            dib.masks[1] = 0x03E0;
            dib.masks[2] = 0x001F;
        } else {
            dib.masks[0] = 0xFF0000;
            dib.masks[1] = 0x00FF00;
            dib.masks[2] = 0x0000FF;
        }
    }

    dib.colors.clear();
    if (bpp <= 8) {
        const uint32_t full = 1u << bpp;
        const uint32_t count = header.biClrUsed ? std::min(header.biClrUsed, full) : full;
        if (tableStart + uint64_t(count) * 4 > uint64_t(size))
            return false;
        dib.colors.resize(count);
        std::memcpy(dib.colors.data(), data + tableStart, size_t(count) * 4);
        tableStart += uint64_t(count) * 4;
    }

    const uint64_t stride = ((uint64_t(header.biWidth) * bpp + 31) / 32) * 4;
    const uint64_t imageBytes = stride * uint64_t(dib.Height());
    if (imageBytes > CXIMAGE_MAX_MEMORY)
        return false;
    const uint64_t pixelStart = (offBits >= tableStart) ? offBits : tableStart;
    if (pixelStart > uint64_t(size) || imageBytes > uint64_t(size) - pixelStart)
        return false;
    dib.stride = uint32_t(stride);
    dib.bits.assign(data + pixelStart, data + pixelStart + imageBytes);
    dib.borrowed = nullptr;
    return true;
}

// ----------------------------------------------------------------------------------------

ColorQuantizer::ColorQuantizer(int32_t maxColors, int32_t colorBits)
    : maxColors(maxColors)
    , colorBits(std::clamp(colorBits, 1, 8))
    , leafMemo(size_t(1) << LEAF_MEMO_BITS, LeafMemo { 0, 0, nullptr })
{
}

ColorQuantizer::~ColorQuantizer() { Reset(); }

void ColorQuantizer::FreeTree(OctreeNode* node)
{
    if (!node)
        return;
    for (OctreeNode* c : node->child)
        FreeTree(c);
    delete node;
}

void ColorQuantizer::Reset()
{
    FreeTree(root);
    root = nullptr;
    leafCount = 0;
    generation++;
    std::fill(std::begin(reducible), std::end(reducible), nullptr);
}

void ColorQuantizer::AddColor(uint8_t red, uint8_t green, uint8_t blue)
{
    const int drop = 8 - colorBits;
    const uint32_t cell = (uint32_t(red >> drop) << (2 * colorBits))
        | (uint32_t(green >> drop) << colorBits) | uint32_t(blue >> drop);
    LeafMemo& memo = leafMemo[(cell * 2654435761u) >> (32 - LEAF_MEMO_BITS)];
    if (memo.generation == generation && memo.cell == cell) {
        OctreeNode* leaf = memo.leaf;
        leaf->pixelCount++;
        leaf->redSum += red;
        leaf->greenSum += green;
        leaf->blueSum += blue;
        return;
    }
    OctreeNode** slot = &root;
    for (int32_t level = 0;; level++) {
        if (!*slot) {
            OctreeNode* node = new OctreeNode {};
            if (level == colorBits) {
                node->isLeaf = 1;
                leafCount++;
            } else {
                node->next = reducible[level];
                reducible[level] = node;
            }
            *slot = node;
        }
        OctreeNode* node = *slot;
        if (node->isLeaf) {
            node->pixelCount++;
            node->redSum += red;
            node->greenSum += green;
            node->blueSum += blue;
            memo = LeafMemo { cell, generation, node };
            return;
        }
        const int shift = 7 - level;
        const int index
            = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
        slot = &node->child[index];
    }
}

void ColorQuantizer::ReduceTree()
{
    // Colours that ended in the children merged here end here now.
    generation++;
    int32_t level = colorBits - 1;
    while (level > 0 && !reducible[level])
        level--;
    OctreeNode* node = reducible[level];
    if (!node)
        return;
    reducible[level] = node->next;
    node->next = nullptr;

    uint32_t red = 0, green = 0, blue = 0, count = 0, children = 0;
    for (OctreeNode*& c : node->child) {
        if (!c)
            continue;
        red += c->redSum;
        green += c->greenSum;
        blue += c->blueSum;
        count += c->pixelCount;
        children++;
        FreeTree(c);
        c = nullptr;
    }
    node->redSum = red;
    node->greenSum = green;
    node->blueSum = blue;
    node->pixelCount += count;
    node->isLeaf = 1;
    leafCount = leafCount - children + 1;
}

bool ColorQuantizer::FeedImage(const LoadedDib& source)
{
    const uint16_t bpp = source.header.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return false;
    RowReader reader(source);
    const int32_t height = source.Height();
    for (int32_t k = 0; k < height; k++) {
        VisitRow(source, reader, k, [this](int32_t, uint8_t red, uint8_t green, uint8_t blue) {
            AddColor(red, green, blue);
            while (leafCount > uint32_t(std::max(maxColors, 1)))
                ReduceTree();
        });
    }
    return true;
}

namespace {
void CollectLeaves(const OctreeNode* node, std::vector<RGBQUAD>& palette)
{
    if (!node)
        return;
    if (node->isLeaf) {
        const uint32_t n = std::max<uint32_t>(node->pixelCount, 1);
        palette.push_back(RGBQUAD { uint8_t(node->blueSum / n), uint8_t(node->greenSum / n),
            uint8_t(node->redSum / n), 0 });
        return;
    }
    for (const OctreeNode* c : node->child)
        CollectLeaves(c, palette);
}
} // namespace

std::vector<RGBQUAD> ColorQuantizer::MakePalette() const
{
    std::vector<RGBQUAD> palette;
    palette.reserve(leafCount);
    CollectLeaves(root, palette);
    return palette;
}

std::unique_ptr<CxImage> ColorQuantizer::Quantize(
    const LoadedDib& source, std::vector<RGBQUAD>* paletteOut)
{
    Reset();
    if (!FeedImage(source))
        return nullptr;
    const std::vector<RGBQUAD> palette = MakePalette();
    if (palette.empty() || palette.size() > 256)
        return nullptr;
    const uint32_t w = uint32_t(source.Width());
    const uint32_t h = uint32_t(source.Height());
    const uint32_t n = uint32_t(palette.size());
    auto frame = std::make_unique<CxImage>(w, h, 8, CXIMAGE_FORMAT_BMP);
    if (!frame->IsValid())
        return nullptr;
    // The entries past the palette stay black.
    RGBQUAD* entries = frame->GetPalette();
    for (uint32_t i = 0; i < n; i++)
        entries[i] = RGBQUAD { palette[i].rgbBlue, palette[i].rgbGreen, palette[i].rgbRed, 0 };

    PaletteSearch search(palette.data(), n);
    RowReader reader(source);
    const uint32_t stride = frame->GetRowStride();
    for (uint32_t k = 0; k < h; k++) {
        uint8_t* row = frame->GetBits(k);
        VisitRow(
            source, reader, int32_t(k), [&](int32_t x, uint8_t red, uint8_t green, uint8_t blue) {
                row[x] = uint8_t(search.Nearest(red, green, blue));
            });
        std::fill(row + w, row + stride, uint8_t(0));
    }
    if (paletteOut)
        *paletteOut = palette;
    return frame;
}

bool ColorQuantizer::Run(const LoadedDib& source, CxStream* destination)
{
    if (!destination)
        return false;
    std::vector<RGBQUAD> palette;
    const std::unique_ptr<CxImage> frame = Quantize(source, &palette);
    if (!frame)
        return false;
    const uint32_t w = uint32_t(frame->GetWidth());
    const uint32_t h = uint32_t(frame->GetHeight());
    const uint32_t n = uint32_t(palette.size());
    const uint32_t stride = frame->GetRowStride();

    BITMAPINFOHEADER info {};
    info.biSize = BMP_INFO_HEADER_SIZE;
    info.biWidth = int32_t(w);
    info.biHeight = int32_t(h);
    info.biPlanes = 1;
    info.biBitCount = 8;
    info.biSizeImage = stride * h;
    info.biClrUsed = n;
    info.biClrImportant = n;
    uint8_t headers[BMP_HEADERS_SIZE];
    WriteBmpHeaders(info, n, headers);

    std::vector<uint8_t> table(size_t(n) * 4);
    for (uint32_t i = 0; i < n; i++) {
        table[4 * i] = palette[i].rgbBlue;
        table[4 * i + 1] = palette[i].rgbGreen;
        table[4 * i + 2] = palette[i].rgbRed;
        table[4 * i + 3] = 0;
    }

    // The destination is emptied first: an owned memory stream starts over, a file is
    // written from its start (the caller created it anew).
    if (!destination->Seek(0, SEEK_SET))
        return false;
    if (!WriteAll(destination, headers, sizeof headers)
        || !WriteAll(destination, table.data(), table.size())
        || !WriteAll(destination, frame->GetBits(0), size_t(stride) * h))
        return false;
    return destination->Flush();
}

// ----------------------------------------------------------------------------------------

bool QuantizeBmpStream(CxStream* source, CxStream* destination)
{
    LoadedDib dib;
    if (!LoadDib(source, dib) || !destination)
        return false;
    ColorQuantizer quantizer(256, 6);
    return quantizer.Run(dib, destination);
}
