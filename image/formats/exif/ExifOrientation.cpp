#include "ExifOrientation.h"

namespace {

constexpr uint16_t TAG_ORIENTATION = 0x0112;
constexpr uint16_t FORMAT_SHORT = 3;
constexpr size_t ENTRY_BYTES = 12;

} // namespace

uint8_t ExifOrientationOf(const uint8_t* block, size_t size)
{
    if (!block || size < 8)
        return 0;
    bool bigEndian;
    if (block[0] == 'I' && block[1] == 'I' && block[2] == 42 && block[3] == 0)
        bigEndian = false;
    else if (block[0] == 'M' && block[1] == 'M' && block[2] == 0 && block[3] == 42)
        bigEndian = true;
    else
        return 0;
    const auto get16 = [&](size_t at) -> uint16_t {
        return bigEndian ? uint16_t(block[at] << 8 | block[at + 1])
                         : uint16_t(block[at + 1] << 8 | block[at]);
    };
    const auto get32 = [&](size_t at) -> uint32_t {
        return bigEndian ? uint32_t(get16(at)) << 16 | get16(at + 2)
                         : uint32_t(get16(at + 2)) << 16 | get16(at);
    };
    const uint32_t directory = get32(4);
    if (directory < 8 || directory > size - 2)
        return 0;
    const uint32_t entries = get16(directory);
    const size_t first = size_t(directory) + 2;
    if (entries > (size - first) / ENTRY_BYTES)
        return 0;
    for (uint32_t i = 0; i < entries; i++) {
        const size_t entry = first + i * ENTRY_BYTES;
        if (get16(entry) != TAG_ORIENTATION)
            continue;
        if (get16(entry + 2) != FORMAT_SHORT || get32(entry + 4) != 1)
            return 0;
        const uint16_t value = get16(entry + 8);
        return value >= 1 && value <= 8 ? uint8_t(value) : 0;
    }
    return 0;
}
