// Any bytes through the Exif marker walk; the same bytes also as an APP1 payload, so the
// directory walk is reached without a marker stream around it, and as a bare block (PNG's
// eXIf) for its orientation.
#include "image/core/CxStream.h"
#include "image/formats/exif/CxExifReader.h"
#include "image/formats/exif/ExifOrientation.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        CxMemStream stream(data, size);
        ExifRecord record {};
        CxExifReader reader(&record);
        reader.ReadExifFromStream(&stream);
    }
    if (size <= 65533) {
        std::vector<uint8_t> payload(data, data + size);
        ExifRecord record {};
        CxExifReader reader(&record);
        reader.ParseExifBlock(payload.data(), uint32_t(size + 2));
    }
    ExifOrientationOf(data, size);
    return 0;
}
