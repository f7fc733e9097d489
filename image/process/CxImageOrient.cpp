// Orientation: flips, mirror, quarter turns and the negative.
//
// Each operation builds the new pixels in a temporary image that carries this image's info
// record and moves the finished buffers in with Transfer, so a failure leaves the image as
// it was.
#include "ProcessSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr int32_t TILE = 64;

// The part of the selection box that lies inside the image, as half-open ranges of
// columns and stored rows. The box keeps its larger row in `top`; an empty box gives
// empty ranges.
struct Span {
    int32_t x0, x1, y0, y1;
};

Span SelectionSpan(const RECT& box, int32_t width, int32_t height)
{
    Span span;
    span.x0 = std::max(std::min(box.left, box.right), 0);
    span.x1 = std::min(std::max(box.left, box.right), width);
    span.y0 = std::max(std::min(box.bottom, box.top), 0);
    span.y1 = std::min(std::max(box.bottom, box.top), height);
    return span;
}

} // namespace

bool CxImage::Flip()
{
    if (!dib)
        return false;
    CxImage flipped(*this, false, false, true);
    if (!flipped.IsValid() || (alpha && !flipped.alpha)) {
        bvprocess::CarryError(*this, flipped);
        return false;
    }
    bvprocess::KeepResolution(flipped, *this);

    const int32_t height = head.biHeight;
    for (int32_t y = 0; y < height; y++) {
        std::memcpy(flipped.info.pixels + size_t(y) * info.rowStride,
            info.pixels + size_t(height - 1 - y) * info.rowStride, info.rowStride);
    }
    if (flipped.alpha && !flipped.FlipAlpha())
        return false;
    return Transfer(flipped);
}

bool CxImage::Mirror()
{
    if (!dib)
        return false;
    CxImage mirrored(*this, false, false, true);
    if (!mirrored.IsValid() || (alpha && !mirrored.alpha)) {
        bvprocess::CarryError(*this, mirrored);
        return false;
    }
    bvprocess::KeepResolution(mirrored, *this);

    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* from = info.pixels + size_t(y) * info.rowStride;
        uint8_t* to = mirrored.info.pixels + size_t(y) * info.rowStride;
        switch (head.biBitCount) {
        case 24:
            for (int32_t x = 0; x < width; x++) {
                const uint8_t* p = from + size_t(width - 1 - x) * 3;
                to[3 * x] = p[0];
                to[3 * x + 1] = p[1];
                to[3 * x + 2] = p[2];
            }
            std::memset(to + size_t(width) * 3, 0, info.rowStride - size_t(width) * 3);
            break;
        case 8:
            for (int32_t x = 0; x < width; x++)
                to[x] = from[width - 1 - x];
            std::memset(to + width, 0, info.rowStride - size_t(width));
            break;
        default:
            // Packed pixels: start from a clear row so the padding bits are defined.
            std::memset(to, 0, info.rowStride);
            for (int32_t x = 0; x < width; x++)
                mirrored.SetPixelIndex(x, y, GetPixelIndexUnchecked(width - 1 - x, y));
            break;
        }
    }
    if (mirrored.alpha && !mirrored.MirrorAlpha())
        return false;
    return Transfer(mirrored);
}

