// Decodes arbitrary bytes as a GIF: the first frame, and the last one when there are more,
// so that the composition of later frames is reached too. Composing frame n costs n
// screens, so the last frame is only asked for when that stays small.
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
    const uint64_t screen
        = size >= 10 ? uint64_t(data[6] | (data[7] << 8)) * (data[8] | (data[9] << 8)) : 0;
    if (frames > 1 && screen * uint64_t(frames) <= (uint64_t(1) << 26)) {
        CxMemStream again(data, size);
        CxImageGIF last;
        last.SetFrame(frames - 1);
        last.Decode(&again);
    }
    return 0;
}
