// PNG reading through libpng: a read callback over CxStream, an error callback that jumps
// back with the library's message, the choice of transformations, and the copy of rows
// into the bottom-up image. Reference: the PNG specification (ISO/IEC 15948).
#include "CxImagePNG.h"

#include "image/core/CxReadError.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "image/formats/exif/ExifOrientation.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

// What one decode shares with libpng; trivially destructible, so the jump out of the
// library skips no destructor. PngSessionOwner destroys the structures.
struct PngSession {
    png_structp png;
    png_infop pngInfo;
    char (*lastError)[256];
    uint8_t* rowBuffer;
    size_t rowBufferSize;
    int32_t bitDepth;
    int32_t passes;
    bool hasAlphaChannel;
    bool direct;
    // The rows go to the image's row sink (blue-green-red, grey ones widened), or the
    // sink wanted the header alone.
    bool toSink;
    bool headerOnly;
};

namespace {

// libpng's own sanity limits, a second line behind CXIMAGE_MAX_MEMORY.
constexpr png_uint_32 MAX_DIMENSION = 1000000;
constexpr png_alloc_size_t MAX_CHUNK_BYTES = 8000000;

const char* const LAYOUT_TEXT = "Unexpected PNG row layout";
const char* const ALPHA_TEXT = "CxImage::CreateAlpha can't allocate memory";

void ReadData(png_structp png, png_bytep data, size_t length)
{
    auto* stream = static_cast<CxStream*>(png_get_io_ptr(png));
    if (length > 0xFFFFFFFFu || stream->Read(data, 1, uint32_t(length)) != length)
        png_error(png, "Read Error");
}

[[noreturn]] void Fail(PngSession& session, const char* text)
{
    if (text)
        CopyLastError(*session.lastError, text);
    png_longjmp(session.png, 1);
}

void ReportError(png_structp png, png_const_charp message)
{
    // libpng's allocations that failed say so ("Out of memory", "insufficient memory to
    // read chunk").
    if (message && std::strstr(message, "memory"))
        platform::NoteAllocationFailure();
    Fail(*static_cast<PngSession*>(png_get_error_ptr(png)), message);
}

int32_t DpiFromPixelsPerMetre(png_uint_32 value)
{
    return int32_t(std::floor(value * 0.0254 + 0.5));
}

struct PngSessionOwner {
    PngSession session {};
    PngSessionOwner() = default;
    PngSessionOwner(const PngSessionOwner&) = delete;
    PngSessionOwner& operator=(const PngSessionOwner&) = delete;
    ~PngSessionOwner()
    {
        if (session.png)
            png_destroy_read_struct(
                &session.png, session.pngInfo ? &session.pngInfo : nullptr, nullptr);
    }
};

} // namespace

CxImagePNG::CxImagePNG()
    : CxImage(CXIMAGE_FORMAT_PNG)
{
}

bool CxImagePNG::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        PngSessionOwner owner;
        PngSession& session = owner.session;
        session.lastError = &info.lastError;
        session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        // Only memory that runs short keeps libpng from making its structures.
        if (!session.png) {
            platform::NoteAllocationFailure();
            ThrowReadError("Failed to create PNG structure");
        }
        session.pngInfo = png_create_info_struct(session.png);
        if (!session.pngInfo) {
            platform::NoteAllocationFailure();
            ThrowReadError("Failed to initialize PNG info structure");
        }
        png_set_read_fn(session.png, stream, ReadData);
        // Warnings keep libpng's own output.
        png_set_error_fn(session.png, &session, ReportError, nullptr);

        if (!ReadHeaderGuarded(session))
            return false;
        if (session.headerOnly)
            return true;
        std::vector<uint8_t> rowBuffer(session.rowBufferSize);
        session.rowBuffer = rowBuffer.data();
        return ReadRowsGuarded(session);
    });
}

// The two recovery points: the functions below them hold only trivially destructible
// locals, so a jump from libpng skips nothing that needs destroying.
bool CxImagePNG::ReadHeaderGuarded(PngSession& session)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    ReadHeader(session);
    return true;
}

