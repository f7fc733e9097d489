// Format identification and decode dispatch: the extension table, the probe order for
// files of unknown format, and the handing over of a reader's result.
#include "image/core/CxByteOrder.h"
#include "image/core/CxImage.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxImageBMP.h"
#include "image/formats/heif/CxImageHEIF.h"
#include "image/formats/ico/CxImageICO.h"
#include "image/formats/j2k/CxImageJ2K.h"
#include "image/formats/j2k/CxOpenJpeg.h"
#include "image/formats/jas/CxImageJAS.h"
#include "image/formats/jas/CxRasterFormats.h"
#include "image/formats/jbig/CxImageJBG.h"
#include "image/formats/jpeg/CxImageJPG.h"
#include "image/formats/jxl/CxImageJXL.h"
#include "image/formats/pcx/CxImagePCX.h"
#include "image/formats/png/CxImagePNG.h"
#include "image/formats/tga/CxImageTGA.h"
#include "image/formats/tiff/CxImageTIF.h"
#include "image/formats/wbmp/CxImageWBMP.h"
#include "image/formats/webp/CxImageWEBP.h"
#include "image/formats/wmf/CxImageWMF.h"
#include "image/gif/CxImageGIF.h"
#include "platform/Memory.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

const char* const UNKNOWN_FORMAT = "Decode: Unknown or wrong format";

struct ExtensionEntry {
    const char* extension;
    uint32_t type;
};

// Compared in this order; the first match wins.
constexpr ExtensionEntry EXTENSIONS[] = {
    { "bmp", CXIMAGE_FORMAT_BMP },
    { "jpg", CXIMAGE_FORMAT_JPG },
    { "jpeg", CXIMAGE_FORMAT_JPG },
    { "gif", CXIMAGE_FORMAT_GIF },
    { "png", CXIMAGE_FORMAT_PNG },
    { "ico", CXIMAGE_FORMAT_ICO },
    { "tiff", CXIMAGE_FORMAT_TIF },
    { "tif", CXIMAGE_FORMAT_TIF },
    { "tga", CXIMAGE_FORMAT_TGA },
    { "pcx", CXIMAGE_FORMAT_PCX },
    { "wbmp", CXIMAGE_FORMAT_WBMP },
    { "wmf", CXIMAGE_FORMAT_WMF },
    { "emf", CXIMAGE_FORMAT_WMF },
    { "j2k", CXIMAGE_FORMAT_J2K },
    { "jp2", CXIMAGE_FORMAT_J2K },
    { "jbg", CXIMAGE_FORMAT_JBG },
    { "jpc", CXIMAGE_FORMAT_JPC },
    { "j2c", CXIMAGE_FORMAT_JPC },
    { "pgx", CXIMAGE_FORMAT_PGX },
    { "ras", CXIMAGE_FORMAT_RAS },
    { "pnm", CXIMAGE_FORMAT_PNM },
    { "pgm", CXIMAGE_FORMAT_PNM },
    { "ppm", CXIMAGE_FORMAT_PNM },
    { "webp", CXIMAGE_FORMAT_WEBP },
    { "heic", CXIMAGE_FORMAT_HEIF },
    { "heif", CXIMAGE_FORMAT_HEIF },
    { "hif", CXIMAGE_FORMAT_HEIF },
    { "avif", CXIMAGE_FORMAT_AVIF },
    { "jxl", CXIMAGE_FORMAT_JXL },
};

// The result of one reader's attempt.
enum class Attempt { Decoded, Failed, NoReader, OutOfMemory };

// Runs one reader over the stream. On success the reader's picture and info record move
// into the target; on failure the reader is handed back through failedReader so the
// caller can take its texts.
template <typename Reader, typename... Args>
Attempt Run(CxImage& target, CxStream* stream, std::unique_ptr<CxImage>& failedReader, Args... args)
{
    auto reader = std::make_unique<Reader>();
    reader->CopyInfo(target);
    // A profile or orientation left from a picture the target held before is not this
    // file's.
    reader->SetIccProfile({});
    reader->SetOrientation(0);
    const platform::AllocationWatch watch;
    if (reader->Decode(stream, args...)) {
        target.Transfer(*reader);
        return Attempt::Decoded;
    }
    failedReader = std::move(reader);
    return watch.RanShort() ? Attempt::OutOfMemory : Attempt::Failed;
}

Attempt DecodeWith(
    CxImage& target, CxStream* stream, uint32_t type, std::unique_ptr<CxImage>& failedReader);

