// Windows icon and cursor reader: one image of the file, chosen by the frame field.
#pragma once

#include "image/core/CxImage.h"

class CxImageICO : public CxImage {
public:
    CxImageICO()
        : CxImage(CXIMAGE_FORMAT_ICO)
    {
    }

    // Decodes entry `frame` (0 = first) and stores the directory's entry count in
    // numFrames.
    bool Decode(CxStream* stream);
};
