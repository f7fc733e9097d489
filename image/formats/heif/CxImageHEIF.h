// CxImageHEIF: reads HEIF (HEVC-coded, the photos of phones) and AVIF (AV1-coded) files
// through libheif. The primary image becomes 24-bit blue-green-red, with an alpha plane
// when it has alpha; libheif applies the file's crop, rotation and mirroring itself, and
// deeper samples are reduced to 8 bits. The colour profile (embedded, or made for the code
// points that name the colour space) is recorded, not applied.
#pragma once

#include "image/core/CxImage.h"

#include <cstddef>
#include <cstdint>

struct heif_image_handle;

// The format (CXIMAGE_FORMAT_HEIF or _AVIF) that the file type box at the start of these
// bytes names, CXIMAGE_FORMAT_UNKNOWN when they start with none of those brands.
uint32_t HeifSignatureFormat(const uint8_t* bytes, size_t size);

class CxImageHEIF : public CxImage {
public:
    explicit CxImageHEIF(uint32_t imageType = CXIMAGE_FORMAT_HEIF);
    bool Decode(CxStream* stream);

private:
    // Decodes the primary image to 8-bit interleaved samples, turned as the file says, and
    // copies them into the picture with their colour profile.
    void DecodePrimary(heif_image_handle* handle, bool hasAlpha, uint32_t format, size_t fileSize);
};
