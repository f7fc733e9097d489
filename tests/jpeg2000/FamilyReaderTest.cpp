// The JPEG 2000, family and JBIG readers on corpus files and on small files made here:
// frames, formats ids, sample scaling, layouts the corpus lacks and hostile declarations.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/j2k/CxImageJ2K.h"
#include "image/formats/jas/CxImageJAS.h"
#include "image/formats/jbig/CxImageJBG.h"
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

std::vector<uint8_t> Corpus(const std::string& relative)
{
    return bvtest::ReadFileBytes(bvtest::TestData(relative));
}

bool DecodeJas(CxImageJAS& image, const std::vector<uint8_t>& bytes, uint32_t type)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream, type);
}

bool DecodeJ2k(CxImageJ2K& image, const std::vector<uint8_t>& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream);
}

bool DecodeJbig(CxImageJBG& image, const std::vector<uint8_t>& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream);
}

void Put32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(value >> shift));
}

void Put16(std::vector<uint8_t>& bytes, uint32_t value)
{
    bytes.push_back(uint8_t(value >> 8));
    bytes.push_back(uint8_t(value));
}

// A codestream main header for one 8-bit component of the given size, with an empty tile.
std::vector<uint8_t> CodestreamDeclaring(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> bytes = { 0xFF, 0x4F, 0xFF, 0x51 };
    Put16(bytes, 41); // SIZ
    Put16(bytes, 0);
    for (uint32_t value : { width, height, 0u, 0u, width, height, 0u, 0u })
        Put32(bytes, value);
    Put16(bytes, 1);
    bytes.insert(bytes.end(), { 7, 1, 1 });
    bytes.insert(bytes.end(), { 0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 5, 4, 4, 0, 1 }); // COD
    bytes.insert(bytes.end(), { 0xFF, 0x5C, 0, 19, 0x40 }); // QCD, no quantisation
    bytes.insert(bytes.end(), 16, 0x48);
    bytes.insert(
        bytes.end(), { 0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0x93, 0xFF, 0xD9 });
    return bytes;
}

} // namespace

TEST(J2kReader, SubsampledChromaGivesThreeGreyFrames)
{
    const auto bytes = Corpus("jpeg2000/gen/plasma-ycc420.j2k");
    CxImageJ2K luma;
    ASSERT_TRUE(DecodeJ2k(luma, bytes)) << luma.GetLastError();
    EXPECT_EQ(luma.GetNumFrames(), 3);
    EXPECT_EQ(luma.GetBpp(), 8);
    EXPECT_TRUE(luma.IsGreyRamp());
    EXPECT_EQ(luma.GetType(), uint32_t(CXIMAGE_FORMAT_J2K));

    CxImageJ2K chroma;
    chroma.SetFrame(2);
    ASSERT_TRUE(DecodeJ2k(chroma, bytes)) << chroma.GetLastError();
    EXPECT_EQ(chroma.GetWidth(), (luma.GetWidth() + 1) / 2);
    EXPECT_EQ(chroma.GetHeight(), (luma.GetHeight() + 1) / 2);

    CxImageJ2K beyond;
    beyond.SetFrame(3);
    EXPECT_FALSE(DecodeJ2k(beyond, bytes));
    EXPECT_STREQ(beyond.GetLastError(), "wrong frame!");
    EXPECT_EQ(beyond.GetNumFrames(), 3);
}

TEST(J2kReader, Jp2FileWithAlphaKeepsItsAlpha)
{
    CxImageJ2K image;
    ASSERT_TRUE(DecodeJ2k(image, Corpus("jpeg2000/gen/alpha-rgba.jp2"))) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 24);
    ASSERT_TRUE(image.HasAlpha());
    bool someTransparent = false;
    for (int32_t y = 0; y < image.GetHeight(); y++)
        for (int32_t x = 0; x < image.GetWidth(); x++)
            someTransparent |= image.GetAlpha(x, y) < 255;
    EXPECT_TRUE(someTransparent);
}

TEST(J2kReader, BrokenAndHugeCodestreamsFailWithAText)
{
    CxImageJ2K cut;
    EXPECT_FALSE(DecodeJ2k(cut, Corpus("jpeg2000/invalid/head16-shapes-sop-eph.j2k")));
    EXPECT_EQ(std::string(cut.GetLastError()).rfind("failed to decode J2K image!", 0), 0u)
        << cut.GetLastError();

    const auto start = std::chrono::steady_clock::now();
    CxImageJ2K huge;
    EXPECT_FALSE(DecodeJ2k(huge, CodestreamDeclaring(60000, 60000)));
    EXPECT_STREQ(huge.GetLastError(), "failed to decode J2K image! (CXIMAGE_MAX_MEMORY exceeded)");
    CxImageJAS family;
    EXPECT_FALSE(DecodeJas(family, CodestreamDeclaring(60000, 60000), CXIMAGE_FORMAT_JPC));
    EXPECT_STREQ(family.GetLastError(), "error: cannot allocate memory");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(JasReader, FormatIdIsTheCallersOrTheContents)
{
    const auto pgm = Corpus("pnm/gen/grey-p5.pgm");
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
        ASSERT_TRUE(DecodeJas(image, Corpus(probe.file), CXIMAGE_FORMAT_UNKNOWN))
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
        Put32(rgb, value);
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
        Put32(mapped, value);
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
        Put32(runs, value);
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
    EXPECT_FALSE(DecodeJas(noFrame, Corpus("pgx/gen/grey8.pgx"), CXIMAGE_FORMAT_PGX));
    EXPECT_STREQ(noFrame.GetLastError(), "wrong frame!");
    EXPECT_EQ(noFrame.GetNumFrames(), 1);
}

TEST(JbigReader, SetPixelsAreBlackAtIndexOne)
{
    CxImageJBG image;
    ASSERT_TRUE(DecodeJbig(image, Corpus("jbig/gen/bw-sequential.jbg"))) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 1);
    EXPECT_EQ(image.GetType(), uint32_t(CXIMAGE_FORMAT_JBG));
    EXPECT_EQ(image.GetPaletteColor(0).rgbRed, 255);
    EXPECT_EQ(image.GetPaletteColor(1).rgbRed, 0);
}

TEST(JbigReader, CutShortOrHugeStreamsFail)
{
    CxImageJBG cut;
    EXPECT_FALSE(DecodeJbig(cut, Corpus("jbig/invalid/trunc50-bw-sequential.jbg")));
    EXPECT_STREQ(cut.GetLastError(), "Problem with input file");

    // A header declaring 60000 x 60000: JBIG-KIT would end the process when its
    // allocation failed, so the reader refuses it first.
    std::vector<uint8_t> header = { 0, 0, 1, 0 };
    Put32(header, 60000);
    Put32(header, 60000);
    Put32(header, 128);
    header.insert(header.end(), { 0, 0, 3, 0x08 });
    header.insert(header.end(), 32, 0);
    CxImageJBG huge;
    EXPECT_FALSE(DecodeJbig(huge, header));
    EXPECT_STREQ(huge.GetLastError(), "Sorry, not enough memory available!");

    CxImageJBG empty;
    EXPECT_FALSE(DecodeJbig(empty, {}));
    EXPECT_STREQ(empty.GetLastError(), "Problem with input file");
}
