// TIFF reader. libtiff parses the directories and runs the codecs; this file binds it to
// a CxStream and turns one page into a CxImage: colour pages through libtiff's RGBA
// conversion, grey, palette and CIELab pages through our own strip or tile walk.
// Format: TIFF 6.0 (Adobe, 1992), with libtiff's extensions for the SGI log codecs.
#include "CxImageTIF.h"

#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <tiffio.h>
#include <vector>

// Collects what libtiff reports about one handle: the first error is kept for the
// reader's message, warnings are dropped.
struct TiffLog {
    std::string firstError;
};

// What the decode needs of one page's directory.
struct TiffPage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 1;
    uint16_t bitsPerSample = 1;
    uint16_t photometric = 0;
    uint16_t orientation = 1;
    uint32_t rowsPerStrip = 0;
};

namespace {

// Messages that describe a failure inside libtiff carry its first error text along.
[[noreturn]] void FailWithLibraryText(const char* text, const TiffLog& log)
{
    if (log.firstError.empty())
        ThrowReadError(text);
    ThrowReadError(std::string(text) + " (" + log.firstError + ")");
}

// --- client I/O over a CxStream ----------------------------------------------------------

tmsize_t StreamRead(thandle_t handle, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    const uint32_t count = uint32_t(std::min<tmsize_t>(size, 0x7FFFFFFF));
    return tmsize_t(static_cast<CxStream*>(handle)->Read(buffer, 1, count));
}

tmsize_t StreamWrite(thandle_t handle, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    const uint32_t count = uint32_t(std::min<tmsize_t>(size, 0x7FFFFFFF));
    return tmsize_t(static_cast<CxStream*>(handle)->Write(buffer, 1, count));
}

toff_t StreamSeek(thandle_t handle, toff_t offset, int origin)
{
    constexpr toff_t SEEK_FAILED = toff_t(-1);
    if (offset == 0xFFFFFFFF)
        return 0xFFFFFFFF;
    auto* stream = static_cast<CxStream*>(handle);
    // libtiff passes relative moves as two's-complement 64-bit values; the stream
    // addresses at most 2 GiB.
    const int64_t signedOffset = int64_t(offset);
    if (origin == SEEK_SET ? offset > 0x7FFFFFFF
                           : (signedOffset > 0x7FFFFFFF || signedOffset < -0x7FFFFFFF))
        return SEEK_FAILED;
    if (!stream->Seek(int32_t(signedOffset), origin))
        return SEEK_FAILED;
    if (origin == SEEK_SET)
        return offset;
    const int32_t position = stream->Tell();
    return position < 0 ? SEEK_FAILED : toff_t(position);
}

int StreamClose(thandle_t) { return 0; }

toff_t StreamSize(thandle_t handle)
{
    const int32_t size = static_cast<CxStream*>(handle)->Size();
    return size < 0 ? 0 : toff_t(size);
}

int StreamMap(thandle_t, void**, toff_t*) { return 0; }

void StreamUnmap(thandle_t, void*, toff_t) { }

int CollectError(TIFF*, void* userData, const char* module, const char* format, va_list args)
{
    auto* log = static_cast<TiffLog*>(userData);
    if (log && log->firstError.empty()) {
        char text[200];
        std::vsnprintf(text, sizeof(text), format, args);
        log->firstError = (module && *module) ? std::string(module) + ": " + text : text;
        // libtiff's allocations that failed say so in these words (a picture beyond its
        // limit on one allocation is told otherwise).
        if (std::strstr(text, "ut of memory") || std::strstr(text, "allocate memory")
            || std::strncmp(text, "No space", 8) == 0)
            platform::NoteAllocationFailure();
    }
    return 1; // handled: the process-wide handler stays silent
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages libtiff raises before a handle exists go to its process-wide handlers, which
// would print them; nothing else in the program uses libtiff, so they are silenced.
void SilenceGlobalHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct RasterDeleter {
    void operator()(uint32_t* raster) const { _TIFFfree(raster); }
};

template <typename T> T FieldOr(TIFF* tif, uint32_t tag, T fallback)
{
    T value {};
    return TIFFGetField(tif, tag, &value) ? value : fallback;
}

// A resolution or position as libtiff delivers it, made safe for the conversion to int.
bool ToInt(double value, int32_t& result)
{
    if (!std::isfinite(value) || value < -2147483648.0 || value >= 2147483648.0)
        return false;
    result = int32_t(value);
    return true;
}

uint8_t Clamp8(double value)
{
    const double truncated = std::trunc(value);
    if (!(truncated > 0))
        return 0;
    return truncated >= 255 ? 255 : uint8_t(truncated);
}

double Companding(double c)
{
    return c > 0.00304 ? 1.055 * std::pow(c, 0.41667) - 0.055 : 12.92 * c;
}

// Samples as packed in a TIFF line: most significant bit first, any width up to 32.
uint32_t ExtractSample(const uint8_t* line, uint64_t index, uint32_t bits)
{
    uint64_t bit = index * bits;
    uint32_t value = 0;
    for (uint32_t left = bits; left > 0;) {
        const uint32_t inByte = 8 - uint32_t(bit & 7);
        const uint32_t take = std::min(inByte, left);
        const uint32_t byte = line[bit >> 3];
        value = (value << take) | ((byte >> (inByte - take)) & ((1u << take) - 1));
        left -= take;
        bit += take;
    }
    return value;
}

bool HostIsLittleEndian()
{
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Sample `index` of a line as one byte: 8-bit samples as they are, narrower ones as their
// value (an index into 2^bits entries), wider ones by their high byte. libtiff delivers
// 16-, 32- and 64-bit samples in host order, other widths packed most significant first.
uint8_t SampleHighBits(const uint8_t* line, uint64_t index, uint32_t bits)
{
    switch (bits) {
    case 8:
        return line[index];
    case 16:
    case 32:
    case 64: {
        const size_t bytes = bits / 8;
        return line[index * bytes + (HostIsLittleEndian() ? bytes - 1 : 0)];
    }
    default: {
        const uint32_t value = ExtractSample(line, index, bits);
        return uint8_t(bits > 8 ? value >> (bits - 8) : value);
    }
    }
}

// CIELab (L unsigned, a and b signed, D65 white) to sRGB.
void CielabToRgb(uint8_t lightness, int8_t aStar, int8_t bStar, uint8_t rgb[3])
{
    const double yPrime = (lightness * 0.3921568627450981 + 16) * 0.008620689655172414;
    const double xTerm = aStar * 0.002 + yPrime;
    const double zTerm = yPrime - bStar * 0.005;
    const double x = xTerm * xTerm * xTerm * 0.95047;
    const double y = yPrime * yPrime * yPrime;
    const double z = zTerm * zTerm * zTerm * 1.0883;
    const double r = 3.240479 * x - 1.53715 * y - 0.498535 * z;
    const double g = -0.969256 * x + 1.875992 * y + 0.041556 * z;
    const double b = 0.055648 * x - 0.204043 * y + 1.057311 * z;
    rgb[0] = Clamp8(Companding(r) * 255);
    rgb[1] = Clamp8(Companding(g) * 255);
    rgb[2] = Clamp8(Companding(b) * 255);
}

// Reads a page band by band into lines of `LineSize` bytes: a strip's rows, the same rows
// of every tile across, or the strips of separate sample planes interleaved.
class TiffBandReader {
public:
    TiffBandReader(TIFF* tif, const TiffPage& page, TiffLog& log)
        : tif(tif)
        , page(page)
        , log(log)
        , rows(page.rowsPerStrip)
        , lineSize((uint64_t(page.samplesPerPixel) * page.bitsPerSample * page.width + 7) / 8)
        , tiled(TIFFIsTiled(tif))
    {
        if (tiled) {
            tileWidth = FieldOr<uint32_t>(tif, TIFFTAG_TILEWIDTH, 0);
            rows = FieldOr<uint32_t>(tif, TIFFTAG_TILELENGTH, 0);
            const tmsize_t tileSize = TIFFTileSize(tif);
            tileRowSize = uint64_t(std::max<tmsize_t>(TIFFTileRowSize(tif), 0));
            if (tileWidth == 0 || rows == 0 || tileSize <= 0 || tileRowSize == 0
                || uint64_t(tileSize) > CXIMAGE_MAX_MEMORY
                || uint64_t(tileSize) < tileRowSize * rows)
                FailWithLibraryText("Corrupted tiled TIFF file!", log);
            tile.resize(size_t(tileSize));
        }
        const uint64_t bandBytes = uint64_t(rows) * lineSize;
        if (lineSize == 0 || bandBytes > CXIMAGE_MAX_MEMORY)
            ThrowReadError("CxImageTIF can't allocate memory");
        band.resize(static_cast<size_t>(bandBytes));
        scanlineSize
            = std::min<uint64_t>(uint64_t(std::max<tmsize_t>(TIFFScanlineSize(tif), 0)), lineSize);

        // Separate planes of whole-byte samples are read plane by plane (striped pages).
        sampleBytes = page.bitsPerSample / 8;
        planar = page.samplesPerPixel > 1 && !tiled && page.bitsPerSample % 8 == 0
            && FieldOr<uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
                == PLANARCONFIG_SEPARATE;
        if (planar)
            planeBand.resize(size_t(rows) * page.width * sampleBytes);
    }

    uint32_t Rows() const { return rows; }
    uint64_t LineSize() const { return lineSize; }

    // The lines first .. first + lines - 1 of the page.
    const uint8_t* Read(uint32_t first, uint32_t lines)
    {
        if (tiled)
            ReadTiles(first, lines);
        else if (planar)
            ReadPlanes(first, lines);
        else
            ReadStrip(first, lines);
        return band.data();
    }

private:
    void ReadTiles(uint32_t first, uint32_t lines)
    {
        for (uint32_t column = 0; column * uint64_t(tileWidth) < page.width; column++) {
            const uint64_t offset = column * tileRowSize;
            if (offset >= scanlineSize)
                break;
            if (TIFFReadTile(tif, tile.data(), column * tileWidth, first, 0, 0) < 0)
                FailWithLibraryText("Corrupted tiled TIFF file!", log);
            const size_t copy = size_t(std::min(tileRowSize, scanlineSize - offset));
            for (uint32_t k = 0; k < lines; k++)
                std::memcpy(
                    band.data() + k * lineSize + offset, tile.data() + k * tileRowSize, copy);
        }
    }

    // One strip per sample plane, each interleaved into the band's lines.
    void ReadPlanes(uint32_t first, uint32_t lines)
    {
        std::fill(band.begin(), band.end(), 0);
        const uint64_t width = page.width;
        const uint64_t planeLine = width * sampleBytes;
        const uint32_t samplesUsed = std::min<uint32_t>(page.samplesPerPixel, 4);
        for (uint32_t c = 0; c < samplesUsed; c++) {
            const tmsize_t got
                = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, first, uint16_t(c)),
                    planeBand.data(), tmsize_t(lines * planeLine));
            if (got < 0)
                FailWithLibraryText("Corrupted TIFF file!", log);
            const uint64_t whole = std::min<uint64_t>(uint64_t(got) / sampleBytes, lines * width);
            for (uint64_t i = 0; i < whole; i++) {
                const uint64_t k = i / width, x = i % width;
                std::memcpy(
                    band.data() + k * lineSize + (x * page.samplesPerPixel + c) * sampleBytes,
                    planeBand.data() + i * sampleBytes, sampleBytes);
            }
        }
    }

    void ReadStrip(uint32_t first, uint32_t lines)
    {
        const uint64_t wanted = lines * lineSize;
        const tmsize_t got = TIFFReadEncodedStrip(
            tif, TIFFComputeStrip(tif, first, 0), band.data(), tmsize_t(wanted));
        if (got < 0)
            FailWithLibraryText("Corrupted TIFF file!", log);
        if (uint64_t(got) < wanted)
            std::memset(band.data() + got, 0, size_t(wanted - uint64_t(got)));
    }

    TIFF* tif;
    const TiffPage& page;
    TiffLog& log;
    uint32_t rows; // lines per band
    uint64_t lineSize;
    bool tiled;
    uint32_t tileWidth = 0;
    uint64_t tileRowSize = 0;
    uint64_t scanlineSize = 0;
    size_t sampleBytes = 0;
    bool planar = false;
    std::vector<uint8_t> tile;
    std::vector<uint8_t> band;
    std::vector<uint8_t> planeBand;
};

} // namespace

