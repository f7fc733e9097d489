// Drawing an image onto a device context: at its own size straight through
// SetDIBitsToDevice, or through a 24-bit work bitmap of the painted area when it is
// stretched or has transparency or alpha to blend over what the device shows.
#include "image/core/CxImage.h"
#include "platform/DeviceBitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct WorkBitmap {
    BITMAPINFO header {};
    platform::DeviceContext memory;
    std::unique_ptr<platform::Bitmap> section;
    uint8_t* bits = nullptr;
    platform::Bitmap* old = nullptr;

    WorkBitmap(platform::DeviceContext* dc, int32_t w, int32_t h)
        : memory(platform::DeviceContext::CreateCompatible(dc))
    {
        header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        header.bmiHeader.biWidth = w;
        header.bmiHeader.biHeight = h;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 24;
        section = platform::CreateDIBSection(dc, &header, &bits);
        if (section)
            old = memory.SelectBitmap(section.get());
    }
    ~WorkBitmap()
    {
        if (section)
            memory.SelectBitmap(old);
    }
    WorkBitmap(const WorkBitmap&) = delete;
    WorkBitmap& operator=(const WorkBitmap&) = delete;
};

} // namespace

int32_t CxImage::Draw(platform::DeviceContext* dc, int32_t x, int32_t y, int32_t cx, int32_t cy,
    const RECT* clip, bool smooth)
{
    if (!dib || !dc || cx == 0 || cy == 0 || !info.enabled)
        return 0;
    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;
    if (cx < 0)
        cx = width;
    if (cy < 0)
        cy = height;

    RECT savedClip {};
    if (clip) {
        savedClip = dc->GetClipBox();
        dc->SelectClipRect(*clip, platform::RegionMode::And);
    }

    const RECT box = dc->GetClipBox();
    const int32_t xmin = std::min(box.right, std::max(box.left, x));
    const int32_t ymin = std::min(box.bottom, std::max(box.top, y));
    const int32_t xmax = std::max(box.left, std::min(box.right, x + cx));
    const int32_t ymax = std::max(box.top, std::min(box.bottom, y + cy));
    const int32_t w = xmax - xmin;
    const int32_t h = ymax - ymin;

    const bool indexed = head.biClrUsed != 0;
    const bool blended = info.transIndex != -1 || alpha || info.paletteAlpha;
    const bool unstretched = cx == width && cy == height;

    if (!blended && unstretched) {
        // The block's own header is what the device reads; keep it the image's.
        std::memcpy(dib, &head, sizeof head);
        dc->SetStretchMode(platform::StretchMode::ColorOnColor);
        dc->SetDIBitsToDevice(
            x, y, cx, cy, 0, 0, 0, uint32_t(cy), info.pixels, static_cast<const BITMAPINFO*>(dib));
    } else {
        WorkBitmap work(dc, w, h);
        if (work.bits) {
            if (blended)
                work.memory.BitBlt(0, 0, w, h, *dc, xmin, ymin);
            const uint32_t workStride = uint32_t(((w * 24 + 31) / 32) * 4);
            const RGBQUAD transColor = GetTransparentColor();
            const int32_t transIndex = info.transIndex;
            const float fx = float(width) / float(cx);
            const float fy = float(height) / float(cy);
            const uint32_t opacity = uint32_t(info.globalOpacity) + 1;

            for (int32_t r = 0; r < h; r++) {
                // Work row r (stored bottom-up) is device row ymax - 1 - r.
                const int32_t deviceY = ymax - 1 - r;
                uint8_t* out = work.bits + size_t(r) * workStride;
                int32_t sourceY;
                float sy = 0;
                if (unstretched) {
                    sourceY = height + y - ymax + r;
                } else {
                    sy = float(height) - float(deviceY - y + 1) * fy;
                    sourceY = std::clamp(int32_t(std::floor(sy)), 0, height - 1);
                }
                for (int32_t c = 0; c < w; c++, out += 3) {
                    const int32_t deviceX = xmin + c;
                    int32_t sourceX;
                    float sx = 0;
                    if (unstretched) {
                        sourceX = xmin - x + c;
                    } else {
                        sx = float(deviceX - x) * fx;
                        sourceX = std::clamp(int32_t(std::floor(sx)), 0, width - 1);
                    }

                    RGBQUAD color;
                    uint32_t index = 0;
                    if (indexed) {
                        index = GetPixelIndexUnchecked(sourceX, sourceY);
                        color = GetPaletteColor(index);
                    } else {
                        const uint8_t* p
                            = info.pixels + size_t(sourceY) * info.rowStride + size_t(sourceX) * 3;
                        color = RGBQUAD { p[0], p[1], p[2], 0 };
                    }
                    const uint8_t paletteReserved = color.rgbReserved;
                    if (smooth && !unstretched)
                        color = SampleInterpolated(
                            sx - 0.5f, sy - 0.5f, IM_BILINEAR, OM_CLAMP_TO_EDGE);

                    if (!blended) {
                        out[0] = color.rgbBlue;
                        out[1] = color.rgbGreen;
                        out[2] = color.rgbRed;
                        continue;
                    }

                    uint32_t a = alpha ? GetAlphaUnchecked(sourceX, sourceY) : 255;
                    a = (a * opacity) >> 8;
                    if (indexed && info.paletteAlpha)
                        a = (a * (uint32_t(paletteReserved) + 1)) >> 8;
                    if (a == 0)
                        continue;
                    if (transIndex != -1) {
                        if (indexed ? int32_t(index) == transIndex
                                    : (color.rgbBlue == transColor.rgbBlue
                                        && color.rgbGreen == transColor.rgbGreen
                                        && color.rgbRed == transColor.rgbRed
                                        && color.rgbReserved == transColor.rgbReserved))
                            continue;
                    }
                    if (a == 255) {
                        out[0] = color.rgbBlue;
                        out[1] = color.rgbGreen;
                        out[2] = color.rgbRed;
                    } else {
                        const uint32_t rest = 255 - a;
                        out[0] = uint8_t((color.rgbBlue * a + out[0] * rest) >> 8);
                        out[1] = uint8_t((color.rgbGreen * a + out[1] * rest) >> 8);
                        out[2] = uint8_t((color.rgbRed * a + out[2] * rest) >> 8);
                    }
                }
            }
        }
        dc->SetDIBitsToDevice(
            xmin, ymin, w, h, 0, 0, 0, uint32_t(std::max(h, 0)), work.bits, &work.header);
    }

    if (clip)
        dc->SelectClipRect(savedClip, platform::RegionMode::Or);
    return 1;
}
