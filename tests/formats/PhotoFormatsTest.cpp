// The WebP, HEIF, AVIF and JPEG XL readers: every corpus file against the decode of the
// format's own Debian tool, what they record beside the pixels (alpha, frames, colour
// profile, orientation), the header the scheduler asks for, and broken or huge files.
#include "image/core/CxImage.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "image/formats/heif/CxImageHEIF.h"
#include "image/formats/webp/CxImageWEBP.h"
#include "tests/support/FolderChecks.h"
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr const char* FAMILIES[] = { "webp", "heif", "avif", "jxl" };

double PsnrAgainst(const CxImage& image, const bvtest::RgbaPicture& ref)
{
    double squares = 0;
    for (uint32_t y = 0; y < ref.height; y++) {
        for (uint32_t x = 0; x < ref.width; x++) {
            const RGBQUAD got = bvtest::TopDownPixel(image, int32_t(x), int32_t(y));
            const uint8_t* want = ref.At(x, y);
            const int d[3]
                = { got.rgbRed - want[0], got.rgbGreen - want[1], got.rgbBlue - want[2] };
            squares += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    }
    const double samples = 3.0 * ref.width * ref.height;
    return squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / squares);
}

uint32_t Be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

CxImage Read(const std::string& relative)
{
    return CxImage(bvtest::TestData(relative).c_str(), CXIMAGE_FORMAT_UNKNOWN);
}

} // namespace

TEST(PhotoFormats, EveryFileDecodesLikeTheFormatsOwnDecoder)
{
    for (const char* family : FAMILIES) {
        for (const std::string& path : bvtest::FilesWithRefs(std::string(family) + "/gen")) {
            SCOPED_TRACE(path);
            // Read by content: the extension is no help to a file named for another format.
            CxImage image(path.c_str(), CXIMAGE_FORMAT_BMP);
            ASSERT_TRUE(image.IsValid()) << image.GetLastError();
            const bvtest::RefImage ref = bvtest::LoadRefPng(path + ".ref.png");
            ASSERT_TRUE(ref.error.empty()) << ref.error;
            ASSERT_EQ(uint32_t(image.GetWidth()), ref.width);
            ASSERT_EQ(uint32_t(image.GetHeight()), ref.height);
            EXPECT_GE(PsnrAgainst(image, ref), 45.0);
            EXPECT_EQ(image.HasAlpha(),
                path.find("alpha") != std::string::npos || path.find("anim") != std::string::npos);
            EXPECT_EQ(image.GetBpp(), 24);
            EXPECT_EQ(image.GetType(),
                CxImage::GetTypeFromExtension(path.c_str()) == CXIMAGE_FORMAT_HEIF
                    ? uint32_t(CXIMAGE_FORMAT_HEIF)
                    : CxImage::GetTypeFromExtension(path.c_str()));
        }
    }
}

TEST(PhotoFormats, BrokenFilesFailWithTheLibrarysText)
{
    for (const char* family : FAMILIES)
        bvtest::ExpectInvalidFilesFailWithAText(std::string(family) + "/invalid");

    const struct {
        const char* file;
        const char* text;
    } cases[] = {
        { "webp/invalid/trunc50-plasma-q80.webp", "WebP decoding failed: NOT_ENOUGH_DATA" },
        { "heif/invalid/head16-plasma-q80.heic", "Invalid input: No 'ftyp' box" },
        { "avif/invalid/trunc50-plasma.avif",
            "Invalid input: Unexpected end of file: Extent in "
            "iloc box references data outside of file bounds "
            "(points to file position 282)" },
        { "jxl/invalid/trunc50-plasma-d1.jxl", "JPEG XL decoding failed: the file is truncated" },
        // A 61 x 97 picture whose overlay canvas is far larger: refused before libheif
        // allocates it.
        { "heif/invalid/overlay-canvas-64064x9327.heic",
            "Memory allocation error: Security limit exceeded: Image size 64064x9327 exceeds the "
            "maximum image size 225x225" },
    };
    for (const auto& c : cases) {
        const CxImage image = Read(c.file);
        EXPECT_FALSE(image.IsValid()) << c.file;
        EXPECT_STREQ(image.GetLastError(), c.text);
    }
}

TEST(PhotoFormats, AnimatedWebpGivesTheFrameAskedFor)
{
    const std::vector<uint8_t> bytes = bvtest::CorpusBytes("webp/gen/anim-2frames.webp");
    CxImageWEBP first;
    CxMemStream stream(bytes.data(), bytes.size());
    ASSERT_TRUE(first.Decode(&stream)) << first.GetLastError();
    EXPECT_EQ(first.GetNumFrames(), 2);

    // The second frame is the first mirrored.
    CxImageWEBP second;
    second.SetFrame(1);
    CxMemStream again(bytes.data(), bytes.size());
    ASSERT_TRUE(second.Decode(&again)) << second.GetLastError();
    double squares = 0;
    const int32_t width = first.GetWidth();
    for (int32_t y = 0; y < first.GetHeight(); y++) {
        for (int32_t x = 0; x < width; x++) {
            const int d = first.GetPixelColor(x, y).rgbGreen
                - second.GetPixelColor(width - 1 - x, y).rgbGreen;
            squares += d * d;
        }
    }
    EXPECT_LT(squares / (width * first.GetHeight()), 16.0);

    CxImageWEBP past;
    past.SetFrame(2);
    CxMemStream third(bytes.data(), bytes.size());
    EXPECT_FALSE(past.Decode(&third));
    EXPECT_STREQ(past.GetLastError(), "WebP frame not found");
}

