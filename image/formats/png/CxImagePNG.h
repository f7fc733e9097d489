// CxImagePNG: reads PNG files through libpng. Palette and grey files up to 8 bits keep
// their indices (2-bit samples widened to 4 bits), everything else becomes 24-bit
// blue-green-red; 8-bit RGBA (and 16-bit grey with alpha) keeps an alpha channel, other
// transparency is composed onto the file's background colour or grey 192. The embedded
// colour profile (iCCP) and the Exif orientation (eXIf) are recorded, never applied.
#pragma once

#include "image/core/CxImage.h"

struct PngSession;

class CxImagePNG : public CxImage {
public:
    CxImagePNG();
    bool Decode(CxStream* stream);

private:
    bool ReadHeaderGuarded(PngSession& session);
    void ReadHeader(PngSession& session);
    void RecordProfileAndOrientation(PngSession& session);
    bool ReadRowsGuarded(PngSession& session);
    void ReadRows(PngSession& session);
};
