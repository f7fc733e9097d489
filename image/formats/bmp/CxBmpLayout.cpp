#include "CxBmpLayout.h"

#include "image/core/CxByteOrder.h"

BmpFileHeader ReadBmpFileHeader(const uint8_t* bytes)
{
    BmpFileHeader header;
    header.bfType = ReadLe16(bytes);
    header.bfSize = ReadLe32(bytes + 2);
    header.bfReserved1 = ReadLe16(bytes + 6);
    header.bfReserved2 = ReadLe16(bytes + 8);
    header.bfOffBits = ReadLe32(bytes + 10);
    return header;
}

void WriteBmpFileHeader(const BmpFileHeader& header, uint8_t* bytes)
{
    PutLe16(bytes, header.bfType);
    PutLe32(bytes + 2, header.bfSize);
    PutLe16(bytes + 6, header.bfReserved1);
    PutLe16(bytes + 8, header.bfReserved2);
    PutLe32(bytes + 10, header.bfOffBits);
}

BITMAPINFOHEADER ReadBmpInfoHeader(const uint8_t* bytes)
{
    BITMAPINFOHEADER header;
    header.biSize = ReadLe32(bytes);
    header.biWidth = int32_t(ReadLe32(bytes + 4));
    header.biHeight = int32_t(ReadLe32(bytes + 8));
    header.biPlanes = ReadLe16(bytes + 12);
    header.biBitCount = ReadLe16(bytes + 14);
    header.biCompression = ReadLe32(bytes + 16);
    header.biSizeImage = ReadLe32(bytes + 20);
    header.biXPelsPerMeter = int32_t(ReadLe32(bytes + 24));
    header.biYPelsPerMeter = int32_t(ReadLe32(bytes + 28));
    header.biClrUsed = ReadLe32(bytes + 32);
    header.biClrImportant = ReadLe32(bytes + 36);
    return header;
}

void WriteBmpInfoHeader(const BITMAPINFOHEADER& header, uint8_t* bytes)
{
    PutLe32(bytes, header.biSize);
    PutLe32(bytes + 4, uint32_t(header.biWidth));
    PutLe32(bytes + 8, uint32_t(header.biHeight));
    PutLe16(bytes + 12, header.biPlanes);
    PutLe16(bytes + 14, header.biBitCount);
    PutLe32(bytes + 16, header.biCompression);
    PutLe32(bytes + 20, header.biSizeImage);
    PutLe32(bytes + 24, uint32_t(header.biXPelsPerMeter));
    PutLe32(bytes + 28, uint32_t(header.biYPelsPerMeter));
    PutLe32(bytes + 32, header.biClrUsed);
    PutLe32(bytes + 36, header.biClrImportant);
}

void WriteBmpHeaders(const BITMAPINFOHEADER& info, uint32_t colors, uint8_t* bytes)
{
    BmpFileHeader file;
    file.bfType = BMP_SIGNATURE;
    file.bfOffBits = BMP_HEADERS_SIZE + colors * 4;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    WriteBmpFileHeader(file, bytes);
    WriteBmpInfoHeader(info, bytes + BMP_FILE_HEADER_SIZE);
}
