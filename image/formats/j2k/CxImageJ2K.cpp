// JPEG 2000 reader (ISO/IEC 15444-1). OpenJPEG decodes; the components become one 24-bit
// picture when they are red, green and blue of one size, otherwise one grey frame each.
#include "CxImageJ2K.h"

#include "CxOpenJpeg.h"
#include "CxSamplePlanes.h"
#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"

#include <string>

CxImageJ2K::CxImageJ2K() { Startup(CXIMAGE_FORMAT_J2K); }

bool CxImageJ2K::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    return RunReader(*this, "failed to decode J2K image! (out of memory)", [&] {
        CxOpenJpegPicture picture;
        CxDecodeDetail detail;
        if (!picture.Decode(stream, detail))
            ThrowReadError("failed to decode J2K image! (" + detail.text + ")");

        if (IsColourPicture(picture.planes)) {
            if (!PlanesToColourImage(*this, picture.planes, CXIMAGE_FORMAT_J2K))
                ThrowReadError(info.lastError);
            return true;
        }
        info.numFrames = int32_t(picture.planes.size());
        if (info.frame < 0 || info.frame >= info.numFrames)
            ThrowReadError("wrong frame!");
        if (!PlaneToGreyImage(*this, picture.planes[size_t(info.frame)], CXIMAGE_FORMAT_J2K, false))
            ThrowReadError(info.lastError);
        return true;
    });
}
