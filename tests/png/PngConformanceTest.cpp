// Every PngSuite file through the dispatch against its reference, after the composition
// the reader performs: alpha channels other than 8-bit RGBA (and 16-bit grey with alpha)
// and every grey or colour tRNS are composed onto the file's bKGD colour, or onto grey 192
// (colour) and black (grey) without one. Palette files keep their indices and palette.
#include "image/core/CxImage.h"
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <png.h>
#include <string>

namespace {

// libpng composes 16-bit samples before stripping them to 8 bits; a composed pixel may
// then differ from the 8-bit composition of the reference by one level.
constexpr int COMPOSE_TOLERANCE = 1;

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size()
        && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> SuiteFiles(bool invalid)
{
    std::vector<std::string> files;
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData("png/pngsuite"))) {
        if (!EndsWith(path, ".png") || EndsWith(path, ".ref.png"))
            continue;
        if ((path.find("/invalid/") != std::string::npos) == invalid)
            files.push_back(path);
    }
    return files;
}

} // namespace

TEST(PngConformance, EveryValidSuiteFileMatchesItsReference)
{
    const std::vector<std::string> files = SuiteFiles(false);
    ASSERT_GT(files.size(), 150u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        bvtest::PngFacts facts;
        ASSERT_TRUE(bvtest::ReadPngFacts(path, facts));
        bvtest::RgbaPicture reference;
        std::string error;
        ASSERT_TRUE(bvtest::ReadRgbaPng(path + ".ref.png", reference, error)) << error;

        CxImage image(path.c_str(), CXIMAGE_FORMAT_PNG);
        ASSERT_TRUE(image.IsValid()) << image.GetLastError();
        ASSERT_EQ(uint32_t(image.GetWidth()), reference.width);
        ASSERT_EQ(uint32_t(image.GetHeight()), reference.height);
        EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_PNG);
        EXPECT_EQ(image.GetFormatOption(CXIMAGE_FORMAT_PNG), facts.interlace ? 1u : 0u);

        const bool palette = facts.colorType == PNG_COLOR_TYPE_PALETTE;
        // 8-bit RGBA and 16-bit grey with alpha keep their alpha; 16-bit RGBA is composed.
        const bool keepsAlpha = (facts.colorType == PNG_COLOR_TYPE_RGB_ALPHA && facts.bitDepth == 8)
            || (facts.colorType == PNG_COLOR_TYPE_GRAY_ALPHA && facts.bitDepth == 16);
        // The references round 16-bit alpha to 8 bits; the reader keeps the high byte.
        const int alphaTolerance = facts.bitDepth == 16 ? 1 : 0;
        const bool composed = !palette && !keepsAlpha
            && (facts.hasTrns || (facts.colorType & PNG_COLOR_MASK_ALPHA));
        const bool colour = (facts.colorType & PNG_COLOR_MASK_COLOR) != 0;
        const uint8_t defaultBackground = colour ? 192 : 0;
        uint8_t background[3];
        for (int c = 0; c < 3; c++)
            background[c] = facts.hasBackground ? facts.background[c] : defaultBackground;

        uint32_t wrong = 0;
        int largest = 0;
        for (uint32_t y = 0; y < reference.height; y++) {
            for (uint32_t x = 0; x < reference.width; x++) {
                const uint8_t* want = reference.At(x, y);
                const RGBQUAD got = bvtest::TopDownPixel(image, int32_t(x), int32_t(y));
                const uint8_t gotRgb[3] = { got.rgbRed, got.rgbGreen, got.rgbBlue };
                const int a = want[3];
                int tolerance = 0;
                for (int c = 0; c < 3; c++) {
                    int expected = want[c];
                    if (composed && a < 255) {
                        expected = (want[c] * a + background[c] * (255 - a) + 127) / 255;
                        tolerance = COMPOSE_TOLERANCE;
                    }
                    const int diff = std::abs(expected - int(gotRgb[c]));
                    largest = std::max(largest, diff);
                    if (diff > tolerance) {
                        wrong++;
                        break;
                    }
                }
                if (keepsAlpha) {
                    ASSERT_TRUE(image.HasAlpha());
                    const uint8_t gotAlpha
                        = image.GetAlpha(int32_t(x), image.GetHeight() - 1 - int32_t(y));
                    if (std::abs(int(gotAlpha) - int(want[3])) > alphaTolerance)
                        wrong++;
                }
            }
        }
        EXPECT_EQ(wrong, 0u) << "largest channel difference " << largest;
    }
}

TEST(PngConformance, EveryCorruptSuiteFileFailsWithAText)
{
    const std::vector<std::string> files = SuiteFiles(true);
    ASSERT_EQ(files.size(), 14u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        CxImage image(path.c_str(), CXIMAGE_FORMAT_PNG);
        EXPECT_FALSE(image.IsValid());
        EXPECT_STRNE(image.GetLastError(), "");
    }
}
