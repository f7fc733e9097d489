// CxImageJXL: reads JPEG XL files (bare codestreams and containers) through libjxl. The
// first frame (or the one asked for) becomes 24-bit blue-green-red, with an alpha plane
// when the file has alpha, upright as its orientation says. The pixels come in the file's
// own colour space (for a lossy file coded in the decoder's internal space, its original
// space when the file describes it by code points, sRGB when only an ICC profile does);
// the profile of those pixels is recorded, not applied.
#pragma once

#include "image/core/CxImage.h"

#include <cstddef>
#include <cstdint>

// Whether these bytes start like a JPEG XL codestream or container.
bool IsJxlSignature(const uint8_t* bytes, size_t size);

class CxImageJXL : public CxImage {
public:
    CxImageJXL();
    bool Decode(CxStream* stream);

    // Used by the decoder's row callback.
    void StoreSpan(size_t x, size_t y, size_t count, const uint8_t* samples);

private:
    uint32_t channels = 3;
};
