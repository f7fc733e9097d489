// The orientation tag of an Exif block read on its own, for formats that carry the block
// as it is (PNG's eXIf chunk: the TIFF structure with no "Exif" header in front).
#pragma once

#include <cstddef>
#include <cstdint>

// The orientation (1..8) of the first directory of a TIFF-structured Exif block; 0 when
// the block is malformed or tells none or a value outside 1..8.
uint8_t ExifOrientationOf(const uint8_t* block, size_t size);
