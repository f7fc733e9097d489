// JPEG XL reading through libjxl: the basic information first (size, alpha, orientation)
// so that the memory is checked before any pixel is decoded, then the colour encoding,
// then the pixels of one frame handed over span by span straight into the bottom-up rows.
// libjxl has no texts for its errors: the failures are told by where they happened.
#include "CxImageJXL.h"

#include "image/core/CxReadError.h"
#include "image/core/CxReaderSupport.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"

#include <algorithm>
#include <jxl/color_encoding.h>
#include <jxl/decode.h>
#include <memory>

namespace {

const char* const MEMORY_TEXT = "CXIMAGE_MAX_MEMORY exceeded";
const char* const DECODE_TEXT = "JPEG XL decoding failed";
const char* const TRUNCATED_TEXT = "JPEG XL decoding failed: the file is truncated";

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};

void StoreSpanCallback(void* opaque, size_t x, size_t y, size_t count, const void* pixels)
{
    static_cast<CxImageJXL*>(opaque)->StoreSpan(x, y, count, static_cast<const uint8_t*>(pixels));
}

bool IsSrgb(const JxlColorEncoding& encoding)
{
    return (encoding.color_space == JXL_COLOR_SPACE_RGB
               || encoding.color_space == JXL_COLOR_SPACE_GRAY)
        && encoding.white_point == JXL_WHITE_POINT_D65
        && (encoding.color_space == JXL_COLOR_SPACE_GRAY
            || encoding.primaries == JXL_PRIMARIES_SRGB)
        && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// A file coded in the decoder's internal space can be handed over in any space described by
// code points: its original one when the file gives it so, else sRGB (reaching a space
// that only an ICC profile describes would need a colour management system). Then the
// profile of the pixels as handed over is the answer, none when it is sRGB.
std::vector<uint8_t> ChooseColourSpace(JxlDecoder* decoder, const JxlBasicInfo& basic)
{
    if (!basic.uses_original_profile) {
        JxlColorEncoding wanted {};
        const bool grey = basic.num_color_channels == 1;
        const bool described = JxlDecoderGetColorAsEncodedProfile(
                                   decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &wanted)
            == JXL_DEC_SUCCESS;
        const JxlColorSpace space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
        if (!described || wanted.color_space != space) {
            wanted = JxlColorEncoding {};
            wanted.color_space = space;
            wanted.white_point = JXL_WHITE_POINT_D65;
            wanted.primaries = JXL_PRIMARIES_SRGB;
            wanted.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
            wanted.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
        }
        if (JxlDecoderSetPreferredColorProfile(decoder, &wanted) != JXL_DEC_SUCCESS)
            ThrowReadError(DECODE_TEXT);
    }
    JxlColorEncoding data {};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &data)
            == JXL_DEC_SUCCESS
        && IsSrgb(data))
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size)
            != JXL_DEC_SUCCESS
        || size == 0 || size > CXIMAGE_MAX_MEMORY)
        return {};
    std::vector<uint8_t> profile(size);
    if (JxlDecoderGetColorAsICCProfile(
            decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, profile.data(), profile.size())
        != JXL_DEC_SUCCESS)
        profile.clear();
    return profile;
}

} // namespace

