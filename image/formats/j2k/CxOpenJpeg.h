// OpenJPEG's decompression over a CxStream: JP2 files (recognised by their signature box)
// and raw codestreams.
#pragma once

#include "CxSamplePlanes.h"

#include <string>
#include <vector>

class CxStream;

class CxOpenJpegPicture {
public:
    CxOpenJpegPicture() = default;
    ~CxOpenJpegPicture();
    CxOpenJpegPicture(const CxOpenJpegPicture&) = delete;
    CxOpenJpegPicture& operator=(const CxOpenJpegPicture&) = delete;

    // Decodes the stream from its current position. On failure `detail` says why (the
    // library's first error where it gave one).
    bool Decode(CxStream* stream, CxDecodeDetail& detail);

    // The components in codestream order; their samples belong to this object.
    std::vector<CxSamplePlane> planes;

private:
    void* image = nullptr; // opj_image_t
};

// True when the bytes start a JP2 file (its signature box) or a codestream (SOC, SIZ).
bool IsJp2Signature(const uint8_t* bytes, size_t size);
bool IsCodestreamSignature(const uint8_t* bytes, size_t size);
