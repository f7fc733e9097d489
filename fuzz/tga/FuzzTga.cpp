// Feeds arbitrary bytes to the TGA reader.
#include "image/core/CxStream.h"
#include "image/formats/tga/CxImageTGA.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageTGA image;
    image.Decode(&stream);
    return 0;
}
