// ZSoft PCX reader.
// Layout: ZSoft PCX Technical Reference Manual, revision 5.
#include "CxImagePCX.h"

#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

#pragma pack(push, 1)
struct PcxHeader {
    uint8_t manufacturer;
    uint8_t version;
    uint8_t encoding;
    uint8_t bitsPerPixel;
    uint16_t xMin;
    uint16_t yMin;
    uint16_t xMax;
    uint16_t yMax;
    uint16_t hDpi;
    uint16_t vDpi;
    uint8_t colorMap[48];
    uint8_t reserved;
    uint8_t planes;
    uint16_t bytesPerLine;
    uint8_t filler[60];
};
#pragma pack(pop)
static_assert(sizeof(PcxHeader) == 128);

constexpr uint8_t PALETTE_MARKER = 12;

// The run-length data: a byte of 0xC0 or more repeats the next byte (its low 6 bits times),
// any other byte stands for itself; runs may cross row and plane boundaries.
std::vector<uint8_t> DecodeRuns(CxStream* stream, size_t total)
{
    std::vector<uint8_t> data(total);
    size_t position = 0;
    while (position < data.size()) {
        if (stream->Eof())
            ThrowReadError("corrupted PCX");
        const int b = stream->GetC();
        if (b == EOF)
            ThrowReadError("corrupted PCX");
        if (b <= 0xBF) {
            data[position++] = uint8_t(b);
            continue;
        }
        const int v = stream->GetC();
        if (v == EOF)
            ThrowReadError("corrupted PCX");
        const size_t count = size_t(b & 0x3F);
        if (count > data.size() - position)
            ThrowReadError("repeat count spans end of image");
        std::memset(data.data() + position, v, count);
        position += count;
    }
    return data;
}

// The header's 16 colours; an 8-bit single-plane file's 256 colours after its data; black
// and white for a 1-bit single-plane file, whatever its header says.
void ReadPalette(CxStream* stream, const PcxHeader& header, CxImage& image)
{
    uint8_t table[256][3] = {};
    std::memcpy(table, header.colorMap, sizeof(header.colorMap));
    if (header.bitsPerPixel == 8 && header.planes == 1) {
        if (stream->GetC() != PALETTE_MARKER)
            ThrowReadError("bad color map signature");
        stream->Read(table, 3, 256);
    } else if (header.bitsPerPixel == 1 && header.planes == 1) {
        std::memset(table[0], 0, 3);
        std::memset(table[1], 255, 3);
    }
    for (uint32_t i = 0; i < image.GetNumColors(); i++)
        image.SetPaletteColor(i, table[i][0], table[i][1], table[i][2], 0);
}

} // namespace

void CxImagePCX::MergePlanes(uint8_t* pixels, const uint8_t* planeData, uint32_t bytesPerLine,
    uint32_t planes, uint32_t bitsPerPixel)
{
    if (planes > 4)
        ThrowReadError("Can't handle more than 4 planes");
    if (bitsPerPixel != 1)
        ThrowReadError("Can't handle more than 1 bit per pixel");
    std::memset(pixels, 0, size_t(bytesPerLine) * 8);
    for (uint32_t plane = 0; plane < planes; plane++) {
        const uint8_t* data = planeData + size_t(plane) * bytesPerLine;
        uint8_t* out = pixels;
        for (uint32_t i = 0; i < bytesPerLine; i++) {
            const uint8_t byte = data[i];
            for (int bit = 7; bit >= 0; bit--, out++) {
                if (byte & (1 << bit))
                    *out |= uint8_t(1 << plane);
            }
        }
    }
}

void CxImagePCX::SplitPackedPixels(uint8_t* pixels, const uint8_t* data, uint32_t bytesPerLine,
    uint32_t planes, uint32_t bitsPerPixel)
{
    if (planes != 1)
        ThrowReadError("Can't handle packed pixels with more than 1 plane.");
    for (uint32_t i = 0; i < bytesPerLine; i++) {
        const uint8_t byte = data[i];
        switch (bitsPerPixel) {
        case 8:
            *pixels++ = byte;
            break;
        case 4:
            *pixels++ = uint8_t(byte >> 4);
            *pixels++ = uint8_t(byte & 0x0F);
            break;
        case 2:
            for (int shift = 6; shift >= 0; shift -= 2)
                *pixels++ = uint8_t((byte >> shift) & 3);
            break;
        case 1:
            for (int bit = 7; bit >= 0; bit--)
                *pixels++ = uint8_t((byte >> bit) & 1);
            break;
        default:
            break;
        }
    }
}

