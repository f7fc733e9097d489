// Truevision TGA reader.
// Layout: Truevision TGA File Format Specification, version 2.0.
#include "CxImageTGA.h"

#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"

#include <cstring>
#include <vector>

#pragma pack(push, 1)
struct TgaHeader {
    uint8_t idLength;
    uint8_t colorMapType;
    uint8_t imageType;
    uint16_t colorMapFirst;
    uint16_t colorMapLength;
    uint8_t colorMapEntrySize;
    uint16_t xOrigin;
    uint16_t yOrigin;
    uint16_t width;
    uint16_t height;
    uint8_t pixelDepth;
    uint8_t descriptor;
};
#pragma pack(pop)
static_assert(sizeof(TgaHeader) == 18);

namespace {

constexpr uint8_t NO_LEFTOVER = 255;

bool IsRle(const TgaHeader& h) { return h.imageType >= 9; }
bool IsGrey(const TgaHeader& h) { return h.imageType == 3 || h.imageType == 11; }
bool IsColorMapped(const TgaHeader& h) { return h.imageType == 1 || h.imageType == 9; }
bool IsTopDown(const TgaHeader& h) { return (h.descriptor & 0x20) != 0; }
bool IsRightToLeft(const TgaHeader& h) { return (h.descriptor & 0x10) != 0; }

int BytesPerPixel(uint8_t depth) { return (depth + 7) / 8; }

// 15- and 16-bit pixels: x R5 G5 B5; each 5-bit value goes to the top of its byte.
void Store555(uint8_t* to, uint32_t v)
{
    to[0] = uint8_t((v & 0x1F) << 3);
    to[1] = uint8_t((v >> 2) & 0xF8);
    to[2] = uint8_t((v >> 7) & 0xF8);
}

// Stores one file pixel of the given depth; returns its alpha (255 when it has none).
uint8_t StorePixel(uint8_t* to, const uint8_t* from, uint8_t depth)
{
    switch (depth) {
    case 8:
        to[0] = from[0];
        return 255;
    case 15:
    case 16:
        Store555(to, uint32_t(from[0]) | (uint32_t(from[1]) << 8));
        return 255;
    case 24:
        std::memcpy(to, from, 3);
        return 255;
    default:
        std::memcpy(to, from, 3);
        return from[3];
    }
}

} // namespace

void CxImageTGA::ExpandUncompressedLine(uint8_t* destination, const TgaHeader& header,
    CxStream* stream, int32_t pixelCount, int32_t fileRow, int32_t firstX)
{
    const int bytes = BytesPerPixel(header.pixelDepth);
    if (header.pixelDepth == 8 || header.pixelDepth == 24) {
        stream->Read(destination, 1, uint32_t(pixelCount) * uint32_t(bytes));
        return;
    }
    uint8_t pixel[4];
    for (int32_t i = 0; i < pixelCount; i++) {
        if (stream->Read(pixel, 1, uint32_t(bytes)) != uint32_t(bytes))
            return;
        const uint8_t a = StorePixel(destination + 3 * size_t(i), pixel, header.pixelDepth);
        if (header.pixelDepth == 32)
            SetAlpha(firstX + i, fileRow, a);
    }
}

uint8_t CxImageTGA::ExpandCompressedLine(uint8_t* destination, const TgaHeader& header,
    CxStream* stream, int32_t width, int32_t fileRow, uint8_t leftover)
{
    const int bytes = BytesPerPixel(header.pixelDepth);
    const size_t stored = header.pixelDepth == 8 ? 1 : 3;
    int32_t x = 0;
    while (x < width) {
        int b;
        if (leftover != NO_LEFTOVER) {
            b = leftover;
            leftover = NO_LEFTOVER;
        } else {
            b = stream->GetC();
            if (b == EOF)
                return leftover;
        }

        int32_t count;
        if (b >= 128) {
            count = b - 127;
            int32_t resume = -1;
            if (x + count > width) {
                // The rest of this repeat packet belongs to the next row, which reads the
                // same pixel value again.
                leftover = uint8_t(b + x - width);
                resume = stream->Tell();
                count = width - x;
            }
            uint8_t pixel[4];
            if (stream->Read(pixel, 1, uint32_t(bytes)) != uint32_t(bytes))
                return leftover;
            for (int32_t i = 0; i < count; i++) {
                const uint8_t a
                    = StorePixel(destination + stored * size_t(i), pixel, header.pixelDepth);
                if (header.pixelDepth == 32)
                    SetAlpha(x + i, fileRow, a);
            }
            if (resume >= 0)
                stream->Seek(resume, SEEK_SET);
        } else {
            count = b + 1;
            if (x + count > width) {
                leftover = uint8_t(b + x - width);
                count = width - x;
            }
            ExpandUncompressedLine(destination, header, stream, count, fileRow, x);
        }
        destination += stored * size_t(count);
        x += count;
    }
    return leftover;
}

