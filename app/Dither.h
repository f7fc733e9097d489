// Error diffusion: a composed canvas mapped to its frame's palette with serpentine
// Floyd-Steinberg dithering instead of the nearest colour, so that gradients keep their
// shades on average rather than breaking into bands.
#pragma once

#include <memory>

class CxImage;

// The frame (8 bits, its palette unchanged) with every pixel of the 24-bit canvas of the
// same size mapped by error diffusion: rows top to bottom, each in the opposite direction
// of the one before, the error passed on 7/16 ahead, 3/16, 5/16 and 1/16 to the row
// below. Each colour asked for takes the entry nearest to the centre of its cell of the
// colour cube (cells 8 levels wide); the difference travels on with the rest of the
// error. Null when the two don't match.
std::unique_ptr<CxImage> DitherToPalette(const CxImage& canvas, const CxImage& frame);
