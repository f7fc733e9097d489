// Any bytes through the JPEG reader (and so through the Exif walk in front of it).
#include "image/core/CxStream.h"
#include "image/formats/jpeg/CxImageJPG.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageJPG image;
    if (image.Decode(&stream) && image.IsValid()) {
        // Touch the corners so a short buffer shows.
        image.GetPixelColor(0, 0);
        image.GetPixelColor(image.GetWidth() - 1, image.GetHeight() - 1);
    }
    return 0;
}