// Decodes with the reader of one format id (13..17 all go to the JPEG 2000 family reader).
// Memory that runs short (a reader that can't even be made included) fails the attempt
// with the reader's text, or the plain one, and is noted for the caller.
Attempt DecodeAs(
    CxImage& target, CxStream* stream, uint32_t type, std::unique_ptr<CxImage>& failedReader)
{
    try {
        return DecodeWith(target, stream, type, failedReader);
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        failedReader.reset();
        target.SetLastError(platform::OUT_OF_MEMORY_TEXT);
        return Attempt::OutOfMemory;
    }
}

Attempt DecodeWith([[maybe_unused]] CxImage& target, [[maybe_unused]] CxStream* stream,
    uint32_t type, [[maybe_unused]] std::unique_ptr<CxImage>& failedReader)
{
    switch (type) {
    case CXIMAGE_FORMAT_BMP:
        return Run<CxImageBMP>(target, stream, failedReader);
    case CXIMAGE_FORMAT_GIF:
        return Run<CxImageGIF>(target, stream, failedReader);
    case CXIMAGE_FORMAT_JPG:
        return Run<CxImageJPG>(target, stream, failedReader);
    case CXIMAGE_FORMAT_PNG:
        return Run<CxImagePNG>(target, stream, failedReader);
    case CXIMAGE_FORMAT_ICO:
        return Run<CxImageICO>(target, stream, failedReader);
    case CXIMAGE_FORMAT_TIF:
        return Run<CxImageTIF>(target, stream, failedReader);
    case CXIMAGE_FORMAT_TGA:
        return Run<CxImageTGA>(target, stream, failedReader);
    case CXIMAGE_FORMAT_PCX:
        return Run<CxImagePCX>(target, stream, failedReader);
    case CXIMAGE_FORMAT_WBMP:
        return Run<CxImageWBMP>(target, stream, failedReader);
    case CXIMAGE_FORMAT_WMF:
        return Run<CxImageWMF>(target, stream, failedReader, int32_t(0), int32_t(0));
    case CXIMAGE_FORMAT_J2K:
        return Run<CxImageJ2K>(target, stream, failedReader);
    case CXIMAGE_FORMAT_JBG:
        return Run<CxImageJBG>(target, stream, failedReader);
    case CXIMAGE_FORMAT_WEBP:
        return Run<CxImageWEBP>(target, stream, failedReader);
    case CXIMAGE_FORMAT_HEIF:
    case CXIMAGE_FORMAT_AVIF:
        return Run<CxImageHEIF>(target, stream, failedReader);
    case CXIMAGE_FORMAT_JXL:
        return Run<CxImageJXL>(target, stream, failedReader);
    case CXIMAGE_FORMAT_UNKNOWN:
    case CXIMAGE_FORMAT_JP2:
    case CXIMAGE_FORMAT_JPC:
    case CXIMAGE_FORMAT_PGX:
    case CXIMAGE_FORMAT_PNM:
    case CXIMAGE_FORMAT_RAS:
        return Run<CxImageJAS>(target, stream, failedReader, type);
    default:
        return Attempt::NoReader;
    }
}

// The readers tried, in order, for a file of unknown format; 0 stands for the JPEG 2000
// family reader detecting the format by content.
constexpr uint32_t PROBE_ORDER[] = {
    CXIMAGE_FORMAT_BMP,
    CXIMAGE_FORMAT_JPG,
    CXIMAGE_FORMAT_ICO,
    CXIMAGE_FORMAT_GIF,
    CXIMAGE_FORMAT_PNG,
    CXIMAGE_FORMAT_TIF,
    CXIMAGE_FORMAT_WEBP,
    CXIMAGE_FORMAT_HEIF,
    CXIMAGE_FORMAT_JXL,
    CXIMAGE_FORMAT_TGA,
    CXIMAGE_FORMAT_PCX,
    CXIMAGE_FORMAT_WBMP,
    CXIMAGE_FORMAT_WMF,
    CXIMAGE_FORMAT_J2K,
    CXIMAGE_FORMAT_JBG,
    CXIMAGE_FORMAT_UNKNOWN,
};

bool StartsWith(const uint8_t* bytes, size_t size, const char* signature, size_t length)
{
    return size >= length && std::memcmp(bytes, signature, length) == 0;
}

