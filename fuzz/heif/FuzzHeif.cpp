// Any bytes through the HEIF and AVIF reader.
#include "image/core/CxStream.h"
#include "image/formats/heif/CxImageHEIF.h"

#include <cstddef>
#include <cstdint>

// The AV1 and HEVC decoders that libheif drives leave a few bytes behind on some broken
// streams (libdav1d keeps a 40-byte block): leaks of theirs, not of the reader.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdav1d.so\nleak:libde265.so\nleak:libaom.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageHEIF image;
    if (image.Decode(&stream) && image.IsValid()) {
        image.GetPixelColor(0, 0);
        image.GetPixelColor(image.GetWidth() - 1, image.GetHeight() - 1);
    }
    return 0;
}
