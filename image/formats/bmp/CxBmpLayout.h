// The byte layout of BMP files, in one place for everything that reads or writes them:
// the 14-byte file header and the 40-byte info header, little-endian whatever the machine.
// Layout: https://learn.microsoft.com/windows/win32/gdi/bitmap-storage
#pragma once

#include "platform/DibTypes.h"

#include <cstdint>

constexpr uint16_t BMP_SIGNATURE = 0x4D42; // "BM"
constexpr uint32_t BMP_FILE_HEADER_SIZE = 14;
constexpr uint32_t BMP_INFO_HEADER_SIZE = 40;
constexpr uint32_t BMP_HEADERS_SIZE = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE;

// biCompression values.
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

struct BmpFileHeader {
    uint16_t bfType = 0;
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0; // where the pixels start, from the start of this header
};

BmpFileHeader ReadBmpFileHeader(const uint8_t* bytes); // 14 bytes
void WriteBmpFileHeader(const BmpFileHeader& header, uint8_t* bytes);
BITMAPINFOHEADER ReadBmpInfoHeader(const uint8_t* bytes); // 40 bytes
void WriteBmpInfoHeader(const BITMAPINFOHEADER& header, uint8_t* bytes);

// Bytes of one stored row: rows are padded to whole 32-bit words.
constexpr uint64_t BmpRowBytes(uint64_t width, uint32_t bitCount)
{
    return (width * bitCount + 31) / 32 * 4;
}

// The two headers in front of an uncompressed file whose colour table of `colors` entries
// and pixels follow directly: bfSize and bfOffBits are worked out from the info header
// (whose biSizeImage must hold the pixel bytes).
void WriteBmpHeaders(const BITMAPINFOHEADER& info, uint32_t colors, uint8_t* bytes); // 54 bytes