// The format whose signature the leading bytes carry, as the id of a reader that reads it;
// unknown for bytes that carry none (TGA, WBMP and JBIG files have no signature at all).
uint32_t SignatureFormat(const uint8_t* bytes, size_t size)
{
    if (StartsWith(bytes, size, "BM", 2))
        return CXIMAGE_FORMAT_BMP;
    if (StartsWith(bytes, size, "\xFF\xD8\xFF", 3))
        return CXIMAGE_FORMAT_JPG;
    if (StartsWith(bytes, size, "GIF8", 4))
        return CXIMAGE_FORMAT_GIF;
    if (StartsWith(bytes, size, "\x89PNG\r\n\x1A\n", 8))
        return CXIMAGE_FORMAT_PNG;
    // An icon directory with at least one entry; without the count a true-colour TGA
    // (0 0 2 0 ...) would look like a cursor.
    if ((StartsWith(bytes, size, "\0\0\1\0", 4) || StartsWith(bytes, size, "\0\0\2\0", 4))
        && size >= 6 && ReadLe16(bytes + 4) != 0)
        return CXIMAGE_FORMAT_ICO;
    if (StartsWith(bytes, size, "II*\0", 4) || StartsWith(bytes, size, "MM\0*", 4))
        return CXIMAGE_FORMAT_TIF;
    if (size >= 3 && bytes[0] == 10 && bytes[1] <= 5 && bytes[2] == 1)
        return CXIMAGE_FORMAT_PCX;
    if (StartsWith(bytes, size, "\xD7\xCD\xC6\x9A", 4)
        || (StartsWith(bytes, size, "\1\0\0\0", 4) && size >= 44
            && std::memcmp(bytes + 40, " EMF", 4) == 0))
        return CXIMAGE_FORMAT_WMF;
    if (IsJp2Signature(bytes, size) || IsCodestreamSignature(bytes, size))
        return CXIMAGE_FORMAT_J2K;
    if (IsPgxSignature(bytes, size))
        return CXIMAGE_FORMAT_PGX;
    if (IsPnmSignature(bytes, size))
        return CXIMAGE_FORMAT_PNM;
    if (IsSunRasterSignature(bytes, size))
        return CXIMAGE_FORMAT_RAS;
    if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0)
        return CXIMAGE_FORMAT_WEBP;
    if (const uint32_t heif = HeifSignatureFormat(bytes, size))
        return heif;
    if (IsJxlSignature(bytes, size))
        return CXIMAGE_FORMAT_JXL;
    return CXIMAGE_FORMAT_UNKNOWN;
}

bool IsFamilyFormat(uint32_t type)
{
    return type >= CXIMAGE_FORMAT_JP2 && type <= CXIMAGE_FORMAT_RAS;
}

bool IsHeifFormat(uint32_t type)
{
    return type == CXIMAGE_FORMAT_HEIF || type == CXIMAGE_FORMAT_AVIF;
}

// Whether a file whose reader of `type` failed starts with the signature of a format that
// another reader reads: then the name is wrong, not the file. The JPEG 2000 family reader
// reads every format of its family by content.
bool NamesAnotherReader(FILE* file, uint32_t type)
{
    uint8_t bytes[48];
    std::rewind(file);
    const size_t size = std::fread(bytes, 1, sizeof bytes, file);
    std::rewind(file);
    const uint32_t named = SignatureFormat(bytes, size);
    if (named == CXIMAGE_FORMAT_UNKNOWN || named == type
        || (IsHeifFormat(named) && IsHeifFormat(type)))
        return false;
    const bool familyNamed = named == CXIMAGE_FORMAT_J2K || IsFamilyFormat(named);
    return !(IsFamilyFormat(type) && familyNamed);
}

} // namespace

uint32_t CxImage::GetTypeFromExtension(const char* fileName)
{
    if (!fileName)
        return CXIMAGE_FORMAT_UNKNOWN;
    const char* dot = std::strrchr(fileName, '.');
    const char* extension = dot ? dot + 1 : fileName;
    for (const ExtensionEntry& entry : EXTENSIONS) {
        if (strcasecmp(extension, entry.extension) == 0)
            return entry.type;
    }
    return CXIMAGE_FORMAT_UNKNOWN;
}

std::vector<const char*> CxImage::KnownExtensions()
{
    std::vector<const char*> extensions;
    for (const ExtensionEntry& entry : EXTENSIONS)
        extensions.push_back(entry.extension);
    return extensions;
}

CxImage::CxImage(const char* fileName, uint32_t imageType)
{
    if (imageType == CXIMAGE_FORMAT_UNKNOWN)
        imageType = GetTypeFromExtension(fileName);
    Startup(imageType);
    Load(fileName, imageType);
}

namespace {

// Opens a file to read; a file that can't be opened for lack of memory (its buffer) is told
// as such.
FILE* OpenToRead(CxImage& image, const char* fileName)
{
    FILE* file = std::fopen(fileName, "rb");
    if (!file && errno == ENOMEM) {
        platform::NoteAllocationFailure();
        image.SetLastError(platform::OUT_OF_MEMORY_TEXT);
    }
    return file;
}

} // namespace