bool CxImage::Negative()
{
    if (!dib)
        return false;
    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;

    if (head.biBitCount > 8) {
        if (selection) {
            const Span span = SelectionSpan(info.selectionBox, width, height);
            for (int32_t y = span.y0; y < span.y1; y++) {
                uint8_t* row = info.pixels + size_t(y) * info.rowStride;
                const uint8_t* mask = selection + size_t(y) * width;
                for (int32_t x = span.x0; x < span.x1; x++) {
                    if (!mask[x])
                        continue;
                    uint8_t* p = row + size_t(x) * 3;
                    p[0] = uint8_t(255 - p[0]);
                    p[1] = uint8_t(255 - p[1]);
                    p[2] = uint8_t(255 - p[2]);
                }
            }
        } else {
            uint8_t* p = info.pixels;
            for (uint32_t i = 0; i < head.biSizeImage; i++)
                p[i] = uint8_t(~p[i]);
        }
        info.transColor.rgbBlue = uint8_t(255 - info.transColor.rgbBlue);
        info.transColor.rgbGreen = uint8_t(255 - info.transColor.rgbGreen);
        info.transColor.rgbRed = uint8_t(255 - info.transColor.rgbRed);
        return true;
    }

    if (!IsGreyRamp()) {
        RGBQUAD* palette = GetPalette();
        for (uint32_t i = 0; palette && i < head.biClrUsed; i++) {
            palette[i].rgbBlue = uint8_t(255 - palette[i].rgbBlue);
            palette[i].rgbGreen = uint8_t(255 - palette[i].rgbGreen);
            palette[i].rgbRed = uint8_t(255 - palette[i].rgbRed);
        }
        info.lastColorValid = false;
        return true;
    }

    // A grey ramp maps index i to colour i, so complementing the index inverts the colour
    // and keeps the palette a ramp.
    Span span { 0, width, 0, height };
    if (selection)
        span = SelectionSpan(info.selectionBox, width, height);
    for (int32_t y = span.y0; y < span.y1; y++) {
        for (int32_t x = span.x0; x < span.x1; x++) {
            if (selection && !selection[size_t(y) * width + x])
                continue;
            SetPixelIndex(x, y, uint8_t(~GetPixelIndexUnchecked(x, y)));
        }
    }
    return true;
}

