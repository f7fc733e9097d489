// The JPEG 2000 family reader: JP2 files, JPC codestreams, PGX, PNM (PBM, PGM, PPM) and
// Sun raster files, told apart by their content.
#pragma once

#include "image/core/CxImage.h"

class CxImageJAS : public CxImage {
public:
    CxImageJAS();

    // `type` is the format id the caller expects (13 to 17), or 0 to accept any of them;
    // the content decides how the stream is read.
    bool Decode(CxStream* stream, uint32_t type);
};
