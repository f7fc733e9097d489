// Wireless bitmap reader.
// Layout: WAP Wireless Application Environment Specification, section 6 (WBMP).
#include "CxImageWBMP.h"

#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"

namespace {

// A multi-byte integer: 7 bits per byte, most significant first, the top bit set on every
// byte but the last. False at the end of the stream; values of more than four bytes
// (2^28 and up) set tooLarge.
bool ReadMultiByte(CxStream* stream, uint32_t& value, bool& tooLarge)
{
    value = 0;
    for (int i = 0; i < 4; i++) {
        const int byte = stream->GetC();
        if (byte == EOF)
            return false;
        value = (value << 7) | uint32_t(byte & 0x7F);
        if ((byte & 0x80) == 0)
            return true;
    }
    tooLarge = true;
    return true;
}

} // namespace

bool CxImageWBMP::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        const int type = stream->GetC();
        const int fixedHeader = stream->GetC();
        uint32_t width = 0;
        uint32_t height = 0;
        bool tooLarge = false;
        if (type == EOF || fixedHeader == EOF || !ReadMultiByte(stream, width, tooLarge)
            || !ReadMultiByte(stream, height, tooLarge))
            ThrowReadError("Not a WBMP");
        if (type != 0)
            ThrowReadError("Unsupported WBMP type");
        if (width == 0 || height == 0 || tooLarge)
            ThrowReadError("Corrupted WBMP");

        Create(width, height, 1, CXIMAGE_FORMAT_WBMP);
        if (!IsValid())
            ThrowReadError("WBMP Create failed");
        Clear(0);
        MakeGreyPalette();

        // The first file row is the top line of the picture.
        const uint32_t rowBytes = (width + 7) / 8;
        for (uint32_t y = 0; y < height; y++) {
            if (stream->Read(GetBits(height - 1 - y), 1, rowBytes) < rowBytes)
                break;
        }
        return true;
    });
}
