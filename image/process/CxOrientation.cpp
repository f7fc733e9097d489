#include "CxOrientation.h"

#include "image/core/CxImage.h"

bool ApplyOrientation(CxImage& picture, uint8_t orientation)
{
    switch (orientation) {
    case 2:
        return picture.Mirror();
    case 3:
        return picture.Flip() && picture.Mirror();
    case 4:
        return picture.Flip();
    case 5:
        return picture.RotateRight() && picture.Mirror();
    case 6:
        return picture.RotateRight();
    case 7:
        return picture.RotateLeft() && picture.Mirror();
    case 8:
        return picture.RotateLeft();
    default:
        return true;
    }
}
