// The record structure of 16-bit and enhanced metafiles: the checks that make a byte
// block a picture before anything plays it.
#pragma once

#include "image/core/CxByteOrder.h"
#include "platform/DibTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace metafile {

// Metafiles are little-endian throughout; signed fields read through these.
inline int32_t ReadS32(const uint8_t* p) { return int32_t(ReadLe32(p)); }
inline int16_t ReadS16(const uint8_t* p) { return int16_t(ReadLe16(p)); }

constexpr size_t WMF_HEADER_BYTES = 18;

// What the record walk of a 16-bit metafile learns.
struct WindowsMetafileLayout {
    bool hasWindowExtent = false; // the first window extent the metafile sets
    int32_t windowExtentX = 0;
    int32_t windowExtentY = 0;
    int32_t mapMode = 1; // the first mapping mode it sets (text when none)
    bool hasViewportExtent = false;
    int32_t viewportExtentX = 0;
    int32_t viewportExtentY = 0;
    uint32_t recordCount = 0;
    uint32_t largestRecordWords = 0; // of the records actually there
};

// Checks a 16-bit metafile (its 18-byte header and the records after it): every record
// has at least its 6-byte head and lies inside the data, and the walk ends at the
// end-of-file record or exactly at the end of the data.
bool CheckWindowsMetafile(const uint8_t* data, size_t size, WindowsMetafileLayout* layout);

constexpr uint32_t EMR_HEADER = 1;
constexpr uint32_t EMR_EOF = 14;
constexpr uint32_t ENHMETA_SIGNATURE = 0x464D4520; // " EMF"
constexpr size_t EMF_HEADER_MIN_BYTES = 88;

// The fields of the enhanced-metafile header that the reader and the player use.
struct EnhancedHeader {
    RECT bounds; // device units of the reference device, inclusive
    RECT frame; // hundredths of a millimetre
    uint32_t bytes;
    uint32_t records;
    uint16_t handles;
    uint32_t paletteEntries;
    int32_t deviceWidth; // reference device in pixels
    int32_t deviceHeight;
    int32_t millimetresWidth; // and in millimetres
    int32_t millimetresHeight;
};

// Reads and checks the header and walks the records: each is at least 8 bytes, a
// multiple of 4 and inside the size the header declares, which itself lies inside the
// data. Fails for anything that is not a whole enhanced metafile.
bool CheckEnhancedMetafile(const uint8_t* data, size_t size, EnhancedHeader* header);

// The palette that the end-of-file record carries (empty when it has none).
std::vector<RGBQUAD> EnhancedPalette(const uint8_t* data, const EnhancedHeader& header);

} // namespace metafile
