#include "app/PhotoList.h"

#include "app/Composition.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxBmpWriter.h"
#include "platform/DeviceBitmap.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>

namespace {

int destroyedImages = 0;

// An image that counts its destruction, to see that every entry's images are freed once.
class CountingImage : public CxImage {
public:
    explicit CountingImage(uint8_t grey)
        : CxImage(4, 3, 24)
    {
        Clear(grey);
    }
    ~CountingImage() override { destroyedImages++; }
};

std::unique_ptr<PhotoEntry> MakeEntry(const std::string& name)
{
    auto entry = std::make_unique<PhotoEntry>();
    entry->gifFrame = std::make_unique<CountingImage>(1);
    entry->canvas = std::make_unique<CountingImage>(2);
    entry->displayName = name;
    return entry;
}

// A list of entries named "0" .. "n-1" with their image list built.
void Fill(PhotoList& list, int n)
{
    for (int i = 0; i < n; i++)
        list.Append(MakeEntry(std::to_string(i)));
    list.RebuildImageList();
}

std::string Order(const PhotoList& list)
{
    std::string order;
    for (size_t i = 0; i < list.Count(); i++) {
        order += list.Entry(i)->displayName;
        EXPECT_EQ(list.Entry(i)->imageIndex, int32_t(i));
    }
    return order;
}

} // namespace

TEST(PhotoList, MovesLandJustBeforeTheEntryDroppedOn)
{
    PhotoList list;
    Fill(list, 5);
    EXPECT_EQ(list.MoveEntry(0, 3), 2);
    EXPECT_EQ(Order(list), "12034");
    EXPECT_TRUE(list.IsSelected(2));
    EXPECT_FALSE(list.IsSelected(0));

    PhotoList other;
    Fill(other, 5);
    EXPECT_EQ(other.MoveEntry(3, 0), 0);
    EXPECT_EQ(Order(other), "30124");

    // Onto itself, onto its right-hand neighbour, or beyond the list: nothing moves.
    EXPECT_EQ(other.MoveEntry(2, 2), -1);
    EXPECT_EQ(other.MoveEntry(2, 3), -1);
    EXPECT_EQ(other.MoveEntry(1, 5), -1);
    EXPECT_EQ(other.MoveEntry(7, 0), -1);
    EXPECT_EQ(Order(other), "30124");
    EXPECT_EQ(other.MoveEntry(4, 0), 0);
    EXPECT_EQ(Order(other), "43012");
}

TEST(PhotoList, EveryEntryAndBothItsImagesAreFreedExactlyOnce)
{
    destroyedImages = 0;
    {
        PhotoList list;
        Fill(list, 6);
        list.MoveEntry(5, 1);
        list.MoveEntry(0, 4);
        EXPECT_EQ(destroyedImages, 0); // moving frees nothing
        EXPECT_TRUE(list.IsSelected(3)); // the moved entry
        list.SetSelected(3, false);
        list.SetSelected(1, true);
        list.SetSelected(4, true);
        list.RemoveSelectedPhotos();
        EXPECT_EQ(destroyedImages, 4);
        EXPECT_EQ(list.Count(), 4u);
        list.ResetPhotoList(200, 100);
        EXPECT_EQ(destroyedImages, 12);
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_EQ(list.PictureWidth(), 200u);
        Fill(list, 2);
    }
    EXPECT_EQ(destroyedImages, 16); // the last two with the list
}

TEST(PhotoList, RemovingKeepsTheOrderAndRebuildsThePictures)
{
    PhotoList list;
    int changes = 0;
    list.onChanged = [&] { changes++; };
    Fill(list, 5);
    ASSERT_EQ(list.PictureCount(), 5u);
    ASSERT_NE(list.Picture(4), nullptr);
    EXPECT_EQ(list.Picture(4)->Width(), 4);
    list.SetSelected(1, true);
    list.SetSelected(3, true);
    changes = 0;
    list.RemoveSelectedPhotos();
    EXPECT_EQ(Order(list), "024");
    EXPECT_EQ(list.PictureCount(), 3u);
    EXPECT_GT(changes, 0);
    for (size_t i = 0; i < list.Count(); i++)
        EXPECT_FALSE(list.IsSelected(i));

    for (size_t i = 0; i < list.Count(); i++)
        list.SetSelected(i, true);
    list.RemoveSelectedPhotos();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.PictureCount(), 0u);
}

