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

// The indices (rows top to bottom) of picture mapped to palette: Floyd-Steinberg error
// diffusion scaled by params.dither and lessened where the picture is busy, rows in
// alternating directions unless params.lossy asks for coding strings to be continued,
// which needs the order of the coder (every row left to right). With wanted, the colours
// each entry stood for (the pixel's own plus the error it was owed) are summed per entry.
struct WantedSum {
    double r = 0, g = 0, b = 0;
    uint64_t count = 0;
};
std::vector<uint8_t> MapToQualityPalette(const QualityPicture& picture,
    const std::vector<RGBQUAD>& palette, const QualityParams& params,
    std::vector<WantedSum>* wanted = nullptr);

// Moves every entry half way toward the mean of the colours it stands for once the
// errors are spread (a few levels at most each time; four rounds, two under light
// diffusion, on the picture at half size): the palette then reaches as far out as the
// picture's colours, and dithered areas keep their average colour. Entries marked in
// rgbReserved (colours kept exactly) stay; the marks are cleared.
void RefineForDithering(
    const QualityPicture& picture, std::vector<RGBQUAD>& palette, const QualityParams& params);

// The frame (an 8-bit copy with the same size, delay and options) remade from its 24-bit
// canvas at the given quality (1..100). Null when the two don't match.
std::unique_ptr<CxImage> MakeQualityFrame(
    const CxImage& canvas, const CxImage& frame, uint32_t quality);

// Every frame with a canvas in the list remade at the quality, on up to `threads` threads
// (0 = one per core): frames[i] then points at the new frame, which made keeps. False, and
// the frames as they were, when memory ran short for one.
bool MakeQualityFrames(const PhotoList& list, uint32_t quality, unsigned threads,
    std::vector<CxImage*>& frames, std::vector<std::unique_ptr<CxImage>>& made);
