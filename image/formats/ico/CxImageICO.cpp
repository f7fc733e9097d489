// Windows icon and cursor reader.
// Layout: https://learn.microsoft.com/previous-versions/ms997538(v=msdn.10)
#include "CxImageICO.h"

#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxBmpLayout.h"
#include "image/formats/png/CxImagePNG.h"

#include <algorithm>
#include <cstring>
#include <vector>

#pragma pack(push, 1)
struct IconDirectory {
    uint16_t reserved;
    uint16_t type;
    uint16_t count;
};

struct IconDirectoryEntry {
    uint8_t width;
    uint8_t height;
    uint8_t colorCount;
    uint8_t reserved;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t bytesInResource;
    uint32_t imageOffset;
};
#pragma pack(pop)
static_assert(sizeof(IconDirectory) == 6);
static_assert(sizeof(IconDirectoryEntry) == 16);

namespace {
constexpr uint8_t PNG_SIGNATURE[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
} // namespace

// The AND mask behind an icon's colour bitmap: one bit per pixel, rows padded to 32 bits,
// bottom row first, set where the icon is transparent.
class IconMask {
public:
    IconMask(int32_t width, int32_t height)
        : stride(size_t((width + 31) / 32) * 4)
        , bits(stride * size_t(height))
    {
    }

    bool Read(CxStream* stream) { return stream->Read(bits.data(), bits.size(), 1) == 1; }
    bool AllSet() const
    {
        return std::all_of(bits.begin(), bits.end(), [](uint8_t byte) { return byte == 255; });
    }
    bool Masked(int32_t x, int32_t y) const
    {
        return (bits[size_t(y) * stride + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
    }

private:
    size_t stride;
    std::vector<uint8_t> bits;
};

bool CxImageICO::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        const int32_t start = stream->Tell();
        const IconDirectoryEntry entry = ReadDirectoryEntry(stream);
        // A width or height byte of 0 stands for 256.
        const uint32_t width = entry.width ? entry.width : 256;
        const uint32_t height = entry.height ? entry.height : 256;

        const int64_t offset = int64_t(start) + entry.imageOffset;
        if (offset > INT32_MAX || !stream->Seek(int32_t(offset), SEEK_SET))
            ThrowReadError("Corrupted ICO");
        uint8_t headerBytes[BMP_INFO_HEADER_SIZE];
        if (stream->Read(headerBytes, sizeof(headerBytes), 1) != 1)
            ThrowReadError("Corrupted ICO");

        if (std::memcmp(headerBytes, PNG_SIGNATURE, sizeof(PNG_SIGNATURE)) == 0) {
            // Large icons are often stored as a whole PNG file.
            stream->Seek(int32_t(offset), SEEK_SET);
            DecodePngEntry(stream);
            return;
        }
        const BITMAPINFOHEADER bih = ReadBmpInfoHeader(headerBytes);
        ReadColourBitmap(stream, bih, width, height);
        IconMask mask(head.biWidth, head.biHeight);
        if (mask.Read(stream))
            ApplyMask(mask, bih.biBitCount);
    });
}

IconDirectoryEntry CxImageICO::ReadDirectoryEntry(CxStream* stream)
{
    IconDirectory directory = {};
    stream->Read(&directory, sizeof(directory), 1);
    if (directory.reserved != 0 || (directory.type != 1 && directory.type != 2))
        throw CxReadError::WithoutText();

    info.numFrames = directory.count;
    // A frame past the directory is a question the caller asked, not a broken file.
    if (info.frame < 0 || info.frame >= directory.count)
        throw CxReadError::WithoutText();

    std::vector<IconDirectoryEntry> entries(directory.count);
    for (IconDirectoryEntry& entry : entries) {
        if (stream->Read(&entry, sizeof(entry), 1) != 1)
            ThrowReadError("Corrupted ICO");
    }
    return entries[size_t(info.frame)];
}

void CxImageICO::DecodePngEntry(CxStream* stream)
{
    CxImagePNG png;
    png.CopyInfo(*this);
    if (!png.Decode(stream))
        ThrowReadError(png.GetLastError());
    const int32_t frames = info.numFrames;
    Transfer(png);
    info.type = CXIMAGE_FORMAT_ICO;
    info.numFrames = frames;
}