TEST(PhotoList, AnswersLabelAndPictureRequests)
{
    PhotoList list(false);
    list.Append(MakeEntry("a-rather-long-name.jpg"));
    list.RebuildImageList();
    char buffer[8];
    ASSERT_TRUE(list.LabelOf(0, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "a-rathe");
    EXPECT_FALSE(list.LabelOf(1, buffer, sizeof buffer));
    EXPECT_EQ(list.PictureIndexOf(0), 0);
    EXPECT_EQ(list.PictureIndexOf(1), -1);
    EXPECT_EQ(list.PictureCount(), 1u);
    EXPECT_EQ(list.Picture(0), nullptr); // no bitmaps kept for a list without pictures
}

TEST(PhotoList, SelectionIsAddedInCaseInsensitiveOrder)
{
    std::vector<std::string> paths { "/p/b.jpg", "/p/A.jpg", "/p/c.png", "/p/B2.jpg" };
    std::sort(paths.begin(), paths.end(), PhotoPathLess);
    EXPECT_EQ(
        paths, (std::vector<std::string> { "/p/A.jpg", "/p/b.jpg", "/p/B2.jpg", "/p/c.png" }));
}

TEST(PhotoList, UnreadablePhotosAreCountedAndTheListKeptAsItWas)
{
    const std::string folder = bvtest::MakeTempDir("photolist");
    bvtest::WriteFileBytes(folder + "/noise.jpg", std::vector<uint8_t>(300, 0x5A));
    PhotoList list;
    Fill(list, 2);
    int changes = 0;
    list.onChanged = [&] { changes++; };
    const auto failures
        = list.AddPhotos({ folder + "/missing.png", folder + "/noise.jpg" }, ProjectSettings {});
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].path, folder + "/missing.png");
    EXPECT_EQ(failures[1].path, folder + "/noise.jpg");
    EXPECT_FALSE(failures[1].reason.empty());
    EXPECT_EQ(Order(list), "01");
    EXPECT_GT(changes, 0); // the image list is rebuilt after the last path all the same
}

TEST(PhotoList, StoppedBatchKeepsThePhotosAlreadyComposedInOrder)
{
    const std::string folder = bvtest::MakeTempDir("photolist-stop");
    std::vector<std::string> paths;
    for (int i = 0; i < 6; i++) {
        CxImage photo(40, 30, 24);
        photo.Clear(uint8_t(40 * i));
        const std::string path = folder + "/p" + std::to_string(i) + ".bmp";
        CxMemStream bytes;
        ASSERT_TRUE(SaveBmp(photo, &bytes));
        bvtest::WriteFileBytes(
            path, std::vector<uint8_t>(bytes.Data(), bytes.Data() + bytes.Length()));
        paths.push_back(path);
    }
    for (unsigned threads : { 1u, 2u }) {
        PhotoList list;
        AddPhotosOptions options;
        options.threads = threads;
        size_t asked = 0;
        std::mutex mutex;
        // Stops once three photos have been begun.
        options.stopRequested = [&] {
            std::lock_guard lock(mutex);
            return ++asked > 3;
        };
        const auto failures = list.AddPhotos(paths, ProjectSettings {}, options);
        EXPECT_TRUE(failures.empty()) << threads;
        ASSERT_GE(list.Count(), 1u) << threads;
        EXPECT_LE(list.Count(), 3u) << threads;
        // Whatever was composed is added in the sorted order, without gaps at the front.
        for (size_t i = 0; i < list.Count(); i++)
            EXPECT_EQ(list.Entry(i)->displayName, "p" + std::to_string(i) + ".bmp") << threads;
    }
}