TEST(PhotoFormats, ProfilesAndOrientationAreRecordedNotApplied)
{
    // The files carry the same 580-byte profile (see tests/data/README.md).
    const std::vector<uint8_t> adobe = Read("webp/gen/plasma-adobergb.webp").GetIccProfile();
    ASSERT_EQ(adobe.size(), 580u);
    for (const char* file : { "webp/gen/plasma-adobergb.webp", "heif/gen/plasma-adobergb.heic",
             "jxl/gen/plasma-adobergb-lossless.jxl" }) {
        const CxImage image = Read(file);
        ASSERT_TRUE(image.IsValid()) << file;
        const std::vector<uint8_t>& profile = image.GetIccProfile();
        ASSERT_GE(profile.size(), 40u) << file;
        EXPECT_EQ(std::memcmp(profile.data() + 36, "acsp", 4), 0) << file;
        // The container formats keep the very bytes; JPEG XL codes the profile anew.
        if (std::strstr(file, "jxl") == nullptr) {
            EXPECT_EQ(profile, adobe) << file;
        }
        EXPECT_EQ(image.GetOrientation(), 0) << file;
    }
    // sRGB pictures, and a lossy JPEG XL with an ICC profile, which comes as sRGB pixels.
    for (const char* file : { "webp/gen/plasma-q80.webp", "heif/gen/plasma-q80.heic",
             "avif/gen/plasma.avif", "jxl/gen/plasma-d1.jxl", "jxl/gen/plasma-adobergb-d1.jxl" })
        EXPECT_TRUE(Read(file).GetIccProfile().empty()) << file;

    // Display P3 named by code points: a profile is made whose primaries, adapted to D50,
    // are those of the published Display P3 profiles.
    for (const char* file : { "avif/gen/plasma-p3-nclx.avif" }) {
        const std::vector<uint8_t> profile = Read(file).GetIccProfile();
        ASSERT_GE(profile.size(), 132u) << file;
        EXPECT_EQ(std::memcmp(profile.data() + 36, "acsp", 4), 0);
        const uint32_t tags = Be32(profile.data() + 128);
        const double expected[3][3] = { { 0.5151, 0.2412, -0.0011 }, { 0.2920, 0.6922, 0.0419 },
            { 0.1571, 0.0666, 0.7841 } };
        int found = 0;
        for (uint32_t t = 0; t < tags && 132 + 12 * (t + 1) <= profile.size(); t++) {
            const uint8_t* entry = profile.data() + 132 + 12 * t;
            const char* names[3] = { "rXYZ", "gXYZ", "bXYZ" };
            for (int c = 0; c < 3; c++) {
                if (std::memcmp(entry, names[c], 4) != 0)
                    continue;
                const uint8_t* xyz = profile.data() + Be32(entry + 4) + 8;
                for (int i = 0; i < 3; i++)
                    EXPECT_NEAR(int32_t(Be32(xyz + 4 * i)) / 65536.0, expected[c][i], 0.002)
                        << file << " " << names[c];
                found++;
            }
        }
        EXPECT_EQ(found, 3) << file;
    }

    EXPECT_EQ(Read("webp/gen/plasma-exif-orient6.webp").GetOrientation(), 6);
    // libheif turns the picture itself: nothing is left to apply.
    const CxImage turned = Read("heif/gen/shapes-97x61-irot90.heic");
    EXPECT_EQ(turned.GetWidth(), 61);
    EXPECT_EQ(turned.GetOrientation(), 0);
}

namespace {

struct HeaderCase {
    const char* file;
    uint32_t width, height;
};

} // namespace

TEST(PhotoFormats, HeadersAreToldWithoutDecoding)
{
    for (const HeaderCase& c : { HeaderCase { "webp/gen/alpha-lossy.webp", 64, 64 },
             HeaderCase { "heif/gen/shapes-97x61-irot90.heic", 61, 97 },
             HeaderCase { "avif/gen/shapes-97x61-lossless.avif", 97, 61 },
             HeaderCase { "jxl/gen/shapes-97x61-lossless.jxl", 97, 61 } }) {
        CxPictureHeader header;
        ASSERT_TRUE(CxImage().ReadHeader(bvtest::TestData(c.file).c_str(), header)) << c.file;
        EXPECT_EQ(header.width, c.width) << c.file;
        EXPECT_EQ(header.height, c.height) << c.file;
        EXPECT_EQ(header.bpp, 24u);
        EXPECT_FALSE(header.rowsOffered);
        EXPECT_GT(header.workingBytes, 0u);
    }
}

TEST(PhotoFormats, HugeDeclaredSizesAreRefusedBeforeDecoding)
{
    // A lossless WebP header of 16384 x 16384 pixels and nothing after it.
    std::vector<uint8_t> webp = { 'R', 'I', 'F', 'F', 26, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P',
        '8', 'L', 14, 0, 0, 0, 0x2F, 0xFF, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    CxMemStream webpStream(webp.data(), webp.size());
    CxImageWEBP webpImage;
    EXPECT_FALSE(webpImage.Decode(&webpStream));
    EXPECT_STREQ(webpImage.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");

    // A HEIC whose image spatial extents say 18000 x 18000 (sides libheif is left to accept).
    std::vector<uint8_t> heic = bvtest::CorpusBytes("heif/gen/plasma-q80.heic");
    const auto ispe = std::search(heic.begin(), heic.end(), "ispe", "ispe" + 4);
    ASSERT_NE(ispe, heic.end());
    // The box: size, type, version and flags, then width and height.
    for (size_t i = 0; i < 8; i++)
        ispe[8 + long(i)] = uint8_t(18000 >> (8 * (3 - i % 4)));
    CxMemStream heicStream(heic.data(), heic.size());
    CxImageHEIF heicImage;
    EXPECT_FALSE(heicImage.Decode(&heicStream));
    EXPECT_STREQ(heicImage.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}
