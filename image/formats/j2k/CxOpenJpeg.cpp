#include "CxOpenJpeg.h"

#include "image/core/CxStream.h"
#include "platform/Memory.h"

#include <cstring>
#include <memory>
#include <openjpeg.h>

namespace {

constexpr uint8_t JP2_SIGNATURE[12] = { 0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A };

struct StreamContext {
    CxStream* stream;
    int32_t start; // OpenJPEG counts offsets from here
};

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T count, void* user)
{
    auto* context = static_cast<StreamContext*>(user);
    const uint32_t wanted = uint32_t(std::min<OPJ_SIZE_T>(count, 0x7FFFFFFF));
    const uint32_t got = context->stream->Read(buffer, 1, wanted);
    return got == 0 ? OPJ_SIZE_T(-1) : got;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user)
{
    auto* context = static_cast<StreamContext*>(user);
    if (count > 0x7FFFFFFF || count < -0x7FFFFFFF)
        return -1;
    return context->stream->Seek(int32_t(count), SEEK_CUR) ? count : -1;
}

OPJ_BOOL SeekTo(OPJ_OFF_T offset, void* user)
{
    auto* context = static_cast<StreamContext*>(user);
    if (offset < 0 || offset > 0x7FFFFFFF - int64_t(context->start))
        return OPJ_FALSE;
    return context->stream->Seek(int32_t(context->start + offset), SEEK_SET);
}

void KeepFirstError(const char* message, void* user)
{
    auto* text = static_cast<std::string*>(user);
    // The library's allocations that failed ("Not enough memory ...", "Cannot allocate
    // memory ...") are told as memory that ran short.
    if (message && std::strstr(message, "memory"))
        platform::NoteAllocationFailure();
    if (text->empty() && message) {
        *text = message;
        while (!text->empty() && (text->back() == '\n' || text->back() == ' '))
            text->pop_back();
    }
}

void Ignore(const char*, void*) { }

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};

} // namespace

bool IsJp2Signature(const uint8_t* bytes, size_t size)
{
    return size >= sizeof(JP2_SIGNATURE)
        && std::memcmp(bytes, JP2_SIGNATURE, sizeof(JP2_SIGNATURE)) == 0;
}

bool IsCodestreamSignature(const uint8_t* bytes, size_t size)
{
    return size >= 4 && bytes[0] == 0xFF && bytes[1] == 0x4F && bytes[2] == 0xFF
        && bytes[3] == 0x51;
}

CxOpenJpegPicture::~CxOpenJpegPicture()
{
    if (image)
        opj_image_destroy(static_cast<opj_image_t*>(image));
}

bool CxOpenJpegPicture::Decode(CxStream* stream, CxDecodeDetail& detail)
{
    StreamContext context { stream, stream->Tell() };
    if (context.start < 0) {
        detail.text = "unreadable stream";
        return false;
    }
    uint8_t magic[12] = {};
    const uint32_t magicSize = stream->Read(magic, 1, sizeof(magic));
    if (!stream->Seek(context.start, SEEK_SET)) {
        detail.text = "unreadable stream";
        return false;
    }
    const int32_t size = stream->Size();
    const bool jp2 = IsJp2Signature(magic, magicSize);

    std::unique_ptr<opj_codec_t, CodecDeleter> codec(
        opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec) {
        detail.text = "no decoder";
        return false;
    }
    std::string libraryError;
    opj_set_error_handler(codec.get(), KeepFirstError, &libraryError);
    opj_set_warning_handler(codec.get(), Ignore, nullptr);
    opj_set_info_handler(codec.get(), Ignore, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) {
        detail.text = "decoder setup failed";
        return false;
    }

    std::unique_ptr<opj_stream_t, StreamDeleter> input(opj_stream_create(65536, OPJ_TRUE));
    if (!input) {
        detail.text = "no stream";
        return false;
    }
    opj_stream_set_user_data(input.get(), &context, nullptr);
    opj_stream_set_user_data_length(
        input.get(), OPJ_UINT64(size > context.start ? size - context.start : 0));
    opj_stream_set_read_function(input.get(), ReadBytes);
    opj_stream_set_skip_function(input.get(), SkipBytes);
    opj_stream_set_seek_function(input.get(), SeekTo);

    auto Failed = [&](const char* fallback) {
        detail.text = libraryError.empty() ? fallback : libraryError;
        return false;
    };

    opj_image_t* decoded = nullptr;
    if (!opj_read_header(input.get(), codec.get(), &decoded) || !decoded) {
        if (decoded)
            opj_image_destroy(decoded);
        return Failed("bad header");
    }
    image = decoded;
    if (decoded->numcomps == 0 || !decoded->comps)
        return Failed("no components");

    // OpenJPEG keeps every component as 32-bit samples: the declared sizes are checked
    // before it allocates them.
    uint64_t sampleBytes = 0;
    for (uint32_t c = 0; c < decoded->numcomps; c++) {
        const opj_image_comp_t& comp = decoded->comps[c];
        if (comp.w == 0 || comp.h == 0 || comp.prec == 0 || comp.prec > 31)
            return Failed("bad component");
        sampleBytes += uint64_t(comp.w) * comp.h * 4;
    }
    if (sampleBytes > CXIMAGE_MAX_MEMORY) {
        detail = { MEMORY_LIMIT_DETAIL, true };
        return false;
    }

    // A stream cut short still decodes the part that is there.
    if (!opj_decode(codec.get(), input.get(), decoded))
        return Failed("decoding failed");
    opj_end_decompress(codec.get(), input.get());

    planes.resize(decoded->numcomps);
    for (uint32_t c = 0; c < decoded->numcomps; c++) {
        const opj_image_comp_t& comp = decoded->comps[c];
        if (!comp.data)
            return Failed("component without samples");
        CxSamplePlane& plane = planes[c];
        plane.width = comp.w;
        plane.height = comp.h;
        plane.precision = comp.prec;
        plane.isSigned = comp.sgnd != 0;
        plane.maxValue = (1u << comp.prec) - 1;
        plane.isAlpha = comp.alpha != 0;
        plane.samples = comp.data;
    }
    return true;
}
