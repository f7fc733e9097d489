// Windows and OS/2 bitmap reader (also bare device-independent bitmaps without the
// 14-byte file header).
#pragma once

#include "image/core/CxImage.h"

class CxImageBMP : public CxImage {
public:
    CxImageBMP()
        : CxImage(CXIMAGE_FORMAT_BMP)
    {
    }

    bool Decode(CxStream* stream);

protected:
    // Reads and normalises the info header; the stream is left at the end of the header.
    bool ReadInfoHeader(CxStream* stream, BITMAPINFOHEADER* header);

    void ReadPalette(CxStream* stream, const BITMAPINFOHEADER& bmp);
    // The pixels by the file's bit count, from dataOffset (-1: where the stream stands).
    void ReadPixels(CxStream* stream, const BITMAPINFOHEADER& bmp, int64_t dataOffset);
    void ReadTwoBitRows(CxStream* stream);
    void ReadSixteenBitRows(CxStream* stream, const BITMAPINFOHEADER& bmp, int64_t dataOffset);
    void ReadThirtyTwoBitRows(CxStream* stream);

    // Bit-field masks found inside a header longer than 40 bytes (52, 56, 108, 124).
    uint32_t headerMasks[3] = { 0, 0, 0 };
    bool hasHeaderMasks = false;
};
