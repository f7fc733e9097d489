// The quality mode, judged on the file giflib reads back: how close each frame stays to
// the canvas it was made from (SSIM on luma), how the file's size follows the quality,
// and that a flat background comes out exactly, the same in every frame.
#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "tests/gif/GifPeer.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// A smooth two-colour gradient of side x side pixels as a 24-bit BMP: where banding and
// dithering noise show most.
std::string GradientPhoto(const std::string& path, int side)
{
    const size_t stride = (size_t(side) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> file(54 + stride * size_t(side), 0);
    const uint32_t size = uint32_t(file.size());
    const uint8_t header[]
        = { 'B', 'M', uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), 0, 0, 0, 0, 0, 54, 0,
              0, 0, 40, 0, 0, 0, uint8_t(side), 0, 0, 0, uint8_t(side), 0, 0, 0, 1, 0, 24 };
    std::copy(std::begin(header), std::end(header), file.begin());
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            uint8_t* p = &file[54 + size_t(y) * stride + size_t(x) * 3];
            const double t = (x + y) / (2.0 * (side - 1));
            p[0] = uint8_t(std::lround(160 - 120 * t)); // blue
            p[1] = uint8_t(std::lround(60 + 100 * t)); // green
            p[2] = uint8_t(std::lround(30 + 200 * t)); // red
        }
    bvtest::WriteFileBytes(path, file);
    return path;
}

// Luma (BT.601) of 0xRRGGBB pixels.
std::vector<double> Luma(const std::vector<uint32_t>& pixels)
{
    std::vector<double> y;
    for (uint32_t p : pixels)
        y.push_back(0.299 * double((p >> 16) & 0xFF) + 0.587 * double((p >> 8) & 0xFF)
            + 0.114 * double(p & 0xFF));
    return y;
}

// The mean SSIM over every place an 11 x 11 Gaussian window (sigma 1.5) fits.
double Ssim(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int w, int h)
{
    const std::vector<double> x = Luma(a), y = Luma(b);
    double kernel[11], sum = 0;
    for (int i = 0; i < 11; i++)
        sum += kernel[i] = std::exp(-double((i - 5) * (i - 5)) / (2 * 1.5 * 1.5));
    const double c1 = 6.5025, c2 = 58.5225; // (0.01 * 255)^2, (0.03 * 255)^2
    double total = 0;
    int count = 0;
    for (int top = 0; top + 11 <= h; top++)
        for (int left = 0; left + 11 <= w; left++) {
            double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
            for (int j = 0; j < 11; j++)
                for (int i = 0; i < 11; i++) {
                    const double k = kernel[i] * kernel[j] / (sum * sum);
                    const size_t p = size_t(top + j) * size_t(w) + size_t(left + i);
                    mx += k * x[p], my += k * y[p];
                    xx += k * x[p] * x[p], yy += k * y[p] * y[p], xy += k * x[p] * y[p];
                }
            const double sx = xx - mx * mx, sy = yy - my * my, sxy = xy - mx * my;
            total += ((2 * mx * my + c1) * (2 * sxy + c2))
                / ((mx * mx + my * my + c1) * (sx + sy + c2));
            count++;
        }
    return total / count;
}

std::vector<uint32_t> CanvasPixels(const CxImage& canvas)
{
    const int w = int(canvas.GetWidth()), h = int(canvas.GetHeight());
    std::vector<uint32_t> pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const RGBQUAD c = canvas.GetPixelColor(x, h - 1 - y, false);
            pixels.push_back(
                0xFF000000u | uint32_t(c.rgbRed) << 16 | uint32_t(c.rgbGreen) << 8 | c.rgbBlue);
        }
    return pixels;
}

struct Made {
    size_t bytes = 0;
    std::vector<std::vector<uint32_t>> frames; // as a browser shows them
};

