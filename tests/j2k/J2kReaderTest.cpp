// The JPEG 2000 reader: the corpus against its references, subsampled chroma, alpha, and
// broken or huge codestreams.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/j2k/CxImageJ2K.h"
#include "image/formats/jas/CxImageJAS.h"
#include "tests/support/FolderChecks.h"
#include "tests/support/TestSupport.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

bool DecodeJ2k(CxImageJ2K& image, const std::vector<uint8_t>& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream);
}

// A codestream main header for one 8-bit component of the given size, with an empty tile.
std::vector<uint8_t> CodestreamDeclaring(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> bytes = { 0xFF, 0x4F, 0xFF, 0x51 };
    bvtest::PutBig16(bytes, 41); // SIZ
    bvtest::PutBig16(bytes, 0);
    for (uint32_t value : { width, height, 0u, 0u, width, height, 0u, 0u })
        bvtest::PutBig32(bytes, value);
    bvtest::PutBig16(bytes, 1);
    bytes.insert(bytes.end(), { 7, 1, 1 });
    bytes.insert(bytes.end(), { 0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 5, 4, 4, 0, 1 }); // COD
    bytes.insert(bytes.end(), { 0xFF, 0x5C, 0, 19, 0x40 }); // QCD, no quantisation
    bytes.insert(bytes.end(), 16, 0x48);
    bytes.insert(
        bytes.end(), { 0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0x93, 0xFF, 0xD9 });
    return bytes;
}

} // namespace

TEST(J2kConformance, FilesMatchTheirReferences)
{
    for (const std::string& path : bvtest::FilesWithRefs("jpeg2000/gen")) {
        if (std::filesystem::path(path).filename() != "plasma-ycc420.j2k") {
            bvtest::ExpectMatchesRef(path);
            continue;
        }
        // Subsampled chroma: three grey frames, the full-size luma first.
        CxImage image(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
        ASSERT_TRUE(image.IsValid()) << image.GetLastError();
        const bvtest::RefImage ref = bvtest::LoadRefPng(path + ".ref.png");
        EXPECT_EQ(image.GetNumFrames(), 3);
        EXPECT_TRUE(image.IsGreyRamp());
        EXPECT_EQ(uint32_t(image.GetWidth()), ref.width);
        EXPECT_EQ(uint32_t(image.GetHeight()), ref.height);
    }
}

TEST(J2kConformance, InvalidFilesFailWithAText)
{
    bvtest::ExpectInvalidFilesFailWithAText("jpeg2000/invalid");
}

TEST(J2kReader, SubsampledChromaGivesThreeGreyFrames)
{
    const auto bytes = bvtest::CorpusBytes("jpeg2000/gen/plasma-ycc420.j2k");
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
    ASSERT_TRUE(DecodeJ2k(image, bvtest::CorpusBytes("jpeg2000/gen/alpha-rgba.jp2")))
        << image.GetLastError();
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
    EXPECT_FALSE(DecodeJ2k(cut, bvtest::CorpusBytes("jpeg2000/invalid/head16-shapes-sop-eph.j2k")));
    EXPECT_EQ(std::string(cut.GetLastError()).rfind("failed to decode J2K image!", 0), 0u)
        << cut.GetLastError();

    const auto start = std::chrono::steady_clock::now();
    CxImageJ2K huge;
    EXPECT_FALSE(DecodeJ2k(huge, CodestreamDeclaring(60000, 60000)));
    EXPECT_STREQ(huge.GetLastError(), "failed to decode J2K image! (CXIMAGE_MAX_MEMORY exceeded)");
    CxImageJAS family;
    const auto declaring = CodestreamDeclaring(60000, 60000);
    CxMemStream familyStream(declaring.data(), declaring.size());
    EXPECT_FALSE(family.Decode(&familyStream, CXIMAGE_FORMAT_JPC));
    EXPECT_STREQ(family.GetLastError(), "error: cannot allocate memory");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}
