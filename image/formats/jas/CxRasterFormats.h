// Readers for the simple raster formats of the JPEG 2000 family reader. Each parses a
// whole file held in memory into component planes; on failure it returns false and says
// why in `detail`.
#pragma once

#include "image/formats/j2k/CxSamplePlanes.h"

#include <cstdint>
#include <string>
#include <vector>

bool IsPgxSignature(const uint8_t* bytes, size_t size);
bool IsPnmSignature(const uint8_t* bytes, size_t size);
bool IsSunRasterSignature(const uint8_t* bytes, size_t size);

// PGX (JPEG 2000 conformance files): "PG ML|LM [+|-]precision width height", one sample
// of 1, 2 or 4 bytes each.
bool ReadPgx(
    const uint8_t* bytes, size_t size, std::vector<CxSamplePlane>& planes, CxDecodeDetail& detail);
// PNM: P1 to P6, maxval up to 65535 (two bytes per sample, most significant first).
bool ReadPnm(
    const uint8_t* bytes, size_t size, std::vector<CxSamplePlane>& planes, CxDecodeDetail& detail);
// Sun raster: 1, 8, 24 and 32 bits, raw or run-length coded, with or without a colour map.
bool ReadSunRaster(
    const uint8_t* bytes, size_t size, std::vector<CxSamplePlane>& planes, CxDecodeDetail& detail);
