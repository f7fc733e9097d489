// Feeds arbitrary bytes to every reader in turn, as a file of unknown format is read;
// frame 1 reaches the second entry of icons and animations.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream stream(data, size);
    CxImage image;
    image.SetFrame(size > 0 && (data[size - 1] & 1) ? 1 : 0);
    image.Decode(&stream, CXIMAGE_FORMAT_UNKNOWN);
    return 0;
}
