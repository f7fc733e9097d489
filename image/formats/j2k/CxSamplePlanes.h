// Decoded component planes (JPEG 2000, PGX, PNM, Sun raster) and their conversion into a
// CxImage: a colour picture becomes 24 bits, anything else one grey frame per plane.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>
#include <string>
#include <vector>

struct CxSamplePlane {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t precision = 8; // bits per sample
    bool isSigned = false;
    uint32_t maxValue = 255; // largest sample once a signed one is offset to unsigned
    bool isAlpha = false;
    const int32_t* samples = nullptr; // width x height, rows top first
    std::vector<int32_t> storage; // owns the samples when no library does

    // Points samples at storage, sized for width x height.
    void Allocate();
};

// Why a picture's planes could not be decoded: a short text for the reader's message, and
// whether the only trouble was the memory limit (which each reader words its own way).
struct CxDecodeDetail {
    std::string text;
    bool overMemoryLimit = false;
};

constexpr const char* MEMORY_LIMIT_DETAIL = "CXIMAGE_MAX_MEMORY exceeded";

// Three planes of one size and precision (red, green, blue), optionally followed by an
// alpha plane of the same size.
bool IsColourPicture(const std::vector<CxSamplePlane>& planes, bool* withAlpha = nullptr);

// One sample as an 8-bit value: signed samples are offset by half their range, and
// precisions other than 8 are scaled to 0..255 with rounding.
uint8_t SampleTo8Bits(const CxSamplePlane& plane, int32_t sample);

// The picture as a 24-bit image (with alpha when the planes carry it). Returns false with
// the image's own creation message in its lastError.
bool PlanesToColourImage(CxImage& image, const std::vector<CxSamplePlane>& planes, uint32_t type);

// One plane as a grey image. With keepLowDepths, 1- and 4-bit planes whose samples use the
// full range become 1- and 4-bit images indexing a grey palette; everything else 8 bits.
bool PlaneToGreyImage(
    CxImage& image, const CxSamplePlane& plane, uint32_t type, bool keepLowDepths);