// The palette and the colour bitmap in stored-row order; a 32-bit bitmap's fourth bytes
// become the alpha plane.
void CxImageICO::ReadColourBitmap(
    CxStream* stream, const BITMAPINFOHEADER& bih, uint32_t width, uint32_t height)
{
    const uint32_t bpp = bih.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        ThrowReadError("Unsupported ICO bit depth");
    // Headers longer than 40 bytes (V5 headers with a colour profile) come before the
    // palette too.
    if (bih.biSize > 40 && bih.biSize <= 1024)
        stream->Seek(int32_t(bih.biSize - 40), SEEK_CUR);

    if (!Create(width, height, bpp, CXIMAGE_FORMAT_ICO))
        ThrowReadError(info.lastError[0] ? info.lastError : "Can't allocate memory");
    Clear(0);

    if (head.biClrUsed) {
        // A header that names fewer colours than the depth holds stores only those.
        uint32_t colors = head.biClrUsed;
        if (bih.biClrUsed > 0 && bih.biClrUsed < colors)
            colors = bih.biClrUsed;
        RGBQUAD palette[256] = {};
        stream->Read(palette, 4, colors);
        for (RGBQUAD& color : palette)
            color.rgbReserved = 0;
        SetPalette(palette, head.biClrUsed);
    }

    if (bpp != 32) {
        stream->Read(info.pixels, 1, head.biSizeImage);
        return;
    }
    const int32_t w = head.biWidth;
    const int32_t h = head.biHeight;
    std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4);
    stream->Read(pixels.data(), 1, uint32_t(pixels.size()));
    CreateAlpha();
    for (int32_t y = 0; y < h; y++) {
        const uint8_t* from = pixels.data() + size_t(y) * size_t(w) * 4;
        uint8_t* to = info.pixels + size_t(y) * info.rowStride;
        for (int32_t x = 0; x < w; x++) {
            to[3 * x] = from[4 * x];
            to[3 * x + 1] = from[4 * x + 1];
            to[3 * x + 2] = from[4 * x + 2];
            SetAlpha(x, y, from[4 * x + 3]);
        }
    }
}

// Masked pixels become transparent: through a transparent index or colour where that says
// it all, through the alpha plane otherwise (always for 32-bit bitmaps, whose own alpha
// it then combines with the mask).
void CxImageICO::ApplyMask(const IconMask& mask, uint32_t fileBpp)
{
    if (mask.AllSet()) {
        SetTransparentIndex(0);
        Negative();
        return;
    }
    const int32_t w = head.biWidth;
    const int32_t h = head.biHeight;
    const bool hadAlpha = HasAlpha();
    if (!hadAlpha)
        CreateAlpha();
    size_t maskedCount = 0;
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++) {
            if (mask.Masked(x, y)) {
                SetAlpha(x, y, 0);
                maskedCount++;
            }
        }
    }
    if (maskedCount == 0 && !hadAlpha)
        DeleteAlpha();

    if (fileBpp == 24 && maskedCount > 0) {
        RGBQUAD color;
        if (MaskedPixelsShareOneColour(mask, color)) {
            SetTransparentColor(color);
            SetTransparentIndex(0);
            DeleteAlpha();
        }
    } else if (fileBpp <= 8) {
        const int32_t unused = LowestUnusedIndex();
        if (unused >= 0) {
            for (int32_t y = 0; y < h; y++) {
                for (int32_t x = 0; x < w; x++) {
                    if (mask.Masked(x, y))
                        SetPixelIndex(x, y, uint8_t(unused));
                }
            }
            if (maskedCount > 0)
                SetTransparentIndex(unused);
            DeleteAlpha();
        }
    }
}

bool CxImageICO::MaskedPixelsShareOneColour(const IconMask& mask, RGBQUAD& color) const
{
    bool first = true;
    for (int32_t y = 0; y < head.biHeight; y++) {
        for (int32_t x = 0; x < head.biWidth; x++) {
            if (!mask.Masked(x, y))
                continue;
            const RGBQUAD c = GetPixelColor(x, y, false);
            if (first) {
                color = c;
                first = false;
            } else if (c.rgbBlue != color.rgbBlue || c.rgbGreen != color.rgbGreen
                || c.rgbRed != color.rgbRed) {
                return false;
            }
        }
    }
    return true;
}

int32_t CxImageICO::LowestUnusedIndex() const
{
    bool used[256] = {};
    for (int32_t y = 0; y < head.biHeight; y++) {
        for (int32_t x = 0; x < head.biWidth; x++)
            used[GetPixelIndex(x, y)] = true;
    }
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        if (!used[i])
            return int32_t(i);
    }
    return -1;
}
