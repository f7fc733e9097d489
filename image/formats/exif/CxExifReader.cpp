// The Exif pre-pass of the JPEG reader. Problems found here never fail the image decode:
// they leave their text in exifError and make the walk answer false.
#include "CxExifReader.h"

#include "image/core/CxByteOrder.h"
#include "image/core/CxMessages.h"
#include "image/core/CxStream.h"
#include "platform/Memory.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// Resolution unit codes 3, 4 and 5 (centimetre, millimetre, micrometre) as the factor that
// turns dots per unit into dots per inch by division.
constexpr float UNIT_CENTIMETRE = float(1.0 / 2.54);
constexpr float UNIT_MILLIMETRE = float(0.1 / 2.54);
constexpr float UNIT_MICROMETRE = float(0.0001 / 2.54);
static_assert(std::bit_cast<uint32_t>(UNIT_CENTIMETRE) == 0x3EC99326);
static_assert(std::bit_cast<uint32_t>(UNIT_MILLIMETRE) == 0x3D214285);
static_assert(std::bit_cast<uint32_t>(UNIT_MICROMETRE) == 0x3825214D);

constexpr int32_t MARKER_SOS = 0xDA;
constexpr int32_t MARKER_EOI = 0xD9;
constexpr int32_t MARKER_APP0 = 0xE0;
constexpr int32_t MARKER_APP1 = 0xE1;
constexpr int32_t MARKER_COM = 0xFE;

constexpr uint32_t TAG_MAKE = 0x010F;
constexpr uint32_t TAG_MODEL = 0x0110;
constexpr uint32_t TAG_ORIENTATION = 0x0112;
constexpr uint32_t TAG_X_RESOLUTION = 0x011A;
constexpr uint32_t TAG_Y_RESOLUTION = 0x011B;
constexpr uint32_t TAG_RESOLUTION_UNIT = 0x0128;
constexpr uint32_t TAG_THUMBNAIL_OFFSET = 0x0201;
constexpr uint32_t TAG_THUMBNAIL_LENGTH = 0x0202;
constexpr uint32_t TAG_EXPOSURE_TIME = 0x829A;
constexpr uint32_t TAG_FNUMBER = 0x829D;
constexpr uint32_t TAG_EXIF_OFFSET = 0x8769;
constexpr uint32_t TAG_EXPOSURE_PROGRAM = 0x8822;
constexpr uint32_t TAG_ISO_SPEED = 0x8827;
constexpr uint32_t TAG_EXIF_VERSION = 0x9000;
constexpr uint32_t TAG_DATETIME_ORIGINAL = 0x9003;
constexpr uint32_t TAG_COMPRESSED_BPP = 0x9102;
constexpr uint32_t TAG_SHUTTER_SPEED = 0x9201;
constexpr uint32_t TAG_APERTURE = 0x9202;
constexpr uint32_t TAG_BRIGHTNESS = 0x9203;
constexpr uint32_t TAG_EXPOSURE_BIAS = 0x9204;
constexpr uint32_t TAG_MAX_APERTURE = 0x9205;
constexpr uint32_t TAG_SUBJECT_DISTANCE = 0x9206;
constexpr uint32_t TAG_METERING_MODE = 0x9207;
constexpr uint32_t TAG_LIGHT_SOURCE = 0x9208;
constexpr uint32_t TAG_FLASH = 0x9209;
constexpr uint32_t TAG_FOCAL_LENGTH = 0x920A;
constexpr uint32_t TAG_USER_COMMENT = 0x9286;
constexpr uint32_t TAG_EXIF_IMAGE_WIDTH = 0xA002;
constexpr uint32_t TAG_EXIF_IMAGE_LENGTH = 0xA003;
constexpr uint32_t TAG_INTEROP_OFFSET = 0xA005;
constexpr uint32_t TAG_FOCAL_PLANE_X_RES = 0xA20E;
constexpr uint32_t TAG_FOCAL_PLANE_Y_RES = 0xA20F;
constexpr uint32_t TAG_FOCAL_PLANE_UNIT = 0xA210;

