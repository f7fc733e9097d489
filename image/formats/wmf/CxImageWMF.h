// CxImageWMF: placeable Windows metafiles and enhanced metafiles, rendered into a raster
// of the picture's own size (at the screen's resolution) over the window colour.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>

class CxImageWMF : public CxImage {
public:
    CxImageWMF()
        : CxImage(CXIMAGE_FORMAT_WMF)
    {
    }

    // A non-zero maxWidth or maxHeight replaces that side of the picture's own size.
    bool Decode(CxStream* stream, int32_t maxWidth = 0, int32_t maxHeight = 0);
};
