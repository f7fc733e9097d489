// Dithering against a frame's own palette: judged the way the eye sees it, after a slight
// blur, against the undithered frame and against ImageMagick's Floyd-Steinberg.
#include "app/Dither.h"

#include "app/Composition.h"
#include "image/core/CxImage.h"
#include "platform/DeviceBitmap.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// The image's red, green and blue samples, top row first, blurred (Gaussian, sigma 1.5,
// edges repeated).
std::vector<float> Blurred(const CxImage& image)
{
    const int w = image.GetWidth(), h = image.GetHeight();
    std::vector<float> a(size_t(w) * size_t(h) * 3), b(a.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const RGBQUAD c = image.GetPixelColor(x, h - 1 - y, false);
            float* p = &a[(size_t(y) * size_t(w) + size_t(x)) * 3];
            p[0] = c.rgbRed, p[1] = c.rgbGreen, p[2] = c.rgbBlue;
        }
    constexpr int R = 5;
    float kernel[2 * R + 1], sum = 0;
    for (int i = -R; i <= R; i++)
        sum += kernel[i + R] = std::exp(-float(i * i) / (2 * 1.5f * 1.5f));
    const auto pass = [&](const std::vector<float>& from, std::vector<float>& to, int dx, int dy) {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                for (size_t c = 0; c < 3; c++) {
                    float acc = 0;
                    for (int i = -R; i <= R; i++) {
                        const int sx = std::clamp(x + i * dx, 0, w - 1);
                        const int sy = std::clamp(y + i * dy, 0, h - 1);
                        acc += kernel[i + R] * from[(size_t(sy) * size_t(w) + size_t(sx)) * 3 + c];
                    }
                    to[(size_t(y) * size_t(w) + size_t(x)) * 3 + c] = acc / sum;
                }
    };
    pass(a, b, 1, 0);
    pass(b, a, 0, 1);
    return a;
}

double BlurredPsnr(const std::vector<float>& reference, const CxImage& image)
{
    const std::vector<float> b = Blurred(image);
    double squared = 0;
    for (size_t i = 0; i < b.size(); i++)
        squared += double(reference[i] - b[i]) * double(reference[i] - b[i]);
    return 10 * std::log10(255.0 * 255.0 * double(b.size()) / squared);
}

// ImageMagick's own quantiser with Floyd-Steinberg at 256 colours.
std::unique_ptr<CxImage> ImageMagickDither(const CxImage& canvas, const std::string& folder)
{
    const std::string in = folder + "/source.bmp", out = folder + "/dithered.ppm";
    std::unique_ptr<platform::Bitmap> bitmap(canvas.MakeDeviceBitmap(nullptr));
    if (!SaveBitmapAsBmp(*bitmap, in.c_str()))
        return nullptr;
    const std::string command
        = "/usr/bin/convert-im6.q16 " + in + " -dither FloydSteinberg -colors 256 " + out;
    if (std::system(command.c_str()) != 0)
        return nullptr;
    return std::make_unique<CxImage>(out.c_str(), CXIMAGE_FORMAT_UNKNOWN);
}

} // namespace

TEST(Dither, KeepsTheShadesOfAGradientAsWellAsImageMagick)
{
    CxImage canvas(400, 300, 24);
    for (int y = 0; y < 300; y++)
        for (int x = 0; x < 400; x++)
            canvas.SetPixelColor(x, 299 - y,
                RGBQUAD { uint8_t(40 + (x + y) * 150 / 698), uint8_t(20 + y * 200 / 299),
                    uint8_t(x * 255 / 399), 0 });
    std::unique_ptr<platform::Bitmap> bitmap(canvas.MakeDeviceBitmap(nullptr));
    std::string why;
    const std::unique_ptr<CxImage> frame = QuantizeCanvas(*bitmap, &why);
    ASSERT_TRUE(frame) << why;
    const std::unique_ptr<CxImage> dithered = DitherToPalette(canvas, *frame);
    ASSERT_TRUE(dithered);
    ASSERT_EQ(dithered->GetNumColors(), frame->GetNumColors());
    EXPECT_EQ(std::memcmp(dithered->GetPalette(), frame->GetPalette(), frame->GetPaletteSize()), 0);
    EXPECT_FALSE(DitherToPalette(*frame, *frame)); // the canvas must be the 24-bit one

    const std::unique_ptr<CxImage> peer = ImageMagickDither(canvas, bvtest::MakeTempDir("dither"));
    ASSERT_TRUE(peer && peer->IsValid());
    const std::vector<float> source = Blurred(canvas);
    const double plain = BlurredPsnr(source, *frame);
    const double ours = BlurredPsnr(source, *dithered);
    const double theirs = BlurredPsnr(source, *peer);
    std::printf(
        "blurred PSNR: nearest %.2f dB, ours %.2f dB, ImageMagick %.2f dB\n", plain, ours, theirs);
    EXPECT_GE(ours, plain + 3.0);
    EXPECT_GE(ours, theirs - 0.5);
}
