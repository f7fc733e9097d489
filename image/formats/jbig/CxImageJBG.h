// JBIG reader: bi-level JBIG (ITU-T T.82) files, decoded by JBIG-KIT.
#pragma once

#include "image/core/CxImage.h"

class CxImageJBG : public CxImage {
public:
    CxImageJBG();

    bool Decode(CxStream* stream);
};
