// PGX, PNM and Sun raster parsing. Every size is checked against the bytes present and
// against the memory limit before any plane is allocated.
#include "CxRasterFormats.h"

#include "image/core/CxByteOrder.h"
#include "image/core/CxImageTypes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t SUN_MAGIC = 0x59A66A95;

uint32_t BitsFor(uint32_t maxValue)
{
    uint32_t bits = 1;
    while (bits < 32 && (maxValue >> bits) != 0)
        bits++;
    return bits;
}

// Room for `count` planes of 32-bit samples within the memory limit.
bool PlanesFit(uint64_t width, uint64_t height, uint64_t count, CxDecodeDetail& detail)
{
    if (width == 0 || height == 0) {
        detail.text = "empty picture";
        return false;
    }
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF
        || width * height * 4 * count > CXIMAGE_MAX_MEMORY) {
        detail = { MEMORY_LIMIT_DETAIL, true };
        return false;
    }
    return true;
}

void MakePlanes(std::vector<CxSamplePlane>& planes, size_t count, uint32_t width, uint32_t height,
    uint32_t maxValue)
{
    planes.assign(count, CxSamplePlane());
    for (CxSamplePlane& plane : planes) {
        plane.width = width;
        plane.height = height;
        plane.maxValue = maxValue;
        plane.precision = BitsFor(maxValue);
        plane.Allocate();
    }
}

// --- PNM header tokens ---------------------------------------------------------------------

class TextCursor {
public:
    TextCursor(const uint8_t* bytes, size_t size, size_t position)
        : bytes(bytes)
        , size(size)
        , position(position)
    {
    }

    // Skips whitespace and comments (from '#' to the end of the line).
    void SkipSpace()
    {
        while (position < size) {
            if (bytes[position] == '#') {
                while (position < size && bytes[position] != '\n' && bytes[position] != '\r')
                    position++;
            } else if (IsSpace(bytes[position])) {
                position++;
            } else {
                break;
            }
        }
    }

    bool ReadNumber(uint32_t& value, uint32_t maxDigits = 10)
    {
        SkipSpace();
        uint64_t result = 0;
        uint32_t digits = 0;
        while (position < size && bytes[position] >= '0' && bytes[position] <= '9'
            && digits < maxDigits) {
            result = result * 10 + (bytes[position++] - '0');
            digits++;
            if (result > 0xFFFFFFFFu)
                return false;
        }
        value = uint32_t(result);
        return digits > 0;
    }

    static bool IsSpace(uint8_t c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    const uint8_t* bytes;
    size_t size;
    size_t position;
};

} // namespace

bool IsPgxSignature(const uint8_t* bytes, size_t size)
{
    return size >= 3 && bytes[0] == 'P' && bytes[1] == 'G' && TextCursor::IsSpace(bytes[2]);
}

bool IsPnmSignature(const uint8_t* bytes, size_t size)
{
    return size >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '6'
        && (TextCursor::IsSpace(bytes[2]) || bytes[2] == '#');
}

bool IsSunRasterSignature(const uint8_t* bytes, size_t size)
{
    return size >= 4 && ReadBe32(bytes) == SUN_MAGIC;
}

