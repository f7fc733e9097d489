// Feeds arbitrary bytes to the WBMP reader.
#include "image/core/CxStream.h"
#include "image/formats/wbmp/CxImageWBMP.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageWBMP image;
    image.Decode(&stream);
    return 0;
}
