// Small pictures written top row first, as a person reads them, and their conversion to
// and from CxImage's bottom-up stored rows.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>
#include <vector>

namespace bvtest {

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    // Top row first. Indexed images hold palette indices, 24-bit ones 0xRRGGBB.
    std::vector<uint32_t> values;
    // Top row first; empty when the picture has no alpha.
    std::vector<uint8_t> alpha;

    uint32_t At(int32_t x, int32_t row) const { return values[size_t(row) * width + x]; }
    bool operator==(const Picture&) const = default;
};

// A picture whose every pixel differs from its neighbours and from its mirror images,
// with values that fit the depth.
inline Picture PatternPicture(int32_t width, int32_t height, uint32_t bpp, bool withAlpha)
{
    Picture picture;
    picture.width = width;
    picture.height = height;
    for (int32_t row = 0; row < height; row++) {
        for (int32_t x = 0; x < width; x++) {
            const uint32_t n = uint32_t(row * 131 + x * 17 + (x * row) % 7 + 3);
            switch (bpp) {
            case 1:
                picture.values.push_back((uint32_t(x * 3 + row * 5 + (x * x + row) / 3) >> 1) & 1);
                break;
            case 4:
                picture.values.push_back(n % 16);
                break;
            case 8:
                picture.values.push_back(n % 256);
                break;
            default:
                picture.values.push_back((n * 2654435761u) & 0xFFFFFF);
                break;
            }
            if (withAlpha)
                picture.alpha.push_back(uint8_t(x * 29 + row * 11 + 1));
        }
    }
    return picture;
}

// The palette every indexed test image gets: distinct colours, no grey ramp.
inline RGBQUAD TestPaletteEntry(uint32_t i)
{
    return RGBQUAD { uint8_t(i * 7 + 1), uint8_t(i * 13 + 2), uint8_t(255 - i), 0 };
}

inline void MakeTestPalette(CxImage& image)
{
    for (uint32_t i = 0; i < image.GetNumColors(); i++) {
        const RGBQUAD c = TestPaletteEntry(i);
        image.SetPaletteColor(i, c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
}

inline void ToImage(const Picture& picture, uint32_t bpp, CxImage& image)
{
    image.Create(uint32_t(picture.width), uint32_t(picture.height), bpp);
    image.Clear(0);
    MakeTestPalette(image);
    for (int32_t row = 0; row < picture.height; row++) {
        const int32_t y = picture.height - 1 - row;
        for (int32_t x = 0; x < picture.width; x++) {
            const uint32_t v = picture.At(x, row);
            if (bpp == 24)
                image.SetPixelColor(
                    x, y, RGBQUAD { uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0 });
            else
                image.SetPixelIndex(x, y, uint8_t(v));
        }
    }
    if (!picture.alpha.empty()) {
        image.CreateAlpha();
        for (int32_t row = 0; row < picture.height; row++)
            for (int32_t x = 0; x < picture.width; x++)
                image.SetAlpha(
                    x, picture.height - 1 - row, picture.alpha[size_t(row) * picture.width + x]);
    }
}

inline Picture FromImage(const CxImage& image)
{
    Picture picture;
    picture.width = image.GetWidth();
    picture.height = image.GetHeight();
    for (int32_t row = 0; row < picture.height; row++) {
        const int32_t y = picture.height - 1 - row;
        for (int32_t x = 0; x < picture.width; x++) {
            if (image.IsIndexed()) {
                picture.values.push_back(image.GetPixelIndex(x, y));
            } else {
                const RGBQUAD c = image.GetPixelColor(x, y, false);
                picture.values.push_back(
                    uint32_t(c.rgbBlue) | (uint32_t(c.rgbGreen) << 8) | (uint32_t(c.rgbRed) << 16));
            }
            if (image.HasAlpha())
                picture.alpha.push_back(image.GetAlpha(x, y));
        }
    }
    return picture;
}

} // namespace bvtest
