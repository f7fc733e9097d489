// JPEG 2000 reader (ISO/IEC 15444-1). OpenJPEG decodes; the components become one 24-bit
// picture when they are red, green and blue of one size, otherwise one grey frame each.
#include "CxImageJ2K.h"

#include "CxOpenJpeg.h"
#include "CxSamplePlanes.h"
#include "image/core/CxStream.h"

#include <new>
#include <stdexcept>
#include <string>

namespace {

class CxJ2kError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace

CxImageJ2K::CxImageJ2K() { Startup(CXIMAGE_FORMAT_J2K); }

bool CxImageJ2K::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    try {
        CxOpenJpegPicture picture;
        std::string detail;
        if (!picture.Decode(stream, detail))
            throw CxJ2kError("failed to decode J2K image! (" + detail + ")");

        if (IsColourPicture(picture.planes)) {
            if (!PlanesToColourImage(*this, picture.planes, CXIMAGE_FORMAT_J2K))
                throw CxJ2kError(info.lastError);
            return true;
        }
        info.numFrames = int32_t(picture.planes.size());
        if (info.frame < 0 || info.frame >= info.numFrames)
            throw CxJ2kError("wrong frame!");
        if (!PlaneToGreyImage(*this, picture.planes[size_t(info.frame)], CXIMAGE_FORMAT_J2K, false))
            throw CxJ2kError(info.lastError);
        return true;
    } catch (const CxJ2kError& error) {
        CopyLastError(info.lastError, error.what());
    } catch (const std::bad_alloc&) {
        CopyLastError(info.lastError, "failed to decode J2K image! (out of memory)");
    }
    return false;
}
