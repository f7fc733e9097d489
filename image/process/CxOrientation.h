// The stored orientations of camera pictures (the Exif values 1..8: how the rows and
// columns as stored are to be turned and mirrored to stand upright).
#pragma once

#include <cstdint>

class CxImage;

// Orientations 5..8 swap width and height.
constexpr bool OrientationTransposes(uint8_t orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// Turns and mirrors a picture stored in the given orientation upright: 2 mirror, 3 half
// turn, 4 flip, 5 transpose, 6 clockwise quarter turn, 7 transverse, 8 counter-clockwise
// quarter turn; 0 (none given), 1 and other values leave it as it is. False when a step
// failed (the picture then is as that step left it).
bool ApplyOrientation(CxImage& picture, uint8_t orientation);
