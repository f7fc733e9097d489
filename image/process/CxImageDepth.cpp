// Conversion to a deeper pixel format.
#include "ProcessSupport.h"

#include <cstring>

bool CxImage::IncreaseBpp(uint32_t bits)
{
    if (!dib)
        return false;
    if (bits != 4 && bits != 8 && bits != 24)
        return false;
    if (bits == head.biBitCount)
        return true;
    if (bits < head.biBitCount)
        return false;

    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    CxImage deeper;
    deeper.CopyInfo(*this);
    if (!deeper.Create(uint32_t(width), uint32_t(height), bits, info.type)) {
        bvprocess::CarryError(*this, deeper);
        return false;
    }
    bvprocess::KeepResolution(deeper, *this);

    int32_t stoppedAt = height;
    if (bits < 24) {
        deeper.SetPalette(GetPalette(), head.biClrUsed);
        deeper.CopySelectionFrom(*this);
        deeper.CopyAlphaFrom(*this);
        for (int32_t y = 0; y < height; y++) {
            info.progress = int32_t(int64_t(y) * 100 / height);
            if (AskEscape()) {
                stoppedAt = y;
                break;
            }
            // A clear row first, so the padding of a 4-bit row is defined.
            std::memset(
                deeper.info.pixels + size_t(y) * deeper.info.rowStride, 0, deeper.info.rowStride);
            for (int32_t x = 0; x < width; x++)
                deeper.SetPixelIndex(x, y, GetPixelIndexUnchecked(x, y));
        }
    } else {
        if (info.transIndex >= 0)
            deeper.SetTransparentColor(GetPaletteColor(uint32_t(info.transIndex)));
        deeper.CopySelectionFrom(*this);
        deeper.CopyAlphaFrom(*this);
        if (PaletteHasAlpha() && !alpha && !deeper.CreateAlpha()) {
            deeper.SetLastError("CxImage::IncreaseBpp can't allocate the alpha plane");
            bvprocess::CarryError(*this, deeper);
            return false;
        }
        // Each pixel takes its palette colour; with no alpha plane of its own the image
        // takes the palette's alpha into the new plane (an existing plane was copied as
        // it is and wins, as a pixel's colour with alpha reads it).
        const RGBQUAD* palette = GetPalette();
        const uint32_t colors = head.biClrUsed;
        uint8_t* paletteAlphaPlane = alpha ? nullptr : deeper.alpha;
        for (int32_t y = 0; y < height; y++) {
            info.progress = int32_t(int64_t(y) * 100 / height);
            if (AskEscape()) {
                stoppedAt = y;
                break;
            }
            uint8_t* out = deeper.info.pixels + size_t(y) * deeper.info.rowStride;
            uint8_t* outAlpha = paletteAlphaPlane ? paletteAlphaPlane + size_t(y) * width : nullptr;
            for (int32_t x = 0; x < width; x++) {
                const uint32_t index = GetPixelIndexUnchecked(x, y);
                const RGBQUAD c = index < colors ? palette[index] : RGBQUAD { 0, 0, 0, 0 };
                out[3 * x] = c.rgbBlue;
                out[3 * x + 1] = c.rgbGreen;
                out[3 * x + 2] = c.rgbRed;
                if (outAlpha)
                    outAlpha[x] = c.rgbReserved;
            }
            std::memset(out + size_t(width) * 3, 0, deeper.info.rowStride - size_t(width) * 3);
        }
    }

    // Rows a stop left out are black rather than unset memory.
    if (stoppedAt < height) {
        std::memset(deeper.info.pixels + size_t(stoppedAt) * deeper.info.rowStride, 0,
            size_t(height - stoppedAt) * deeper.info.rowStride);
    }
    return Transfer(deeper);
}