bool CxImagePCX::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        PcxHeader header;
        if (stream->Read(&header, sizeof(header), 1) != 1)
            ThrowReadError("Can't read PCX image");
        if (header.manufacturer != 10)
            ThrowReadError("Error: Not a PCX file");
        if (header.encoding != 1)
            ThrowReadError("PCX file has unknown encoding scheme");

        const int32_t width = int32_t(header.xMax) - int32_t(header.xMin) + 1;
        const int32_t height = int32_t(header.yMax) - int32_t(header.yMin) + 1;
        info.xDPI = header.hDpi;
        info.yDPI = header.vDpi;

        const uint32_t planes = header.planes;
        const uint32_t bits = header.bitsPerPixel;
        const uint32_t bytesPerLine = header.bytesPerLine;
        if (planes > 4)
            ThrowReadError("Can't handle image with more than 4 planes");
        // No planes or no bytes per line leave nothing to decode.
        if (planes == 0 || bytesPerLine == 0)
            ThrowReadError("bad PCX header");

        const bool trueColor = bits == 8 && (planes == 3 || planes == 4);
        // Two to four planes of 1 bit index up to 16 colours of the header's map: every
        // plane's bit is kept in a 4-bit image.
        const uint32_t bpp = trueColor ? 24 : (bits == 1 && planes > 1) ? 4 : bits;
        // Bounds that give no pixels are refused by Create like any other bad size.
        const int32_t xDpi = info.xDPI;
        const int32_t yDpi = info.yDPI;
        if (!Create(uint32_t(std::max(width, 0)), uint32_t(std::max(height, 0)), bpp,
                CXIMAGE_FORMAT_PCX))
            ThrowReadError(info.lastError[0] ? info.lastError : "Can't allocate memory");
        info.xDPI = xDpi;
        info.yDPI = yDpi;
        Clear(0);
        if (trueColor && planes == 4 && !CreateAlpha())
            ThrowReadError("Can't allocate memory");

        if (AskEscape())
            ThrowReadError("Cancelled");

        // The decoded planes: every run byte gives at most 63 bytes, so a stream too short
        // for the picture is refused before the buffer is allocated.
        const size_t lineBytes = size_t(planes) * bytesPerLine;
        const uint64_t total = uint64_t(lineBytes) * uint64_t(height);
        const int64_t left = int64_t(stream->Size()) - stream->Tell();
        if (total > CXIMAGE_MAX_MEMORY || (left >= 0 && total > uint64_t(left) * 63 + 63))
            ThrowReadError("corrupted PCX");
        const std::vector<uint8_t> data = DecodeRuns(stream, size_t(total));
        ReadPalette(stream, header, *this);
        StoreRows(data.data(), planes, bits, bytesPerLine);
    });
}

// Rows from the top down, each its planes one after the other.
void CxImagePCX::StoreRows(
    const uint8_t* data, uint32_t planes, uint32_t bits, uint32_t bytesPerLine)
{
    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    const size_t lineBytes = size_t(planes) * bytesPerLine;
    // As the header says, not as the image was created: a header of 9 bits in one plane
    // makes a 24-bit image too, but its rows hold one plane only.
    const bool trueColor = bits == 8 && (planes == 3 || planes == 4);
    std::vector<uint8_t> row(size_t(width) + size_t(bytesPerLine) * 8);
    const int32_t covered = int32_t(
        planes == 1 && bits >= 1 && bits <= 8 ? bytesPerLine * (8 / bits) : bytesPerLine * 8);
    for (int32_t y = 0; y < height; y++) {
        if (AskEscape())
            ThrowReadError("Cancelled");
        const uint8_t* line = data + size_t(y) * lineBytes;
        const int32_t target = height - 1 - y;
        if (trueColor) {
            // Columns past the stored bytes of a plane stay black.
            for (int32_t x = 0; x < width; x++) {
                if (uint32_t(x) >= bytesPerLine)
                    break;
                const RGBQUAD color
                    = { line[2 * bytesPerLine + x], line[bytesPerLine + x], line[x], 0 };
                SetPixelColor(x, target, color, false);
                if (planes == 4)
                    SetAlpha(x, target, line[3 * bytesPerLine + x]);
            }
            continue;
        }
        std::fill(row.begin(), row.end(), uint8_t(0));
        if (planes == 1)
            SplitPackedPixels(row.data(), line, bytesPerLine, planes, bits);
        else
            MergePlanes(row.data(), line, bytesPerLine, planes, bits);
        // Columns past the decoded bytes stay black, as Clear left them.
        for (int32_t x = 0; x < std::min(width, covered); x++)
            SetPixelIndex(x, target, row[size_t(x)]);
    }
}