CxImageTIF::CxImageTIF()
    : tiffHandle(nullptr)
{
    Startup(CXIMAGE_FORMAT_TIF);
}

CxImageTIF::~CxImageTIF() { CloseTiff(); }

void CxImageTIF::CloseTiff()
{
    if (tiffHandle) {
        TIFFClose(tiffHandle);
        tiffHandle = nullptr;
    }
}

bool CxImageTIF::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    TiffLog log;
    bool sizeOnly = false;
    const bool decoded = RunReader(*this, "CxImageTIF can't allocate memory", [&] {
        sizeOnly = !DecodePage(stream, log);
        return !sizeOnly;
    });
    CloseTiff();
    // The header-only query, which the escape callback asks for, succeeds when the
    // callback still asks to stop.
    return decoded || (sizeOnly && AskEscape());
}

bool CxImageTIF::DecodePage(CxStream* stream, TiffLog& log)
{
    OpenPage(stream, log);
    TIFF* tif = tiffHandle;
    TiffPage page;
    page.width = FieldOr<uint32_t>(tif, TIFFTAG_IMAGEWIDTH, 0);
    page.height = FieldOr<uint32_t>(tif, TIFFTAG_IMAGELENGTH, 0);
    page.samplesPerPixel = FieldOr<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    page.bitsPerSample = FieldOr<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1);
    page.rowsPerStrip = FieldOr<uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, 0xFFFFFFFF);
    page.photometric = FieldOr<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, 0);
    page.orientation = FieldOr<uint16_t>(tif, TIFFTAG_ORIENTATION, 1);
    // The embedded colour profile is recorded for the caller to apply. The orientation
    // is not: this reader applies it itself.
    uint32_t profileLength = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile
        && profileLength > 0 && profileLength <= MAX_ICC_PROFILE_BYTES) {
        const auto* bytes = static_cast<const uint8_t*>(profile);
        SetIccProfile(std::vector<uint8_t>(bytes, bytes + profileLength));
    }

    if (AskEscape()) {
        head.biWidth = int32_t(page.width);
        head.biHeight = int32_t(page.height);
        SetLastError("output dimensions returned");
        return false;
    }

    ReadPlacement();
    head.biClrUsed = 0;
    info.transIndex = -1;
    // A zero rows-per-strip would make the band walk stand still.
    if (page.rowsPerStrip > page.height || page.rowsPerStrip == 0) {
        page.rowsPerStrip = page.height;
        if (page.height > 0)
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
    }

    const uint16_t photometric = page.photometric;
    const bool rgbPath = (page.bitsPerSample >= 8 && photometric == PHOTOMETRIC_RGB)
        || photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_YCBCR
        || photometric == PHOTOMETRIC_LOGL || photometric == PHOTOMETRIC_LOGLUV;
    // Our own walk gives an index per pixel for one sample (and alpha), and colours for
    // three or more (narrow RGB, CIELab).
    uint32_t depth = 24;
    if (!rgbPath && page.samplesPerPixel < 3) {
        if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)
            && page.bitsPerSample == 1)
            depth = 1;
        else if (page.bitsPerSample == 4)
            depth = 4;
        else
            depth = 8;
    }

    if (AskEscape())
        ThrowReadError("Cancelled");
    if (!Create(page.width, page.height, depth, CXIMAGE_FORMAT_TIF))
        ThrowReadError("CxImageTIF can't create image");

    // Four samples of a separated (CMYK) page are its inks, not colour and alpha.
    if ((page.samplesPerPixel == 4 && photometric != PHOTOMETRIC_SEPARATED)
        || (page.samplesPerPixel == 2 && page.bitsPerSample >= 8))
        CreateAlpha();

    SetFormatOption(
        FieldOr<uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE), CXIMAGE_FORMAT_TIF);

    if (!rgbPath) {
        DecodePalettePath(page, log);
        ApplyOrientation(page.orientation);
        return true;
    }
    // libtiff's RGBA conversion has no floating-point path.
    const uint16_t sampleFormat = FieldOr<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    if (sampleFormat == SAMPLEFORMAT_IEEEFP && page.bitsPerSample == 32
        && photometric == PHOTOMETRIC_RGB && page.samplesPerPixel >= 3 && !TIFFIsTiled(tif)
        && FieldOr<uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
            == PLANARCONFIG_CONTIG) {
        DecodeFloatRgb(page, log);
        ApplyOrientation(page.orientation);
    } else {
        DecodeRgba(page, log);
    }
    return true;
}

