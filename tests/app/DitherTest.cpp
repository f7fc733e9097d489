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

// Red, green, blue planes of floats, top row first.
struct Planes {
    int w = 0, h = 0;
    std::vector<float> v; // (y * w + x) * 3 + channel
};

Planes FromImage(const CxImage& image)
{
    Planes p { image.GetWidth(), image.GetHeight(), {} };
    p.v.resize(size_t(p.w) * size_t(p.h) * 3);
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            const RGBQUAD c = image.GetPixelColor(x, p.h - 1 - y, false);
            float* d = &p.v[(size_t(y) * size_t(p.w) + size_t(x)) * 3];
            d[0] = c.rgbRed;
            d[1] = c.rgbGreen;
            d[2] = c.rgbBlue;
        }
    return p;
}

// Gaussian blur, sigma 1.5, edges repeated.
Planes Blur(const Planes& in)
{
    constexpr int R = 5;
    float kernel[2 * R + 1], sum = 0;
    for (int i = -R; i <= R; i++)
        sum += kernel[i + R] = std::exp(-float(i * i) / (2 * 1.5f * 1.5f));
    for (float& k : kernel)
        k /= sum;
    Planes tmp = in, out = in;
    const auto pass = [&](const Planes& from, Planes& to, int dx, int dy) {
        for (int y = 0; y < in.h; y++)
            for (int x = 0; x < in.w; x++)
                for (int c = 0; c < 3; c++) {
                    float acc = 0;
                    for (int i = -R; i <= R; i++) {
                        const int sx = std::clamp(x + i * dx, 0, in.w - 1);
                        const int sy = std::clamp(y + i * dy, 0, in.h - 1);
                        acc += kernel[i + R]
                            * from.v[(size_t(sy) * size_t(in.w) + size_t(sx)) * 3 + size_t(c)];
                    }
                    to.v[(size_t(y) * size_t(in.w) + size_t(x)) * 3 + size_t(c)] = acc;
                }
    };
    pass(in, tmp, 1, 0);
    pass(tmp, out, 0, 1);
    return out;
}

double BlurredPsnr(const Planes& reference, const CxImage& image)
{
    const Planes a = Blur(reference), b = Blur(FromImage(image));
    double squared = 0;
    for (size_t i = 0; i < a.v.size(); i++)
        squared += double(a.v[i] - b.v[i]) * double(a.v[i] - b.v[i]);
    return 10 * std::log10(255.0 * 255.0 / (squared / double(a.v.size())));
}

// ImageMagick's own quantiser with Floyd-Steinberg at 256 colours, read back from a PPM.
std::unique_ptr<CxImage> ImageMagickDither(const CxImage& canvas, const std::string& folder)
{
    const std::string in = folder + "/source.ppm", out = folder + "/dithered.ppm";
    const int w = canvas.GetWidth(), h = canvas.GetHeight();
    std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = h - 1; y >= 0; y--)
        for (int x = 0; x < w; x++) {
            const RGBQUAD c = canvas.GetPixelColor(x, y, false);
            ppm += char(c.rgbRed);
            ppm += char(c.rgbGreen);
            ppm += char(c.rgbBlue);
        }
    bvtest::WriteFileBytes(in, std::vector<uint8_t>(ppm.begin(), ppm.end()));
    const std::string command
        = "/usr/bin/convert-im6.q16 " + in + " -dither FloydSteinberg -colors 256 " + out;
    if (std::system(command.c_str()) != 0)
        return nullptr;
    auto result = std::make_unique<CxImage>(out.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    return result->IsValid() ? std::move(result) : nullptr;
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

    const std::unique_ptr<CxImage> peer = ImageMagickDither(canvas, bvtest::MakeTempDir("dither"));
    ASSERT_TRUE(peer);
    const Planes source = FromImage(canvas);
    const double plain = BlurredPsnr(source, *frame);
    const double ours = BlurredPsnr(source, *dithered);
    const double theirs = BlurredPsnr(source, *peer);
    std::printf(
        "blurred PSNR: nearest %.2f dB, ours %.2f dB, ImageMagick %.2f dB\n", plain, ours, theirs);
    EXPECT_GE(ours, plain + 3.0);
    EXPECT_GE(ours, theirs - 0.5);
}

TEST(Dither, RefusesACanvasThatDoesNotMatchTheFrame)
{
    CxImage canvas(10, 10, 24), frame(10, 9, 8), grey(10, 10, 8);
    EXPECT_FALSE(DitherToPalette(canvas, frame));
    EXPECT_FALSE(DitherToPalette(grey, grey));
}
