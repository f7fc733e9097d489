// CxImageJPG: reads JFIF and Exif JPEG files (baseline or progressive; grey, YCbCr or
// CMYK) through libjpeg. Grey files give 8-bit images with a grey palette, all others
// 24-bit blue-green-red. The Exif orientation and the embedded colour profile are
// recorded on the image, never applied.
#pragma once

#include "image/core/CxImage.h"
#include "image/formats/exif/CxExifReader.h"

#include <memory>

struct JpegSession;

class CxImageJPG : public CxImage {
public:
    CxImageJPG();
    ~CxImageJPG() override;
    CxImageJPG(const CxImageJPG&) = delete;
    CxImageJPG& operator=(const CxImageJPG&) = delete;

    bool Decode(CxStream* stream);

    // The Exif pre-pass alone, from the stream's current position, to which the stream
    // is put back; answers whether an Exif block was read.
    bool ReadExifFromStream(CxStream* stream);
    const ExifRecord& GetExifRecord() const { return exifRecord; }
    const CxExifReader* GetExifReader() const { return exifReader.get(); }

private:
    bool Decompress(JpegSession& session);
    // The rows into the picture, or to sink when it takes them.
    void DecompressRows(JpegSession& session, CxRowSink* sink);
    void SetResolution(JpegSession& session);
    void RecordProfileAndOrientation(uint8_t* profile, uint32_t length);

    std::unique_ptr<CxExifReader> exifReader;
    ExifRecord exifRecord;
};
