// Windows and OS/2 bitmap reader.
// Layout: https://learn.microsoft.com/windows/win32/gdi/bitmap-storage
#include "CxImageBMP.h"

#include "CxBmpLayout.h"
#include "image/core/CxByteOrder.h"
#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Bytes left between the stream position and its end (0 when unknown or past the end).
int64_t Remaining(CxStream* stream)
{
    const int64_t size = stream->Size();
    const int64_t position = stream->Tell();
    return (size > position && position >= 0) ? size - position : 0;
}

// Skips forward, never past the end of the stream.
void Skip(CxStream* stream, uint64_t bytes)
{
    const int64_t left = Remaining(stream);
    if (bytes > uint64_t(left))
        bytes = uint64_t(left);
    if (bytes)
        stream->Seek(int32_t(bytes), SEEK_CUR);
}

int BitCount(uint32_t bpp)
{
    switch (bpp) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return int(bpp);
    default:
        return 0;
    }
}

// Stride times height of the stored rows, in a width that no header can overflow.
__int128 ImageBytes(const BITMAPINFOHEADER& h)
{
    const __int128 stride = ((__int128(h.biBitCount) * h.biWidth + 31) / 32) * 4;
    return stride * h.biHeight;
}

// Pixels start at the offset the file header gives, or where the stream stands (-1).
void SeekToData(CxStream* stream, int64_t dataOffset)
{
    if (dataOffset >= 0)
        stream->Seek(int32_t(dataOffset), SEEK_SET);
}

int32_t ToDpi(int32_t pixelsPerMetre)
{
    if (pixelsPerMetre <= 0)
        return 0;
    return int32_t(std::floor(pixelsPerMetre * 0.0254 + 0.5));
}

// Decodes run-length data. The row pointer only follows rows inside the picture; a
// delta past the top keeps writing into the last row that was inside.
class RleDecoder {
public:
    RleDecoder(CxStream* stream, uint8_t* pixels, uint32_t stride, int32_t height)
        : stream(stream)
        , pixels(pixels)
        , stride(stride)
        , height(height)
        , end(pixels + size_t(stride) * size_t(height))
    {
    }

    // x counts bytes.
    void Rle8()
    {
        Walk(
            [&](uint8_t* row, int64_t& x, int count, int value) {
                for (int i = 0; i < count; i++) {
                    // A run that passes the end of the row ends the whole bitmap.
                    if (x >= int64_t(stride))
                        return false;
                    row[x++] = uint8_t(value);
                }
                return true;
            },
            [&](uint8_t* row, int64_t x, int count) {
                for (int i = 0; i < count; i++) {
                    int value;
                    if (!Next(value))
                        return false;
                    Store(row, x + i, uint8_t(value));
                }
                return (count & 1) == 0 || SkipPad();
            });
    }

    // The usual layout: x counts pixels; an encoded run alternates the high and low
    // nibbles of its value whatever nibble it starts on; an absolute run of k pixels takes
    // (k + 1) / 2 bytes padded to a 16-bit word; a delta moves by whole pixels.
    void Rle4()
    {
        Walk(
            [&](uint8_t* row, int64_t& x, int count, int value) {
                for (int i = 0; i < count; i++) {
                    if (x >= int64_t(stride) * 2)
                        return false;
                    StoreNibble(row, x++, uint8_t((i & 1) ? value & 0x0F : value >> 4));
                }
                return true;
            },
            [&](uint8_t* row, int64_t x, int count) {
                const int bytes = (count + 1) / 2;
                for (int i = 0; i < bytes; i++) {
                    int value;
                    if (!Next(value))
                        return false;
                    StoreNibble(row, x + 2 * i, uint8_t(value >> 4));
                    if (2 * i + 1 < count)
                        StoreNibble(row, x + 2 * i + 1, uint8_t(value & 0x0F));
                }
                return (bytes & 1) == 0 || SkipPad();
            });
    }

private:
    // The escapes both compressions share: end of line, end of bitmap, delta and
    // absolute run. Either run answers false to end the decoding.
    template <typename EncodedRun, typename AbsoluteRun>
    void Walk(EncodedRun encoded, AbsoluteRun absolute)
    {
        int64_t x = 0;
        int64_t r = 0;
        uint8_t* row = pixels;
        for (;;) {
            if (r >= 0 && r < height)
                row = pixels + size_t(r) * stride;
            int n;
            if (!Next(n))
                return;
            if (n > 0) {
                int value;
                if (!Next(value) || !encoded(row, x, n, value))
                    return;
                continue;
            }
            int k;
            if (!Next(k) || k == 1)
                return;
            if (k == 0) {
                x = 0;
                r++;
            } else if (k == 2) {
                int dx, dy;
                if (!Next(dx) || !Next(dy))
                    return;
                x += dx;
                r += dy;
            } else {
                if (!absolute(row, x, k))
                    return;
                x += k;
            }
        }
    }

