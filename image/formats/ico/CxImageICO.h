// Windows icon and cursor reader: one image of the file, chosen by the frame field.
#pragma once

#include "image/core/CxImage.h"

struct IconDirectoryEntry;
class IconMask;

class CxImageICO : public CxImage {
public:
    CxImageICO()
        : CxImage(CXIMAGE_FORMAT_ICO)
    {
    }

    // Decodes entry `frame` (0 = first) and stores the directory's entry count in
    // numFrames.
    bool Decode(CxStream* stream);

private:
    // The directory entry of the image asked for; sets numFrames.
    IconDirectoryEntry ReadDirectoryEntry(CxStream* stream);
    void DecodePngEntry(CxStream* stream);
    void ReadColourBitmap(
        CxStream* stream, const BITMAPINFOHEADER& bih, uint32_t width, uint32_t height);
    void ApplyMask(const IconMask& mask, uint32_t fileBpp);
    bool MaskedPixelsShareOneColour(const IconMask& mask, RGBQUAD& color) const;
    int32_t LowestUnusedIndex() const;
};