bool CxImageTGA::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        TgaHeader header;
        if (stream->Read(&header, sizeof(header), 1) != 1)
            ThrowReadError("Not a TGA");

        switch (header.imageType) {
        case 1:
        case 2:
        case 3:
        case 9:
        case 10:
        case 11:
            break;
        default:
            ThrowReadError("Unknown TGA image type");
        }

        if (header.width == 0 || header.height == 0 || header.pixelDepth == 0
            || header.colorMapLength > 256)
            ThrowReadError("bad TGA header");
        switch (header.pixelDepth) {
        case 8:
        case 15:
        case 16:
        case 24:
        case 32:
            break;
        default:
            ThrowReadError("bad TGA header");
        }
        // Grey and colour-mapped pixels are 8-bit values here; wider ones (grey with alpha,
        // 16-bit indices) would be read as colours.
        if ((IsGrey(header) || IsColorMapped(header)) && header.pixelDepth != 8)
            ThrowReadError("bad TGA header");

        if (header.idLength)
            stream->Seek(header.idLength, SEEK_CUR);

        Create(header.width, header.height, header.pixelDepth, CXIMAGE_FORMAT_TGA);
        if (header.pixelDepth == 32)
            CreateAlpha();
        if (!IsValid())
            ThrowReadError("TGA Create failed");
        Clear(0);

        if (AskEscape())
            ThrowReadError("Cancelled");

        if (header.colorMapType) {
            // Entries are stored in their own size (15/16-bit 5-5-5, 24-bit BGR, 32-bit
            // BGRA); index i of the pixels names map entry i - first.
            int entryBytes = 3;
            if (header.colorMapEntrySize == 15 || header.colorMapEntrySize == 16)
                entryBytes = 2;
            else if (header.colorMapEntrySize == 32)
                entryBytes = 4;
            std::vector<uint8_t> map(size_t(header.colorMapLength) * entryBytes);
            stream->Read(map.data(), 1, uint32_t(map.size()));
            for (uint32_t i = 0; i < header.colorMapLength; i++) {
                const uint8_t* e = map.data() + size_t(i) * entryBytes;
                uint8_t bgr[3];
                if (entryBytes == 2)
                    Store555(bgr, uint32_t(e[0]) | (uint32_t(e[1]) << 8));
                else
                    std::memcpy(bgr, e, 3);
                const uint32_t index = header.colorMapFirst + i;
                if (index < 256)
                    SetPaletteColor(index, bgr[2], bgr[1], bgr[0], 0);
            }
        }
        if (IsGrey(header))
            MakeGreyPalette();

        uint8_t leftover = NO_LEFTOVER;
        const int32_t height = header.height;
        for (int32_t y = 0; y < height; y++) {
            if (AskEscape())
                ThrowReadError("Cancelled");
            if (stream->Eof())
                ThrowReadError("corrupted TGA");
            uint8_t* destination = GetBits(uint32_t(IsTopDown(header) ? height - 1 - y : y));
            if (IsRle(header))
                leftover
                    = ExpandCompressedLine(destination, header, stream, header.width, y, leftover);
            else
                ExpandUncompressedLine(destination, header, stream, header.width, y, 0);
        }

        if (IsRightToLeft(header))
            Mirror();
        if (IsTopDown(header) && header.pixelDepth == 32)
            FlipAlpha();
        return true;
    });
}
