// Feeds arbitrary bytes to the ICO reader.
#include "image/core/CxStream.h"
#include "image/formats/ico/CxImageICO.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageICO image;
    image.Decode(&stream);
    return 0;
}
