// The JPEG 2000 reader over arbitrary bytes: its first frame, and its second when the
// picture has more than one (components of different sizes come as grey frames).
#include "image/core/CxStream.h"
#include "image/formats/j2k/CxImageJ2K.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImageJ2K first;
    first.Decode(&stream);
    if (first.GetNumFrames() > 1) {
        CxMemStream again(data, size);
        CxImageJ2K second;
        second.SetFrame(1);
        second.Decode(&again);
    }
    return 0;
}
