// TIFF reader: one page (directory) of a TIFF stream, decoded by libtiff.
#pragma once

#include "image/core/CxImage.h"

struct tiff;

class CxImageTIF : public CxImage {
public:
    CxImageTIF();
    ~CxImageTIF() override;
    CxImageTIF(const CxImageTIF&) = delete;
    CxImageTIF& operator=(const CxImageTIF&) = delete;

    bool Decode(CxStream* stream);

private:
    // False when the escape callback asked for the size only: the header's width and
    // height are stored and nothing else is read.
    bool DecodePage(CxStream* stream, struct TiffLog& log);
    void DecodeRgba(uint32_t width, uint32_t height, uint16_t samplesPerPixel, uint16_t orientation,
        TiffLog& log);
    void DecodeFloatRgb(uint32_t width, uint32_t height, uint16_t samplesPerPixel, TiffLog& log);
    void DecodePalettePath(uint32_t width, uint32_t height, uint16_t samplesPerPixel,
        uint16_t bitsPerSample, uint16_t photometric, uint32_t rowsPerStrip, TiffLog& log);
    void ApplyOrientation(uint16_t orientation);
    void CloseTiff();

    struct tiff* tiffHandle;
};
