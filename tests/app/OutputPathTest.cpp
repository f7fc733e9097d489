// The desktop program's guards on an output path, and a making that is stopped midway.
#include "app/OutputPath.h"

#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(OutputPath, ANameWithoutExtensionGetsGif)
{
    EXPECT_EQ(WithGifExtension("/a/trip"), "/a/trip.gif");
    EXPECT_EQ(WithGifExtension("/a.b/trip"), "/a.b/trip.gif");
    EXPECT_EQ(WithGifExtension("/a/.hidden"), "/a/.hidden.gif");
    EXPECT_EQ(WithGifExtension("/a/trip."), "/a/trip.gif");
    EXPECT_EQ(WithGifExtension("/a/trip.png"), "/a/trip.png");
    EXPECT_EQ(WithGifExtension("/a/trip.gif"), "/a/trip.gif");
    EXPECT_EQ(WithGifExtension(""), "");
}

TEST(OutputPath, APhotoOfTheListIsFoundUnderAnyNameAndOtherFilesByTheirSignature)
{
    const std::string folder = bvtest::MakeTempDir("output-path");
    const std::string photo = folder + "/photo.png";
    bvtest::WriteFileBytes(photo, { 0x89, 'P', 'N', 'G', 13, 10, 26, 10 });
    bvtest::WriteFileBytes(folder + "/gif.png", { 'G', 'I', 'F', '8', '9', 'a', 1, 0 });
    bvtest::WriteFileBytes(folder + "/picture.gif", { 0xFF, 0xD8, 0xFF, 0xE0 });
    std::filesystem::create_directory(folder + "/sub");
    ASSERT_EQ(::symlink(photo.c_str(), (folder + "/link.gif").c_str()), 0);
    const std::vector<std::string> photos { photo };

    EXPECT_EQ(JudgeOutputPath(photo, photos), OutputVerdict::IsAPhoto);
    EXPECT_EQ(JudgeOutputPath(folder + "/sub/../photo.png", photos), OutputVerdict::IsAPhoto);
    EXPECT_EQ(JudgeOutputPath(folder + "/./link.gif", photos), OutputVerdict::IsAPhoto);
    // The signature decides, not the name.
    EXPECT_EQ(JudgeOutputPath(folder + "/gif.png", photos), OutputVerdict::ReplacesGif);
    EXPECT_EQ(JudgeOutputPath(folder + "/picture.gif", photos), OutputVerdict::ReplacesOther);
    EXPECT_EQ(JudgeOutputPath(folder + "/new.gif", photos), OutputVerdict::Free);
    EXPECT_EQ(JudgeOutputPath(folder + "/sub/../new.gif", { folder + "/new.gif" }),
        OutputVerdict::IsAPhoto);
}

TEST(OutputPath, AMakingStoppedMidwayLeavesTheOldFileAsItWas)
{
    const std::string folder = bvtest::MakeTempDir("output-stop");
    PhotoList list(false);
    ProjectSettings settings;
    const std::string photo = bvtest::TestData("png/pngsuite/basn2c08.png");
    ASSERT_TRUE(list.AddPhotos({ photo, photo, photo, photo }, settings).empty());
    settings.outputPath = folder + "/out.gif";
    const std::vector<uint8_t> old { 'o', 'l', 'd' };
    bvtest::WriteFileBytes(settings.outputPath, old);

    for (const bool optimise : { false, true }) {
        settings.optimizeSize = optimise;
        MakeGifOptions options;
        options.openResult = false;
        std::vector<size_t> told;
        options.animation.progress = [&](size_t done, size_t total) {
            EXPECT_EQ(total, 4u);
            told.push_back(done);
            return done < 2;
        };
        EXPECT_EQ(MakeGif(list, settings, options), MakeResult::Failed);
        EXPECT_EQ(told, (std::vector<size_t> { 1, 2 }));
        EXPECT_EQ(bvtest::ReadFileBytes(settings.outputPath), old);
        EXPECT_EQ(bvtest::ListFiles(folder).size(), 1u);

        options.animation.progress = [&](size_t, size_t) { return true; };
        EXPECT_EQ(MakeGif(list, settings, options), MakeResult::Made);
        bvtest::WriteFileBytes(settings.outputPath, old);
    }
}
