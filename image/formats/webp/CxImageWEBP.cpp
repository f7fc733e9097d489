// WebP reading through libwebp: the features first (size, alpha, animation) so that the
// memory is checked before anything is decoded, then the still picture straight into the
// bottom-up rows (or through an RGBA buffer when it has alpha), or the animation decoder's
// canvas for the frame asked for. Reference: the WebP container specification (RIFF).
#include "CxImageWEBP.h"

#include "image/core/CxReadError.h"
#include "image/core/CxReaderSupport.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "image/formats/exif/CxExifReader.h"

#include <cstring>
#include <memory>
#include <string>
#include <webp/decode.h>
#include <webp/demux.h>

namespace {

const char* const MEMORY_TEXT = "CXIMAGE_MAX_MEMORY exceeded";

// The status names libwebp's own tools print.
std::string StatusText(VP8StatusCode status)
{
    static const char* const NAMES[] = { "OK", "OUT_OF_MEMORY", "INVALID_PARAM", "BITSTREAM_ERROR",
        "UNSUPPORTED_FEATURE", "SUSPENDED", "USER_ABORT", "NOT_ENOUGH_DATA" };
    const unsigned index = unsigned(status);
    return std::string("WebP decoding failed: ")
        + (index < sizeof NAMES / sizeof NAMES[0] ? NAMES[index] : "unknown status");
}

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
struct DemuxerDeleter {
    void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};

// The orientation (1..8) an EXIF chunk gives, 0 for none. The chunk holds the TIFF
// structure, with or without the "Exif\0\0" prefix of a JPEG segment.
uint8_t ExifOrientation(const uint8_t* chunk, size_t size)
{
    if (size > 0xFFFF0000u)
        return 0;
    std::vector<uint8_t> payload;
    if (size < 6 || std::memcmp(chunk, "Exif\0\0", 6) != 0)
        payload.assign({ 'E', 'x', 'i', 'f', 0, 0 });
    payload.insert(payload.end(), chunk, chunk + size);
    ExifRecord record {};
    CxExifReader reader(&record);
    // The length field of a segment counts its own two bytes.
    if (!reader.ParseExifBlock(payload.data(), uint32_t(payload.size() + 2)))
        return 0;
    return record.orientation >= 1 && record.orientation <= 8 ? uint8_t(record.orientation) : 0;
}

} // namespace

CxImageWEBP::CxImageWEBP() { Startup(CXIMAGE_FORMAT_WEBP); }

bool CxImageWEBP::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    return RunReader(*this, "Can't allocate memory", [&] {
        const std::vector<uint8_t> bytes = ReadRemainingBytes(
            *stream, CXIMAGE_MAX_MEMORY, MEMORY_TEXT, "WebP decoding failed: NOT_ENOUGH_DATA");
        // libwebp also takes bare VP8 and VP8L streams; a file is a RIFF container.
        if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0
            || std::memcmp(bytes.data() + 8, "WEBP", 4) != 0)
            ThrowReadError(bytes.size() < 12 ? StatusText(VP8_STATUS_NOT_ENOUGH_DATA)
                                             : StatusText(VP8_STATUS_BITSTREAM_ERROR));
        WebPBitstreamFeatures features;
        const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
        if (status != VP8_STATUS_OK)
            ThrowReadError(StatusText(status));
        const uint32_t width = uint32_t(features.width);
        const uint32_t height = uint32_t(features.height);
        const bool hasAlpha = features.has_alpha != 0;
        // An RGBA buffer beside the picture: the animation decoder's canvas and the one
        // before it, or the still picture with alpha before it is split.
        const uint64_t working
            = uint64_t(width) * height * 4 * (features.has_animation ? 2 : (hasAlpha ? 1 : 0));
        if (PictureAllocation(width, height, 24, hasAlpha) + working > CXIMAGE_MAX_MEMORY)
            ThrowReadError(MEMORY_TEXT);

        if (CxRowSink* sink = info.rowSink) {
            CxPictureHeader header;
            header.width = width;
            header.height = height;
            header.bpp = 24;
            header.workingBytes = working + bytes.size();
            if (sink->Header(header) == CxRowSink::Take::HeaderOnly) {
                head.biWidth = int32_t(width);
                head.biHeight = int32_t(height);
                head.biBitCount = 24;
                return;
            }
        }
        if (features.has_animation)
            DecodeAnimationFrame(bytes);
        else
            DecodeStill(bytes, hasAlpha);
        RecordMetadata(bytes);
    });
}

