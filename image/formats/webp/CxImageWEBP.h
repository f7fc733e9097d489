// CxImageWEBP: reads WebP files through libwebp. Lossy and lossless pictures become 24-bit
// blue-green-red, with an alpha plane when the file has alpha; an animation gives the frame
// asked for (the first by default) as it shows on the canvas. The embedded colour profile
// and the EXIF orientation are recorded, not applied.
#pragma once

#include "image/core/CxImage.h"

#include <vector>

class CxImageWEBP : public CxImage {
public:
    CxImageWEBP();
    bool Decode(CxStream* stream);

private:
    void DecodeStill(const std::vector<uint8_t>& bytes, bool hasAlpha);
    void DecodeAnimationFrame(const std::vector<uint8_t>& bytes);
    void RecordMetadata(const std::vector<uint8_t>& bytes);
};
