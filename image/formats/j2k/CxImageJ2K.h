// JPEG 2000 reader for codestreams (and JP2 files given the same extension), decoded by
// OpenJPEG.
#pragma once

#include "image/core/CxImage.h"

class CxImageJ2K : public CxImage {
public:
    CxImageJ2K();

    bool Decode(CxStream* stream);
};