bool IsJxlSignature(const uint8_t* bytes, size_t size)
{
    const JxlSignature signature = JxlSignatureCheck(bytes, std::min<size_t>(size, 12));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

CxImageJXL::CxImageJXL() { Startup(CXIMAGE_FORMAT_JXL); }

void CxImageJXL::StoreSpan(size_t x, size_t y, size_t count, const uint8_t* samples)
{
    const size_t width = size_t(head.biWidth);
    if (y >= size_t(head.biHeight) || x >= width)
        return;
    count = std::min(count, width - x);
    const int32_t storedRow = head.biHeight - 1 - int32_t(y);
    uint8_t* row = GetBits(uint32_t(storedRow)) + 3 * x;
    uint8_t* alphaRow = channels == 4 ? GetAlphaAddress(int32_t(x), storedRow) : nullptr;
    for (size_t i = 0; i < count; i++, samples += channels) {
        row[3 * i] = samples[2];
        row[3 * i + 1] = samples[1];
        row[3 * i + 2] = samples[0];
        if (alphaRow)
            alphaRow[i] = samples[3];
    }
}

bool CxImageJXL::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    return RunReader(*this, "Can't allocate memory", [&] {
        const std::vector<uint8_t> bytes
            = ReadRemainingBytes(*stream, CXIMAGE_MAX_MEMORY, MEMORY_TEXT, TRUNCATED_TEXT);
        if (!IsJxlSignature(bytes.data(), bytes.size()))
            ThrowReadError("JPEG XL decoding failed: not a JPEG XL file");
        std::unique_ptr<JxlDecoder, DecoderDeleter> owner(JxlDecoderCreate(nullptr));
        JxlDecoder* decoder = owner.get();
        if (!decoder
            || JxlDecoderSubscribeEvents(
                   decoder, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE)
                != JXL_DEC_SUCCESS
            || JxlDecoderSetInput(decoder, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
            ThrowReadError(DECODE_TEXT);
        // The input is left open: a file that ends too soon then asks for more.

        JxlBasicInfo basic {};
        JxlPixelFormat format { 3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
        std::vector<uint8_t> profile;
        for (;;) {
            if (AskEscape())
                ThrowReadError(info.lastError);
            switch (JxlDecoderProcessInput(decoder)) {
            case JXL_DEC_BASIC_INFO: {
                if (JxlDecoderGetBasicInfo(decoder, &basic) != JXL_DEC_SUCCESS)
                    ThrowReadError(DECODE_TEXT);
                const bool hasAlpha = basic.alpha_bits > 0;
                channels = hasAlpha ? 4 : 3;
                format.num_channels = channels;
                if (basic.xsize == 0 || basic.ysize == 0 || basic.xsize > 0x7FFFFFFF
                    || basic.ysize > 0x7FFFFFFF
                    || PictureAllocation(basic.xsize, basic.ysize, 24, hasAlpha)
                        > CXIMAGE_MAX_MEMORY)
                    ThrowReadError(MEMORY_TEXT);
                if (CxRowSink* sink = info.rowSink) {
                    CxPictureHeader header;
                    header.width = basic.xsize;
                    header.height = basic.ysize;
                    header.bpp = 24;
                    // The decoder keeps the frame's channels as floats, and about as much
                    // again as one channel besides (measured on a 12-megapixel photo).
                    header.workingBytes = uint64_t(basic.xsize) * basic.ysize * 4
                            * (basic.num_color_channels + basic.num_extra_channels + 1)
                        + bytes.size();
                    if (sink->Header(header) == CxRowSink::Take::HeaderOnly) {
                        head.biWidth = int32_t(basic.xsize);
                        head.biHeight = int32_t(basic.ysize);
                        head.biBitCount = 24;
                        return;
                    }
                }
                if (info.frame > 0)
                    JxlDecoderSkipFrames(decoder, size_t(info.frame));
                break;
            }
            case JXL_DEC_COLOR_ENCODING:
                profile = ChooseColourSpace(decoder, basic);
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                if (!Create(basic.xsize, basic.ysize, 24, CXIMAGE_FORMAT_JXL))
                    ThrowReadError(info.lastError);
                SetIccProfile(profile);
                if (channels == 4 && !CreateAlpha())
                    ThrowReadError("CxImage::CreateAlpha can't allocate memory");
                if (JxlDecoderSetImageOutCallback(decoder, &format, StoreSpanCallback, this)
                    != JXL_DEC_SUCCESS)
                    ThrowReadError(DECODE_TEXT);
                break;
            case JXL_DEC_FULL_IMAGE:
                // One frame is all a photo gives.
                info.numFrames = basic.have_animation ? info.frame + 1 : 1;
                return;
            case JXL_DEC_SUCCESS:
                ThrowReadError(IsValid() ? DECODE_TEXT : "JPEG XL frame not found");
            case JXL_DEC_NEED_MORE_INPUT:
                ThrowReadError(TRUNCATED_TEXT);
            default:
                ThrowReadError(DECODE_TEXT);
            }
        }
    });
}