Made Encode(PhotoList& list, ProjectSettings settings, uint32_t quality)
{
    settings.quality = quality;
    CxMemStream stream;
    Made made;
    if (!EncodeAnimation(list, settings, &stream))
        return made;
    const gifpeer::PeerFile file = gifpeer::ReadWithGiflib(stream.Data(), stream.Length());
    if (!file.ok)
        return made;
    made.bytes = stream.Length();
    made.frames = gifpeer::ComposeLikeBrowsers(file);
    return made;
}

ProjectSettings Canvas()
{
    ProjectSettings settings;
    settings.overallWidth = 170;
    settings.overallHeight = 160;
    settings.photoSize = 150;
    settings.backgroundColor = 0x7D5F3A; // 0x00BBGGRR: #3A5F7D
    return settings;
}

} // namespace

TEST(QualityMode, FramesStayCloseToTheirCanvasesAndSizesFollowTheQuality)
{
    const std::string folder = bvtest::MakeTempDir("quality");
    const ProjectSettings settings = Canvas();
    PhotoList list(false);
    ASSERT_TRUE(list.AddPhotos({ bvtest::TestData("jpeg/image-rs/portrait_2.jpg"),
                                   bvtest::TestData("jpeg/gen/plasma-q95-444.jpg"),
                                   bvtest::TestData("jpeg/image-rs/iptc.jpg"),
                                   GradientPhoto(folder + "/gradient.bmp", 150) },
                        settings)
                    .empty());
    ASSERT_EQ(list.Count(), 4u);
    // The least SSIM any frame may have at each quality.
    // The least SSIM any frame may have at each quality (the plasma, all fine detail, is
    // the lowest; 100 diffuses at full strength, which costs SSIM on such detail).
    const std::vector<std::pair<uint32_t, double>> floors { { 10, 0.80 }, { 30, 0.88 },
        { 50, 0.92 }, { 70, 0.93 }, { 90, 0.93 }, { 100, 0.90 } };
    size_t lastBytes = 0;
    for (const auto& [quality, floor] : floors) {
        const Made made = Encode(list, settings, quality);
        ASSERT_EQ(made.frames.size(), 4u) << quality;
        for (size_t i = 0; i < 4; i++) {
            const double ssim = Ssim(CanvasPixels(*list.Entry(i)->canvas), made.frames[i],
                int(settings.overallWidth), int(settings.overallHeight));
            EXPECT_GE(ssim, floor) << "quality " << quality << ", frame " << i;
        }
        EXPECT_GT(made.bytes, lastBytes) << quality;
        lastBytes = made.bytes;
    }
}

TEST(QualityMode, AFlatBackgroundStaysExactlyTheSameInEveryFrame)
{
    const std::string folder = bvtest::MakeTempDir("quality-flat");
    const ProjectSettings settings = Canvas();
    PhotoList list(false);
    ASSERT_TRUE(list.AddPhotos({ bvtest::TestData("jpeg/image-rs/portrait_2.jpg"),
                                   GradientPhoto(folder + "/gradient.bmp", 120) },
                        settings)
                    .empty());
    for (uint32_t quality : { 20u, 100u }) {
        const Made made = Encode(list, settings, quality);
        ASSERT_EQ(made.frames.size(), 2u);
        for (size_t i = 0; i < 2; i++) {
            const std::vector<uint32_t> canvas = CanvasPixels(*list.Entry(i)->canvas);
            const int w = int(settings.overallWidth), h = int(settings.overallHeight);
            size_t background = 0, kept = 0;
            // Background pixels at least two pixels away from the photo.
            for (int y = 2; y < h - 2; y++)
                for (int x = 2; x < w - 2; x++) {
                    bool flat = true;
                    for (int dy = -2; dy <= 2; dy++)
                        for (int dx = -2; dx <= 2; dx++)
                            flat = flat && canvas[size_t((y + dy) * w + x + dx)] == 0xFF3A5F7Du;
                    if (!flat)
                        continue;
                    background++;
                    kept += made.frames[i][size_t(y * w + x)] == 0xFF3A5F7Du;
                }
            EXPECT_GT(background, 1000u);
            EXPECT_EQ(kept, background) << "quality " << quality << ", frame " << i;
        }
    }
}