    bool Next(int& value)
    {
        value = stream->GetC();
        return value != EOF;
    }

    // Absolute runs are padded to a whole 16-bit word.
    bool SkipPad()
    {
        int pad;
        return Next(pad);
    }

    // Absolute runs may continue into the next stored row; bytes beyond the buffer drop.
    void Store(uint8_t* row, int64_t x, uint8_t value)
    {
        if (x < 0 || x >= end - row)
            return;
        row[x] = value;
    }

    void StoreNibble(uint8_t* row, int64_t x, uint8_t value)
    {
        const int64_t byte = x / 2;
        if (byte < 0 || byte >= end - row)
            return;
        uint8_t& target = row[byte];
        if (x & 1)
            target = uint8_t((target & 0xF0) | (value & 0x0F));
        else
            target = uint8_t((target & 0x0F) | (value << 4));
    }

    CxStream* stream;
    uint8_t* pixels;
    uint32_t stride;
    int32_t height;
    const uint8_t* end;
};

} // namespace

bool CxImageBMP::ReadInfoHeader(CxStream* stream, BITMAPINFOHEADER* header)
{
    // The size comes first so that an OS/2 core header, 12 bytes, is read alone: a small
    // OS/2 file may hold fewer than 40 bytes after its header start.
    uint8_t bytes[BMP_INFO_HEADER_SIZE] = {};
    if (stream->Read(bytes, 4, 1) != 1)
        return false;
    const uint32_t size = ReadLe32(bytes);
    if (size == 12) {
        // 16-bit unsigned width and height, then planes and bit count.
        if (stream->Read(bytes + 4, 8, 1) != 1)
            return false;
        *header = BITMAPINFOHEADER {};
        header->biSize = size;
        header->biWidth = ReadLe16(bytes + 4);
        header->biHeight = ReadLe16(bytes + 6);
        header->biPlanes = ReadLe16(bytes + 8);
        header->biBitCount = ReadLe16(bytes + 10);
    } else if (stream->Read(bytes + 4, sizeof(bytes) - 4, 1) != 1) {
        return false;
    } else {
        *header = ReadBmpInfoHeader(bytes);
    }

    if (size == 12 || size == 40) {
        // Read whole above.
    } else if (size == 64) {
        // OS/2 version 2: the rest of the header holds nothing this reader uses.
        stream->Seek(24, SEEK_CUR);
    } else if (size == 52 || size == 56 || size == 108 || size == 124) {
        // Windows V2 to V5 headers carry the red, green and blue masks right after the
        // first 40 bytes, inside the header, where a 40-byte header has them after it.
        uint8_t masks[12];
        if (stream->Read(masks, sizeof(masks), 1) != 1)
            return false;
        headerMasks[0] = ReadLe32(masks);
        headerMasks[1] = ReadLe32(masks + 4);
        headerMasks[2] = ReadLe32(masks + 8);
        hasHeaderMasks = true;
        if (size - 52 > uint64_t(Remaining(stream)))
            return false;
        Skip(stream, size - 52);
    } else if (size > 40) {
        if (__int128(header->biSizeImage) != ImageBytes(*header) || header->biPlanes != 1
            || header->biCompression != 0 || header->biClrUsed != 0)
            return false;
        if (size - 40 > uint64_t(Remaining(stream)))
            return false;
        Skip(stream, size - 40);
    } else {
        return false;
    }

    // Only the depths this reader decodes; anything else would give an image whose
    // pixels were never read.
    if (!BitCount(header->biBitCount))
        return false;

    if (header->biSizeImage == 0)
        header->biSizeImage = uint32_t(ImageBytes(*header));
    if (header->biClrUsed == 0)
        header->biClrUsed = header->biBitCount <= 8 ? (1u << header->biBitCount) : 0;
    return true;
}

