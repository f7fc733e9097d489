// Every JPEG of the corpus through the dispatch against its reference. References decoded
// by ImageMagick over the same libjpeg (gen/, image-rs/ apart from progressive/) must match
// exactly, the CMYK one included; those of another decoder (image-rs/progressive/) within
// a tolerance on the largest channel difference and the mean absolute difference.
#include "image/core/CxImage.h"
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size()
        && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct Tolerance {
    int largest;
    double mean;
};

Tolerance ToleranceFor(const std::string& path)
{
    // Another decoder's IDCT and upsampling (measured: at most 4, mean below 0.15).
    if (path.find("/progressive/") != std::string::npos)
        return { 6, 0.3 };
    return { 0, 0.0 };
}

} // namespace

TEST(JpegConformance, EveryValidFileMatchesItsReference)
{
    size_t checked = 0;
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData("jpeg"))) {
        if (!(EndsWith(path, ".jpg") || EndsWith(path, ".jpeg"))
            || path.find("/invalid/") != std::string::npos)
            continue;
        SCOPED_TRACE(path);
        bvtest::RgbaPicture reference;
        std::string error;
        ASSERT_TRUE(bvtest::ReadRgbaPng(path + ".ref.png", reference, error)) << error;
        CxImage image(path.c_str(), CXIMAGE_FORMAT_JPG);
        ASSERT_TRUE(image.IsValid()) << image.GetLastError();
        EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_JPG);
        ASSERT_EQ(uint32_t(image.GetWidth()), reference.width);
        ASSERT_EQ(uint32_t(image.GetHeight()), reference.height);

        int largest = 0;
        uint64_t total = 0;
        for (uint32_t y = 0; y < reference.height; y++) {
            for (uint32_t x = 0; x < reference.width; x++) {
                const uint8_t* want = reference.At(x, y);
                const RGBQUAD got = bvtest::TopDownPixel(image, int32_t(x), int32_t(y));
                const int diff[3] = { std::abs(int(got.rgbRed) - want[0]),
                    std::abs(int(got.rgbGreen) - want[1]), std::abs(int(got.rgbBlue) - want[2]) };
                for (int d : diff) {
                    largest = std::max(largest, d);
                    total += uint64_t(d);
                }
            }
        }
        const double mean = double(total) / (3.0 * reference.width * reference.height);
        const Tolerance tolerance = ToleranceFor(path);
        EXPECT_LE(largest, tolerance.largest) << "mean " << mean;
        EXPECT_LE(mean, tolerance.mean) << "largest " << largest;
        checked++;
    }
    EXPECT_EQ(checked, 28u);
}

TEST(JpegConformance, InvalidFilesFailCleanlyOrDecodeWhatIsThere)
{
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData("jpeg"))) {
        if (path.find("/invalid/") == std::string::npos)
            continue;
        SCOPED_TRACE(path);
        CxImage image(path.c_str(), CXIMAGE_FORMAT_JPG);
        if (path.find("trunc50-") != std::string::npos) {
            // A file cut in its scan data decodes to the rows present.
            EXPECT_TRUE(image.IsValid()) << image.GetLastError();
        } else {
            EXPECT_FALSE(image.IsValid());
            EXPECT_STRNE(image.GetLastError(), "");
        }
    }
}