void CxImageTIF::OpenPage(CxStream* stream, TiffLog& log)
{
    SilenceGlobalHandlers();
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options)
        ThrowReadError("Error encountered while opening TIFF file");
    // libtiff's own limit on any single buffer it allocates, behind our checks below.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(CXIMAGE_MAX_MEMORY));
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), CollectError, &log);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), DropWarning, nullptr);

    CloseTiff();
    tiffHandle = TIFFClientOpenExt("TIFF IMAGE", "rb", static_cast<thandle_t>(stream), StreamRead,
        StreamWrite, StreamSeek, StreamClose, StreamSize, StreamMap, StreamUnmap, options.get());
    if (!tiffHandle)
        FailWithLibraryText("Error encountered while opening TIFF file", log);

    info.numFrames = int32_t(TIFFNumberOfDirectories(tiffHandle) & 0xFFFF);
    const uint16_t page = uint16_t(info.frame & 0xFFFF);
    if (page >= info.numFrames || !TIFFSetDirectory(tiffHandle, page))
        ThrowReadError("Error: page not present in TIFF file");
}

// Resolution (as dots per inch) and position of the page.
void CxImageTIF::ReadPlacement()
{
    TIFF* tif = tiffHandle;
    uint16_t resolutionUnit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);
    float resolution = 0;
    int32_t converted = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution)) {
        const double dpi
            = resolutionUnit == RESUNIT_CENTIMETER ? resolution * 2.54 + 0.5 : resolution;
        if (ToInt(dpi, converted))
            SetXDPI(converted);
    }
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resolution)) {
        const double dpi
            = resolutionUnit == RESUNIT_CENTIMETER ? resolution * 2.54 + 0.5 : resolution;
        if (ToInt(dpi, converted))
            SetYDPI(converted);
    }
    float position = 0;
    if (TIFFGetField(tif, TIFFTAG_XPOSITION, &position) && ToInt(position, converted))
        info.xOffset = converted;
    if (TIFFGetField(tif, TIFFTAG_YPOSITION, &position) && ToInt(position, converted))
        info.yOffset = converted;
}