constexpr int32_t BYTES_PER_FORMAT[13] = { 0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8 };

bool IsFrameMarker(int32_t marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Truncates toward zero; values a camera could never write (NaN, out of range) saturate
// instead of being undefined.
int32_t TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

// Copies text of at most maxBytes bytes, stopping at a zero byte, and terminates it.
void CopyText(char* destination, const uint8_t* source, uint64_t maxBytes)
{
    uint64_t i = 0;
    for (; i < maxBytes && source[i] != 0; i++)
        destination[i] = char(source[i]);
    destination[i] = '\0';
}

void ApplyUnit(float& field, int32_t code)
{
    switch (code) {
    case 1:
    case 2:
        field = 1.0f;
        break;
    case 3:
        field = UNIT_CENTIMETRE;
        break;
    case 4:
        field = UNIT_MILLIMETRE;
        break;
    case 5:
        field = UNIT_MICROMETRE;
        break;
    default:
        break;
    }
}

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

} // namespace

CxExifReader::CxExifReader(ExifRecord* record)
    : record(record)
    , exifError {}
    , bigEndianOrder(false)
    , pixelXDimension(0)
    , segments {}
    , segmentsRead(0)
    , walkPath {}
    , walkDepth(0)
    , directoriesWalked(0)
{
}

CxExifReader::~CxExifReader()
{
    for (Segment& segment : segments)
        std::free(segment.data);
}

void CxExifReader::Fail(const char* text)
{
    std::snprintf(exifError, sizeof(exifError), "%s", text);
}

uint16_t CxExifReader::Get16(const uint8_t* p) const
{
    return bigEndianOrder ? ReadBe16(p) : ReadLe16(p);
}

uint32_t CxExifReader::Get32(const uint8_t* p) const
{
    return bigEndianOrder ? ReadBe32(p) : ReadLe32(p);
}

bool CxExifReader::ReadExifFromStream(CxStream* stream)
{
    if (!stream || !record)
        return false;
    if (stream->GetC() != 0xFF || stream->GetC() != 0xD8)
        return false;

    for (;;) {
        if (segmentsRead == MAX_SEGMENTS) {
            Fail("Too many sections in jpg file");
            return false;
        }

        int32_t marker = 0;
        for (int32_t padding = 0;; padding++) {
            marker = stream->GetC();
            if (marker != 0xFF)
                break;
            if (padding == 6) {
                ReportMessage("too many padding bytes");
                return false;
            }
        }

        const int32_t high = stream->GetC();
        const int32_t low = stream->GetC();
        if (high < 0 || low < 0 || high * 256 + low < 2) {
            Fail("invalid marker");
            return false;
        }
        const int32_t length = high * 256 + low;

        std::unique_ptr<uint8_t, FreeDeleter> data(
            static_cast<uint8_t*>(platform::AllocateBuffer(length)));
        if (!data) {
            Fail("Could not allocate memory");
            return false;
        }
        data.get()[0] = uint8_t(high);
        data.get()[1] = uint8_t(low);
        if (stream->Read(data.get() + 2, 1, uint32_t(length - 2)) != uint32_t(length - 2)) {
            Fail("Premature end of file?");
            return false;
        }
        Segment& segment = segments[segmentsRead++];
        segment = Segment { data.release(), marker, length };
        const auto discard = [&] {
            std::free(segment.data);
            segment = Segment {};
            segmentsRead--;
        };

        if (IsFrameMarker(marker)) {
            ParseFrameHeader(segment.data, marker);
        } else if (marker == MARKER_SOS) {
            return true;
        } else if (marker == MARKER_EOI) {
            ReportMessage("No image in jpeg!");
            return false;
        } else if (marker == MARKER_APP0) {
            discard();
        } else if (marker == MARKER_APP1) {
            if (length >= 6 && std::memcmp(segment.data + 2, "Exif", 4) == 0)
                record->exifFound = ParseExifBlock(segment.data + 2, uint32_t(length));
            else
                discard();
        } else if (marker == MARKER_COM) {
            bool firstComment = true;
            for (int32_t i = 0; i + 1 < segmentsRead; i++)
                firstComment = firstComment && segments[i].marker != MARKER_COM;
            if (firstComment)
                ParseCommentSegment(segment.data, uint32_t(length));
            else
                discard();
        }
    }
}

