// The family reader (PGX, PNM, Sun raster): the corpus against its references, format
// ids, sample scaling, layouts the corpus lacks and hostile declarations.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/jas/CxImageJAS.h"
#include "tests/support/FolderChecks.h"
#include "tests/support/TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool DecodeJas(CxImageJAS& image, const std::vector<uint8_t>& bytes, uint32_t type)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream, type);
}

} // namespace

TEST(JasConformance, FilesMatchTheirReferences)
{
    for (const char* folder : { "pgx/gen", "pnm/gen", "pnm/image-rs", "ras/gen" })
        bvtest::ExpectFolderMatchesRefs(folder);
}

TEST(JasConformance, InvalidFilesFailWithAText)
{
    for (const char* folder : { "pgx/invalid", "pnm/invalid", "ras/invalid" })
        bvtest::ExpectInvalidFilesFailWithAText(folder);
}

TEST(JasReader, FormatIdIsTheCallersOrTheContents)
{
    const auto pgm = bvtest::CorpusBytes("pnm/gen/grey-p5.pgm");
    CxImageJAS asked;
    ASSERT_TRUE(DecodeJas(asked, pgm, CXIMAGE_FORMAT_PNM)) << asked.GetLastError();
    EXPECT_EQ(asked.GetBpp(), 8);
    EXPECT_TRUE(asked.IsGreyRamp());
    EXPECT_EQ(asked.GetType(), uint32_t(CXIMAGE_FORMAT_PNM));

    // Probing passes 0; the content decides how to read and what the image is.
    const struct {
        const char* file;
        uint32_t type;
    } probes[] = { { "jpeg2000/gen/grey.jp2", CXIMAGE_FORMAT_JP2 },
        { "jpeg2000/gen/plasma-r10.jpc", CXIMAGE_FORMAT_JPC },
        { "pgx/gen/grey8.pgx", CXIMAGE_FORMAT_PGX },
        { "pnm/gen/plasma-p6.ppm", CXIMAGE_FORMAT_PNM },
        { "ras/gen/grey-rle.ras", CXIMAGE_FORMAT_RAS } };
    for (const auto& probe : probes) {
        SCOPED_TRACE(probe.file);
        CxImageJAS image;
        ASSERT_TRUE(DecodeJas(image, bvtest::CorpusBytes(probe.file), CXIMAGE_FORMAT_UNKNOWN))
            << image.GetLastError();
        EXPECT_EQ(image.GetType(), probe.type);
    }

    CxImageJAS other;
    EXPECT_FALSE(DecodeJas(other, Bytes("GIF89a not of this family"), CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_STREQ(other.GetLastError(), "error: cannot load image data");
}

TEST(JasReader, LowPrecisionsKeepTheirDepthOthersAreScaled)
{
    // A bitmap is 1 bit deep, white at index 1; a 15-level map is 4 bits deep.
    CxImageJAS bitmap;
    ASSERT_TRUE(DecodeJas(bitmap, Bytes("P1\n3 1\n1 0 1\n"), CXIMAGE_FORMAT_PNM));
    EXPECT_EQ(bitmap.GetBpp(), 1);
    EXPECT_EQ(bitmap.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(bitmap.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(bitmap.GetPaletteColor(1).rgbRed, 255);

    CxImageJAS sixteenLevels;
    ASSERT_TRUE(DecodeJas(sixteenLevels, Bytes("P2 2 1 15 3 15"), CXIMAGE_FORMAT_PNM));
    EXPECT_EQ(sixteenLevels.GetBpp(), 4);
    EXPECT_EQ(sixteenLevels.GetPixelColor(0, 0).rgbRed, 51);

    // Maxval 1000 and 12-bit PGX: v x 255 / max, rounded.
    CxImageJAS scaled;
    ASSERT_TRUE(DecodeJas(scaled, Bytes("P2 3 1 1000 0 500 1000"), CXIMAGE_FORMAT_PNM));
    EXPECT_EQ(scaled.GetBpp(), 8);
    EXPECT_EQ(scaled.GetPixelIndex(1, 0), 128);
    EXPECT_EQ(scaled.GetPixelIndex(2, 0), 255);

    std::vector<uint8_t> pgx = Bytes("PG LM + 12 2 1\n");
    pgx.insert(pgx.end(), { 0xFF, 0x0F, 0x00, 0x08 }); // little-endian 4095, 2048
    CxImageJAS twelveBits;
    ASSERT_TRUE(DecodeJas(twelveBits, pgx, CXIMAGE_FORMAT_PGX)) << twelveBits.GetLastError();
    EXPECT_EQ(twelveBits.GetPixelIndex(0, 0), 255);
    EXPECT_EQ(twelveBits.GetPixelIndex(1, 0), 128);

    // Signed samples are offset by half their range.
    pgx = Bytes("PG ML -8 2 1\n");
    pgx.insert(pgx.end(), { 0x80, 0x7F });
    CxImageJAS signedSamples;
    ASSERT_TRUE(DecodeJas(signedSamples, pgx, CXIMAGE_FORMAT_PGX)) << signedSamples.GetLastError();
    EXPECT_EQ(signedSamples.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(signedSamples.GetPixelIndex(1, 0), 255);
}

TEST(JasReader, SunRasterLayoutsBeyondTheCorpus)
{
    // 32-bit pixels in RGB order (type 3): a pad byte, then red, green, blue.
    std::vector<uint8_t> rgb;
    for (uint32_t value : { 0x59A66A95u, 2u, 1u, 32u, 8u, 3u, 0u, 0u })
        bvtest::PutBig32(rgb, value);
    rgb.insert(rgb.end(), { 0, 10, 20, 30, 0, 40, 50, 60 });
    CxImageJAS image;
    ASSERT_TRUE(DecodeJas(image, rgb, CXIMAGE_FORMAT_RAS)) << image.GetLastError();
    ASSERT_EQ(image.GetBpp(), 24);
    const RGBQUAD second = image.GetPixelColor(1, 0, false);
    EXPECT_EQ(second.rgbRed, 40);
    EXPECT_EQ(second.rgbGreen, 50);
    EXPECT_EQ(second.rgbBlue, 60);

    // A 1-bit picture with a two-entry colour map; its rows are padded to 16 bits.
    std::vector<uint8_t> mapped;
    for (uint32_t value : { 0x59A66A95u, 3u, 2u, 1u, 4u, 1u, 1u, 6u })
        bvtest::PutBig32(mapped, value);
    mapped.insert(mapped.end(), { 255, 0, 0, 0, 0, 255 }); // entry 0 red, entry 1 blue
    mapped.insert(mapped.end(), { 0xA0, 0x00, 0x40, 0x00 });
    CxImageJAS bits;
    ASSERT_TRUE(DecodeJas(bits, mapped, CXIMAGE_FORMAT_RAS)) << bits.GetLastError();
    EXPECT_EQ(bits.GetPixelColor(0, 1, false).rgbBlue, 255); // top row, bit set
    EXPECT_EQ(bits.GetPixelColor(1, 1, false).rgbRed, 255);
    EXPECT_EQ(bits.GetPixelColor(1, 0, false).rgbBlue, 255); // bottom row

    // A run that would write past the picture stops at its end.
    std::vector<uint8_t> runs;
    for (uint32_t value : { 0x59A66A95u, 2u, 1u, 8u, 0u, 2u, 0u, 0u })
        bvtest::PutBig32(runs, value);
    runs.insert(runs.end(), { 0x80, 0xFF, 0x33 });
    CxImageJAS clipped;
    ASSERT_TRUE(DecodeJas(clipped, runs, CXIMAGE_FORMAT_RAS)) << clipped.GetLastError();
    EXPECT_EQ(clipped.GetPixelIndex(1, 0), 0x33);
}

TEST(JasReader, HugeOrShortDeclarationsFailAtOnce)
{
    const auto start = std::chrono::steady_clock::now();
    CxImageJAS huge;
    EXPECT_FALSE(DecodeJas(huge, Bytes("P5 60000 60000 255\n"), CXIMAGE_FORMAT_PNM));
    EXPECT_STREQ(huge.GetLastError(), "error: cannot allocate memory");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    CxImageJAS shortData;
    EXPECT_FALSE(DecodeJas(shortData, Bytes("P5 100 100 255\nabc"), CXIMAGE_FORMAT_PNM));
    EXPECT_STREQ(shortData.GetLastError(), "error: cannot load image data (PNM data cut short)");

    CxImageJAS noFrame;
    noFrame.SetFrame(1);
    EXPECT_FALSE(DecodeJas(noFrame, bvtest::CorpusBytes("pgx/gen/grey8.pgx"), CXIMAGE_FORMAT_PGX));
    EXPECT_STREQ(noFrame.GetLastError(), "wrong frame!");
    EXPECT_EQ(noFrame.GetNumFrames(), 1);
}
