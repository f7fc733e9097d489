// An ICC profile for a colour space that a HEIF or AVIF file describes by code points (an
// nclx colour box: primaries, transfer characteristics) instead of embedding one, so that
// such a picture is converted like one that carries its profile.
#pragma once

#include <cstdint>
#include <vector>

// The chromaticities (x, y) of the red, green and blue primaries and of the white point.
struct NclxChromaticities {
    double red[2], green[2], blue[2], white[2];
};

// A version 4 display profile (RGB to the XYZ connection space through a matrix and one
// parametric curve for all three channels). Empty when the primaries are those of sRGB
// and the transfer is sRGB's or one that is shown as sRGB (BT.709, BT.601, BT.2020), and
// when a matrix and curves can't describe the transfer (PQ, HLG and other code points).
std::vector<uint8_t> ProfileForNclx(const NclxChromaticities& primaries, uint16_t transfer);
