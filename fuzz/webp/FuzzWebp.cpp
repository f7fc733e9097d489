// Any bytes through the WebP reader, the second frame of an animation too.
#include "image/core/CxStream.h"
#include "image/formats/webp/CxImageWEBP.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageWEBP image;
    image.SetFrame(size > 0 ? data[size - 1] % 2 : 0);
    if (image.Decode(&stream) && image.IsValid()) {
        image.GetPixelColor(0, 0);
        image.GetPixelColor(image.GetWidth() - 1, image.GetHeight() - 1);
    }
    return 0;
}