void CxExifReader::ParseFrameHeader(const uint8_t* segment, int32_t marker)
{
    // A frame header shorter than its fixed part carries no size to take.
    const int32_t length = (segment[0] << 8) | segment[1];
    if (length < 8)
        return;
    record->height = (segment[3] << 8) | segment[4];
    record->width = (segment[5] << 8) | segment[6];
    record->hasColour = segment[7] == 3 ? 1 : 0;
    record->frameMarker = marker;
}

void CxExifReader::ParseCommentSegment(const uint8_t* segment, uint32_t length)
{
    const uint32_t end = length < 1000 ? length : 1000;
    char text[1000];
    uint32_t out = 0;
    for (uint32_t i = 2; i < end; i++) {
        const uint8_t c = segment[i];
        if (c == '\r' && i + 1 < end && segment[i + 1] == '\n')
            continue;
        if ((c >= 0x20 && c < 0x7F) || c == '\n' || c == '\t')
            text[out++] = char(c);
        else
            text[out++] = '?';
    }
    text[out] = '\0';
    std::memcpy(record->comments, text, out + 1);
}

bool CxExifReader::ParseExifBlock(uint8_t* payload, uint32_t length)
{
    record->flash = 0;
    record->comments[0] = '\0';
    pixelXDimension = 0;

    const uint32_t available = length >= 2 ? length - 2 : 0;
    if (available < 6 || std::memcmp(payload, "Exif\0\0", 6) != 0) {
        Fail("Incorrect Exif header");
        return false;
    }
    if (available >= 8 && std::memcmp(payload + 6, "II", 2) == 0)
        bigEndianOrder = false;
    else if (available >= 8 && std::memcmp(payload + 6, "MM", 2) == 0)
        bigEndianOrder = true;
    else {
        Fail("Invalid Exif alignment marker.");
        return false;
    }
    if (available < 14 || Get16(payload + 8) != 42) {
        Fail("Invalid Exif start (1)");
        return false;
    }

    uint8_t* block = payload + 6;
    const uint32_t blockLength = length - 8;
    const uint32_t firstOffset = Get32(payload + 10);

    walkDepth = 0;
    directoriesWalked = 0;
    if (!ParseExifDirectory(block + 8, block, blockLength))
        return false;
    if (firstOffset > 8) {
        if (firstOffset >= blockLength) {
            Fail("Illegally sized directory");
            return false;
        }
        if (!ParseExifDirectory(block + firstOffset, block, blockLength))
            return false;
    }

    if (record->focalPlaneXResolution != 0.0f)
        record->sensorWidth = float(pixelXDimension) * record->focalPlaneResolutionUnit
            / record->focalPlaneXResolution;
    return true;
}

bool CxExifReader::ParseExifDirectory(uint8_t* directory, uint8_t* blockStart, uint32_t blockLength)
{
    // A link back into the current path, a path deeper than any camera writes, or more
    // directories than a block could sensibly hold end this branch without failing it.
    for (int32_t i = 0; i < walkDepth; i++) {
        if (walkPath[i] == directory)
            return true;
    }
    if (walkDepth == MAX_DIRECTORY_DEPTH || directoriesWalked == MAX_DIRECTORIES)
        return true;
    directoriesWalked++;
    walkPath[walkDepth++] = directory;
    const bool walked = WalkDirectory(directory, blockStart, blockLength);
    walkDepth--;
    return walked;
}

