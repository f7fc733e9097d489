// Windows icon and cursor reader.
// Layout: https://learn.microsoft.com/previous-versions/ms997538(v=msdn.10)
#include "CxImageICO.h"

#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxBmpLayout.h"
#include "image/formats/png/CxImagePNG.h"

#include <cstring>
#include <vector>

namespace {

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

constexpr uint8_t PNG_SIGNATURE[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

} // namespace

bool CxImageICO::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        const int32_t start = stream->Tell();

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
        const IconDirectoryEntry& entry = entries[size_t(info.frame)];
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
            CxImagePNG png;
            png.CopyInfo(*this);
            if (!png.Decode(stream))
                ThrowReadError(png.GetLastError());
            const int32_t frames = info.numFrames;
            Transfer(png);
            info.type = CXIMAGE_FORMAT_ICO;
            info.numFrames = frames;
            return true;
        }

        const BITMAPINFOHEADER bih = ReadBmpInfoHeader(headerBytes);
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

        const int32_t w = head.biWidth;
        const int32_t h = head.biHeight;
        if (bpp == 32) {
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
        } else {
            stream->Read(info.pixels, 1, head.biSizeImage);
        }

        // The AND mask: one bit per pixel, set where the icon is transparent.
        const size_t maskStride = size_t((w + 31) / 32) * 4;
        std::vector<uint8_t> mask(maskStride * size_t(h));
        if (stream->Read(mask.data(), mask.size(), 1) == 1) {
            bool allSet = true;
            for (const uint8_t byte : mask) {
                if (byte != 255) {
                    allSet = false;
                    break;
                }
            }
            auto masked = [&](int32_t x, int32_t y) {
                return (mask[size_t(y) * maskStride + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
            };

            if (allSet) {
                SetTransparentIndex(0);
                Negative();
            } else {
                const bool hadAlpha = HasAlpha();
                if (!hadAlpha)
                    CreateAlpha();
                size_t maskedCount = 0;
                for (int32_t y = 0; y < h; y++) {
                    for (int32_t x = 0; x < w; x++) {
                        if (masked(x, y)) {
                            SetAlpha(x, y, 0);
                            maskedCount++;
                        }
                    }
                }
                if (maskedCount == 0 && !hadAlpha)
                    DeleteAlpha();

                if (bpp == 24 && maskedCount > 0) {
                    // One colour under the whole mask: a transparent colour says it all.
                    bool first = true;
                    bool same = true;
                    RGBQUAD color = {};
                    for (int32_t y = 0; y < h && same; y++) {
                        for (int32_t x = 0; x < w; x++) {
                            if (!masked(x, y))
                                continue;
                            const RGBQUAD c = GetPixelColor(x, y, false);
                            if (first) {
                                color = c;
                                first = false;
                            } else if (c.rgbBlue != color.rgbBlue || c.rgbGreen != color.rgbGreen
                                || c.rgbRed != color.rgbRed) {
                                same = false;
                                break;
                            }
                        }
                    }
                    if (same) {
                        SetTransparentColor(color);
                        SetTransparentIndex(0);
                        DeleteAlpha();
                    }
                } else if (bpp <= 8) {
                    // The masked pixels take the lowest index no pixel uses.
                    bool used[256] = {};
                    for (int32_t y = 0; y < h; y++) {
                        for (int32_t x = 0; x < w; x++)
                            used[GetPixelIndex(x, y)] = true;
                    }
                    int32_t unused = -1;
                    for (uint32_t i = 0; i < head.biClrUsed; i++) {
                        if (!used[i]) {
                            unused = int32_t(i);
                            break;
                        }
                    }
                    if (unused >= 0) {
                        for (int32_t y = 0; y < h; y++) {
                            for (int32_t x = 0; x < w; x++) {
                                if (masked(x, y))
                                    SetPixelIndex(x, y, uint8_t(unused));
                            }
                        }
                        if (maskedCount > 0)
                            SetTransparentIndex(unused);
                        DeleteAlpha();
                    }
                }
            }
        }
        return true;
    });
}
