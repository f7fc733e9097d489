// The JPEG 2000 family reader over arbitrary bytes (the content picks JP2, JPC, PGX, PNM or
// Sun raster), as the last attempt of probing does it.
#include "image/core/CxStream.h"
#include "image/formats/jas/CxImageJAS.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageJAS image;
    image.Decode(&stream, CXIMAGE_FORMAT_UNKNOWN);
    return 0;
}