bool CxImage::Load(const char* fileName, uint32_t imageType)
{
    if (!fileName)
        return false;
    if (imageType >= 1 && imageType < CMAX_IMAGE_FORMATS) {
        FILE* file = OpenToRead(*this, fileName);
        if (!file)
            return false;
        const platform::AllocationWatch watch;
        bool decoded = Decode(file, imageType);
        if (!decoded && !watch.RanShort() && NamesAnotherReader(file, imageType)) {
            // A picture saved under another format's name (a PNG as photo.jpg) is read for
            // what it is; when nothing reads it, the named reader's failure stands.
            char namedError[256];
            CopyLastError(namedError, info.lastError);
            const int32_t namedFrames = info.numFrames;
            decoded = Decode(file, CXIMAGE_FORMAT_UNKNOWN);
            if (!decoded) {
                CopyLastError(info.lastError, namedError);
                info.numFrames = namedFrames;
            }
        }
        std::fclose(file);
        return decoded;
    }

    char savedError[256];
    CopyLastError(savedError, info.lastError);
    FILE* file = OpenToRead(*this, fileName);
    if (!file)
        return false;
    const bool decoded = Decode(file, CXIMAGE_FORMAT_UNKNOWN);
    std::fclose(file);
    if (!decoded && imageType >= CMAX_IMAGE_FORMATS)
        CopyLastError(info.lastError, savedError);
    return decoded;
}

namespace {

// Keeps the header a reader tells and stops it there.
class HeaderCatcher : public CxRowSink {
public:
    explicit HeaderCatcher(CxPictureHeader& header)
        : header(header)
    {
    }
    Take Header(const CxPictureHeader& told) override
    {
        header = told;
        caught = true;
        return Take::HeaderOnly;
    }
    void Row(uint32_t, const uint8_t*) override { }
    CxPictureHeader& header;
    bool caught = false;
};

} // namespace

bool CxImage::ReadHeader(const char* fileName, CxPictureHeader& header) const
{
    const uint32_t type = GetTypeFromExtension(fileName);
    switch (type) {
    case CXIMAGE_FORMAT_JPG:
    case CXIMAGE_FORMAT_PNG:
    case CXIMAGE_FORMAT_WEBP:
    case CXIMAGE_FORMAT_HEIF:
    case CXIMAGE_FORMAT_AVIF:
    case CXIMAGE_FORMAT_JXL:
        break;
    default:
        return false;
    }
    FILE* file = std::fopen(fileName, "rb");
    if (!file)
        return false;
    HeaderCatcher catcher(header);
    CxImage probe(type);
    probe.CopyInfo(*this);
    probe.info.type = type;
    probe.SetRowSink(&catcher);
    const bool read = probe.Decode(file, type);
    std::fclose(file);
    return read && catcher.caught;
}

bool CxImage::Decode(FILE* file, uint32_t imageType)
{
    CxFileStream stream(file);
    return Decode(&stream, imageType);
}

bool CxImage::Decode(CxStream* stream, uint32_t imageType)
{
    if (!stream) {
        SetLastError(UNKNOWN_FORMAT);
        return false;
    }

    if (imageType == CXIMAGE_FORMAT_UNKNOWN) {
        const int32_t start = stream->Tell();
        for (const uint32_t type : PROBE_ORDER) {
            std::unique_ptr<CxImage> failed;
            const Attempt attempt = DecodeAs(*this, stream, type, failed);
            if (attempt == Attempt::Decoded)
                return true;
            // Memory that ran short ends the probing: the file may well be of this
            // format, and the readers after it are no judges of that.
            if (attempt == Attempt::OutOfMemory) {
                if (failed)
                    SetLastError(failed->GetLastError());
                return false;
            }
            if (attempt == Attempt::Failed)
                stream->Seek(start, SEEK_SET);
        }
        SetLastError(UNKNOWN_FORMAT);
        return false;
    }

    if (imageType >= CMAX_IMAGE_FORMATS) {
        SetLastError(UNKNOWN_FORMAT);
        return false;
    }

    std::unique_ptr<CxImage> failed;
    const Attempt attempt = DecodeAs(*this, stream, imageType, failed);
    if (attempt == Attempt::Decoded)
        return true;
    if (attempt == Attempt::NoReader) {
        // No reader for this format is built into the program.
        SetLastError(UNKNOWN_FORMAT);
        return false;
    }
    if (!failed)
        return false; // out of memory before the reader began: the text is set
    SetLastError(failed->GetLastError());
    if (imageType == CXIMAGE_FORMAT_GIF || imageType == CXIMAGE_FORMAT_ICO
        || imageType == CXIMAGE_FORMAT_TIF)
        info.numFrames = failed->GetNumFrames();
    return false;
}
