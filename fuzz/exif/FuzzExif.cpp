// Any bytes through the Exif marker walk; the same bytes also as an APP1 payload, so the
// directory walk is reached without a marker stream around it.
#include "image/core/CxStream.h"
#include "image/formats/exif/CxExifReader.h"

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
    return 0;
}
