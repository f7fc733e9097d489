// Feeds arbitrary bytes to the BMP reader.
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxImageBMP.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageBMP image;
    image.Decode(&stream);
    return 0;
}
