// The TIFF reader over arbitrary bytes, every page that the bytes declare (up to four).
#include "image/core/CxStream.h"
#include "image/formats/tiff/CxImageTIF.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t pages = 1;
    for (int32_t page = 0; page < pages && page < 4; page++) {
        CxMemStream stream(data, size);
        CxImageTIF image;
        image.SetFrame(page);
        image.Decode(&stream);
        pages = image.GetNumFrames();
    }
    return 0;
}
