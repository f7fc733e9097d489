// Plays a placeable 16-bit metafile with libwmf into a raster.
#pragma once

#include <cstddef>
#include <cstdint>

namespace metafile {

struct WindowsPlayback {
    uint16_t unitsPerInch; // from the placeable header, 1..2540
    // The logical size that fills the raster: the metafile's own window extent, or the
    // placeable bounds when it sets none.
    int32_t logicalWidth;
    int32_t logicalHeight;
    // The metafile's mapping mode and viewport extent (0 when it sets none).
    int32_t mapMode;
    int32_t viewportWidth;
    int32_t viewportHeight;
};

// file holds the 22-byte placeable header followed by the metafile. pixels is a top-down
// raster of 32-bit pixels (blue, green, red, unused) of width x height. Not safe against
// hostile input on its own: the library may crash or never finish, so callers run it in
// an isolated process.
bool PlayWindowsMetafile(const uint8_t* file, size_t size, const WindowsPlayback& playback,
    uint32_t* pixels, int32_t width, int32_t height);

} // namespace metafile