bool CxImageBMP::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    // After a failure the callback is asked once more: when it still asks to stop, this
    // was the header-only query and the dimensions are the answer.
    return RunReader(*this, "can't allocate memory", [&] {
        const int32_t start = stream->Tell();
        uint8_t fileBytes[BMP_FILE_HEADER_SIZE];
        if (stream->Read(fileBytes, sizeof(fileBytes), 1) != 1)
            ThrowReadError("Not a BMP");
        BmpFileHeader file = ReadBmpFileHeader(fileBytes);
        if (file.bfType != BMP_SIGNATURE) {
            // A bare device-independent bitmap: the info header starts right here.
            file.bfOffBits = 0;
            stream->Seek(start, SEEK_SET);
        }

        BITMAPINFOHEADER bmp;
        if (!ReadInfoHeader(stream, &bmp))
            ThrowReadError("Error reading BMP info");
        bool topDown = false;
        if (bmp.biHeight < 0) {
            if (bmp.biHeight == INT32_MIN)
                ThrowReadError("Error reading BMP info");
            topDown = true;
            bmp.biHeight = -bmp.biHeight;
        }

        if (AskEscape()) {
            head.biWidth = bmp.biWidth;
            head.biHeight = bmp.biHeight;
            ThrowReadError("output dimensions returned");
        }
        if (!Create(
                uint32_t(bmp.biWidth), uint32_t(bmp.biHeight), bmp.biBitCount, CXIMAGE_FORMAT_BMP))
            ThrowReadError("Can't allocate memory");
        // Whatever a short or badly encoded file leaves out stays black.
        Clear(0);
        head.biXPelsPerMeter = bmp.biXPelsPerMeter;
        head.biYPelsPerMeter = bmp.biYPelsPerMeter;
        info.xDPI = ToDpi(bmp.biXPelsPerMeter);
        info.yDPI = ToDpi(bmp.biYPelsPerMeter);

        if (AskEscape())
            ThrowReadError("Cancelled");
        ReadPalette(stream, bmp);
        if (AskEscape())
            ThrowReadError("Cancelled");
        // Without an offset the pixels follow where the stream stands.
        const int64_t dataOffset = file.bfOffBits ? int64_t(uint32_t(start) + file.bfOffBits) : -1;
        ReadPixels(stream, bmp, dataOffset);
        if (topDown)
            Flip();
    }) || AskEscape();
}

// The colour table: OS/2 entries are 3 bytes, others 4; entries beyond the image's own
// palette are passed over.
void CxImageBMP::ReadPalette(CxStream* stream, const BITMAPINFOHEADER& bmp)
{
    RGBQUAD* palette = GetPalette();
    if (!palette)
        return;
    const uint32_t entrySize = bmp.biSize == 12 ? 3 : 4;
    const uint64_t count = bmp.biClrUsed;
    if (count * entrySize > uint64_t(Remaining(stream)))
        ThrowReadError("Error reading BMP info");
    const uint32_t stored = uint32_t(std::min<uint64_t>(count, head.biClrUsed));
    std::vector<uint8_t> entries(size_t(stored) * entrySize);
    stream->Read(entries.data(), 1, uint32_t(entries.size()));
    for (uint32_t i = 0; i < stored; i++) {
        const uint8_t* e = entries.data() + size_t(i) * entrySize;
        palette[i] = RGBQUAD { e[0], e[1], e[2], 0 };
    }
    Skip(stream, (count - stored) * entrySize);
}

