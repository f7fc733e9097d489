// CxExifReader: walks the marker segments at the start of a JPEG stream up to the start
// of the scan data and fills an ExifRecord from the frame header, the first comment and
// the first APP1 segment carrying an Exif block (a TIFF structure of tagged directories).
// Reference: JEITA CP-3451 (Exif 2.2) and TIFF 6.0, section 2.
#pragma once

#include <cstdint>

class CxStream;

// Zero-filled by its owner before first use; the reader only ever writes into it.
struct ExifRecord {
    char exifVersion[5];
    char make[32];
    char model[40];
    char dateTime[20];
    int32_t height;
    int32_t width;
    int32_t orientation;
    int32_t hasColour;
    int32_t frameMarker;
    int32_t flash;
    float focalLength;
    float exposureTime;
    float fNumber;
    float subjectDistance;
    float sensorWidth;
    float exposureBiasValue;
    int32_t whiteBalance;
    int32_t meteringMode;
    int32_t exposureProgram;
    int32_t isoSpeed;
    int32_t compressedBitsPerPixel;
    float focalPlaneXResolution;
    float focalPlaneYResolution;
    float focalPlaneResolutionUnit;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightnessValue;
    char comments[1000];
    uint8_t* thumbnail;
    uint32_t thumbnailSize;
    bool exifFound;
};

class CxExifReader {
public:
    static constexpr int32_t MAX_SEGMENTS = 20;

    explicit CxExifReader(ExifRecord* record);
    ~CxExifReader();
    CxExifReader(const CxExifReader&) = delete;
    CxExifReader& operator=(const CxExifReader&) = delete;

    // Walks the markers from the stream's current position; true when the start of scan
    // was reached. Reads no scan data.
    bool ReadExifFromStream(CxStream* stream);
    // payload: the APP1 segment behind its two length bytes; length: the segment's
    // length field (which counts those two bytes).
    bool ParseExifBlock(uint8_t* payload, uint32_t length);
    bool ParseExifDirectory(uint8_t* directory, uint8_t* blockStart, uint32_t blockLength);
    double ExifValueAsReal(const uint8_t* value, int32_t format) const;
    void ParseCommentSegment(const uint8_t* segment, uint32_t length);
    void ParseFrameHeader(const uint8_t* segment, int32_t marker);

    const char* GetError() const { return exifError; }
    int32_t GetSegmentCount() const { return segmentsRead; }
    int32_t GetSegmentMarker(int32_t index) const
    {
        return index >= 0 && index < segmentsRead ? segments[index].marker : -1;
    }

private:
    struct Segment {
        uint8_t* data;
        int32_t marker;
        int32_t size;
    };

    uint16_t Get16(const uint8_t* p) const;
    uint32_t Get32(const uint8_t* p) const;
    bool WalkDirectory(uint8_t* directory, uint8_t* blockStart, uint32_t blockLength);
    void ApplyTag(uint32_t tag, int32_t format, uint8_t* value, uint64_t byteCount,
        uint32_t& thumbnailOffset, uint32_t& thumbnailSize);
    void Fail(const char* text);

    ExifRecord* record;
    char exifError[256];
    bool bigEndianOrder;
    int32_t pixelXDimension;
    Segment segments[MAX_SEGMENTS];
    int32_t segmentsRead;

    // Directory links can point back at a directory on the current path, or many links
    // at the same directory: the walk keeps its path and a budget of directories.
    static constexpr int32_t MAX_DIRECTORY_DEPTH = 16;
    static constexpr int32_t MAX_DIRECTORIES = 256;
    const uint8_t* walkPath[MAX_DIRECTORY_DEPTH];
    int32_t walkDepth;
    int32_t directoriesWalked;
};
