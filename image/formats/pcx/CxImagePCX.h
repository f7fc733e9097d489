// ZSoft PCX reader: run-length encoded images of 1 to 4 planes.
#pragma once

#include "image/core/CxImage.h"

class CxImagePCX : public CxImage {
public:
    CxImagePCX()
        : CxImage(CXIMAGE_FORMAT_PCX)
    {
    }

    bool Decode(CxStream* stream);

protected:
    // The decoded rows into the created image.
    void StoreRows(const uint8_t* data, uint32_t planes, uint32_t bits, uint32_t bytesPerLine);
    // Merges 1-bit planes into one index per pixel (plane i gives bit i); writes
    // bytesPerLine * 8 bytes.
    void MergePlanes(uint8_t* pixels, const uint8_t* planeData, uint32_t bytesPerLine,
        uint32_t planes, uint32_t bitsPerPixel);
    // Splits packed single-plane bytes into one index per pixel; writes
    // bytesPerLine * (8 / bitsPerPixel) bytes.
    void SplitPackedPixels(uint8_t* pixels, const uint8_t* data, uint32_t bytesPerLine,
        uint32_t planes, uint32_t bitsPerPixel);
};