void CxImageWEBP::DecodeStill(const std::vector<uint8_t>& bytes, bool hasAlpha)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        ThrowReadError("WebP decoding failed: INVALID_PARAM");
    WebPBitstreamFeatures& features = config.input;
    VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status != VP8_STATUS_OK)
        ThrowReadError(StatusText(status));
    const uint32_t width = uint32_t(features.width);
    const uint32_t height = uint32_t(features.height);
    if (!Create(width, height, 24, CXIMAGE_FORMAT_WEBP))
        ThrowReadError(info.lastError);
    info.numFrames = 1;

    std::vector<uint8_t> rgba;
    WebPRGBABuffer& out = config.output.u.RGBA;
    config.output.is_external_memory = 1;
    if (hasAlpha) {
        if (!CreateAlpha())
            ThrowReadError("CxImage::CreateAlpha can't allocate memory");
        rgba.resize(size_t(width) * height * 4);
        config.output.colorspace = MODE_RGBA;
        out.rgba = rgba.data();
        out.stride = int(width * 4);
        out.size = rgba.size();
    } else {
        // Straight into the rows, the last one first.
        config.output.colorspace = MODE_BGR;
        config.options.flip = 1;
        out.rgba = info.pixels;
        out.stride = int(info.rowStride);
        out.size = size_t(info.rowStride) * height;
    }
    status = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        ThrowReadError(StatusText(status));
    if (hasAlpha) {
        for (uint32_t y = 0; y < height; y++)
            StoreTopDownRow(*this, y, rgba.data() + size_t(y) * width * 4, 4);
    }
}

void CxImageWEBP::DecodeAnimationFrame(const std::vector<uint8_t>& bytes)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        ThrowReadError("WebP decoding failed: INVALID_PARAM");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data = { bytes.data(), bytes.size() };
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
        WebPAnimDecoderNew(&data, &options));
    if (!decoder)
        ThrowReadError("WebP decoding failed: the animation can't be parsed");
    WebPAnimInfo animation;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &animation))
        ThrowReadError("WebP decoding failed: the animation can't be parsed");
    info.numFrames = int32_t(animation.frame_count);
    if (info.frame < 0 || info.frame >= info.numFrames)
        ThrowReadError("WebP frame not found");

    // Each frame is drawn on the canvas over the ones before it.
    uint8_t* canvas = nullptr;
    for (int32_t frame = 0; frame <= info.frame; frame++) {
        int timestamp = 0;
        if (AskEscape() || !WebPAnimDecoderHasMoreFrames(decoder.get()))
            ThrowReadError("WebP frame not found");
        if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp))
            ThrowReadError("WebP decoding failed: BITSTREAM_ERROR");
    }
    const uint32_t width = animation.canvas_width;
    const uint32_t height = animation.canvas_height;
    if (!Create(width, height, 24, CXIMAGE_FORMAT_WEBP))
        ThrowReadError(info.lastError);
    if (!CreateAlpha())
        ThrowReadError("CxImage::CreateAlpha can't allocate memory");
    for (uint32_t y = 0; y < height; y++)
        StoreTopDownRow(*this, y, canvas + size_t(y) * width * 4, 4);
}

void CxImageWEBP::RecordMetadata(const std::vector<uint8_t>& bytes)
{
    const WebPData data = { bytes.data(), bytes.size() };
    std::unique_ptr<WebPDemuxer, DemuxerDeleter> demuxer(WebPDemux(&data));
    if (!demuxer || !(WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS) & (ICCP_FLAG | EXIF_FLAG)))
        return;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demuxer.get(), "ICCP", 1, &chunk)) {
        SetIccProfile(
            std::vector<uint8_t>(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebPDemuxGetChunk(demuxer.get(), "EXIF", 1, &chunk)) {
        SetOrientation(ExifOrientation(chunk.chunk.bytes, chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
}
