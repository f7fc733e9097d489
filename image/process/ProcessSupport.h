// Small helpers shared by the whole-image operations.
#pragma once

#include "image/core/CxImage.h"

#include <cstring>

namespace bvprocess {

// A temporary made by CopyInfo and Create gets the default resolution in its header; the
// finished image keeps the resolution of the one it replaces.
inline void KeepResolution(CxImage& result, const CxImage& source)
{
    result.SetXDPI(source.GetXDPI());
    result.SetYDPI(source.GetYDPI());
    if (result.GetDIB())
        std::memcpy(result.GetDIB(), &result.GetHeader(), sizeof(BITMAPINFOHEADER));
}

// The temporary's failure text becomes the image's own, so the caller learns why.
inline void CarryError(CxImage& image, const CxImage& temporary)
{
    if (temporary.GetLastError()[0])
        image.SetLastError(temporary.GetLastError());
}

} // namespace bvprocess
