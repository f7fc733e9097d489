// The format ids, the memory limit and the sampler and resampler constants of the image
// library.
#pragma once

#include "platform/DibTypes.h"

#include <cstdint>

enum : uint32_t {
    CXIMAGE_FORMAT_UNKNOWN = 0,
    CXIMAGE_FORMAT_BMP = 1,
    CXIMAGE_FORMAT_GIF = 2,
    CXIMAGE_FORMAT_JPG = 3,
    CXIMAGE_FORMAT_PNG = 4,
    CXIMAGE_FORMAT_ICO = 5,
    CXIMAGE_FORMAT_TIF = 6,
    CXIMAGE_FORMAT_TGA = 7,
    CXIMAGE_FORMAT_PCX = 8,
    CXIMAGE_FORMAT_WBMP = 9,
    CXIMAGE_FORMAT_WMF = 10,
    CXIMAGE_FORMAT_J2K = 11,
    CXIMAGE_FORMAT_JBG = 12,
    CXIMAGE_FORMAT_JP2 = 13,
    CXIMAGE_FORMAT_JPC = 14,
    CXIMAGE_FORMAT_PGX = 15,
    CXIMAGE_FORMAT_PNM = 16,
    CXIMAGE_FORMAT_RAS = 17,
    CXIMAGE_FORMAT_WEBP = 18,
    CXIMAGE_FORMAT_HEIF = 19,
    CXIMAGE_FORMAT_AVIF = 20, // read by the HEIF reader
    CXIMAGE_FORMAT_JXL = 21,
    CMAX_IMAGE_FORMATS = 22,
};

// The JPEG format option of an image about to be read (SetFormatOption with
// CXIMAGE_FORMAT_JPG): decoding at 1/8 scale (jpegReduction 8), a progressive file is read
// only as far as its DC scans, so each pixel is its block's average from the DC
// coefficient alone, as far as those scans refine it.
constexpr uint32_t CXIMAGE_JPEG_DC_SCANS_ONLY = 1;

// The largest pixel buffer (header, palette and rows) that CxImage::Create allocates.
// Fuzz builds lower it (BRIMVALE_MAX_MEMORY) so that no input costs more than a few
// megapixels of painting; the readers' checks against it stay the same.
#ifndef BRIMVALE_MAX_MEMORY
#define BRIMVALE_MAX_MEMORY 256000000
#endif
constexpr uint64_t CXIMAGE_MAX_MEMORY = BRIMVALE_MAX_MEMORY;

// How Resample computes the new pixels.
enum ResampleMode : int {
    RM_NEAREST = 1, // the source pixel the new one falls on
    RM_BSPLINE = 2, // a cubic B-spline over the 4 x 4 source pixels around it
    // The average of the source area it covers when a 24-bit picture shrinks on both
    // sides (how every photo is reduced), bilinear between the 4 nearest otherwise.
    RM_AREA_AVERAGE = 3,
};

// Overflow treatments of the samplers.
enum OverflowMode : int {
    OM_FIXED_COLOR = 1,
    OM_TRANS_COLOR = 2,
    OM_TRANSPARENT = 3,
    OM_WRAP = 4,
    OM_CLAMP_TO_EDGE = 5,
    OM_REFLECT = 6,
};

// Interpolation methods of SampleInterpolated.
enum InterpolationMethod : int {
    IM_NEAREST = 1,
    IM_BILINEAR = 2,
    IM_BSPLINE = 3,
    IM_BICUBIC = 4,
    IM_KEYS_CUBIC = 5,
    IM_LANCZOS = 6,
    IM_BOX = 7,
    IM_HERMITE = 8,
    IM_HAMMING = 9,
    IM_SINC = 10,
    IM_BLACKMAN = 11,
    IM_BESSEL = 12,
    IM_GAUSSIAN = 13,
    IM_QUADRATIC = 14,
    IM_MITCHELL = 15,
    IM_CATROM = 16,
};
