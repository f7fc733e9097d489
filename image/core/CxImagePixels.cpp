// Palette, pixel, alpha-plane and selection access.
#include "CxImage.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Puts a reworked plane in place of the current one. A borrowing image writes it into the
// lender's plane, which it may change but never free.
void AdoptPlane(uint8_t*& current, uint8_t* reworked, size_t bytes, bool borrowing)
{
    if (borrowing) {
        std::memcpy(current, reworked, bytes);
        std::free(reworked);
        return;
    }
    std::free(current);
    current = reworked;
}

} // namespace

RGBQUAD* CxImage::GetPalette() const
{
    if (!dib || head.biClrUsed == 0)
        return nullptr;
    return PaletteEntries();
}

void CxImage::SetPaletteColor(
    uint32_t index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alphaValue)
{
    index &= 0xFF;
    if (!dib || index >= head.biClrUsed)
        return;
    PaletteEntries()[index] = RGBQUAD { blue, green, red, alphaValue };
    info.lastColorValid = false;
}

void CxImage::SetPalette(const RGBQUAD* palette, uint32_t count)
{
    if (!palette || !dib || head.biClrUsed == 0)
        return;
    const uint64_t bytes = std::min<uint64_t>(uint64_t(count) * 4, GetPaletteSize());
    std::memcpy(PaletteEntries(), palette, size_t(bytes));
    info.lastColorValid = false;
}

void CxImage::SetPalette(const uint8_t* rgbTriples, uint32_t count)
{
    if (!rgbTriples || !dib || head.biClrUsed == 0)
        return;
    const uint32_t n = std::min(count, head.biClrUsed);
    RGBQUAD* entries = PaletteEntries();
    for (uint32_t i = 0; i < n; i++) {
        entries[i].rgbRed = rgbTriples[3 * i];
        entries[i].rgbGreen = rgbTriples[3 * i + 1];
        entries[i].rgbBlue = rgbTriples[3 * i + 2];
    }
    info.lastColorValid = false;
}

void CxImage::SetPalette(
    uint32_t count, const uint8_t* red, const uint8_t* green, const uint8_t* blue)
{
    if (!red || !dib || head.biClrUsed == 0)
        return;
    if (!green)
        green = red;
    if (!blue)
        blue = green;
    const uint32_t n = std::min(count, head.biClrUsed);
    RGBQUAD* entries = PaletteEntries();
    for (uint32_t i = 0; i < n; i++) {
        entries[i].rgbRed = red[i];
        entries[i].rgbGreen = green[i];
        entries[i].rgbBlue = blue[i];
    }
    info.lastColorValid = false;
}

void CxImage::MakeGreyPalette()
{
    if (!dib || head.biClrUsed == 0)
        return;
    const uint32_t n = head.biClrUsed;
    // A one-entry palette (no reader makes one) gets black rather than a division by zero.
    const uint32_t step = n > 1 ? 255 / (n - 1) : 0;
    RGBQUAD* entries = PaletteEntries();
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t v = uint8_t(i * step);
        entries[i].rgbBlue = v;
        entries[i].rgbGreen = v;
        entries[i].rgbRed = v;
    }
    info.lastColorValid = false;
}

bool CxImage::IsGreyRamp() const
{
    if (!dib || head.biClrUsed == 0)
        return false;
    const RGBQUAD* entries = PaletteEntries();
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        if (entries[i].rgbBlue != i || entries[i].rgbGreen != i || entries[i].rgbRed != i)
            return false;
    }
    return true;
}

uint8_t CxImage::FindNearestIndex(RGBQUAD color)
{
    if (!dib || head.biClrUsed == 0)
        return 0;
    if (info.lastColorValid && std::memcmp(&info.lastColor, &color, 4) == 0)
        return info.lastColorIndex;
    info.lastColor = color;
    info.lastColorValid = true;

    const uint32_t n = std::min<uint32_t>(
        head.biClrImportant ? head.biClrImportant : head.biClrUsed, head.biClrUsed);
    const RGBQUAD* entries = PaletteEntries();
    uint32_t best = 0;
    int32_t bestDistance = 200000;
    for (uint32_t i = 0; i < n; i++) {
        const int32_t db = int32_t(entries[i].rgbBlue) - color.rgbBlue;
        const int32_t dg = int32_t(entries[i].rgbGreen) - color.rgbGreen;
        const int32_t dr = int32_t(entries[i].rgbRed) - color.rgbRed;
        const int32_t d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            best = i;
            break;
        }
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    info.lastColorIndex = uint8_t(best);
    return info.lastColorIndex;
}

bool CxImage::PaletteHasAlpha() const
{
    if (!dib || head.biClrUsed == 0)
        return false;
    const RGBQUAD* entries = PaletteEntries();
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        if (entries[i].rgbReserved)
            return true;
    }
    return false;
}

uint8_t CxImage::GetPixelIndex(int32_t x, int32_t y) const
{
    if (!dib || head.biClrUsed == 0)
        return 0;
    if (!IsInside(x, y)) {
        if (info.transIndex != -1)
            return uint8_t(info.transIndex);
        return GetPixelIndexUnchecked(0, 0);
    }
    return GetPixelIndexUnchecked(x, y);
}

void CxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t index)
{
    if (!dib || head.biClrUsed == 0 || !IsInside(x, y))
        return;
    uint8_t* row = info.pixels + size_t(y) * info.rowStride;
    switch (head.biBitCount) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t& byte = row[x >> 1];
        if (x & 1)
            byte = uint8_t((byte & 0xF0) | (index & 0x0F));
        else
            byte = uint8_t((byte & 0x0F) | ((index & 0x0F) << 4));
        break;
    }
    case 1: {
        uint8_t& byte = row[x >> 3];
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        byte = (index & 1) ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
        break;
    }
    default:
        break;
    }
}