bool CxExifReader::WalkDirectory(uint8_t* directory, uint8_t* blockStart, uint32_t blockLength)
{
    const uint8_t* blockEnd = blockStart + blockLength;
    if (directory < blockStart || directory + 2 > blockEnd) {
        Fail("Illegally sized directory");
        return false;
    }
    const uint32_t entries = Get16(directory);
    if (uint64_t(directory - blockStart) + 2 + 12 * uint64_t(entries) > blockLength) {
        Fail("Illegally sized directory");
        return false;
    }

    uint32_t thumbnailOffset = 0;
    uint32_t thumbnailSize = 0;
    for (uint32_t n = 0; n < entries; n++) {
        uint8_t* entry = directory + 2 + 12 * n;
        const uint32_t tag = Get16(entry);
        const uint32_t format = Get16(entry + 2);
        const uint32_t components = Get32(entry + 4);
        if (format > 12) {
            Fail("Illegal format code in EXIF dir");
            return false;
        }
        const uint64_t byteCount = uint64_t(components) * BYTES_PER_FORMAT[format];
        uint8_t* value = entry + 8;
        if (byteCount > 4) {
            const uint32_t offset = Get32(entry + 8);
            if (uint64_t(offset) + byteCount > blockLength) {
                Fail("Illegal pointer offset value in EXIF.");
                return false;
            }
            value = blockStart + offset;
        }

        ApplyTag(tag, int32_t(format), value, byteCount, thumbnailOffset, thumbnailSize);

        if (tag == TAG_EXIF_OFFSET || tag == TAG_INTEROP_OFFSET) {
            const uint32_t link = Get32(value);
            if (link > 8) {
                if (link >= blockLength) {
                    Fail("Illegal subdirectory link");
                    return false;
                }
                ParseExifDirectory(blockStart + link, blockStart, blockLength);
            }
        }
    }

    const uint8_t* linkField = directory + 2 + 12 * entries;
    if (linkField + 4 <= blockEnd) {
        const uint32_t next = Get32(linkField);
        if (next != 0) {
            if (next >= blockLength) {
                Fail("Illegal subdirectory link");
                return false;
            }
            ParseExifDirectory(blockStart + next, blockStart, blockLength);
        }
    }

    if (thumbnailOffset != 0 && thumbnailSize != 0
        && uint64_t(thumbnailOffset) + thumbnailSize <= blockLength) {
        record->thumbnail = blockStart + thumbnailOffset;
        record->thumbnailSize = thumbnailSize;
    }
    return true;
}