// The colour profile (iCCP) and the Exif orientation (eXIf) of the chunks before the
// pixels, as libpng checked and kept them; a profile of more than the limit is passed
// over.
void CxImagePNG::RecordProfileAndOrientation(PngSession& s)
{
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(s.png, s.pngInfo, &name, &compression, &profile, &profileLength) && profile
        && profileLength <= MAX_ICC_PROFILE_BYTES)
        SetIccProfile(std::vector<uint8_t>(profile, profile + profileLength));
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(s.png, s.pngInfo, &exifLength, &exif) && exif)
        SetOrientation(ExifOrientationOf(exif, exifLength));
}

bool CxImagePNG::ReadRowsGuarded(PngSession& session)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    ReadRows(session);
    return true;
}

void CxImagePNG::ReadHeader(PngSession& s)
{
    png_structp png = s.png;
    png_infop pngInfo = s.pngInfo;
    png_set_user_limits(png, MAX_DIMENSION, MAX_DIMENSION);
    png_set_chunk_malloc_max(png, MAX_CHUNK_BYTES);
    png_read_info(png, pngInfo);
    RecordProfileAndOrientation(s);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png, pngInfo, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    const int32_t pixelDepth = bitDepth * png_get_channels(png, pngInfo);
    s.bitDepth = bitDepth;

    png_color_16p background = nullptr;
    const bool hasBackground = png_get_bKGD(png, pngInfo, &background) != 0;
    const bool transparent = (colorType & PNG_COLOR_MASK_ALPHA) != 0
        || png_get_valid(png, pngInfo, PNG_INFO_tRNS) != 0;
    if (pixelDepth == 32) {
        if (hasBackground)
            info.transColor = RGBQUAD { uint8_t(background->blue), uint8_t(background->green),
                uint8_t(background->red), 0 };
    } else if (transparent) {
        // Transparency other than an 8-bit alpha channel is composed by the library; a file
        // without any has nothing to compose and is spared the pass.
        if (hasBackground) {
            png_set_background(png, background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
        } else {
            png_color_16 grey192 = { 0, 192, 192, 192, 0 };
            png_set_background(png, &grey192, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
        }
    }
    if (bitDepth == 16)
        png_set_strip_16(png);

    const uint32_t bpp = pixelDepth == 16 ? 8 : (pixelDepth > 16 ? 24 : uint32_t(pixelDepth));
    if (CxRowSink* sink = info.rowSink) {
        CxPictureHeader header;
        header.width = width;
        header.height = height;
        header.bpp = bpp;
        // libpng keeps the previous row and one being unfiltered, and the inflate window.
        header.workingBytes = 2 * (uint64_t(width) * 8 + 1) + (64u << 10);
        // Grey and colour rows of 8 or 16 bits, read in one pass: the picture they make
        // has no palette of its own and no transparency (a tRNS colour is composed onto
        // the background like any other).
        header.orientation = GetOrientation();
        header.iccProfile = GetIccProfile();
        header.rowsOffered = (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_RGB)
            && bitDepth >= 8 && png_get_interlace_type(png, pngInfo) == PNG_INTERLACE_NONE;
        const CxRowSink::Take take = sink->Header(header);
        if (take != CxRowSink::Take::Picture) {
            head.biWidth = int32_t(width);
            head.biHeight = int32_t(height);
            head.biBitCount = uint16_t(bpp);
            s.headerOnly = take == CxRowSink::Take::HeaderOnly;
            s.toSink = take == CxRowSink::Take::Rows;
            if (s.headerOnly)
                return;
            // Rows handed over are held to the limit the picture would be held to.
            const uint64_t stride = (uint64_t(width) * bpp + 31) / 32 * 4;
            if (sizeof(BITMAPINFOHEADER) + (bpp == 8 ? 256 * 4 : 0) + stride * height
                > CXIMAGE_MAX_MEMORY)
                Fail(s, "CXIMAGE_MAX_MEMORY exceeded");
        }
    }
    if (s.toSink) {
        if (colorType == PNG_COLOR_TYPE_RGB)
            png_set_bgr(png);
        s.passes = png_set_interlace_handling(png);
        png_read_update_info(png, pngInfo);
        const size_t rowBytes = png_get_rowbytes(png, pngInfo);
        const uint32_t outBits
            = uint32_t(png_get_bit_depth(png, pngInfo)) * png_get_channels(png, pngInfo);
        if (outBits != bpp || s.passes != 1)
            Fail(s, LAYOUT_TEXT);
        // The row as read, then (grey) the same row widened to blue-green-red.
        s.rowBufferSize = rowBytes + (bpp == 8 ? size_t(width) * 3 : 0);
        return;
    }
    if (!Create(width, height, bpp, CXIMAGE_FORMAT_PNG))
        Fail(s, nullptr);

    png_uint_32 xPixels = 0;
    png_uint_32 yPixels = 0;
    int unit = 0;
    if (png_get_pHYs(png, pngInfo, &xPixels, &yPixels, &unit)) {
        // Unit 0 gives only the pixel aspect ratio: the resolution stays as it was.
        if (unit == PNG_RESOLUTION_METER) {
            SetXDPI(DpiFromPixelsPerMetre(xPixels));
            SetYDPI(DpiFromPixelsPerMetre(yPixels));
        }
    }

    png_colorp palette = nullptr;
    int paletteCount = 0;
    if (png_get_PLTE(png, pngInfo, &palette, &paletteCount)) {
        SetPalette(reinterpret_cast<const uint8_t*>(palette), uint32_t(paletteCount));
    } else if (bitDepth == 2) {
        for (uint32_t i = 0; i < 4; i++)
            SetPaletteColor(i, uint8_t(85 * i), uint8_t(85 * i), uint8_t(85 * i));
    } else {
        MakeGreyPalette();
    }

    // Only a palette's tRNS holds alpha values; grey and colour ones name a sample value,
    // which the composition has already replaced.
    png_bytep transAlpha = nullptr;
    int transCount = 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE && GetPalette()
        && png_get_tRNS(png, pngInfo, &transAlpha, &transCount, nullptr) && transAlpha) {
        RGBQUAD* entries = GetPalette();
        const int32_t entryCount = int32_t(head.biClrUsed);
        for (int32_t i = 0; i < std::min(entryCount, transCount); i++)
            entries[i].rgbReserved = transAlpha[i];
        if (transCount == 1 && entries[0].rgbReserved == 0) {
            info.transIndex = 0;
        } else {
            info.paletteAlpha = true;
            for (int32_t i = transCount; i < entryCount; i++)
                entries[i].rgbReserved = 255;
        }
    }

    if (colorType == PNG_COLOR_TYPE_RGB_ALPHA
        || (colorType == PNG_COLOR_TYPE_GRAY_ALPHA && pixelDepth == 32)) {
        if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
            png_set_gray_to_rgb(png);
            png_set_expand(png);
        }
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        if (!CreateAlpha())
            Fail(s, ALPHA_TEXT);
        s.hasAlphaChannel = true;
    }
    // Rows with alpha are split pixel by pixel anyway, and change order on the way.
    if ((colorType & PNG_COLOR_MASK_COLOR) && !s.hasAlphaChannel)
        png_set_bgr(png);

    if (AskEscape())
        Fail(s, nullptr);

    s.passes = png_set_interlace_handling(png);
    SetFormatOption(s.passes > 1 ? 1 : 0, CXIMAGE_FORMAT_PNG);
    png_read_update_info(png, pngInfo);

    // The rows must come out as the image stores them; anything else would be copied out
    // of bounds.
    const size_t rowBytes = png_get_rowbytes(png, pngInfo);
    const uint32_t outBits
        = uint32_t(png_get_bit_depth(png, pngInfo)) * png_get_channels(png, pngInfo);
    const uint32_t expectedBits = s.hasAlphaChannel ? 32 : uint32_t(bitDepth == 2 ? 2 : bpp);
    if (outBits != expectedBits)
        Fail(s, LAYOUT_TEXT);
    const size_t specified = size_t((pixelDepth + 7) / 8) * width + 10;
    s.rowBufferSize = std::max(specified, rowBytes);
    s.direct = !s.hasAlphaChannel && s.passes == 1 && bitDepth != 2 && rowBytes <= info.rowStride;
}

