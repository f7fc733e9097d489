// Wireless bitmap reader (type 0: uncompressed black and white).
#pragma once

#include "image/core/CxImage.h"

class CxImageWBMP : public CxImage {
public:
    CxImageWBMP()
        : CxImage(CXIMAGE_FORMAT_WBMP)
    {
    }

    bool Decode(CxStream* stream);
};
