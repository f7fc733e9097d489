// Decodes arbitrary bytes as a GIF: the first frame, and the last one when there are more,
// so that the composition of later frames is reached too.
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageGIF first;
    first.Decode(&stream);
    const int32_t frames = first.GetNumFrames();
    if (frames > 1) {
        CxMemStream again(data, size);
        CxImageGIF last;
        last.SetFrame(frames - 1);
        last.Decode(&again);
    }
    return 0;
}
