// Feeds arbitrary bytes to the PCX reader.
#include "image/core/CxStream.h"
#include "image/formats/pcx/CxImagePCX.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImagePCX image;
    image.Decode(&stream);
    return 0;
}
