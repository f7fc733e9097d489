#include "MetafileLayout.h"

#include <algorithm>

namespace metafile {

namespace {

    constexpr uint16_t META_EOF = 0x0000;
    constexpr uint16_t META_SETWINDOWEXT = 0x020C;
    constexpr uint16_t META_SETVIEWPORTEXT = 0x020E;
    constexpr uint16_t META_SETMAPMODE = 0x0103;
    constexpr size_t WMF_RECORD_HEAD = 6;

    // Offsets in the enhanced-metafile header.
    constexpr size_t EMH_BOUNDS = 8;
    constexpr size_t EMH_FRAME = 24;
    constexpr size_t EMH_SIGNATURE = 40;
    constexpr size_t EMH_BYTES = 48;
    constexpr size_t EMH_RECORDS = 52;
    constexpr size_t EMH_HANDLES = 56;
    constexpr size_t EMH_PALETTE_ENTRIES = 68;
    constexpr size_t EMH_DEVICE = 72;
    constexpr size_t EMH_MILLIMETRES = 80;

    RECT ReadRect(const uint8_t* p)
    {
        return RECT { ReadS32(p), ReadS32(p + 4), ReadS32(p + 8), ReadS32(p + 12) };
    }

} // namespace

bool CheckWindowsMetafile(const uint8_t* data, size_t size, WindowsMetafileLayout* layout)
{
    if (!data || size < WMF_HEADER_BYTES)
        return false;
    const size_t headerBytes = size_t(ReadLe16(data + 2)) * 2;
    if (headerBytes < WMF_HEADER_BYTES || headerBytes > size)
        return false;
    WindowsMetafileLayout found;
    bool mapModeSeen = false;
    size_t offset = headerBytes;
    while (offset < size) {
        if (size - offset < WMF_RECORD_HEAD)
            return false;
        const uint64_t recordBytes = uint64_t(ReadLe32(data + offset)) * 2;
        const uint16_t function = ReadLe16(data + offset + 4);
        if (recordBytes < WMF_RECORD_HEAD || recordBytes > size - offset)
            return false;
        found.recordCount++;
        found.largestRecordWords = std::max(found.largestRecordWords, uint32_t(recordBytes / 2));
        if (function == META_EOF)
            break;
        // Parameters are stored last first: y, then x.
        if (function == META_SETWINDOWEXT && !found.hasWindowExtent && recordBytes >= 10) {
            found.windowExtentY = ReadS16(data + offset + 6);
            found.windowExtentX = ReadS16(data + offset + 8);
            found.hasWindowExtent = true;
        }
        if (function == META_SETVIEWPORTEXT && !found.hasViewportExtent && recordBytes >= 10) {
            found.viewportExtentY = ReadS16(data + offset + 6);
            found.viewportExtentX = ReadS16(data + offset + 8);
            found.hasViewportExtent = true;
        }
        if (function == META_SETMAPMODE && recordBytes >= 8 && !mapModeSeen) {
            found.mapMode = ReadLe16(data + offset + 6);
            mapModeSeen = true;
        }
        offset += size_t(recordBytes);
    }
    if (layout)
        *layout = found;
    return true;
}

bool CheckEnhancedMetafile(const uint8_t* data, size_t size, EnhancedHeader* header)
{
    if (!data || size < EMF_HEADER_MIN_BYTES)
        return false;
    const uint32_t headerBytes = ReadLe32(data + 4);
    if (ReadLe32(data) != EMR_HEADER || ReadLe32(data + EMH_SIGNATURE) != ENHMETA_SIGNATURE
        || headerBytes < EMF_HEADER_MIN_BYTES || headerBytes % 4 != 0)
        return false;
    EnhancedHeader found {};
    found.bounds = ReadRect(data + EMH_BOUNDS);
    found.frame = ReadRect(data + EMH_FRAME);
    found.bytes = ReadLe32(data + EMH_BYTES);
    found.records = ReadLe32(data + EMH_RECORDS);
    found.handles = ReadLe16(data + EMH_HANDLES);
    found.paletteEntries = ReadLe32(data + EMH_PALETTE_ENTRIES);
    found.deviceWidth = ReadS32(data + EMH_DEVICE);
    found.deviceHeight = ReadS32(data + EMH_DEVICE + 4);
    found.millimetresWidth = ReadS32(data + EMH_MILLIMETRES);
    found.millimetresHeight = ReadS32(data + EMH_MILLIMETRES + 4);
    if (found.bytes > size || found.bytes < headerBytes)
        return false;

    size_t offset = headerBytes;
    while (offset < found.bytes) {
        if (found.bytes - offset < 8)
            return false;
        const uint32_t type = ReadLe32(data + offset);
        const uint32_t recordBytes = ReadLe32(data + offset + 4);
        if (recordBytes < 8 || recordBytes % 4 != 0 || recordBytes > found.bytes - offset)
            return false;
        if (type == EMR_EOF)
            break;
        offset += recordBytes;
    }
    if (header)
        *header = found;
    return true;
}

std::vector<RGBQUAD> EnhancedPalette(const uint8_t* data, const EnhancedHeader& header)
{
    std::vector<RGBQUAD> entries;
    if (header.paletteEntries == 0 || header.bytes < 20)
        return entries;
    // The end record closes the picture: type, size, entry count, entry offset, entries.
    const uint32_t lastSize = ReadLe32(data + header.bytes - 4);
    if (lastSize < 20 || lastSize > header.bytes)
        return entries;
    const uint8_t* record = data + header.bytes - lastSize;
    if (ReadLe32(record) != EMR_EOF || ReadLe32(record + 4) != lastSize)
        return entries;
    const uint32_t count = ReadLe32(record + 8);
    const uint32_t first = ReadLe32(record + 12);
    if (count == 0 || first > lastSize || (uint64_t(lastSize) - first) / 4 < count)
        return entries;
    entries.reserve(count);
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* entry = record + first + size_t(i) * 4;
        entries.push_back(RGBQUAD { entry[2], entry[1], entry[0], 0 });
    }
    return entries;
}

} // namespace metafile
