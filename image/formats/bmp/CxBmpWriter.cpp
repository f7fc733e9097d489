#include "CxBmpWriter.h"

#include "CxBmpLayout.h"
#include "image/core/CxStream.h"

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
    if (BMP_HEADERS_SIZE + colors * 4 + pixelBytes > 0xFFFFFFFFu)
        return false;

    BITMAPINFOHEADER info {};
    info.biSize = BMP_INFO_HEADER_SIZE;
    info.biWidth = image.GetWidth();
    info.biHeight = int32_t(height);
    info.biPlanes = 1;
    info.biBitCount = uint16_t(bpp);
    info.biCompression = BI_RGB;
    info.biSizeImage = uint32_t(pixelBytes);
    info.biXPelsPerMeter = image.GetHeader().biXPelsPerMeter;
    info.biYPelsPerMeter = image.GetHeader().biYPelsPerMeter;
    info.biClrUsed = colors;
    uint8_t header[BMP_HEADERS_SIZE];
    WriteBmpHeaders(info, colors, header);
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