void CxImageTIF::DecodeRgba(const TiffPage& page, TiffLog& log)
{
    const uint32_t width = page.width;
    const uint32_t height = page.height;
    const uint16_t samplesPerPixel = page.samplesPerPixel;
    const uint16_t orientation = page.orientation;
    const uint64_t rasterBytes = uint64_t(width) * height * 4;
    if (rasterBytes > CXIMAGE_MAX_MEMORY)
        ThrowReadError("No space for raster buffer");
    std::unique_ptr<uint32_t, RasterDeleter> raster(
        static_cast<uint32_t*>(_TIFFmalloc(tmsize_t(rasterBytes))));
    if (!raster)
        ThrowReadError("No space for raster buffer");
    // libtiff premultiplies colours by an unassociated alpha; declared associated, the
    // samples come through as stored, which is what the alpha plane expects.
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    if (samplesPerPixel == 4
        && TIFFGetField(tiffHandle, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes)
        && extraCount == 1 && extraTypes && extraTypes[0] == EXTRASAMPLE_UNASSALPHA) {
        const uint16_t associated = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(tiffHandle, TIFFTAG_EXTRASAMPLES, 1, &associated);
    }
    // Coefficients that libtiff cannot convert with (a zero green weight, not a number)
    // are replaced by the format's default, the weights of ITU-R BT.601.
    float* luma = nullptr;
    if (FieldOr<uint16_t>(tiffHandle, TIFFTAG_PHOTOMETRIC, 0) == PHOTOMETRIC_YCBCR
        && TIFFGetFieldDefaulted(tiffHandle, TIFFTAG_YCBCRCOEFFICIENTS, &luma) && luma
        && (!std::isfinite(luma[0]) || !std::isfinite(luma[1]) || !std::isfinite(luma[2])
            || luma[1] == 0)) {
        float bt601[3] = { 0.299f, 0.587f, 0.114f };
        TIFFSetField(tiffHandle, TIFFTAG_YCBCRCOEFFICIENTS, bt601);
    }
    if (!TIFFReadRGBAImage(tiffHandle, width, height, raster.get(), 1))
        FailWithLibraryText("Corrupted TIFF file!", log);

    const bool withAlpha = samplesPerPixel == 4 && alpha;
    for (uint32_t y = 0; y < height; y++) {
        if (AskEscape())
            ThrowReadError("Cancelled");
        const uint32_t* source = raster.get() + size_t(y) * width;
        uint8_t* row = info.pixels + size_t(y) * info.rowStride;
        for (uint32_t x = 0; x < width; x++) {
            const uint32_t word = source[x];
            row[3 * x] = uint8_t(TIFFGetB(word));
            row[3 * x + 1] = uint8_t(TIFFGetG(word));
            row[3 * x + 2] = uint8_t(TIFFGetR(word));
        }
        if (withAlpha) {
            uint8_t* alphaRow = alpha + size_t(y) * width;
            for (uint32_t x = 0; x < width; x++)
                alphaRow[x] = uint8_t(TIFFGetA(source[x]));
        }
    }
    raster.reset();

    // libtiff's RGBA conversion applies the flips of orientations 2 to 4 but treats the
    // transposed orientations 5 to 8 as their untransposed partners (5 as 1, 6 as 2, 7 as
    // 3, 8 as 4). Undo those flips and apply the full orientation ourselves.
    if (orientation >= 5 && orientation <= 8) {
        const uint16_t partner = uint16_t(orientation - 4);
        if (partner == 2 || partner == 3)
            Mirror();
        if (partner == 3 || partner == 4)
            Flip();
        ApplyOrientation(orientation);
    }
}

