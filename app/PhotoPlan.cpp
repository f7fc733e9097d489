#include "PhotoPlan.h"

#include "image/core/CxImage.h"
#include "image/core/CxRowSink.h"
#include "image/process/CxAreaReduction.h"
#include "image/process/CxOrientation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>

namespace {

uint64_t PictureBytes(uint64_t width, uint64_t height, uint64_t bpp)
{
    return (width * bpp + 31) / 32 * 4 * height;
}

// The canvas, its 24-bit copy in the photo's entry, the pixels the quantiser takes from
// the canvas, the frame, and the working room of the composing.
uint64_t CompositionBytes(const ProjectSettings& settings)
{
    return 5 * PictureBytes(settings.overallWidth, settings.overallHeight, 24);
}

} // namespace

int RoundToInt(double value)
{
    if (std::isnan(value))
        return 0;
    // "%d" can't hold more than an int; such values never come from a photo size.
    value = std::fmax(double(INT_MIN), std::fmin(double(INT_MAX), value));
    char text[64];
    std::snprintf(text, sizeof text, "%.0lf", value);
    int result = 0;
    if (std::sscanf(text, "%d", &result) != 1)
        return 0;
    return result;
}

void ReducedSize(uint32_t w, uint32_t h, uint32_t s, int32_t& newWidth, int32_t& newHeight)
{
    newWidth = int32_t(w);
    newHeight = int32_t(h);
    if (!(w > s || h > s) || h == 0)
        return;
    const double r = double(w) / double(h);
    if (r > 1.0) {
        newWidth = int32_t(s);
        newHeight = RoundToInt(double(s) / r);
    } else {
        newHeight = int32_t(s);
        newWidth = RoundToInt(double(s) * r);
    }
    // A very elongated photo keeps a side of one pixel rather than none.
    newWidth = std::max(newWidth, 1);
    newHeight = std::max(newHeight, 1);
}

bool RowsStreamed(bool rowsOffered, int32_t width, int32_t height, int32_t reducedWidth,
    int32_t reducedHeight, bool scaled)
{
    if (!rowsOffered)
        return false;
    return scaled ? reducedWidth <= width && reducedHeight <= height
                  : reducedWidth < width && reducedHeight < height;
}

// How many times the reduced size a scaled picture covers at least. At once, the 8 x 8
// blocks a scaled pixel stands for would be cut by the result pixels' edges into shares
// that ignore what lies inside them; twice keeps the frames' PSNR against the exact
// reading above 40 dB on photographs.
constexpr uint64_t FAST_MARGIN = 2;

uint8_t FastJpegReduction(uint32_t width, uint32_t height, int32_t newWidth, int32_t newHeight)
{
    // The scale M/8 as the denominator 8 / M that libjpeg rounds up to it.
    constexpr uint8_t DENOMINATORS[] = { 8, 4, 3, 2 };
    for (uint32_t m = 1; m <= 4; m++) {
        if ((uint64_t(width) * m + 7) / 8 >= FAST_MARGIN * uint64_t(newWidth)
            && (uint64_t(height) * m + 7) / 8 >= FAST_MARGIN * uint64_t(newHeight))
            return DENOMINATORS[m - 1];
    }
    return 0;
}

PhotoPlan PlanPhoto(const std::string& photoPath, const ProjectSettings& settings)
{
    PhotoPlan plan;
    struct stat info { };
    const uint64_t fileBytes = ::stat(photoPath.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
    CxPictureHeader header;
    if (!CxImage().ReadHeader(photoPath.c_str(), header)) {
        // At most a few times its file, as uncompressed or lightly compressed pictures are.
        plan.memoryBytes = 4 * fileBytes + CompositionBytes(settings);
        plan.cost = 4 * fileBytes;
        return plan;
    }
    // The frame shows the photo upright: a photo stored on its side is reduced to the
    // upright size turned back.
    const bool transposes
        = !settings.ignoreOrientation && OrientationTransposes(header.orientation);
    ReducedSize(transposes ? header.height : header.width,
        transposes ? header.width : header.height, settings.photoSize, plan.reducedWidth,
        plan.reducedHeight);
    const int32_t storedWidth = transposes ? plan.reducedHeight : plan.reducedWidth;
    const int32_t storedHeight = transposes ? plan.reducedWidth : plan.reducedHeight;

    if (settings.fastDecoding
        && CxImage::GetTypeFromExtension(photoPath.c_str()) == CXIMAGE_FORMAT_JPG) {
        plan.jpegReduction
            = FastJpegReduction(header.width, header.height, storedWidth, storedHeight);
        plan.dcScansOnly = plan.jpegReduction == 8;
        // The header again, as the scaled reading will tell it.
        CxImage scaled;
        scaled.SetJpegReduction(plan.jpegReduction);
        scaled.SetFormatOption(
            plan.dcScansOnly ? CXIMAGE_JPEG_DC_SCANS_ONLY : 0, CXIMAGE_FORMAT_JPG);
        CxPictureHeader scaledHeader;
        if (plan.jpegReduction && scaled.ReadHeader(photoPath.c_str(), scaledHeader))
            header = scaledHeader;
    }
    const int32_t width = int32_t(header.width);
    const int32_t height = int32_t(header.height);
    plan.streamed = RowsStreamed(
        header.rowsOffered, width, height, storedWidth, storedHeight, plan.jpegReduction != 0);

    const uint64_t reduced
        = PictureBytes(uint64_t(plan.reducedWidth), uint64_t(plan.reducedHeight), 24);
    const uint64_t reading = plan.streamed
        ? CxAreaReduction::WorkingBytes(width, height, storedWidth)
        // The picture, and beside it its copy raised to 24 bits.
        : PictureBytes(header.width, header.height, header.bpp)
            + (header.bpp < 24 ? PictureBytes(header.width, header.height, 24) : 0);
    plan.memoryBytes = header.workingBytes + reading + reduced + CompositionBytes(settings);
    // Every pixel is made and passed on, the coefficients of a file of several scans are
    // passed over once per scan, and the file is read.
    plan.cost = 2 * uint64_t(header.width) * header.height + header.workingBytes + fileBytes;
    return plan;
}
