// Whole corpus folders through the format dispatch (format by content): each file with a
// reference must give it exactly, each file of an invalid folder a decode or a failure
// with a text.
#pragma once

#include "image/core/CxImage.h"
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace bvtest {

inline void ExpectMatchesRef(const std::string& path)
{
    SCOPED_TRACE(path);
    CxImage image(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    const RefImage ref = LoadRefPng(path + ".ref.png");
    ASSERT_TRUE(ref.error.empty()) << ref.error;
    const RefComparison result = CompareToRef(image, ref);
    ASSERT_TRUE(result.sameSize) << image.GetWidth() << "x" << image.GetHeight() << " vs "
                                 << ref.width << "x" << ref.height;
    EXPECT_EQ(result.differing, 0u) << "largest difference " << result.maxDifference;
}

inline void ExpectFolderMatchesRefs(const std::string& folder)
{
    for (const std::string& path : FilesWithRefs(folder))
        ExpectMatchesRef(path);
}

inline void ExpectInvalidFilesFailWithAText(const std::string& folder)
{
    for (const std::string& path : ListFiles(TestData(folder))) {
        SCOPED_TRACE(path);
        CxImage image(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
        if (!image.IsValid()) {
            EXPECT_STRNE(image.GetLastError(), "");
        }
    }
}

} // namespace bvtest