void CxImagePNG::ReadRows(PngSession& s)
{
    png_structp png = s.png;
    const uint32_t width = uint32_t(head.biWidth);
    const uint32_t height = uint32_t(head.biHeight);
    if (s.toSink) {
        uint8_t* widened = s.rowBuffer + (s.rowBufferSize - size_t(width) * 3);
        for (uint32_t y = 0; y < height; y++) {
            if (AskEscape())
                Fail(s, nullptr);
            png_read_row(png, s.rowBuffer, nullptr);
            if (head.biBitCount == 8) {
                // Grey through the grey palette, as raising the picture to 24 bits does.
                for (uint32_t x = 0; x < width; x++)
                    widened[3 * x] = widened[3 * x + 1] = widened[3 * x + 2] = s.rowBuffer[x];
                info.rowSink->Row(height - 1 - y, widened);
            } else {
                info.rowSink->Row(height - 1 - y, s.rowBuffer);
            }
        }
        png_read_end(png, nullptr);
        return;
    }
    const size_t effectiveWidth = (size_t(width) * head.biBitCount + 7) / 8;
    uint8_t* buffer = s.rowBuffer;

    for (int32_t pass = 0; pass < s.passes; pass++) {
        const bool mergePass = pass > 0;
        const bool lastPass = pass == s.passes - 1;
        for (uint32_t y = 0; y < height; y++) {
            if (AskEscape())
                Fail(s, nullptr);
            const uint32_t rowIndex = height - 1 - y;
            uint8_t* row = info.pixels + size_t(rowIndex) * info.rowStride;

            if (s.direct) {
                png_read_row(png, row, nullptr);
            } else if (s.hasAlphaChannel) {
                uint8_t* alphaRow = alpha + size_t(rowIndex) * width;
                // The buffer holds red, green, blue, alpha; the row blue, green, red.
                if (mergePass) {
                    for (uint32_t x = 0; x < width; x++) {
                        uint8_t* pixel = buffer + 4 * size_t(x);
                        const uint8_t* stored = row + 3 * size_t(x);
                        pixel[0] = stored[2];
                        pixel[1] = stored[1];
                        pixel[2] = stored[0];
                        pixel[3] = alphaRow[x];
                    }
                }
                png_read_row(png, buffer, nullptr);
                for (uint32_t x = 0; x < width; x++) {
                    const uint8_t* pixel = buffer + 4 * size_t(x);
                    uint8_t* stored = row + 3 * size_t(x);
                    stored[0] = pixel[2];
                    stored[1] = pixel[1];
                    stored[2] = pixel[0];
                    alphaRow[x] = pixel[3];
                }
            } else {
                if (mergePass)
                    std::memcpy(buffer, row, effectiveWidth);
                png_read_row(png, buffer, nullptr);
                if (s.bitDepth == 2 && lastPass) {
                    // In place from the last pixel to the first: each 4-bit destination
                    // lies at or behind the 2-bit sources still to be read.
                    for (uint32_t x = width; x-- > 0;) {
                        const uint8_t value = (buffer[x / 4] >> (6 - 2 * (x % 4))) & 0x03;
                        const uint32_t shift = 4 - 4 * (x % 2);
                        uint8_t& target = buffer[x / 2];
                        target = uint8_t((target & ~(0x0F << shift)) | (value << shift));
                    }
                }
                std::memcpy(row, buffer, effectiveWidth);
            }
        }
    }
    png_read_end(png, nullptr);
}
