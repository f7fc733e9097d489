// Every file of the JPEG 2000, PGX, PNM, Sun raster and JBIG corpus folders, loaded by its
// extension through the format dispatch, against its reference picture.
#include "image/core/CxImage.h"
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

std::string Name(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

// The largest channel difference accepted per file; every reference so far is matched
// exactly (the lossy JPEG 2000 references come from the same library).
const std::map<std::string, int> TOLERANCES = {};

void ExpectFileMatches(const std::string& path)
{
    const std::string name = Name(path);
    SCOPED_TRACE(name);
    {
        CxImage image(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
        ASSERT_TRUE(image.IsValid()) << image.GetLastError();
        const bvtest::RefImage ref = bvtest::LoadRefPng(path + ".ref.png");
        ASSERT_TRUE(ref.error.empty()) << ref.error;
        if (name == "plasma-ycc420.j2k") {
            // Subsampled chroma: three grey frames, the full-size luma first.
            EXPECT_EQ(image.GetNumFrames(), 3);
            EXPECT_TRUE(image.IsGreyRamp());
            EXPECT_EQ(uint32_t(image.GetWidth()), ref.width);
            EXPECT_EQ(uint32_t(image.GetHeight()), ref.height);
            return;
        }
        const auto tolerance = TOLERANCES.find(name);
        const bvtest::RefComparison result = bvtest::CompareToRef(
            image, ref, tolerance == TOLERANCES.end() ? 0 : tolerance->second);
        ASSERT_TRUE(result.sameSize) << image.GetWidth() << "x" << image.GetHeight() << " vs "
                                     << ref.width << "x" << ref.height;
        EXPECT_EQ(result.differing, 0u) << "largest difference " << result.maxDifference;
    }
}

void ExpectFolderMatches(const std::string& folder)
{
    const auto files = bvtest::FilesWithRefs(folder);
    EXPECT_FALSE(files.empty()) << folder;
    for (const std::string& path : files)
        ExpectFileMatches(path);
}

void ExpectInvalidFail(const std::string& folder)
{
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData(folder))) {
        SCOPED_TRACE(path);
        CxImage image(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
        if (!image.IsValid()) {
            EXPECT_STRNE(image.GetLastError(), "");
        }
    }
}

} // namespace

TEST(FamilyConformance, Jpeg2000FilesMatchTheirReferences) { ExpectFolderMatches("jpeg2000/gen"); }
TEST(FamilyConformance, PgxFilesMatchTheirReferences) { ExpectFolderMatches("pgx/gen"); }
TEST(FamilyConformance, PnmFilesMatchTheirReferences)
{
    ExpectFolderMatches("pnm/gen");
    ExpectFolderMatches("pnm/image-rs");
}
TEST(FamilyConformance, SunRasterFilesMatchTheirReferences) { ExpectFolderMatches("ras/gen"); }
TEST(FamilyConformance, JbigFilesMatchTheirReferences) { ExpectFolderMatches("jbig/gen"); }

TEST(FamilyConformance, InvalidFilesFailWithAText)
{
    for (const char* folder :
        { "jpeg2000/invalid", "pgx/invalid", "pnm/invalid", "ras/invalid", "jbig/invalid" })
        ExpectInvalidFail(folder);
}
