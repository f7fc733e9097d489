// Making for the eye: a frame's palette chosen in a perceptual colour space (Oklab), with
// every pixel weighted by how visible an error in it would be, and the settings that a
// quality from 1 to 100 stands for.
#pragma once

#include "platform/DibTypes.h"

#include <cstdint>
#include <vector>

// What a quality (1..100) asks of a frame: how many colours its palette holds, how
// strongly colour errors are spread to the neighbours (0 = nearest colour), how much less
// where the picture is busy (the share falls as 1 / (1 + (busy x activity)^2)), and how
// far (in Oklab units) a pixel's colour may stray from the nearest entry so that the
// coder can continue a string it already knows.
struct QualityParams {
    uint32_t colours = 256;
    float dither = 1.0f;
    float busy = 0.0f;
    float lossy = 0.0f;
};
QualityParams QualityParamsFor(uint32_t quality);

struct OkLab {
    float l, a, b;
};
OkLab ToOkLab(uint8_t red, uint8_t green, uint8_t blue);
// Rounded and clamped to 0..255.
void FromOkLab(const OkLab& lab, uint8_t& red, uint8_t& green, uint8_t& blue);
inline float Distance2(const OkLab& x, const OkLab& y)
{
    const float dl = x.l - y.l, da = x.a - y.a, db = x.b - y.b;
    return dl * dl + da * da + db * db;
}

// The entry nearest to a colour (ties to the lowest index), searching outward from its
// lightness among the entries sorted by lightness, and stopping where lightness alone is
// farther than the best found.
class OkLabSearch {
public:
    explicit OkLabSearch(std::vector<OkLab> entries);
    uint32_t Nearest(const OkLab& colour) const;
    const OkLab& Entry(uint32_t index) const { return centres[index]; }

private:
    std::vector<uint32_t> order;
    std::vector<float> lightness;
    std::vector<OkLab> centres;
};

// A 24-bit picture, rows top to bottom, red, green, blue bytes; with, for each pixel, the
// local activity: how much the brightness around it varies (0 on flat areas, tens of
// levels on fine detail and edges), which hides errors there.
struct QualityPicture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::vector<float> activity;
};
// Fills activity from rgb.
void MeasureActivity(QualityPicture& picture);

// At most `colours` entries for the picture: its own colours when it has no more (marked
// in rgbReserved); else boxes of colours (cells 4 levels wide) split where the weighted
// error falls most, then refined by weighted k-means, and a colour that covers a large
// flat area (1% of the picture) kept exactly (also marked).
std::vector<RGBQUAD> ChooseQualityPalette(const QualityPicture& picture, uint32_t colours);
