// The JBIG reader: the corpus against its references, colours, and cut-short or huge
// streams.
#include "image/core/CxStream.h"
#include "image/formats/jbig/CxImageJBG.h"
#include "tests/support/FolderChecks.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

bool DecodeJbig(CxImageJBG& image, const std::vector<uint8_t>& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return image.Decode(&stream);
}

} // namespace

TEST(JbigConformance, FilesMatchTheirReferences) { bvtest::ExpectFolderMatchesRefs("jbig/gen"); }

TEST(JbigConformance, InvalidFilesFailWithAText)
{
    bvtest::ExpectInvalidFilesFailWithAText("jbig/invalid");
}

TEST(JbigReader, SetPixelsAreBlackAtIndexOne)
{
    CxImageJBG image;
    ASSERT_TRUE(DecodeJbig(image, bvtest::CorpusBytes("jbig/gen/bw-sequential.jbg")))
        << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 1);
    EXPECT_EQ(image.GetType(), uint32_t(CXIMAGE_FORMAT_JBG));
    EXPECT_EQ(image.GetPaletteColor(0).rgbRed, 255);
    EXPECT_EQ(image.GetPaletteColor(1).rgbRed, 0);
}

TEST(JbigReader, CutShortOrHugeStreamsFail)
{
    CxImageJBG cut;
    EXPECT_FALSE(DecodeJbig(cut, bvtest::CorpusBytes("jbig/invalid/trunc50-bw-sequential.jbg")));
    EXPECT_STREQ(cut.GetLastError(), "Problem with input file");

    // A header declaring 60000 x 60000: JBIG-KIT would end the process when its
    // allocation failed, so the reader refuses it first.
    std::vector<uint8_t> header = { 0, 0, 1, 0 };
    bvtest::PutBig32(header, 60000);
    bvtest::PutBig32(header, 60000);
    bvtest::PutBig32(header, 128);
    header.insert(header.end(), { 0, 0, 3, 0x08 });
    header.insert(header.end(), 32, 0);
    CxImageJBG huge;
    EXPECT_FALSE(DecodeJbig(huge, header));
    EXPECT_STREQ(huge.GetLastError(), "Sorry, not enough memory available!");

    CxImageJBG empty;
    EXPECT_FALSE(DecodeJbig(empty, {}));
    EXPECT_STREQ(empty.GetLastError(), "Problem with input file");
}
