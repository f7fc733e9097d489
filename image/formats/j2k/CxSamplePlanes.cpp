#include "CxSamplePlanes.h"

#include <algorithm>

void CxSamplePlane::Allocate()
{
    storage.assign(size_t(width) * height, 0);
    samples = storage.data();
}

bool IsColourPicture(const std::vector<CxSamplePlane>& planes, bool* withAlpha)
{
    if (withAlpha)
        *withAlpha = false;
    if (planes.size() != 3 && !(planes.size() == 4 && planes[3].isAlpha))
        return false;
    for (const CxSamplePlane& plane : planes) {
        if (plane.width != planes[0].width || plane.height != planes[0].height)
            return false;
    }
    for (size_t c = 1; c < 3; c++) {
        if (planes[c].precision != planes[0].precision)
            return false;
    }
    if (withAlpha)
        *withAlpha = planes.size() == 4;
    return true;
}

uint8_t SampleTo8Bits(const CxSamplePlane& plane, int32_t sample)
{
    int64_t value = sample;
    if (plane.isSigned && plane.precision > 0 && plane.precision <= 32)
        value += int64_t(1) << (plane.precision - 1);
    if (value <= 0)
        return 0;
    if (uint64_t(value) >= plane.maxValue)
        return 255;
    if (plane.maxValue == 255)
        return uint8_t(value);
    return uint8_t((uint64_t(value) * 255 + plane.maxValue / 2) / plane.maxValue);
}

bool PlanesToColourImage(CxImage& image, const std::vector<CxSamplePlane>& planes, uint32_t type)
{
    const CxSamplePlane& red = planes[0];
    if (!image.Create(red.width, red.height, 24, type))
        return false;
    const bool withAlpha = planes.size() == 4 && image.CreateAlpha();
    const uint32_t height = red.height;
    for (uint32_t y = 0; y < height; y++) {
        const int32_t row = int32_t(height - 1 - y);
        uint8_t* pixel = image.GetBits(uint32_t(row));
        const size_t offset = size_t(y) * red.width;
        for (uint32_t x = 0; x < red.width; x++, pixel += 3) {
            pixel[0] = SampleTo8Bits(planes[2], planes[2].samples[offset + x]);
            pixel[1] = SampleTo8Bits(planes[1], planes[1].samples[offset + x]);
            pixel[2] = SampleTo8Bits(planes[0], planes[0].samples[offset + x]);
        }
        if (withAlpha) {
            uint8_t* alpha = image.GetAlphaAddress(0, row);
            for (uint32_t x = 0; x < red.width; x++)
                alpha[x] = SampleTo8Bits(planes[3], planes[3].samples[offset + x]);
        }
    }
    return true;
}

bool PlaneToGreyImage(CxImage& image, const CxSamplePlane& plane, uint32_t type, bool keepLowDepths)
{
    const bool fullRange
        = !plane.isSigned && plane.precision < 32 && plane.maxValue == (1u << plane.precision) - 1;
    const uint32_t depth
        = (keepLowDepths && fullRange && (plane.precision == 1 || plane.precision == 4))
        ? plane.precision
        : 8;
    if (!image.Create(plane.width, plane.height, depth, type))
        return false;
    image.MakeGreyPalette();
    for (uint32_t y = 0; y < plane.height; y++) {
        const int32_t row = int32_t(plane.height - 1 - y);
        const int32_t* source = plane.samples + size_t(y) * plane.width;
        if (depth == 8) {
            uint8_t* target = image.GetBits(uint32_t(row));
            for (uint32_t x = 0; x < plane.width; x++)
                target[x] = SampleTo8Bits(plane, source[x]);
        } else {
            for (uint32_t x = 0; x < plane.width; x++)
                image.SetPixelIndex(int32_t(x), row,
                    uint8_t(std::clamp<int32_t>(source[x], 0, int32_t(plane.maxValue))));
        }
    }
    return true;
}
