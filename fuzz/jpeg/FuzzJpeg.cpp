// Any bytes through the JPEG reader (and so through the Exif walk in front of it), then
// again with the rows streamed to a sink at a reduced scale, as fast decoding reads: the
// last byte picks the scale and whether a progressive file stops after its DC scans.
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "image/formats/jpeg/CxImageJPG.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Every row inside the picture and handed over at most once; the ends of each are read so
// that a short row shows.
class CheckingSink : public CxRowSink {
public:
    Take Header(const CxPictureHeader& header) override
    {
        width = header.width;
        seen.assign(header.height, false);
        return Take::Rows;
    }
    void Row(uint32_t storedRow, const uint8_t* pixels) override
    {
        if (storedRow >= seen.size() || seen[storedRow] || width == 0)
            __builtin_trap();
        seen[storedRow] = true;
        const volatile uint8_t first = pixels[0];
        const volatile uint8_t last = pixels[size_t(width) * 3 - 1];
        (void)first;
        (void)last;
    }
    uint32_t width = 0;
    std::vector<bool> seen;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        CxMemStream stream(data, size);
        CxImageJPG image;
        if (image.Decode(&stream) && image.IsValid()) {
            // Touch the corners so a short buffer shows.
            image.GetPixelColor(0, 0);
            image.GetPixelColor(image.GetWidth() - 1, image.GetHeight() - 1);
        }
    }
    if (size > 0) {
        constexpr uint8_t SCALES[] = { 8, 4, 3, 2 };
        const uint8_t choice = data[size - 1];
        CxMemStream stream(data, size);
        CheckingSink sink;
        CxImageJPG image;
        image.SetJpegReduction(SCALES[choice & 3]);
        image.SetFormatOption((choice & 4) ? CXIMAGE_JPEG_DC_SCANS_ONLY : 0, CXIMAGE_FORMAT_JPG);
        image.SetRowSink(&sink);
        // A decode that succeeds has handed over every row.
        if (image.Decode(&stream)
            && std::find(sink.seen.begin(), sink.seen.end(), false) != sink.seen.end())
            __builtin_trap();
    }
    return 0;
}
