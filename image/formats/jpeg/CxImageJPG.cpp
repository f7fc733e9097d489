// JPEG reading through libjpeg: a source manager over CxStream, an error exit that jumps
// back to the decode with the library's message, and the copy of scanlines into the
// bottom-up image. Reference: ITU T.81 and the JFIF 1.02 specification.
#include "CxImageJPG.h"

#include "JpegCoefficients.h"
#include "image/core/CxReadError.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <vector>

namespace {

constexpr uint32_t SOURCE_BUFFER_SIZE = 4096;
// Rows decoded before a row sink takes them.
constexpr uint32_t ROWS_PER_BAND = 16;
// A progressive file can ask for any number of scans, each a pass over the whole
// coefficient buffer; no encoder writes anywhere near this many.
constexpr int MAX_SCANS = 500;
// The library's second line of defence behind CXIMAGE_MAX_MEMORY: the coefficient buffer
// of a progressive file is about twice the size of its pixels.
constexpr long LIBRARY_MEMORY_LIMIT = long(3 * CXIMAGE_MAX_MEMORY);

const char* const MEMORY_LIMIT_TEXT = "CXIMAGE_MAX_MEMORY exceeded";
const char* const TOO_MANY_SCANS_TEXT = "Too many progressive JPEG scans";

} // namespace

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char (*lastError)[256];
};

struct JpegStreamSource {
    jpeg_source_mgr pub;
    CxStream* stream;
    JOCTET* buffer;
    boolean startOfFile;
};

// Everything the library touches for one decode; trivially destructible, so a jump out of
// the library skips no destructor. JpegSessionOwner destroys the decompressor.
struct JpegSession {
    jpeg_decompress_struct cinfo;
    JpegErrorManager error;
    JpegStreamSource source;
    jpeg_progress_mgr progress;
    bool created;
    JpegCoefficients* coefficients;
    // A decode asked to stop after the DC scans met a scan of AC coefficients first.
    bool needsEveryScan;
};

namespace {

[[noreturn]] void JumpBack(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(error->jump, 1);
}

void ErrorExit(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    CopyLastError(*error->lastError, text);
    // The library's allocations that failed (case 10 is a picture beyond the limit).
    if (cinfo->err->msg_code == JERR_OUT_OF_MEMORY && cinfo->err->msg_parm.i[0] != 10)
        platform::NoteAllocationFailure();
    JumpBack(cinfo);
}

// A picture application has no console: warnings and trace messages go nowhere.
void OutputMessage(j_common_ptr) { }

void ProgressMonitor(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > MAX_SCANS) {
        auto* error = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        CopyLastError(*error->lastError, TOO_MANY_SCANS_TEXT);
        JumpBack(cinfo);
    }
}

