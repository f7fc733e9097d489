// The quantiser's BMP loading and reduction over arbitrary bytes: it must refuse what it
// can't read and never read outside the file or its rows.
#include "app/ColorQuantizer.h"
#include "image/core/CxStream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CxMemStream source(data, size);
    LoadedDib dib;
    // Keep each run short: the canvases the program makes are at most 800 x 800.
    if (LoadDib(&source, dib) && uint64_t(dib.Width()) * uint64_t(dib.Height()) <= 1u << 20) {
        // Half the inputs reduce to the program's 256 colours, the others to a palette
        // size the last byte chooses, which reduces the tree far more often.
        const uint8_t last = data[size - 1];
        const int32_t maxColors = (last & 1) ? 256 : 2 + last / 2;
        CxMemStream destination;
        ColorQuantizer(maxColors, 6).Run(dib, &destination);
    }
    return 0;
}