bool ReadPgx(
    const uint8_t* bytes, size_t size, std::vector<CxSamplePlane>& planes, CxDecodeDetail& detail)
{
    TextCursor cursor(bytes, size, 2);
    while (
        cursor.position < size && (bytes[cursor.position] == ' ' || bytes[cursor.position] == '\t'))
        cursor.position++;
    if (cursor.position + 2 > size) {
        detail.text = "bad PGX header";
        return false;
    }
    bool bigEndian;
    if (bytes[cursor.position] == 'M' && bytes[cursor.position + 1] == 'L')
        bigEndian = true;
    else if (bytes[cursor.position] == 'L' && bytes[cursor.position + 1] == 'M')
        bigEndian = false;
    else {
        detail.text = "bad PGX byte order";
        return false;
    }
    cursor.position += 2;
    bool isSigned = false;
    while (cursor.position < size
        && (bytes[cursor.position] == ' ' || bytes[cursor.position] == '\t'
            || bytes[cursor.position] == '+' || bytes[cursor.position] == '-')) {
        if (bytes[cursor.position] == '-')
            isSigned = true;
        cursor.position++;
    }
    uint32_t precision = 0, width = 0, height = 0;
    if (!cursor.ReadNumber(precision) || !cursor.ReadNumber(width) || !cursor.ReadNumber(height)
        || precision == 0 || precision > 31) {
        detail.text = "bad PGX header";
        return false;
    }
    // One line end closes the header.
    if (cursor.position < size && bytes[cursor.position] == '\r')
        cursor.position++;
    if (cursor.position < size && bytes[cursor.position] == '\n')
        cursor.position++;
    else if (cursor.position < size && TextCursor::IsSpace(bytes[cursor.position]))
        cursor.position++;

    if (!PlanesFit(width, height, 1, detail))
        return false;
    const uint32_t sampleBytes = precision <= 8 ? 1 : precision <= 16 ? 2 : 4;
    const uint64_t needed = uint64_t(width) * height * sampleBytes;
    if (size - cursor.position < needed) {
        detail.text = "PGX data cut short";
        return false;
    }
    MakePlanes(planes, 1, width, height, (1u << precision) - 1);
    CxSamplePlane& plane = planes[0];
    plane.precision = precision;
    plane.isSigned = isSigned;
    const uint8_t* data = bytes + cursor.position;
    const uint64_t count = uint64_t(width) * height;
    for (uint64_t i = 0; i < count; i++, data += sampleBytes) {
        uint32_t raw = 0;
        for (uint32_t b = 0; b < sampleBytes; b++)
            raw |= uint32_t(data[bigEndian ? b : sampleBytes - 1 - b])
                << (8 * (sampleBytes - 1 - b));
        int64_t value = raw;
        if (isSigned) {
            const uint32_t bits = sampleBytes * 8;
            if (raw & (1u << (bits - 1)))
                value = int64_t(raw) - (int64_t(1) << bits);
        } else {
            value = std::min<int64_t>(value, plane.maxValue);
        }
        plane.storage[i] = int32_t(value);
    }
    return true;
}

bool ReadPnm(
    const uint8_t* bytes, size_t size, std::vector<CxSamplePlane>& planes, CxDecodeDetail& detail)
{
    const char kind = char(bytes[1]);
    const bool bitmap = kind == '1' || kind == '4';
    const bool ascii = kind <= '3';
    const size_t channels = (kind == '3' || kind == '6') ? 3 : 1;
    TextCursor cursor(bytes, size, 2);
    uint32_t width = 0, height = 0, maxValue = 1;
    if (!cursor.ReadNumber(width) || !cursor.ReadNumber(height)
        || (!bitmap && !cursor.ReadNumber(maxValue)) || maxValue == 0 || maxValue > 65535) {
        detail.text = "bad PNM header";
        return false;
    }
    if (!PlanesFit(width, height, channels, detail))
        return false;

    const uint64_t count = uint64_t(width) * height;
    if (!ascii) {
        // A single whitespace character ends the header of a binary file.
        if (cursor.position >= size || !TextCursor::IsSpace(bytes[cursor.position])) {
            detail.text = "bad PNM header";
            return false;
        }
        cursor.position++;
        const uint64_t rowBytes = bitmap ? (uint64_t(width) + 7) / 8
                                         : uint64_t(width) * channels * (maxValue > 255 ? 2 : 1);
        if (size - cursor.position < rowBytes * height) {
            detail.text = "PNM data cut short";
            return false;
        }
    } else if (size - cursor.position < count * channels) {
        // Every ASCII sample takes at least one character.
        detail.text = "PNM data cut short";
        return false;
    }

    MakePlanes(planes, channels, width, height, maxValue);
    const uint8_t* data = bytes + cursor.position;
    for (uint64_t i = 0; i < count; i++) {
        const uint32_t x = uint32_t(i % width);
        const uint64_t y = i / width;
        for (size_t c = 0; c < channels; c++) {
            uint32_t value = 0;
            if (bitmap && ascii) {
                // P1 digits need no separators.
                cursor.SkipSpace();
                if (cursor.position >= size
                    || (bytes[cursor.position] != '0' && bytes[cursor.position] != '1')) {
                    detail.text = "bad PBM sample";
                    return false;
                }
                value = bytes[cursor.position++] - '0';
            } else if (ascii) {
                if (!cursor.ReadNumber(value, 5)) {
                    detail.text = "bad PNM sample";
                    return false;
                }
            } else if (bitmap) {
                const uint8_t byte = data[y * ((width + 7) / 8) + x / 8];
                value = (byte >> (7 - x % 8)) & 1;
            } else if (maxValue > 255) {
                const uint8_t* p = data + (i * channels + c) * 2;
                value = uint32_t(p[0]) << 8 | p[1];
            } else {
                value = data[i * channels + c];
            }
            // In a bitmap 1 is black; the plane holds brightness.
            planes[c].storage[i] = int32_t(bitmap ? 1 - value : std::min(value, maxValue));
        }
    }
    return true;
}

