// TIFF reader: one page (directory) of a TIFF stream, decoded by libtiff.
#pragma once

#include "image/core/CxImage.h"

#include <vector>

struct tiff;
struct TiffLog;
struct TiffPage;

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
    bool DecodePage(CxStream* stream, TiffLog& log);
    void OpenPage(CxStream* stream, TiffLog& log);
    void ReadPlacement();
    void DecodeRgba(const TiffPage& page, TiffLog& log);
    void DecodeFloatRgb(const TiffPage& page, TiffLog& log);
    void DecodePalettePath(const TiffPage& page, TiffLog& log);
    void SetPagePalette(const TiffPage& page);
    void StoreLine(
        const TiffPage& page, const uint8_t* line, uint32_t y, std::vector<uint8_t>& samples);
    void ApplyOrientation(uint16_t orientation);
    void CloseTiff();

    struct tiff* tiffHandle;
};
