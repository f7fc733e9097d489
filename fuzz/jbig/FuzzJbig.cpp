// The JBIG reader over arbitrary bytes.
#include "image/core/CxStream.h"
#include "image/formats/jbig/CxImageJBG.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageJBG image;
    image.Decode(&stream);
    return 0;
}
