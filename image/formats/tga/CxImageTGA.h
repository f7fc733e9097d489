// Truevision TGA reader: colour-mapped, true-colour and grey images, plain or
// run-length encoded.
#pragma once

#include "image/core/CxImage.h"

struct TgaHeader;

class CxImageTGA : public CxImage {
public:
    CxImageTGA()
        : CxImage(CXIMAGE_FORMAT_TGA)
    {
    }

    bool Decode(CxStream* stream);

protected:
    // Reads pixelCount pixels into destination (1 byte per pixel for 8 bits, 3 otherwise);
    // 32-bit alpha values go to (firstX + i, fileRow).
    void ExpandUncompressedLine(uint8_t* destination, const TgaHeader& header, CxStream* stream,
        int32_t pixelCount, int32_t fileRow, int32_t firstX);
    // Decodes one row of packets; a packet that runs past the row end comes back as the
    // leftover byte for the next row (255: none).
    uint8_t ExpandCompressedLine(uint8_t* destination, const TgaHeader& header, CxStream* stream,
        int32_t width, int32_t fileRow, uint8_t leftover);
};