// 32-bit floating-point RGB, 0.0 to 1.0 mapped onto 0 to 255 with rounding.
void CxImageTIF::DecodeFloatRgb(const TiffPage& page, TiffLog& log)
{
    const uint32_t width = page.width;
    const uint32_t height = page.height;
    const uint16_t samplesPerPixel = page.samplesPerPixel;
    const uint64_t lineBytes = uint64_t(width) * samplesPerPixel * 4;
    const tmsize_t scanline = TIFFScanlineSize(tiffHandle);
    if (scanline <= 0 || uint64_t(scanline) < lineBytes || uint64_t(scanline) > CXIMAGE_MAX_MEMORY)
        FailWithLibraryText("Corrupted TIFF file!", log);
    std::vector<uint8_t> line(static_cast<size_t>(scanline));
    auto To8 = [](float value) {
        if (!(value > 0))
            return uint8_t(0);
        return value >= 1 ? uint8_t(255) : uint8_t(value * 255 + 0.5f);
    };
    const bool withAlpha = samplesPerPixel == 4 && alpha;
    for (uint32_t y = 0; y < height; y++) {
        if (AskEscape())
            ThrowReadError("Cancelled");
        if (TIFFReadScanline(tiffHandle, line.data(), y, 0) < 0)
            FailWithLibraryText("Corrupted TIFF file!", log);
        const int32_t row = int32_t(height - 1 - y);
        uint8_t* pixel = info.pixels + size_t(row) * info.rowStride;
        for (uint32_t x = 0; x < width; x++, pixel += 3) {
            float samples[4] = {};
            std::memcpy(samples, line.data() + size_t(x) * samplesPerPixel * 4,
                sizeof(float) * std::min<size_t>(samplesPerPixel, 4));
            pixel[0] = To8(samples[2]);
            pixel[1] = To8(samples[1]);
            pixel[2] = To8(samples[0]);
            if (withAlpha)
                SetAlpha(int32_t(x), row, To8(samples[3]));
        }
    }
}