RGBQUAD CxImage::GetPixelColor(int32_t x, int32_t y, bool withAlpha) const
{
    RGBQUAD result = info.transColor;
    if (dib && IsInside(x, y)) {
        if (head.biClrUsed) {
            result = GetPaletteColor(GetPixelIndexUnchecked(x, y));
        } else {
            const uint8_t* p = info.pixels + size_t(y) * info.rowStride + size_t(x) * 3;
            result.rgbBlue = p[0];
            result.rgbGreen = p[1];
            result.rgbRed = p[2];
        }
        if (withAlpha && alpha)
            result.rgbReserved = GetAlphaUnchecked(x, y);
        return result;
    }

    if (info.transIndex != -1) {
        if (head.biBitCount < 24)
            return GetPaletteColor(uint32_t(info.transIndex));
        return info.transColor;
    }
    if (dib)
        return GetPixelColor(0, 0, true);
    return info.transColor;
}

void CxImage::SetPixelColor(int32_t x, int32_t y, RGBQUAD color, bool setAlpha)
{
    if (!dib || !IsInside(x, y))
        return;
    if (head.biClrUsed) {
        SetPixelIndex(x, y, FindNearestIndex(color));
        return;
    }
    uint8_t* p = info.pixels + size_t(y) * info.rowStride + size_t(x) * 3;
    p[0] = color.rgbBlue;
    p[1] = color.rgbGreen;
    p[2] = color.rgbRed;
    if (setAlpha)
        SetAlpha(x, y, color.rgbReserved);
}

void CxImage::SwapRedBlue(uint8_t* buffer, uint32_t length) const
{
    if (!buffer || head.biClrUsed)
        return;
    length = std::min(length, info.rowStride);
    for (uint32_t i = 0; i + 3 <= length; i += 3) {
        const uint8_t t = buffer[i];
        buffer[i] = buffer[i + 2];
        buffer[i + 2] = t;
    }
}

bool CxImage::CreateAlpha()
{
    if (alpha)
        return true;
    // A plane made by a borrowing image would belong to nobody.
    if (info.sharedFrom)
        return false;
    const size_t bytes = size_t(head.biWidth) * size_t(head.biHeight);
    if (!dib || bytes == 0)
        return false;
    alpha = static_cast<uint8_t*>(platform::AllocateBuffer(bytes));
    if (!alpha)
        return false;
    std::memset(alpha, 255, bytes);
    return true;
}

void CxImage::DeleteAlpha()
{
    // A borrowing image only lets go of the lender's plane.
    if (!info.sharedFrom)
        std::free(alpha);
    alpha = nullptr;
}

bool CxImage::CopyAlphaFrom(const CxImage& source)
{
    if (!source.alpha || source.GetWidth() != GetWidth() || source.GetHeight() != GetHeight())
        return false;
    const size_t bytes = size_t(head.biWidth) * size_t(head.biHeight);
    if (!alpha) {
        if (info.sharedFrom)
            return false;
        alpha = static_cast<uint8_t*>(platform::AllocateBuffer(bytes));
        if (!alpha)
            return false;
    }
    std::memcpy(alpha, source.alpha, bytes);
    info.globalOpacity = source.info.globalOpacity;
    return true;
}

bool CxImage::FlipAlpha()
{
    if (!alpha)
        return false;
    const size_t width = size_t(head.biWidth);
    const size_t height = size_t(head.biHeight);
    auto* flipped = static_cast<uint8_t*>(platform::AllocateBuffer(width * height));
    if (!flipped)
        return false;
    for (size_t y = 0; y < height; y++)
        std::memcpy(flipped + y * width, alpha + (height - 1 - y) * width, width);
    AdoptPlane(alpha, flipped, width * height, info.sharedFrom != nullptr);
    return true;
}

bool CxImage::MirrorAlpha()
{
    if (!alpha)
        return false;
    const size_t width = size_t(head.biWidth);
    const size_t height = size_t(head.biHeight);
    auto* mirrored = static_cast<uint8_t*>(platform::AllocateBuffer(width * height));
    if (!mirrored)
        return false;
    for (size_t y = 0; y < height; y++) {
        const uint8_t* from = alpha + y * width;
        uint8_t* to = mirrored + y * width;
        for (size_t x = 0; x < width; x++)
            to[x] = from[width - 1 - x];
    }
    AdoptPlane(alpha, mirrored, width * height, info.sharedFrom != nullptr);
    return true;
}

bool CxImage::ClearSelection()
{
    if (!info.sharedFrom)
        std::free(selection);
    selection = nullptr;
    info.selectionBox = RECT { head.biWidth, 0, 0, head.biHeight };
    return true;
}

bool CxImage::IsSelected(int32_t x, int32_t y) const
{
    if (!IsInside(x, y))
        return false;
    if (!selection)
        return true;
    return selection[size_t(y) * head.biWidth + x] != 0;
}

bool CxImage::CopySelectionFrom(const CxImage& source)
{
    if (!source.selection || source.GetWidth() != GetWidth() || source.GetHeight() != GetHeight())
        return false;
    const size_t bytes = size_t(head.biWidth) * size_t(head.biHeight);
    if (!selection) {
        if (info.sharedFrom)
            return false;
        selection = static_cast<uint8_t*>(platform::AllocateBuffer(bytes));
        if (!selection)
            return false;
    }
    std::memcpy(selection, source.selection, bytes);
    info.selectionBox = source.info.selectionBox;
    return true;
}
