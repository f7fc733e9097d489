// Making for the eye: a composed canvas mapped to its quality palette with error diffusion
// that smooths gradients but spares edges, detail and colours the palette holds exactly,
// and, at lower qualities, pixels nudged to colours close enough that the GIF coder can
// continue a string it already knows (lossy LZW).
#pragma once

#include "QualityPalette.h"

#include <memory>
#include <vector>

class CxImage;
class PhotoList;

// The indices (rows top to bottom) of picture mapped to palette: error diffusion scaled
// by params.dither and lessened where the picture is busy, rows in alternating directions
// unless params.lossy asks for coding strings to be continued, which needs the order of
// the coder (every row left to right).
std::vector<uint8_t> MapToQualityPalette(const QualityPicture& picture,
    const std::vector<RGBQUAD>& palette, const QualityParams& params);

// The frame (an 8-bit copy with the same size, delay and options) remade from its 24-bit
// canvas at the given quality (1..100). Null when the two don't match.
std::unique_ptr<CxImage> MakeQualityFrame(
    const CxImage& canvas, const CxImage& frame, uint32_t quality);

// Every frame with a canvas in the list remade at the quality, several at once: frames[i]
// then points at the new frame, which made keeps.
void MakeQualityFrames(const PhotoList& list, uint32_t quality, std::vector<CxImage*>& frames,
    std::vector<std::unique_ptr<CxImage>>& made);
