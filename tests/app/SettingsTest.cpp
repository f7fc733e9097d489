#include "app/ProjectSettings.h"
#include "app/SavedWork.h"
#include "platform/SettingsStore.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(ProjectSettings, StartsFromTheBuiltInDefaults)
{
    const ProjectSettings s;
    EXPECT_EQ(s.overallWidth, 120u);
    EXPECT_EQ(s.overallHeight, 120u);
    EXPECT_EQ(s.photoSize, 120u);
    EXPECT_EQ(s.backgroundColor, 0xFFFFFFu);
    EXPECT_TRUE(s.backgroundImagePath.empty());
    EXPECT_TRUE(s.outputPath.empty());
    EXPECT_EQ(s.frameDelay, 50u);
    EXPECT_EQ(s.lastFrameDelay, 50u);
    EXPECT_FALSE(previewEnabled);
}

TEST(SettingsStore, FirstRunFindsNothingAndAWriteCreatesTheKey)
{
    const std::string folder = bvtest::MakeTempDir("settings");
    SetSettingsFolder(folder);
    char buffer[260] = {};
    EXPECT_FALSE(ReadSettingString(SETTING_OPEN_PIC_DIR, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");

    ASSERT_TRUE(WriteSettingString(SETTING_OPEN_PIC_DIR, "/home/ann/Pictures/Trip"));
    EXPECT_TRUE(bvtest::FileExists(folder + "/ORRINWICK/Brimvale/Settings"));
    ASSERT_TRUE(ReadSettingString(SETTING_OPEN_PIC_DIR, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "/home/ann/Pictures/Trip");

    // A second value keeps the first; a rewrite replaces it; null stores the empty text.
    ASSERT_TRUE(WriteSettingString("Other", "x=y"));
    ASSERT_TRUE(WriteSettingString(SETTING_OPEN_PIC_DIR, "/srv"));
    ASSERT_TRUE(ReadSettingString("Other", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "x=y");
    ASSERT_TRUE(ReadSettingString(SETTING_OPEN_PIC_DIR, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "/srv");
    ASSERT_TRUE(WriteSettingString(SETTING_OPEN_PIC_DIR, nullptr));
    ASSERT_TRUE(ReadSettingString(SETTING_OPEN_PIC_DIR, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");

    // No temporary file is left beside the store.
    size_t files = 0;
    for ([[maybe_unused]] const auto& e :
        std::filesystem::directory_iterator(folder + "/ORRINWICK/Brimvale"))
        files++;
    EXPECT_EQ(files, 1u);
    SetSettingsFolder("");
}

TEST(SettingsStore, FailuresAreQuietAndLeaveTheBufferAlone)
{
    const std::string folder = bvtest::MakeTempDir("settings-fail");
    SetSettingsFolder(folder);
    ASSERT_TRUE(WriteSettingString(SETTING_OPEN_PIC_DIR, "/a/rather/long/folder"));
    char small[8] = "keep";
    EXPECT_FALSE(ReadSettingString(SETTING_OPEN_PIC_DIR, small, sizeof small));
    EXPECT_STREQ(small, "keep");
    EXPECT_FALSE(WriteSettingString(SETTING_OPEN_PIC_DIR, "two\nlines"));

    // A folder that can't be written: the old value survives.
    const std::string keyFolder = folder + "/ORRINWICK/Brimvale";
    ::chmod(keyFolder.c_str(), 0500);
    if (::access((keyFolder + "/.").c_str(), W_OK) != 0) { // not when running as root
        EXPECT_FALSE(WriteSettingString(SETTING_OPEN_PIC_DIR, "/new"));
        char buffer[260] = {};
        ASSERT_TRUE(ReadSettingString(SETTING_OPEN_PIC_DIR, buffer, sizeof buffer));
        EXPECT_STREQ(buffer, "/a/rather/long/folder");
    }
    ::chmod(keyFolder.c_str(), 0700);
    SetSettingsFolder("");
}

TEST(SettingsStore, LivesUnderTheUserConfigurationFolder)
{
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(platform::SettingsStore("K/S").FilePath(), "/tmp/xdg-test/K/S");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/ann", 1);
    EXPECT_EQ(platform::SettingsStore("K/S").FilePath(), "/home/ann/.config/K/S");
}

TEST(ProjectSettings, OpenPicDirIsTheFolderWithoutItsSeparator)
{
    EXPECT_EQ(FolderOfPhoto("/home/ann/Trip/a.jpg"), "/home/ann/Trip");
    EXPECT_EQ(FolderOfPhoto("/a.jpg"), "/");
    EXPECT_EQ(FolderOfPhoto("a.jpg"), "");
}

TEST(SavedWork, TheWorkSurvivesTheStoreAndBadValuesKeepTheDefaults)
{
    const std::string folder = bvtest::MakeTempDir("saved-work");
    SetSettingsFolder(folder);
    ProjectSettings settings;
    SavedWork work;
    EXPECT_FALSE(LoadWork(settings, work));

    const std::vector<std::string> odd { "/a/b.png", "/c|d/50%.jpg", "/line\nbreak.bmp", "" };
    EXPECT_EQ(SplitPaths(JoinPaths(odd)), odd);
    settings.overallWidth = 800;
    settings.overallHeight = 600;
    settings.photoSize = 500;
    settings.backgroundImagePath = "/bg|1.png";
    settings.outputPath = "/out/trip.gif";
    settings.frameDelay = 7;
    settings.quality = 80;
    settings.ditherColours = true;
    work.photos = { "/p/1.jpg", "/p/2.jpg" };
    work.delays = { -1, 120 };
    work.loopCount = 3;
    work.openWhenDone = false;
    work.windowGeometry = "AdnQywADAAA=";
    ASSERT_TRUE(SaveWork(settings, work));

    ProjectSettings loaded;
    SavedWork back;
    ASSERT_TRUE(LoadWork(loaded, back));
    EXPECT_EQ(back.photos, work.photos);
    EXPECT_EQ(back.delays, work.delays);
    EXPECT_EQ(back.loopCount, 3);
    EXPECT_FALSE(back.openWhenDone);
    EXPECT_EQ(back.windowGeometry, work.windowGeometry);
    EXPECT_EQ(loaded.overallWidth, 800u);
    EXPECT_EQ(loaded.photoSize, 500u);
    EXPECT_EQ(loaded.backgroundImagePath, "/bg|1.png");
    EXPECT_EQ(loaded.outputPath, "/out/trip.gif");
    EXPECT_EQ(loaded.frameDelay, 7u);
    EXPECT_EQ(loaded.quality, 80u);
    EXPECT_TRUE(loaded.ditherColours);

    // A canvas out of range keeps the defaults; a delay out of range is the making's.
    ASSERT_TRUE(WriteSettingString("WorkCanvas", "900,600,100,0"));
    ASSERT_TRUE(WriteSettingString("WorkDelays", "12345,x"));
    loaded = ProjectSettings();
    ASSERT_TRUE(LoadWork(loaded, back));
    EXPECT_EQ(loaded.overallWidth, 120u);
    EXPECT_EQ(back.delays, (std::vector<int32_t> { -1, -1 }));
    SetSettingsFolder(std::string());
}