// Palette, grey, narrow RGB and CIELab pages: the strips or tiles are read band by band
// (a strip's rows, or a row of tiles) and each line is stored at the image's depth.
void CxImageTIF::DecodePalettePath(const TiffPage& page, TiffLog& log)
{
    if (page.samplesPerPixel < 3)
        SetPagePalette(page);
    TiffBandReader bands(tiffHandle, page, log);
    if (page.bitsPerSample > 32 && page.bitsPerSample != 64)
        ThrowReadError("Corrupted TIFF file!");
    std::vector<uint8_t> samples;
    for (uint32_t r = 0; r < page.height; r += bands.Rows()) {
        if (AskEscape())
            ThrowReadError("Cancelled");
        const uint32_t lines = std::min(bands.Rows(), page.height - r);
        const uint8_t* band = bands.Read(r, lines);
        for (uint32_t k = 0; k < lines; k++)
            StoreLine(page, band + k * bands.LineSize(), page.height - 1 - r - k, samples);
    }
}

void CxImageTIF::SetPagePalette(const TiffPage& page)
{
    const uint16_t photometric = page.photometric;
    const uint16_t bitsPerSample = page.bitsPerSample;
    const uint32_t colours = head.biClrUsed;
    RGBQUAD palette[256] = {};
    const bool grey
        = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    if (grey && bitsPerSample == 1) {
        RGBQUAD& white = palette[photometric == PHOTOMETRIC_MINISBLACK ? 1 : 0];
        white.rgbBlue = white.rgbGreen = white.rgbRed = 255;
    } else if (grey) {
        // Levels for the values the samples can take: 2, 3, 5, 6 and 7-bit samples are
        // widened to one byte each and index the first 2^bits entries.
        const uint32_t levels = bitsPerSample < 8 ? (1u << bitsPerSample) : colours;
        for (uint32_t i = 0; i < levels && i < 256; i++) {
            uint8_t level = uint8_t((i * 255 + (levels - 1) / 2) / (levels - 1));
            if (photometric == PHOTOMETRIC_MINISWHITE)
                level = uint8_t(255 - level);
            palette[i].rgbBlue = palette[i].rgbGreen = palette[i].rgbRed = level;
        }
    } else if (photometric == PHOTOMETRIC_PALETTE) {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (TIFFGetField(tiffHandle, TIFFTAG_COLORMAP, &red, &green, &blue) && red && green
            && blue) {
            const uint32_t count = bitsPerSample >= 8 ? 256 : (1u << bitsPerSample);
            bool sixteenBit = false;
            for (uint32_t i = 0; i < count; i++)
                sixteenBit |= red[i] > 255 || green[i] > 255 || blue[i] > 255;
            for (uint32_t i = 0; i < count; i++) {
                if (sixteenBit) {
                    palette[i].rgbRed = uint8_t(red[i] * 255u / 65535u);
                    palette[i].rgbGreen = uint8_t(green[i] * 255u / 65535u);
                    palette[i].rgbBlue = uint8_t(blue[i] * 255u / 65535u);
                } else {
                    palette[i].rgbRed = uint8_t(red[i]);
                    palette[i].rgbGreen = uint8_t(green[i]);
                    palette[i].rgbBlue = uint8_t(blue[i]);
                }
            }
        }
    }
    if (!GetPalette())
        ThrowReadError("Unable to allocate TIFF palette");
    SetPalette(palette, colours);
}

