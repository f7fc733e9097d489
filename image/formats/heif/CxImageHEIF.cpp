// HEIF and AVIF reading through libheif: the file is parsed from memory, the primary
// image's size checked against the memory limit before it is decoded, then it is decoded
// to interleaved 8-bit RGB or RGBA with its transformations applied and copied into the
// bottom-up rows. Reference: ISO/IEC 23008-12 (HEIF) and the AV1 image file format.
#include "CxImageHEIF.h"

#include "NclxProfile.h"
#include "image/core/CxByteOrder.h"
#include "image/core/CxReadError.h"
#include "image/core/CxReaderSupport.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <libheif/heif.h>
#include <memory>
#include <string>

namespace {

const char* const MEMORY_TEXT = "CXIMAGE_MAX_MEMORY exceeded";

// The longest side libheif accepts for an image, a tile of a grid or the canvas of a grid
// or an overlay. Those canvases are allocated at the size their own data gives, which
// nothing ties to the size the file declares for the picture: the limit keeps one to about
// four times the memory limit, and once the declared size is known, to its longer side.
int SideLimit(uint64_t declaredSide)
{
    const uint64_t bySquare = uint64_t(std::sqrt(double(CXIMAGE_MAX_MEMORY) * 4 / 3));
    return int(std::min<uint64_t>({ 65535, bySquare, declaredSide }));
}

bool IsBrand(const uint8_t* brand, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (std::memcmp(brand, name, 4) == 0)
            return true;
    }
    return false;
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

void Check(const heif_error& error)
{
    if (error.code == heif_error_Ok)
        return;
    std::string text = error.message && *error.message ? error.message : "HEIF decoding failed";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    ThrowReadError(text);
}

struct NclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};

// The profile of the samples as coded, kept for the conversion: the ICC profile the file
// embeds, else one made for the colour space its code points name (none for sRGB), in its
// colour box or else in the coded stream.
std::vector<uint8_t> ColourProfile(heif_image_handle* handle, heif_image* image, size_t fileSize)
{
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size > 0 && size <= fileSize) {
        std::vector<uint8_t> profile(size);
        if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok)
            return profile;
    }
    // libheif may hand over a description along with an error (code points it doesn't
    // know): it is freed either way.
    heif_color_profile_nclx* raw = nullptr;
    bool known = heif_image_handle_get_nclx_color_profile(handle, &raw).code == heif_error_Ok;
    std::unique_ptr<heif_color_profile_nclx, NclxDeleter> nclx(raw);
    if (!known || !nclx) {
        raw = nullptr;
        known = heif_image_get_nclx_color_profile(image, &raw).code == heif_error_Ok;
        nclx.reset(raw);
    }
    if (!known || !nclx)
        return {};
    const NclxChromaticities primaries = { { nclx->color_primary_red_x, nclx->color_primary_red_y },
        { nclx->color_primary_green_x, nclx->color_primary_green_y },
        { nclx->color_primary_blue_x, nclx->color_primary_blue_y },
        { nclx->color_primary_white_x, nclx->color_primary_white_y } };
    return ProfileForNclx(primaries, uint16_t(nclx->transfer_characteristics));
}

} // namespace

uint32_t HeifSignatureFormat(const uint8_t* bytes, size_t size)
{
    if (size < 16 || std::memcmp(bytes + 4, "ftyp", 4) != 0)
        return CXIMAGE_FORMAT_UNKNOWN;
    const uint8_t* major = bytes + 8;
    if (IsBrand(major, { "avif", "avis" }))
        return CXIMAGE_FORMAT_AVIF;
    if (IsBrand(major, { "heic", "heix", "heim", "heis", "hevc", "hevx" }))
        return CXIMAGE_FORMAT_HEIF;
    if (!IsBrand(major, { "mif1", "msf1" }))
        return CXIMAGE_FORMAT_UNKNOWN;
    // A general brand: the compatible brands, within the box and the bytes, tell the coding.
    const size_t boxEnd = std::min<size_t>(ReadBe32(bytes), size);
    for (size_t offset = 16; offset + 4 <= boxEnd; offset += 4) {
        if (IsBrand(bytes + offset, { "avif", "avis" }))
            return CXIMAGE_FORMAT_AVIF;
    }
    return CXIMAGE_FORMAT_HEIF;
}

CxImageHEIF::CxImageHEIF(uint32_t imageType) { Startup(imageType); }

