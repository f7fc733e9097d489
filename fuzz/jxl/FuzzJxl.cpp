// Any bytes through the JPEG XL reader.
#include "image/core/CxStream.h"
#include "image/formats/jxl/CxImageJXL.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageJXL image;
    if (image.Decode(&stream) && image.IsValid()) {
        image.GetPixelColor(0, 0);
        image.GetPixelColor(image.GetWidth() - 1, image.GetHeight() - 1);
    }
    return 0;
}
