#include "CxReaderSupport.h"

#include "CxReadError.h"
#include "CxStream.h"

std::vector<uint8_t> ReadRemainingBytes(
    CxStream& stream, uint64_t limit, const char* tooLargeText, const char* readText)
{
    const int64_t start = stream.Tell();
    const int64_t end = stream.Size();
    if (start < 0 || end < start || uint64_t(end - start) > limit)
        ThrowReadError(tooLargeText);
    std::vector<uint8_t> bytes(size_t(end - start));
    if (!bytes.empty() && stream.Read(bytes.data(), 1, uint32_t(bytes.size())) != bytes.size())
        ThrowReadError(readText);
    return bytes;
}

uint64_t PictureAllocation(uint64_t width, uint64_t height, uint32_t bpp, bool withAlpha)
{
    const uint64_t stride = (width * bpp + 31) / 32 * 4;
    return sizeof(BITMAPINFOHEADER) + stride * height + (withAlpha ? width * height : 0);
}

void StoreTopDownRow(CxImage& image, uint32_t topRow, const uint8_t* samples, uint32_t channels)
{
    const uint32_t width = uint32_t(image.GetWidth());
    const uint32_t storedRow = uint32_t(image.GetHeight()) - 1 - topRow;
    uint8_t* row = image.GetBits(storedRow);
    uint8_t* alphaRow = channels == 4 ? image.GetAlphaAddress(0, int32_t(storedRow)) : nullptr;
    for (uint32_t x = 0; x < width; x++) {
        const uint8_t* sample = samples + size_t(x) * channels;
        row[3 * size_t(x)] = sample[2];
        row[3 * size_t(x) + 1] = sample[1];
        row[3 * size_t(x) + 2] = sample[0];
        if (alphaRow)
            alphaRow[x] = sample[3];
    }
}