bool ReadSunRaster(
    const uint8_t* bytes, size_t size, std::vector<CxSamplePlane>& planes, CxDecodeDetail& detail)
{
    if (size < 32) {
        detail.text = "Sun raster header cut short";
        return false;
    }
    const uint32_t width = ReadBe32(bytes + 4);
    const uint32_t height = ReadBe32(bytes + 8);
    const uint32_t depth = ReadBe32(bytes + 12);
    const uint32_t type = ReadBe32(bytes + 20);
    const uint32_t mapType = ReadBe32(bytes + 24);
    const uint32_t mapLength = ReadBe32(bytes + 28);
    constexpr uint32_t TYPE_OLD = 0, TYPE_STANDARD = 1, TYPE_RLE = 2, TYPE_RGB = 3;
    if ((depth != 1 && depth != 8 && depth != 24 && depth != 32)
        || (type != TYPE_OLD && type != TYPE_STANDARD && type != TYPE_RLE && type != TYPE_RGB)
        || mapType > 2) {
        detail.text = "unsupported Sun raster layout";
        return false;
    }
    if (mapLength > size - 32) {
        detail.text = "Sun raster colour map cut short";
        return false;
    }
    // A colour map of equal red, green and blue thirds; a raw map is skipped.
    const uint8_t* map = bytes + 32;
    const uint32_t mapEntries = mapType == 1 ? mapLength / 3 : 0;
    const bool mapped = mapEntries > 0 && depth <= 8;
    const size_t channels = (depth >= 24 || mapped) ? 3 : 1;
    if (!PlanesFit(width, height, channels, detail))
        return false;

    // Rows are padded to 16 bits.
    const uint64_t rowBytes = (uint64_t(width) * depth + 15) / 16 * 2;
    const uint64_t dataBytes = rowBytes * height;
    const uint8_t* data = bytes + 32 + mapLength;
    const size_t available = size - 32 - mapLength;
    std::vector<uint8_t> expanded;
    if (type == TYPE_RLE) {
        // 0x80 0 is a literal 0x80; 0x80 n v is n + 1 copies of v.
        if (dataBytes > CXIMAGE_MAX_MEMORY) {
            detail = { MEMORY_LIMIT_DETAIL, true };
            return false;
        }
        expanded.reserve(size_t(dataBytes));
        size_t in = 0;
        while (expanded.size() < dataBytes && in < available) {
            const uint8_t byte = data[in++];
            if (byte != 0x80) {
                expanded.push_back(byte);
                continue;
            }
            if (in >= available)
                break;
            const uint32_t run = data[in++];
            if (run == 0) {
                expanded.push_back(0x80);
                continue;
            }
            if (in >= available)
                break;
            const uint8_t value = data[in++];
            const size_t copies = std::min<uint64_t>(run + 1, dataBytes - expanded.size());
            expanded.insert(expanded.end(), copies, value);
        }
        if (expanded.size() < dataBytes) {
            detail.text = "Sun raster data cut short";
            return false;
        }
        data = expanded.data();
    } else if (available < dataBytes) {
        detail.text = "Sun raster data cut short";
        return false;
    }

    const uint32_t maxValue = depth == 1 && !mapped ? 1 : 255;
    MakePlanes(planes, channels, width, height, maxValue);
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t* row = data + y * rowBytes;
        for (uint32_t x = 0; x < width; x++) {
            const size_t i = size_t(y) * width + x;
            if (depth >= 24) {
                const uint8_t* p = row + size_t(x) * (depth / 8) + (depth == 32 ? 1 : 0);
                const bool rgbOrder = type == TYPE_RGB;
                planes[0].storage[i] = rgbOrder ? p[0] : p[2];
                planes[1].storage[i] = p[1];
                planes[2].storage[i] = rgbOrder ? p[2] : p[0];
                continue;
            }
            const uint32_t index = depth == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1;
            if (mapped) {
                for (size_t c = 0; c < 3; c++)
                    planes[c].storage[i] = index < mapEntries ? map[c * mapEntries + index] : 0;
            } else {
                // Without a map a set bit is black; eight-bit values are grey levels.
                planes[0].storage[i] = int32_t(depth == 1 ? 1 - index : index);
            }
        }
    }
    return true;
}