bool CxImageHEIF::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    return RunReader(*this, "Can't allocate memory", [&] {
        const std::vector<uint8_t> bytes = ReadRemainingBytes(
            *stream, CXIMAGE_MAX_MEMORY, MEMORY_TEXT, "Invalid input: Unexpected end of file");
        uint32_t format = HeifSignatureFormat(bytes.data(), bytes.size());
        if (format == CXIMAGE_FORMAT_UNKNOWN)
            ThrowReadError("Invalid input: No ftyp box");

        std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
        if (!context)
            ThrowReadError("Can't allocate memory");
        heif_context_set_maximum_image_size_limit(context.get(), SideLimit(UINT64_MAX));
        Check(heif_context_read_from_memory_without_copy(
            context.get(), bytes.data(), bytes.size(), nullptr));
        heif_image_handle* rawHandle = nullptr;
        Check(heif_context_get_primary_image_handle(context.get(), &rawHandle));
        std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);

        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        if (width <= 0 || height <= 0)
            ThrowReadError("Invalid input: No or invalid primary item");
        const bool hasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
        const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
        const uint64_t sampleBytes = bits > 8 ? 2 : 1;
        // What libheif holds while it decodes: the coded size (before a crop) in planes of
        // luma and subsampled chroma, and the picture interleaved.
        const uint64_t codedArea = std::max<uint64_t>(
            uint64_t(std::max(heif_image_handle_get_ispe_width(handle.get()), 0))
                * uint64_t(std::max(heif_image_handle_get_ispe_height(handle.get()), 0)),
            uint64_t(width) * uint64_t(height));
        // Sides must stay below the limit; coded pictures are padded to whole coding blocks
        // (of at most 128 pixels) beyond it.
        heif_context_set_maximum_image_size_limit(context.get(),
            SideLimit(
                uint64_t(std::max({ width, height, heif_image_handle_get_ispe_width(handle.get()),
                    heif_image_handle_get_ispe_height(handle.get()) }))
                + 128));
        const uint64_t interleaved = uint64_t(width) * uint64_t(height) * (hasAlpha ? 4 : 3);
        const uint64_t planes = codedArea * sampleBytes * (hasAlpha ? 5 : 3) / 2;
        if (PictureAllocation(uint32_t(width), uint32_t(height), 24, hasAlpha) > CXIMAGE_MAX_MEMORY
            || interleaved + planes > CXIMAGE_MAX_MEMORY)
            ThrowReadError(MEMORY_TEXT);

        if (CxRowSink* sink = info.rowSink) {
            CxPictureHeader header;
            header.width = uint32_t(width);
            header.height = uint32_t(height);
            header.bpp = 24;
            // The AV1 decoder keeps a pool of frames besides (measured: about three more
            // times the planes of an 8-bit 4:2:0 picture of 12 megapixels).
            header.workingBytes
                = interleaved + planes * (format == CXIMAGE_FORMAT_AVIF ? 4 : 1) + bytes.size();
            if (sink->Header(header) == CxRowSink::Take::HeaderOnly) {
                head.biWidth = width;
                head.biHeight = height;
                head.biBitCount = 24;
                info.type = format;
                return;
            }
        }
        if (AskEscape())
            ThrowReadError(info.lastError);

        DecodePrimary(handle.get(), hasAlpha, format, bytes.size());
    });
}

void CxImageHEIF::DecodePrimary(
    heif_image_handle* handle, bool hasAlpha, uint32_t format, size_t fileSize)
{
    const uint64_t declaredArea = uint64_t(heif_image_handle_get_width(handle))
        * uint64_t(heif_image_handle_get_height(handle));
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options)
        ThrowReadError("Can't allocate memory");
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    Check(heif_decode_image(handle, &rawImage, heif_colorspace_RGB,
        hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()));
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);

    int stride = 0;
    const uint8_t* samples
        = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int decodedWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int decodedHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
    const uint32_t channels = hasAlpha ? 4 : 3;
    if (!samples || decodedWidth <= 0 || decodedHeight <= 0
        || stride < int64_t(decodedWidth) * channels
        || heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        ThrowReadError("Unsupported feature: decoded image has an unexpected layout");
    if (uint64_t(decodedWidth) * uint64_t(decodedHeight) > declaredArea)
        ThrowReadError("Invalid input: the decoded image is larger than the file declares");

    if (!Create(uint32_t(decodedWidth), uint32_t(decodedHeight), 24, format))
        ThrowReadError(info.lastError);
    if (hasAlpha && !CreateAlpha())
        ThrowReadError("CxImage::CreateAlpha can't allocate memory");
    for (int y = 0; y < decodedHeight; y++)
        StoreTopDownRow(*this, uint32_t(y), samples + size_t(y) * size_t(stride), channels);
    info.numFrames = 1;
    SetIccProfile(ColourProfile(handle, image.get(), fileSize));
}