namespace {

enum class Turn { Left, Right };

// Builds the quarter turn of `source` in `rotated`. In stored coordinates (row 0 at the
// bottom) a left turn sends source pixel (x, y) to (height - 1 - y, x) and a right turn
// sends it to (y, width - 1 - x). `step(percent)` reports progress and answers true to
// stop; the rows not reached keep the cleared or unset bytes of the new image.
template <typename Step>
bool BuildRotation(const CxImage& source, CxImage& rotated, Turn turn, Step step)
{
    const int32_t width = source.GetWidth();
    const int32_t height = source.GetHeight();
    const int32_t newWidth = height;
    const int32_t newHeight = width;
    const uint16_t bpp = source.GetBpp();

    rotated.CopyInfo(source);
    if (!rotated.Create(uint32_t(newWidth), uint32_t(newHeight), bpp, source.GetType()))
        return false;
    bvprocess::KeepResolution(rotated, source);
    rotated.SetPalette(source.GetPalette(), 256);
    if (source.HasAlpha() && !rotated.CreateAlpha())
        return false;

    const uint32_t stride = source.GetRowStride();
    const uint32_t newStride = rotated.GetRowStride();
    const uint8_t* from = source.GetBits(0);
    uint8_t* to = rotated.GetBits(0);

    // The source position of result pixel (nx, ny).
    auto sourceX = [&](int32_t, int32_t ny) { return turn == Turn::Left ? ny : width - 1 - ny; };
    auto sourceY = [&](int32_t nx, int32_t) { return turn == Turn::Left ? height - 1 - nx : nx; };

    if (bpp == 1) {
        // Bit by bit into a cleared result, most significant bit first.
        std::memset(to, 0, size_t(newStride) * size_t(newHeight));
        for (int32_t y = 0; y < height; y++) {
            if (step(int32_t(int64_t(y) * 100 / height)))
                break;
            const uint8_t* row = from + size_t(y) * stride;
            const int32_t nx = turn == Turn::Left ? height - 1 - y : y;
            uint8_t* column = to + (nx >> 3);
            const uint8_t bitMask = uint8_t(0x80 >> (nx & 7));
            for (int32_t xb = 0; xb * 8 < width; xb++) {
                const uint8_t byte = row[xb];
                if (!byte)
                    continue;
                const int32_t bits = std::min(8, width - xb * 8);
                for (int32_t bit = 0; bit < bits; bit++) {
                    const int32_t x = xb * 8 + bit;
                    const int32_t ny = turn == Turn::Left ? x : width - 1 - x;
                    // Without a branch: noise would defeat its prediction.
                    column[size_t(ny) * newStride] |= uint8_t(bitMask & -((byte >> (7 - bit)) & 1));
                }
            }
        }
    } else {
        if (bpp == 4)
            std::memset(to, 0, size_t(newStride) * size_t(newHeight));
        for (int32_t tileX = 0; tileX < newWidth; tileX += TILE) {
            if (step(int32_t(int64_t(tileX) * 100 / newWidth))) {
                // The columns not reached are left black rather than unset memory.
                const size_t done = (size_t(tileX) * bpp) / 8;
                for (int32_t ny = 0; ny < newHeight && bpp != 4; ny++)
                    std::memset(to + size_t(ny) * newStride + done, 0, newStride - done);
                break;
            }
            const int32_t endX = std::min(tileX + TILE, newWidth);
            for (int32_t tileY = 0; tileY < newHeight; tileY += TILE) {
                const int32_t endY = std::min(tileY + TILE, newHeight);
                for (int32_t ny = tileY; ny < endY; ny++) {
                    // Along a result row the source column is fixed and the source row
                    // steps by one.
                    const ptrdiff_t rowStep
                        = turn == Turn::Left ? -ptrdiff_t(stride) : ptrdiff_t(stride);
                    if (bpp == 24) {
                        const uint8_t* p = from + size_t(sourceY(tileX, ny)) * stride
                            + size_t(sourceX(tileX, ny)) * 3;
                        uint8_t* q = to + size_t(ny) * newStride + size_t(tileX) * 3;
                        for (int32_t nx = tileX; nx < endX; nx++, p += rowStep, q += 3) {
                            q[0] = p[0];
                            q[1] = p[1];
                            q[2] = p[2];
                        }
                    } else if (bpp == 8) {
                        const uint8_t* p
                            = from + size_t(sourceY(tileX, ny)) * stride + sourceX(tileX, ny);
                        uint8_t* q = to + size_t(ny) * newStride;
                        for (int32_t nx = tileX; nx < endX; nx++, p += rowStep)
                            q[nx] = *p;
                    } else {
                        for (int32_t nx = tileX; nx < endX; nx++) {
                            rotated.SetPixelIndex(nx, ny,
                                source.GetPixelIndexUnchecked(sourceX(nx, ny), sourceY(nx, ny)));
                        }
                    }
                }
            }
        }
    }

    const uint8_t* sourceAlpha = source.GetAlphaPlane();
    uint8_t* rotatedAlpha = rotated.GetAlphaPlane();
    if (sourceAlpha && rotatedAlpha) {
        for (int32_t ny = 0; ny < newHeight; ny++) {
            uint8_t* out = rotatedAlpha + size_t(ny) * size_t(newWidth);
            for (int32_t nx = 0; nx < newWidth; nx++)
                out[nx] = sourceAlpha[size_t(sourceY(nx, ny)) * size_t(width) + sourceX(nx, ny)];
        }
    }
    return true;
}

} // namespace

bool CxImage::RotateQuarter(bool clockwise, CxImage* destination)
{
    if (!dib)
        return false;
    CxImage rotated;
    auto step = [this](int32_t percent) {
        info.progress = percent;
        return AskEscape();
    };
    if (!BuildRotation(*this, rotated, clockwise ? Turn::Right : Turn::Left, step)) {
        bvprocess::CarryError(*this, rotated);
        return false;
    }
    return destination ? destination->Transfer(rotated) : Transfer(rotated);
}

bool CxImage::RotateLeft(CxImage* destination) { return RotateQuarter(false, destination); }

bool CxImage::RotateRight(CxImage* destination) { return RotateQuarter(true, destination); }
