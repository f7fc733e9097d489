// The JPEG reader on corpus files and on files written here with libjpeg: colour layouts,
// the CMYK conversion, resolution from JFIF or Exif, truncation, the header-only query,
// the escape callback, and hostile declarations.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/jpeg/CxImageJPG.h"
#include "tests/exif/ExifBuilder.h"
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <string>
#include <vector>

using bvtest::Bytes;
using bvtest::ExifBuilder;

namespace {

using Pixel = std::function<void(uint32_t x, uint32_t y, uint8_t* samples)>;

Bytes EncodeJpeg(uint32_t width, uint32_t height, int components, J_COLOR_SPACE space,
    const Pixel& pixel, const std::function<void(jpeg_compress_struct&)>& setup = {})
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (setup)
        setup(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * components);
    while (cinfo.next_scanline < height) {
        for (uint32_t x = 0; x < width; x++)
            pixel(x, cinfo.next_scanline, &row[size_t(x) * components]);
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

Bytes Plasma(uint32_t width = 48, uint32_t height = 32,
    const std::function<void(jpeg_compress_struct&)>& setup = {})
{
    return EncodeJpeg(
        width, height, 3, JCS_RGB,
        [](uint32_t x, uint32_t y, uint8_t* s) {
            s[0] = uint8_t(x * 5);
            s[1] = uint8_t(y * 7);
            s[2] = uint8_t(x + y);
        },
        setup);
}

// Puts segments right behind the start-of-image marker.
Bytes Insert(const Bytes& jpeg, const std::vector<Bytes>& segments)
{
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (const Bytes& s : segments)
        out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

bool DecodeBytes(CxImageJPG& image, const Bytes& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream);
}

int32_t EscapeAlways(CxImage*, uint32_t) { return 1; }

int escapeCalls = 0;
int32_t EscapeAfterTen(CxImage*, uint32_t) { return ++escapeCalls > 10 ? 1 : 0; }

} // namespace

TEST(JpegReader, GreyFileGivesEightBitsWithAGreyPalette)
{
    CxImage image(bvtest::TestData("jpeg/gen/grey.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 8);
    EXPECT_EQ(image.GetNumColors(), 256u);
    EXPECT_TRUE(image.IsGreyRamp());
}

TEST(JpegReader, ColourFileIsStoredBlueGreenRed)
{
    const Bytes red = EncodeJpeg(16, 16, 3, JCS_RGB, [](uint32_t, uint32_t, uint8_t* s) {
        s[0] = 250;
        s[1] = 10;
        s[2] = 0;
    });
    CxImageJPG image;
    ASSERT_TRUE(DecodeBytes(image, red)) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 24);
    EXPECT_EQ(image.GetNumColors(), 0u);
    const uint8_t* p = image.GetBits(0);
    EXPECT_NEAR(p[2], 250, 3);
    EXPECT_NEAR(p[1], 10, 3);
    EXPECT_NEAR(p[0], 0, 3);
}

TEST(JpegReader, CmykIsKeyTimesInkOverMaxOfTheStoredSamples)
{
    const std::string path = bvtest::TestData("jpeg/gen/plasma-cmyk.jpg");
    // The stored samples, straight from libjpeg.
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    ASSERT_EQ(cinfo.out_color_space, JCS_CMYK);
    jpeg_start_decompress(&cinfo);
    std::vector<uint8_t> cmyk(size_t(cinfo.output_width) * cinfo.output_height * 4);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &cmyk[size_t(cinfo.output_scanline) * cinfo.output_width * 4];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    const uint32_t width = cinfo.output_width;
    const uint32_t height = cinfo.output_height;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);

    CxImage image(path.c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    ASSERT_EQ(image.GetBpp(), 24);
    uint32_t wrong = 0;
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) {
            const uint8_t* s = &cmyk[(size_t(y) * width + x) * 4];
            const RGBQUAD got = image.GetPixelColor(int32_t(x), int32_t(height - 1 - y), false);
            wrong += got.rgbRed != s[3] * s[0] / 255 || got.rgbGreen != s[3] * s[1] / 255
                || got.rgbBlue != s[3] * s[2] / 255;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(JpegReader, JfifDensityGivesTheResolution)
{
    const auto density = [](uint8_t unit, uint16_t x, uint16_t y) {
        return [=](jpeg_compress_struct& c) {
            c.density_unit = unit;
            c.X_density = x;
            c.Y_density = y;
        };
    };
    {
        CxImageJPG image;
        ASSERT_TRUE(DecodeBytes(image, Plasma(16, 16, density(2, 118, 40))));
        EXPECT_EQ(image.GetXDPI(), 300); // floor(118 * 2.54 + 0.5)
        EXPECT_EQ(image.GetYDPI(), 102);
    }
    {
        CxImageJPG image;
        ASSERT_TRUE(DecodeBytes(image, Plasma(16, 16, density(1, 150, 75))));
        EXPECT_EQ(image.GetXDPI(), 150);
        EXPECT_EQ(image.GetYDPI(), 75);
    }
    {
        // Unit 0 is a pixel aspect ratio, not a resolution.
        CxImageJPG image;
        ASSERT_TRUE(DecodeBytes(image, Plasma(16, 16, density(0, 1, 1))));
        EXPECT_EQ(image.GetXDPI(), 96);
    }
    CxImage file(bvtest::TestData("jpeg/gen/plasma-jfif150dpi.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    EXPECT_EQ(file.GetXDPI(), 150);
}

TEST(JpegReader, ExifResolutionWinsOverJfif)
{
    const auto jfif200 = [](jpeg_compress_struct& c) {
        c.density_unit = 1;
        c.X_density = 200;
        c.Y_density = 200;
    };
    {
        ExifBuilder inch(false);
        inch.Rational(ExifBuilder::FIRST, 0x011A, 72, 1)
            .Rational(ExifBuilder::FIRST, 0x011B, 72, 1)
            .Short(ExifBuilder::FIRST, 0x0128, 2);
        CxImageJPG image;
        ASSERT_TRUE(DecodeBytes(image, Insert(Plasma(16, 16, jfif200), { inch.Segment() })));
        EXPECT_TRUE(image.GetExifRecord().exifFound);
        EXPECT_EQ(image.GetXDPI(), 72);
        EXPECT_EQ(image.GetYDPI(), 72);
    }
    {
        ExifBuilder centimetre(true);
        centimetre.Rational(ExifBuilder::FIRST, 0x011A, 28, 1)
            .Rational(ExifBuilder::FIRST, 0x011B, 118, 1)
            .Short(ExifBuilder::FIRST, 0x0128, 3);
        CxImageJPG image;
        ASSERT_TRUE(DecodeBytes(image, Insert(Plasma(16, 16, jfif200), { centimetre.Segment() })));
        EXPECT_EQ(image.GetXDPI(), 71); // 28 / 0.3937, truncated
        EXPECT_EQ(image.GetYDPI(), 299);
    }
    {
        // Exif data without a resolution leave it alone; the JFIF density is not used.
        ExifBuilder none(false);
        none.Short(ExifBuilder::FIRST, 0x0112, 1);
        CxImageJPG image;
        ASSERT_TRUE(DecodeBytes(image, Insert(Plasma(16, 16, jfif200), { none.Segment() })));
        EXPECT_EQ(image.GetXDPI(), 96);
    }
    CxImage file(bvtest::TestData("jpeg/gen/plasma-exif300dpi.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    EXPECT_EQ(file.GetXDPI(), 300);
    EXPECT_EQ(file.GetYDPI(), 300);
}

TEST(JpegReader, ExifOrientationIsRecordedNotApplied)
{
    const std::string path = bvtest::TestData("jpeg/gen/plasma-exif-orient6.jpg");
    const Bytes bytes = bvtest::ReadFileBytes(path);
    CxImageJPG image;
    ASSERT_TRUE(DecodeBytes(image, bytes));
    EXPECT_EQ(image.GetExifRecord().orientation, 6);
    CxImage plain(bvtest::TestData("jpeg/gen/plasma-q85-420.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_EQ(image.GetWidth(), plain.GetWidth());
    ASSERT_EQ(image.GetHeight(), plain.GetHeight());
    EXPECT_EQ(std::memcmp(image.GetBits(), plain.GetBits(), plain.GetHeader().biSizeImage), 0);
}

TEST(JpegReader, FileCutInItsScanDataDecodesTheRowsPresent)
{
    const Bytes whole = Plasma(64, 64);
    const Bytes half(whole.begin(), whole.begin() + whole.size() * 6 / 10);
    CxImageJPG full;
    ASSERT_TRUE(DecodeBytes(full, whole));
    CxImageJPG cut;
    ASSERT_TRUE(DecodeBytes(cut, half)) << cut.GetLastError();
    ASSERT_EQ(cut.GetHeight(), 64);
    // The top rows (last in memory) were present and decode as in the whole file.
    const uint32_t stride = cut.GetRowStride();
    EXPECT_EQ(std::memcmp(cut.GetBits(63), full.GetBits(63), stride), 0);
    EXPECT_EQ(std::memcmp(cut.GetBits(56), full.GetBits(56), stride), 0);
}

TEST(JpegReader, EmptyStreamFailsWithTheLibraryText)
{
    CxImageJPG image;
    EXPECT_FALSE(DecodeBytes(image, {}));
    EXPECT_STREQ(image.GetLastError(), "Empty input file");
}

TEST(JpegReader, OtherDataFailsWithTheLibraryText)
{
    const Bytes png = bvtest::ReadFileBytes(bvtest::TestData("png/pngsuite/basn2c08.png"));
    CxImageJPG image;
    EXPECT_FALSE(DecodeBytes(image, png));
    EXPECT_STREQ(image.GetLastError(), "Not a JPEG file: starts with 0x89 0x50");
    CxImage head(
        bvtest::TestData("jpeg/invalid/head16-shapes-97x61.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    EXPECT_FALSE(head.IsValid());
    EXPECT_STRNE(head.GetLastError(), "");
}

TEST(JpegReader, StreamPositionedAfterOtherDataDecodesFromThere)
{
    ExifBuilder exif(false);
    exif.Short(ExifBuilder::FIRST, 0x0112, 3);
    Bytes bytes(100, 0xAB);
    const Bytes jpeg = Insert(Plasma(), { exif.Segment() });
    bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
    CxMemStream stream(bytes.data(), bytes.size());
    ASSERT_TRUE(stream.Seek(100, SEEK_SET));
    CxImageJPG image;
    ASSERT_TRUE(image.Decode(&stream)) << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 48);
    EXPECT_EQ(image.GetExifRecord().orientation, 3);
}

TEST(JpegReader, HeaderOnlyQueryGivesTheSizeWithoutPixels)
{
    CxImageJPG image;
    image.SetEscapeCallback(EscapeAlways);
    ASSERT_TRUE(DecodeBytes(image, Plasma(48, 32)));
    EXPECT_EQ(image.GetWidth(), 48);
    EXPECT_EQ(image.GetHeight(), 32);
    EXPECT_FALSE(image.IsValid());
}

TEST(JpegReader, EscapeBetweenRowsFailsTheDecode)
{
    escapeCalls = 0;
    CxImageJPG image;
    image.SetEscapeCallback(EscapeAfterTen);
    EXPECT_FALSE(DecodeBytes(image, Plasma(48, 32)));
    EXPECT_STREQ(image.GetLastError(), "");
}

TEST(JpegReader, HugeDeclaredSizeFailsAtOnce)
{
    Bytes bytes = Plasma(16, 16);
    // The baseline frame header: FF C0, length, precision, height, width.
    size_t sof = 2;
    while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC0))
        sof++;
    bytes[sof + 5] = 60000 >> 8;
    bytes[sof + 6] = 60000 & 0xFF;
    bytes[sof + 7] = 60000 >> 8;
    bytes[sof + 8] = 60000 & 0xFF;
    CxImageJPG image;
    EXPECT_FALSE(DecodeBytes(image, bytes));
    EXPECT_STREQ(image.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(JpegReader, ProgressiveFileWithHugeDeclaredSizeFailsBeforeItsCoefficients)
{
    Bytes bytes = Plasma(16, 16, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
    size_t sof = 2;
    while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC2))
        sof++;
    bytes[sof + 5] = bytes[sof + 7] = 0xEA; // 60000 x 60000
    bytes[sof + 6] = bytes[sof + 8] = 0x60;
    CxImageJPG image;
    EXPECT_FALSE(DecodeBytes(image, bytes));
    EXPECT_STREQ(image.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(JpegReader, DecodingAgainReplacesTheExifReader)
{
    ExifBuilder exif(false);
    exif.Short(ExifBuilder::FIRST, 0x0112, 5);
    const Bytes bytes = Insert(Plasma(), { exif.Segment() });
    CxImageJPG image;
    ASSERT_TRUE(DecodeBytes(image, bytes));
    const CxExifReader* first = image.GetExifReader();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(DecodeBytes(image, Plasma()));
    EXPECT_NE(image.GetExifReader(), nullptr);
    // Fields the second walk did not touch keep their values.
    EXPECT_EQ(image.GetExifRecord().orientation, 5);
    EXPECT_EQ(image.GetExifRecord().thumbnail, nullptr);
}

TEST(JpegReader, DispatchFindsJpegAndPngByContent)
{
    const std::string folder = bvtest::MakeTempDir("jpeg-probe");
    const std::string jpeg = folder + "/photo.dat";
    bvtest::WriteFileBytes(jpeg, Plasma());
    CxImage image(jpeg.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_JPG);

    const std::string png = folder + "/picture.dat";
    bvtest::WriteFileBytes(
        png, bvtest::ReadFileBytes(bvtest::TestData("png/pngsuite/basn2c08.png")));
    CxImage other(png.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    ASSERT_TRUE(other.IsValid()) << other.GetLastError();
    EXPECT_EQ(other.GetType(), CXIMAGE_FORMAT_PNG);
}

namespace {

// A progressive file with the scan order given: each scan as component list, Ss, Se, Ah,
// Al (libjpeg's scan script).
Bytes ProgressiveWithScans(std::vector<jpeg_scan_info> scans)
{
    return Plasma(96, 64, [scans](jpeg_compress_struct& c) {
        static std::vector<jpeg_scan_info> kept;
        kept = scans;
        c.scan_info = kept.data();
        c.num_scans = int(kept.size());
    });
}

std::vector<uint8_t> Pixels(const CxImage& image)
{
    const uint8_t* bits = image.GetBits();
    return std::vector<uint8_t>(bits, bits + image.GetHeader().biSizeImage);
}

} // namespace

TEST(JpegReader, AtAnEighthAProgressiveFileIsReadOnlyAsFarAsItsDcScans)
{
    // Full-resolution colour with noise in it: the AC scans make most of the file.
    const Bytes file = EncodeJpeg(
        320, 240, 3, JCS_RGB,
        [](uint32_t x, uint32_t y, uint8_t* s) {
            const uint32_t n = (x * 2654435761u) ^ (y * 40503u);
            s[0] = uint8_t(x / 2 + (n >> 27));
            s[1] = uint8_t(y + (n >> 25 & 15));
            s[2] = uint8_t((x + y) / 3);
        },
        [](jpeg_compress_struct& c) {
            for (int i = 0; i < 3; i++)
                c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
            jpeg_simple_progression(&c);
        });
    CxImageJPG every;
    every.SetJpegReduction(8);
    ASSERT_TRUE(DecodeBytes(every, file));

    CxMemStream stream(file.data(), file.size());
    CxImageJPG dc;
    dc.SetJpegReduction(8);
    dc.SetFormatOption(CXIMAGE_JPEG_DC_SCANS_ONLY, CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(dc.Decode(&stream)) << dc.GetLastError();
    ASSERT_EQ(dc.GetWidth(), 40);
    ASSERT_EQ(dc.GetHeight(), 30);
    // The first scan carries every DC coefficient but its last bit: the rest of the file
    // (the AC scans and the DC refinement) is never read, and each pixel is its block's
    // average but for that bit.
    EXPECT_LT(stream.Tell(), int32_t(file.size() / 4));
    const std::vector<uint8_t> a = Pixels(every), b = Pixels(dc);
    for (size_t i = 0; i < a.size(); i++)
        ASSERT_LE(std::abs(int(a[i]) - int(b[i])), 2) << i;
}

TEST(JpegReader, AnAcScanBeforeEveryDcCoefficientMeansEveryScanIsRead)
{
    // Luminance DC and AC first, the colour DC after: the DC scans alone can't make the
    // picture, so the whole file is read and the result is that of reading every scan.
    const Bytes file = ProgressiveWithScans({
        { 1, { 0 }, 0, 0, 0, 0 },
        { 1, { 0 }, 1, 63, 0, 0 },
        { 2, { 1, 2 }, 0, 0, 0, 0 },
        { 1, { 1 }, 1, 63, 0, 0 },
        { 1, { 2 }, 1, 63, 0, 0 },
    });
    CxImageJPG every;
    every.SetJpegReduction(8);
    ASSERT_TRUE(DecodeBytes(every, file)) << every.GetLastError();
    CxImageJPG dc;
    dc.SetJpegReduction(8);
    dc.SetFormatOption(CXIMAGE_JPEG_DC_SCANS_ONLY, CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(DecodeBytes(dc, file)) << dc.GetLastError();
    EXPECT_EQ(Pixels(dc), Pixels(every));

    // Cut short inside its first scan, a file still decodes partly, as it does whole.
    const Bytes cut(file.begin(), file.begin() + 400);
    CxImageJPG partly;
    partly.SetJpegReduction(8);
    partly.SetFormatOption(CXIMAGE_JPEG_DC_SCANS_ONLY, CXIMAGE_FORMAT_JPG);
    EXPECT_TRUE(DecodeBytes(partly, cut)) << partly.GetLastError();
}

TEST(JpegReader, LargeProgressiveFileDecodesAsTheLibraryDoesAlone)
{
    // More rows of coefficients than one working chunk holds (109 of the 150 blocks a
    // row of luminance has), read two at a time (4:2:0), so that two read together lie
    // in different chunks.
    const Bytes file = EncodeJpeg(
        1200, 900, 3, JCS_RGB,
        [](uint32_t x, uint32_t y, uint8_t* s) {
            s[0] = uint8_t(x * 7 + y);
            s[1] = uint8_t((x ^ y) * 3);
            s[2] = uint8_t(y * 5);
        },
        [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
    CxImageJPG image;
    ASSERT_TRUE(DecodeBytes(image, file)) << image.GetLastError();

    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    std::vector<uint8_t> row(size_t(cinfo.output_width) * 3);
    bool same = true;
    while (cinfo.output_scanline < cinfo.output_height) {
        const uint32_t y = cinfo.output_scanline;
        JSAMPROW target = row.data();
        jpeg_read_scanlines(&cinfo, &target, 1);
        same = same && std::memcmp(image.GetBits(899 - y), row.data(), row.size()) == 0;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    EXPECT_TRUE(same);
}