void CxImageBMP::ReadPixels(CxStream* stream, const BITMAPINFOHEADER& bmp, int64_t dataOffset)
{
    switch (bmp.biBitCount) {
    case 1:
    case 4:
    case 8:
        SeekToData(stream, dataOffset);
        if (bmp.biCompression == BI_RGB)
            stream->Read(info.pixels, 1, head.biSizeImage);
        else if (bmp.biCompression == BI_RLE8)
            RleDecoder(stream, info.pixels, info.rowStride, head.biHeight).Rle8();
        else if (bmp.biCompression == BI_RLE4)
            RleDecoder(stream, info.pixels, info.rowStride, head.biHeight).Rle4();
        else
            ThrowReadError("compression type not supported");
        break;
    case 2:
        SeekToData(stream, dataOffset);
        if (bmp.biCompression != BI_RGB)
            ThrowReadError("compression type not supported");
        ReadTwoBitRows(stream);
        break;
    case 16:
        ReadSixteenBitRows(stream, bmp, dataOffset);
        break;
    case 24:
        SeekToData(stream, dataOffset);
        if (bmp.biCompression != BI_RGB)
            ThrowReadError("unknown compression");
        stream->Read(info.pixels, 1, head.biSizeImage);
        break;
    case 32:
        if (bmp.biCompression != BI_RGB && bmp.biCompression != BI_BITFIELDS)
            ThrowReadError("unknown compression");
        // The masks after a 40-byte header are not used, but a bare bitmap's pixels start
        // after them.
        if (bmp.biCompression == BI_BITFIELDS && !hasHeaderMasks && dataOffset < 0)
            Skip(stream, 12);
        SeekToData(stream, dataOffset);
        ReadThirtyTwoBitRows(stream);
        break;
    default:
        break;
    }
}

// Two bits per pixel (a Windows CE depth) widen into the 4-bit image.
void CxImageBMP::ReadTwoBitRows(CxStream* stream)
{
    std::vector<uint8_t> row(((size_t(head.biWidth) * 2 + 31) / 32) * 4);
    for (int32_t y = 0; y < head.biHeight; y++) {
        if (stream->Read(row.data(), 1, uint32_t(row.size())) == 0)
            break;
        for (int32_t x = 0; x < head.biWidth; x++)
            SetPixelIndex(x, y, uint8_t((row[size_t(x) / 4] >> (6 - 2 * (x & 3))) & 3));
    }
}

void CxImageBMP::ReadSixteenBitRows(
    CxStream* stream, const BITMAPINFOHEADER& bmp, int64_t dataOffset)
{
    uint32_t red = 0x7C00, green = 0x03E0, blue = 0x001F;
    if (bmp.biCompression == BI_BITFIELDS) {
        if (hasHeaderMasks) {
            red = headerMasks[0];
            green = headerMasks[1];
            blue = headerMasks[2];
        } else {
            uint8_t masks[12] = {};
            stream->Read(masks, sizeof(masks), 1);
            red = ReadLe32(masks);
            green = ReadLe32(masks + 4);
            blue = ReadLe32(masks + 8);
        }
    }
    SeekToData(stream, dataOffset);
    // 16-bit rows are never wider than the 24-bit rows they expand into.
    const size_t sourceStride = size_t((head.biWidth + 1) / 2) * 4;
    const size_t bytes = sourceStride * size_t(head.biHeight);
    const size_t got = stream->Read(info.pixels, 1, uint32_t(bytes));
    // Rows that were never read are zero and would expand to zero: a short file expands
    // only what it holds, so a huge header over a few bytes stays cheap.
    const int32_t height = head.biHeight;
    head.biHeight = int32_t((got + sourceStride - 1) / sourceStride);
    ExpandBitfields(info.pixels, uint16_t(red), uint16_t(green), uint16_t(blue), 16);
    head.biHeight = height;
}

// Row by row: bytes 0, 1 and 2 of each pixel are blue, green and red.
void CxImageBMP::ReadThirtyTwoBitRows(CxStream* stream)
{
    std::vector<uint8_t> row(size_t(head.biWidth) * 4);
    for (int32_t y = 0; y < head.biHeight; y++) {
        const uint32_t got = stream->Read(row.data(), 1, uint32_t(row.size()));
        if (got == 0)
            break;
        std::fill(row.begin() + got, row.end(), uint8_t(0));
        uint8_t* to = info.pixels + size_t(y) * info.rowStride;
        for (int32_t x = 0; x < head.biWidth; x++) {
            to[3 * x] = row[4 * size_t(x)];
            to[3 * x + 1] = row[4 * size_t(x) + 1];
            to[3 * x + 2] = row[4 * size_t(x) + 2];
        }
    }
}