void InitSource(j_decompress_ptr cinfo)
{
    reinterpret_cast<JpegStreamSource*>(cinfo->src)->startOfFile = TRUE;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<JpegStreamSource*>(cinfo->src);
    uint32_t count = source->stream->Read(source->buffer, 1, SOURCE_BUFFER_SIZE);
    if (count == 0) {
        if (source->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A file that ends early gets an end-of-image marker: the rows present decode.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->buffer[0] = JOCTET(0xFF);
        source->buffer[1] = JOCTET(JPEG_EOI);
        count = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = count;
    source->startOfFile = FALSE;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* source = cinfo->src;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) { }

// The size CxImage::Create would allocate, so that nothing large is asked of the library
// for a picture that could never be stored.
uint64_t ImageBytes(uint64_t width, uint64_t height, uint32_t components)
{
    const uint64_t bpp = components == 1 ? 8 : 24;
    const uint64_t stride = ((width * bpp + 31) / 32) * 4;
    return sizeof(BITMAPINFOHEADER) + (components == 1 ? 256 * 4 : 0) + stride * height;
}

// What the library holds while it decodes beside the rows: the coefficient arrays of a
// file of several scans, and a band of one row of blocks in its stages (coefficients,
// samples, upsampled and colour-converted rows).
uint64_t LibraryWorkingBytes(jpeg_decompress_struct* cinfo, bool dcScansOnly)
{
    uint64_t bytes = 0;
    if (jpeg_has_multiple_scans(cinfo)) {
        bytes = JpegCoefficients::BytesFor(cinfo,
            dcScansOnly ? JpegCoefficients::Keep::DcOnly : JpegCoefficients::Keep::Everything);
    }
    const uint64_t band = uint64_t(cinfo->max_v_samp_factor) * DCTSIZE;
    return bytes + uint64_t(cinfo->output_width) * 4 * band * 4;
}

// The end of a decode. One that read the DC scans alone leaves the rest of the file
// unread: finishing would decode every remaining scan.
void FinishDecompress(j_decompress_ptr cinfo, bool dcScansOnly)
{
    if (dcScansOnly)
        jpeg_abort_decompress(cinfo);
    else
        jpeg_finish_decompress(cinfo);
}

// Reads the DC scans at the head of a progressive file, stopping before the first scan
// of AC coefficients. Answers the scan to output (every one read), or 0 when an AC scan
// came before some component's DC coefficients.
int ConsumeDcScans(j_decompress_ptr cinfo)
{
    for (;;) {
        // The header of the next scan has been read, its data not yet.
        if (cinfo->Ss != 0) {
            for (int c = 0; c < cinfo->num_components; c++) {
                if (cinfo->coef_bits[c][0] < 0)
                    return 0;
            }
            return cinfo->input_scan_number - 1;
        }
        int status;
        do
            status = jpeg_consume_input(cinfo);
        while (status == JPEG_ROW_COMPLETED);
        if (status == JPEG_SCAN_COMPLETED)
            status = jpeg_consume_input(cinfo); // the next scan's header, or the end
        if (status != JPEG_REACHED_SOS)
            return cinfo->input_scan_number;
    }
}

int32_t DpiFromReal(double value)
{
    if (!(value > 0.0))
        return 0;
    return value >= 2147483647.0 ? 2147483647 : int32_t(value);
}

struct JpegSessionOwner {
    JpegSession session {};
    JpegCoefficients coefficients;
    JpegSessionOwner() = default;
    JpegSessionOwner(const JpegSessionOwner&) = delete;
    JpegSessionOwner& operator=(const JpegSessionOwner&) = delete;
    ~JpegSessionOwner()
    {
        if (session.created)
            jpeg_destroy_decompress(&session.cinfo);
    }
};

} // namespace

CxImageJPG::CxImageJPG()
    : CxImage(CXIMAGE_FORMAT_JPG)
    , exifRecord {}
{
}

CxImageJPG::~CxImageJPG() = default;

bool CxImageJPG::ReadExifFromStream(CxStream* stream)
{
    if (!stream)
        return false;
    // The record's thumbnail points into the segments of the reader being replaced.
    exifRecord.thumbnail = nullptr;
    exifRecord.thumbnailSize = 0;
    exifReader.reset();
    exifReader = std::make_unique<CxExifReader>(&exifRecord);
    // The walk reads ahead; whatever it finds, the stream goes back to where it started.
    const int32_t start = stream->Tell();
    exifReader->ReadExifFromStream(stream);
    stream->Seek(start, SEEK_SET);
    return exifRecord.exifFound;
}

bool CxImageJPG::Decode(CxStream* stream)
{
    if (!stream)
        return false;

    return RunReader(*this, "Can't allocate memory", [&] {
        ReadExifFromStream(stream);
        const int32_t start = stream->Tell();
        const uint32_t options = GetFormatOption(CXIMAGE_FORMAT_JPG);

        std::vector<JOCTET> buffer(SOURCE_BUFFER_SIZE);
        for (;;) {
            JpegSessionOwner owner;
            JpegSession& session = owner.session;
            session.source.stream = stream;
            session.source.buffer = buffer.data();
            session.coefficients = &owner.coefficients;
            if (Decompress(session))
                return true;
            if (!session.needsEveryScan)
                return false;
            // The DC coefficients are spread over scans of AC ones: read every scan.
            SetFormatOption(options & ~CXIMAGE_JPEG_DC_SCANS_ONLY, CXIMAGE_FORMAT_JPG);
            stream->Seek(start, SEEK_SET);
        }
    });
}

// The recovery point of every library error. Only trivially destructible locals live in
// this function and in everything it calls that can jump.
bool CxImageJPG::Decompress(JpegSession& s)
{
    jpeg_decompress_struct* cinfo = &s.cinfo;
    cinfo->err = jpeg_std_error(&s.error.pub);
    s.error.pub.error_exit = ErrorExit;
    s.error.pub.output_message = OutputMessage;
    s.error.lastError = &info.lastError;
    if (setjmp(s.error.jump))
        return false;

    jpeg_create_decompress(cinfo);
    s.created = true;
    cinfo->mem->max_memory_to_use = LIBRARY_MEMORY_LIMIT;
    s.progress.progress_monitor = ProgressMonitor;
    cinfo->progress = &s.progress;

    s.source.pub.init_source = InitSource;
    s.source.pub.fill_input_buffer = FillInputBuffer;
    s.source.pub.skip_input_data = SkipInputData;
    s.source.pub.resync_to_restart = jpeg_resync_to_restart;
    s.source.pub.term_source = TermSource;
    s.source.pub.next_input_byte = nullptr;
    s.source.pub.bytes_in_buffer = 0;
    cinfo->src = &s.source.pub;

    // The colour profile's APP2 segments are kept for the library to join.
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    JOCTET* profile = nullptr;
    unsigned int profileLength = 0;
    if (!jpeg_read_icc_profile(cinfo, &profile, &profileLength))
        profile = nullptr;
    RecordProfileAndOrientation(profile, profileLength);
    if (info.jpegReduction)
        cinfo->scale_denom = info.jpegReduction;
    // At 1/8 scale a block is one pixel, its DC coefficient's: a progressive file may be
    // read only as far as its DC scans, as the caller asked.
    jpeg_calc_output_dimensions(cinfo);
    const bool dcScansOnly = (GetFormatOption(CXIMAGE_FORMAT_JPG) & CXIMAGE_JPEG_DC_SCANS_ONLY)
        && cinfo->progressive_mode && cinfo->min_DCT_scaled_size == 1;

    // The header-only query: the size without the pixels.
    if (AskEscape()) {
        jpeg_calc_output_dimensions(cinfo);
        head.biWidth = int32_t(cinfo->output_width);
        head.biHeight = int32_t(cinfo->output_height);
        return true;
    }

    // Three-component pictures come out of the library in the image's own order.
    if (cinfo->out_color_space == JCS_RGB && cinfo->num_components == 3)
        cinfo->out_color_space = JCS_EXT_BGR;
    jpeg_calc_output_dimensions(cinfo);
    if (ImageBytes(cinfo->output_width, cinfo->output_height, cinfo->output_components)
        > CXIMAGE_MAX_MEMORY) {
        SetLastError(MEMORY_LIMIT_TEXT);
        return false;
    }

    CxRowSink::Take take = CxRowSink::Take::Picture;
    if (CxRowSink* sink = info.rowSink) {
        CxPictureHeader header;
        header.width = cinfo->output_width;
        header.height = cinfo->output_height;
        header.bpp = cinfo->output_components == 1 ? 8 : 24;
        header.workingBytes = LibraryWorkingBytes(cinfo, dcScansOnly);
        // Grey, colour and CMYK rows all come out as the picture raised to 24 bits would.
        header.rowsOffered = true;
        header.orientation = GetOrientation();
        header.iccProfile = GetIccProfile();
        take = sink->Header(header);
        if (take != CxRowSink::Take::Picture) {
            head.biWidth = int32_t(cinfo->output_width);
            head.biHeight = int32_t(cinfo->output_height);
            head.biBitCount = uint16_t(header.bpp);
            if (take == CxRowSink::Take::HeaderOnly)
                return true;
        }
    }

    s.coefficients->Install(
        cinfo, dcScansOnly ? JpegCoefficients::Keep::DcOnly : JpegCoefficients::Keep::Everything);
    if (dcScansOnly) {
        cinfo->buffered_image = TRUE;
        // Smoothing would guess AC coefficients that a one-pixel block never uses.
        cinfo->do_block_smoothing = FALSE;
    }
    jpeg_start_decompress(cinfo);
    if (dcScansOnly) {
        const int scan = ConsumeDcScans(cinfo);
        if (scan == 0) {
            s.needsEveryScan = true;
            return false;
        }
        jpeg_start_output(cinfo, scan);
    }
    if (take == CxRowSink::Take::Rows) {
        DecompressRows(s, info.rowSink);
        FinishDecompress(cinfo, dcScansOnly);
        return true;
    }
    if (!Create(cinfo->output_width, cinfo->output_height, 8 * cinfo->output_components,
            CXIMAGE_FORMAT_JPG))
        return false;
    SetResolution(s);
    if (cinfo->out_color_space == JCS_GRAYSCALE) {
        MakeGreyPalette();
        head.biClrUsed = 256;
    } else {
        head.biClrUsed = 0;
    }

    DecompressRows(s, nullptr);
    FinishDecompress(cinfo, dcScansOnly);
    return true;
}

// The Exif orientation, and the colour profile that the APP2 segments carry in numbered
// pieces, as the library joined them (in their order, each number once, their count as
// every piece says; a broken set gives none). Takes the library's copy of the profile.
void CxImageJPG::RecordProfileAndOrientation(uint8_t* profile, uint32_t length)
{
    SetOrientation(
        exifRecord.exifFound && exifRecord.orientation >= 1 && exifRecord.orientation <= 8
            ? uint8_t(exifRecord.orientation)
            : 0);
    std::vector<uint8_t> kept;
    if (profile && length <= MAX_ICC_PROFILE_BYTES)
        kept.assign(profile, profile + length);
    std::free(profile);
    SetIccProfile(std::move(kept));
}

void CxImageJPG::DecompressRows(JpegSession& s, CxRowSink* sink)
{
    jpeg_decompress_struct* cinfo = &s.cinfo;
    const auto common = reinterpret_cast<j_common_ptr>(cinfo);
    const uint32_t components = uint32_t(cinfo->output_components);
    const uint32_t width = cinfo->output_width;
    const uint32_t height = cinfo->output_height;
    const size_t rowSamples = size_t(width) * components;
    // A row of the picture: grey bytes, or blue-green-red; handed to a sink always the
    // latter.
    const size_t rowBytes = size_t(width) * (components == 1 && !sink ? 1 : 3);
    // Scanlines the library can write as the row wants them go straight into it; the
    // others pass through a row of their own.
    const bool direct = components == 1 ? !sink : cinfo->out_color_space == JCS_EXT_BGR;
    const bool swapRedBlue = components == 3 && !direct;
    JSAMPARRAY samples = direct
        ? nullptr
        : (*cinfo->mem->alloc_sarray)(common, JPOOL_IMAGE, JDIMENSION(rowSamples), 1);
    // A sink gets its rows a band at a time: its own working rows then stay in cache
    // while it takes them, instead of being evicted by the library's work on each.
    const uint32_t band = sink ? ROWS_PER_BAND : 1;
    JSAMPARRAY own = sink
        ? (*cinfo->mem->alloc_sarray)(common, JPOOL_IMAGE, JDIMENSION(rowBytes), band)
        : nullptr;

    while (cinfo->output_scanline < height) {
        const uint32_t first = cinfo->output_scanline;
        uint32_t filled = 0;
        for (; filled < band && cinfo->output_scanline < height; filled++) {
            if (AskEscape())
                JumpBack(common);
            const uint32_t stored = height - 1 - cinfo->output_scanline;
            uint8_t* row = sink ? own[filled] : info.pixels + size_t(stored) * info.rowStride;
            // Our source never suspends, so every call gives a row (a file that ends
            // early decodes the rest as if its coefficients were zero); should one not,
            // finishing the decompression fails the decode.
            if (direct) {
                JSAMPROW target = row;
                if (jpeg_read_scanlines(cinfo, &target, 1) != 1)
                    break;
                continue;
            }
            if (jpeg_read_scanlines(cinfo, samples, 1) != 1)
                break;
            const uint8_t* source = samples[0];
            if (components == 4) {
                // Adobe writes CMYK inverted, so the stored samples are already 255 - ink.
                for (size_t x3 = 0, x4 = 0; x3 < rowBytes && x4 < rowSamples; x3 += 3, x4 += 4) {
                    const uint32_t k = source[x4 + 3];
                    row[x3] = uint8_t(k * source[x4 + 2] / 255);
                    row[x3 + 1] = uint8_t(k * source[x4 + 1] / 255);
                    row[x3 + 2] = uint8_t(k * source[x4] / 255);
                }
            } else if (components == 1) {
                // Grey through the grey palette, as raising the picture to 24 bits does.
                for (size_t x = 0; x < width; x++)
                    row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = source[x];
            } else {
                std::memcpy(row, source, std::min(rowSamples, rowBytes));
            }
            if (swapRedBlue)
                SwapRedBlue(row, uint32_t(3 * width));
        }
        for (uint32_t i = 0; sink && i < filled; i++)
            sink->Row(height - 1 - (first + i), own[i]);
        if (filled < band && cinfo->output_scanline < height)
            break;
    }
}

void CxImageJPG::SetResolution(JpegSession& s)
{
    if (exifRecord.exifFound) {
        const double unit = exifRecord.resolutionUnit;
        if (exifRecord.xResolution != 0.0f && unit != 0.0)
            SetXDPI(DpiFromReal(exifRecord.xResolution / unit));
        if (exifRecord.yResolution != 0.0f && unit != 0.0)
            SetYDPI(DpiFromReal(exifRecord.yResolution / unit));
        return;
    }
    const jpeg_decompress_struct& cinfo = s.cinfo;
    if (cinfo.density_unit == 2) {
        SetXDPI(int32_t(std::floor(cinfo.X_density * 2.54 + 0.5)));
        SetYDPI(int32_t(std::floor(cinfo.Y_density * 2.54 + 0.5)));
    } else if (cinfo.density_unit == 1) {
        SetXDPI(cinfo.X_density);
        SetYDPI(cinfo.Y_density);
    }
    // Density unit 0 gives only the pixel aspect ratio: the resolution stays as it was.
}
