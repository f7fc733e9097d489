// The JPEG 2000 reader over arbitrary bytes, its first and second frame.
#include "image/core/CxStream.h"
#include "image/formats/j2k/CxImageJ2K.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (int32_t frame = 0; frame < 2; frame++) {
        CxMemStream stream(data, size);
        CxImageJ2K image;
        image.SetFrame(frame);
        if (!image.Decode(&stream) && image.GetNumFrames() <= 1)
            break;
    }
    return 0;
}
