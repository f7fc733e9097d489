// The JPEG 2000 family reader. The whole stream is read, its content picks the format:
// JP2 and JPC go to OpenJPEG, PGX, PNM and Sun raster to the parsers beside this file.
// A colour picture becomes a 24-bit image; otherwise every component is a grey frame.
#include "CxImageJAS.h"

#include "CxRasterFormats.h"
#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"
#include "image/formats/j2k/CxOpenJpeg.h"
#include "image/formats/j2k/CxSamplePlanes.h"

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t MAX_COMPONENTS = 64;

} // namespace

CxImageJAS::CxImageJAS() { Startup(CXIMAGE_FORMAT_UNKNOWN); }

bool CxImageJAS::Decode(CxStream* stream, uint32_t type)
{
    return RunReader(*this, "error: cannot allocate memory", [&] {
        if (!stream)
            ThrowReadError("error: cannot open standard input");
        const int32_t start = stream->Tell();
        const int32_t end = stream->Size();
        if (start < 0 || end < start)
            ThrowReadError("error: cannot open standard input");
        if (uint64_t(end - start) > CXIMAGE_MAX_MEMORY)
            ThrowReadError("error: cannot allocate memory");
        std::vector<uint8_t> bytes(size_t(end - start));
        bytes.resize(stream->Read(bytes.data(), 1, uint32_t(bytes.size())));

        // The samples live in `planes`, or in `picture` for the JPEG 2000 formats.
        CxOpenJpegPicture picture;
        std::vector<CxSamplePlane> ownPlanes;
        CxDecodeDetail detail;
        uint32_t detected = CXIMAGE_FORMAT_UNKNOWN;
        bool read = false;
        const uint8_t* data = bytes.data();
        const size_t size = bytes.size();
        if (IsJp2Signature(data, size) || IsCodestreamSignature(data, size)) {
            detected = IsJp2Signature(data, size) ? CXIMAGE_FORMAT_JP2 : CXIMAGE_FORMAT_JPC;
            CxMemStream memory(data, size);
            read = picture.Decode(&memory, detail);
        } else if (IsPgxSignature(data, size)) {
            detected = CXIMAGE_FORMAT_PGX;
            read = ReadPgx(data, size, ownPlanes, detail);
        } else if (IsPnmSignature(data, size)) {
            detected = CXIMAGE_FORMAT_PNM;
            read = ReadPnm(data, size, ownPlanes, detail);
        } else if (IsSunRasterSignature(data, size)) {
            detected = CXIMAGE_FORMAT_RAS;
            read = ReadSunRaster(data, size, ownPlanes, detail);
        }
        if (!read) {
            if (detail.overMemoryLimit)
                ThrowReadError("error: cannot allocate memory");
            ThrowReadError(detail.text.empty()
                    ? "error: cannot load image data"
                    : "error: cannot load image data (" + detail.text + ")");
        }
        const std::vector<CxSamplePlane>& planes
            = detected == CXIMAGE_FORMAT_JP2 || detected == CXIMAGE_FORMAT_JPC ? picture.planes
                                                                               : ownPlanes;
        if (planes.size() > MAX_COMPONENTS)
            ThrowReadError("error: too much components");
        // Probing asks for any format of the family: the content names it.
        const uint32_t imageType = type == CXIMAGE_FORMAT_UNKNOWN ? detected : type;

        if (IsColourPicture(planes)) {
            if (!PlanesToColourImage(*this, planes, imageType))
                ThrowReadError("Can't allocate memory");
            return true;
        }
        info.numFrames = int32_t(planes.size());
        if (info.frame < 0 || info.frame >= info.numFrames)
            ThrowReadError("wrong frame!");
        if (!PlaneToGreyImage(*this, planes[size_t(info.frame)], imageType, true))
            ThrowReadError("Can't allocate memory");
        return true;
    });
}
