// Pictures of CxImage for Qt: the image's device bitmap as a QImage.
#pragma once

#include "image/core/CxImage.h"

#include <QImage>
#include <QPixmap>

namespace platform {
class Bitmap;
}

// The picture as the desktop would show its device bitmap (32-bit, opaque).
QImage ToQImage(const CxImage& image);
QImage ToQImage(const platform::Bitmap& bitmap);
