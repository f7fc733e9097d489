#include "CxBmpWriter.h"

#include "image/core/CxStream.h"

#include <cstring>

namespace {

void PutLe16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

} // namespace

bool SaveBmp(const CxImage& image, CxStream* stream)
{
    if (!stream || !image.IsValid())
        return false;
    const uint32_t bpp = image.GetBpp();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
        return false;

    const uint32_t colors = image.GetNumColors();
    const uint32_t stride = image.GetRowStride();
    const uint32_t height = uint32_t(image.GetHeight());
    const uint64_t pixelBytes = uint64_t(stride) * height;
    const uint32_t offBits = 14 + 40 + colors * 4;
    const uint64_t fileSize = offBits + pixelBytes;
    if (fileSize > 0xFFFFFFFFu)
        return false;

    uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLe32(header + 2, uint32_t(fileSize));
    PutLe32(header + 10, offBits);
    uint8_t* info = header + 14;
    PutLe32(info, 40);
    PutLe32(info + 4, uint32_t(image.GetWidth()));
    PutLe32(info + 8, height);
    PutLe16(info + 12, 1);
    PutLe16(info + 14, bpp);
    PutLe32(info + 16, 0);
    PutLe32(info + 20, uint32_t(pixelBytes));
    const BITMAPINFOHEADER& head = image.GetHeader();
    PutLe32(info + 24, uint32_t(head.biXPelsPerMeter));
    PutLe32(info + 28, uint32_t(head.biYPelsPerMeter));
    PutLe32(info + 32, colors);
    PutLe32(info + 36, 0);
    if (stream->Write(header, sizeof(header), 1) != 1)
        return false;

    if (colors) {
        const RGBQUAD* palette = image.GetPalette();
        for (uint32_t i = 0; i < colors; i++) {
            const uint8_t entry[4]
                = { palette[i].rgbBlue, palette[i].rgbGreen, palette[i].rgbRed, 0 };
            if (stream->Write(entry, 4, 1) != 1)
                return false;
        }
    }
    for (uint32_t y = 0; y < height; y++) {
        if (stream->Write(image.GetBits(y), stride, 1) != 1)
            return false;
    }
    return true;
}