// One decoded line into stored row y. Samples not stored at the image's own depth are
// widened to one byte each first: 16-bit samples keep their high byte, other widths their
// top bits.
void CxImageTIF::StoreLine(
    const TiffPage& page, const uint8_t* line, uint32_t y, std::vector<uint8_t>& samples)
{
    const uint32_t width = page.width;
    const uint16_t bitsPerSample = page.bitsPerSample;
    uint8_t* row = info.pixels + size_t(y) * info.rowStride;
    const size_t effectiveRow = (size_t(width) * head.biBitCount + 7) / 8;
    if (page.samplesPerPixel == 1 && bitsPerSample == head.biBitCount) {
        const uint64_t lineSize = (uint64_t(bitsPerSample) * width + 7) / 8;
        std::memcpy(row, line, size_t(std::min<uint64_t>(lineSize, effectiveRow)));
        return;
    }
    // At most four samples of a pixel mean anything here (index or L*a*b*, and alpha).
    const uint32_t samplesUsed = std::min<uint32_t>(page.samplesPerPixel, 4);
    samples.resize(size_t(width) * samplesUsed);
    for (uint32_t x = 0; x < width; x++) {
        for (uint32_t c = 0; c < samplesUsed; c++)
            samples[size_t(x) * samplesUsed + c]
                = SampleHighBits(line, uint64_t(x) * page.samplesPerPixel + c, bitsPerSample);
    }
    // Sub-byte alpha and RGB samples are scaled to the full byte range.
    const uint32_t sampleMax = bitsPerSample >= 32 ? 0xFFFFFFFFu : (1u << bitsPerSample) - 1;
    auto Widen = [&](uint8_t value) {
        return bitsPerSample < 8 ? uint8_t((value * 255u + sampleMax / 2) / sampleMax) : value;
    };
    const uint8_t* s = samples.data();
    if (page.samplesPerPixel == 1) {
        std::memcpy(row, s, std::min<size_t>(width, effectiveRow));
    } else if (page.samplesPerPixel == 2) {
        for (uint32_t x = 0; x < width; x++) {
            SetPixelIndex(int32_t(x), int32_t(y), s[2 * x]);
            SetAlpha(int32_t(x), int32_t(y), Widen(s[2 * x + 1]));
        }
    } else {
        for (uint32_t x = 0; x < width; x++) {
            const uint8_t* pixel = s + size_t(x) * samplesUsed;
            uint8_t rgb[3];
            if (page.photometric == PHOTOMETRIC_RGB) {
                // RGB with fewer than 8 bits per sample comes this way too.
                rgb[0] = Widen(pixel[0]);
                rgb[1] = Widen(pixel[1]);
                rgb[2] = Widen(pixel[2]);
            } else {
                CielabToRgb(pixel[0], int8_t(pixel[1]), int8_t(pixel[2]), rgb);
            }
            row[3 * x] = rgb[2];
            row[3 * x + 1] = rgb[1];
            row[3 * x + 2] = rgb[0];
            if (samplesUsed == 4)
                SetAlpha(int32_t(x), int32_t(y), Widen(pixel[3]));
        }
    }
}

// Brings rows stored in the file's orientation into the picture as displayed. The
// transposed orientations 6 (rows run top to bottom along the right edge) and 8 (along
// the left edge) need a clockwise and a counter-clockwise quarter turn respectively.
void CxImageTIF::ApplyOrientation(uint16_t orientation)
{
    switch (orientation) {
    case ORIENTATION_TOPRIGHT:
        Mirror();
        break;
    case ORIENTATION_BOTRIGHT:
        Flip();
        Mirror();
        break;
    case ORIENTATION_BOTLEFT:
        Flip();
        break;
    case ORIENTATION_LEFTTOP:
        RotateRight();
        Mirror();
        break;
    case ORIENTATION_RIGHTTOP:
        RotateRight();
        break;
    case ORIENTATION_RIGHTBOT:
        RotateLeft();
        Mirror();
        break;
    case ORIENTATION_LEFTBOT:
        RotateLeft();
        break;
    default:
        break;
    }
}
