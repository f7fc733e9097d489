// Plays enhanced metafiles over cairo: the drawing records (lines, curves, polygons,
// rectangles, ellipses, arcs, paths, clipping, transforms, bitmaps and text) are drawn
// with the pens, brushes and fonts the picture creates.
#pragma once

#include "MetafileLayout.h"

#include <cstdint>

namespace metafile {

// Plays the records of a checked enhanced metafile onto a top-down raster of 32-bit
// pixels (blue, green, red, unused) of width x height; the picture's bounds fill the
// raster. Records that paint nothing here are passed over.
bool PlayEnhancedMetafile(const uint8_t* data, const EnhancedHeader& header, uint32_t* pixels,
    int32_t width, int32_t height);

} // namespace metafile