void CxExifReader::ApplyTag(uint32_t tag, int32_t format, uint8_t* value, uint64_t byteCount,
    uint32_t& thumbnailOffset, uint32_t& thumbnailSize)
{
    // A value of no components reads as 0 rather than from the bytes behind the entry.
    const double real
        = byteCount >= uint64_t(BYTES_PER_FORMAT[format]) ? ExifValueAsReal(value, format) : 0.0;
    const int32_t integer = TruncateToInt(real);
    const auto text = [&](char* field, uint64_t maxBytes) {
        CopyText(field, value, byteCount < maxBytes ? byteCount : maxBytes);
    };

    switch (tag) {
    case TAG_MAKE:
        text(record->make, 31);
        break;
    case TAG_MODEL:
        text(record->model, 39);
        break;
    case TAG_ORIENTATION:
        record->orientation = integer;
        if (integer < 1 || integer > 8) {
            Fail("Undefined rotation value");
            record->orientation = 0;
        }
        break;
    case TAG_X_RESOLUTION:
        record->xResolution = float(real);
        break;
    case TAG_Y_RESOLUTION:
        record->yResolution = float(real);
        break;
    case TAG_RESOLUTION_UNIT:
        ApplyUnit(record->resolutionUnit, integer);
        break;
    case TAG_THUMBNAIL_OFFSET:
        thumbnailOffset = uint32_t(integer);
        break;
    case TAG_THUMBNAIL_LENGTH:
        thumbnailSize = uint32_t(integer);
        break;
    case TAG_EXPOSURE_TIME:
        record->exposureTime = float(real);
        break;
    case TAG_FNUMBER:
        record->fNumber = float(real);
        break;
    case TAG_EXPOSURE_PROGRAM:
        record->exposureProgram = integer;
        break;
    case TAG_ISO_SPEED:
        // Some cameras store the ISO speed divided by 200.
        record->isoSpeed = integer < 50 ? TruncateToInt(double(integer) * 200.0) : integer;
        break;
    case TAG_EXIF_VERSION:
        text(record->exifVersion, 4);
        break;
    case TAG_DATETIME_ORIGINAL:
        text(record->dateTime, 19);
        break;
    case TAG_COMPRESSED_BPP:
        record->compressedBitsPerPixel = integer;
        break;
    case TAG_SHUTTER_SPEED:
        // An APEX value; a real ExposureTime read before it wins.
        if (record->exposureTime == 0.0f)
            record->exposureTime = float(1.0 / std::exp2(real));
        break;
    case TAG_APERTURE:
    case TAG_MAX_APERTURE:
        if (record->fNumber == 0.0f)
            record->fNumber = float(std::exp2(real / 2.0));
        break;
    case TAG_BRIGHTNESS:
        record->brightnessValue = float(real);
        break;
    case TAG_EXPOSURE_BIAS:
        record->exposureBiasValue = float(real);
        break;
    case TAG_SUBJECT_DISTANCE:
        record->subjectDistance = float(real);
        break;
    case TAG_METERING_MODE:
        record->meteringMode = integer;
        break;
    case TAG_LIGHT_SOURCE:
        record->whiteBalance = integer;
        break;
    case TAG_FLASH:
        record->flash = (integer & 7) ? 1 : 0;
        break;
    case TAG_FOCAL_LENGTH:
        record->focalLength = float(real);
        break;
    case TAG_USER_COMMENT: {
        for (uint64_t a = byteCount; a > 0 && value[a - 1] == ' '; a--)
            value[a - 1] = 0;
        if (byteCount >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
            for (uint64_t a = 5; a < 10 && a < byteCount; a++) {
                if (value[a] != 0 && value[a] != ' ') {
                    const uint64_t left = byteCount - a;
                    CopyText(record->comments, value + a, left < 199 ? left : 199);
                    break;
                }
            }
        } else {
            CopyText(record->comments, value, byteCount < 199 ? byteCount : 199);
        }
        break;
    }
    case TAG_EXIF_IMAGE_WIDTH:
    case TAG_EXIF_IMAGE_LENGTH:
        if (integer > pixelXDimension)
            pixelXDimension = integer;
        break;
    case TAG_FOCAL_PLANE_X_RES:
        record->focalPlaneXResolution = float(real);
        break;
    case TAG_FOCAL_PLANE_Y_RES:
        record->focalPlaneYResolution = float(real);
        break;
    case TAG_FOCAL_PLANE_UNIT:
        ApplyUnit(record->focalPlaneResolutionUnit, integer);
        break;
    default:
        break;
    }
}

double CxExifReader::ExifValueAsReal(const uint8_t* value, int32_t format) const
{
    switch (format) {
    case 1:
        return value[0];
    case 6:
        return int8_t(value[0]);
    case 3:
        return Get16(value);
    case 8:
        return int16_t(Get16(value));
    case 4:
        return Get32(value);
    case 9:
        return int32_t(Get32(value));
    case 5:
    case 10: {
        const int32_t numerator = int32_t(Get32(value));
        const int32_t denominator = int32_t(Get32(value + 4));
        return denominator == 0 ? 0.0 : double(numerator) / double(denominator);
    }
    case 11: {
        float f;
        std::memcpy(&f, value, sizeof(f));
        return f;
    }
    case 12: {
        double d;
        std::memcpy(&d, value, sizeof(d));
        return d;
    }
    default:
        return 0.0;
    }
}
