#include "ImageConversion.h"

#include "platform/DeviceBitmap.h"

#include <memory>

QImage ToQImage(const CxImage& image)
{
    std::unique_ptr<platform::Bitmap> bitmap(image.MakeDeviceBitmap(nullptr));
    return bitmap ? ToQImage(*bitmap) : QImage();
}

QImage ToQImage(const platform::Bitmap& bitmap)
{
    QImage result(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    for (int32_t y = 0; y < bitmap.Height(); y++) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int32_t x = 0; x < bitmap.Width(); x++) {
            const RGBQUAD c = bitmap.GetPixel(x, y);
            line[x] = qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
        }
    }
    return result;
}
