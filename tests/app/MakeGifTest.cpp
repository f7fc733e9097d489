#include "app/MakeGif.h"

#include "app/ColorQuantizer.h"
#include "app/Composition.h"
#include "app/PhotoList.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "platform/DeviceBitmap.h"
#include "tests/gif/GifPeer.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <filesystem>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

GifPtr ReadGif(const std::string& path)
{
    int error = 0;
    GifPtr gif(DGifOpenFileName(path.c_str(), &error));
    if (!gif || DGifSlurp(gif.get()) != GIF_OK)
        return nullptr;
    return gif;
}

std::vector<std::string> SamplePhotos()
{
    return { bvtest::TestData("jpeg/gen/plasma-progressive.jpg"),
        bvtest::TestData("png/pngsuite/basn2c08.png"), bvtest::TestData("bmp/bmpsuite/g/pal8.bmp"),
        bvtest::TestData("jpeg/gen/shapes-97x61.jpg") };
}

ProjectSettings Settings(const std::string& output)
{
    ProjectSettings s;
    s.overallWidth = 150;
    s.overallHeight = 100;
    s.photoSize = 90;
    s.frameDelay = 37;
    s.lastFrameDelay = 250;
    s.outputPath = output;
    return s;
}

MakeGifOptions Quiet(std::string* message = nullptr)
{
    MakeGifOptions options;
    options.openResult = false;
    options.showMessage = [message](const char* text) {
        if (message)
            *message = text;
    };
    return options;
}

size_t FilesIn(const std::string& folder)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        n++;
    return n;
}

} // namespace

TEST(MakeGif, WritesEveryFrameAsComposedWithDelaysLoopCommentAndDisposal)
{
    const std::string folder = bvtest::MakeTempDir("makegif");
    const ProjectSettings settings = Settings(folder + "/out.gif");
    PhotoList list(false);
    ASSERT_TRUE(list.AddPhotos(SamplePhotos(), settings).empty());
    ASSERT_EQ(list.Count(), 4u);
    EXPECT_EQ(list.Entry(0)->displayName, "pal8.bmp"); // sorted by the whole path
    ASSERT_EQ(MakeGif(list, settings, Quiet()), MakeResult::Made);
    EXPECT_EQ(FilesIn(folder), 1u);

    GifPtr gif = ReadGif(settings.outputPath);
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->SWidth, 150);
    EXPECT_EQ(gif->SHeight, 100);
    ASSERT_EQ(gif->ImageCount, 4);

    bool loopSeen = false, commentSeen = false;
    const SavedImage& first = gif->SavedImages[0];
    for (int j = 0; j < first.ExtensionBlockCount; j++) {
        const ExtensionBlock& block = first.ExtensionBlocks[j];
        if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11
            && std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0) {
            ASSERT_LT(j + 1, first.ExtensionBlockCount);
            const ExtensionBlock& data = first.ExtensionBlocks[j + 1];
            ASSERT_EQ(data.ByteCount, 3);
            EXPECT_EQ(data.Bytes[0], 1);
            EXPECT_EQ(data.Bytes[1] | (data.Bytes[2] << 8), 0); // endless
            loopSeen = true;
        }
        if (block.Function == COMMENT_EXT_FUNC_CODE) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(block.Bytes), size_t(block.ByteCount)),
                "Created with Orrinwick Brimvale");
            commentSeen = true;
        }
    }
    EXPECT_TRUE(loopSeen);
    EXPECT_TRUE(commentSeen);

    for (int i = 0; i < 4; i++) {
        GraphicsControlBlock gcb;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), i, &gcb), GIF_OK);
        EXPECT_EQ(gcb.DelayTime, i == 3 ? 250 : 37) << i;
        EXPECT_EQ(gcb.DisposalMode, DISPOSE_BACKGROUND) << i;
        EXPECT_EQ(gcb.TransparentColor, NO_TRANSPARENT_COLOR);

        // Indices and palette are what the quantiser makes of the entry's canvas.
        const SavedImage& image = gif->SavedImages[i];
        ASSERT_EQ(image.ImageDesc.Width, 150);
        ASSERT_EQ(image.ImageDesc.Height, 100);
        const ColorMapObject* map = i == 0 ? gif->SColorMap : image.ImageDesc.ColorMap;
        ASSERT_NE(map, nullptr);
        std::unique_ptr<platform::Bitmap> canvas(
            list.Entry(size_t(i))->canvas->MakeDeviceBitmap(nullptr));
        CxMemStream canvasBmp, frameBmp;
        ASSERT_TRUE(SaveBitmapAsBmp(*canvas, &canvasBmp));
        ASSERT_TRUE(QuantizeBmpStream(&canvasBmp, &frameBmp));
        LoadedDib want;
        ASSERT_TRUE(LoadDib(&frameBmp, want));
        ASSERT_GE(size_t(map->ColorCount), want.colors.size());
        for (size_t k = 0; k < want.colors.size(); k++) {
            ASSERT_EQ(map->Colors[k].Red, want.colors[k].rgbRed);
            ASSERT_EQ(map->Colors[k].Green, want.colors[k].rgbGreen);
            ASSERT_EQ(map->Colors[k].Blue, want.colors[k].rgbBlue);
        }
        for (int y = 0; y < 100; y++)
            for (int x = 0; x < 150; x++)
                ASSERT_EQ(image.RasterBits[y * 150 + x], want.BottomUpRow(99 - y)[x])
                    << "frame " << i << " at " << x << "," << y;
    }
}

TEST(MakeGif, SameInputsGiveTheSameBytesWhateverTheThreads)
{
    const std::string folder = bvtest::MakeTempDir("makegif-same");
    std::vector<std::vector<uint8_t>> files;
    for (unsigned threads : { 1u, 2u, 1u, 3u }) {
        ProjectSettings settings = Settings(folder + "/out.gif");
        settings.backgroundImagePath = bvtest::TestData("bmp/bmpsuite/g/rgb24.bmp");
        PhotoList list(false);
        AddPhotosOptions options;
        options.threads = threads;
        BackgroundCache cache;
        options.backgroundCache = &cache;
        ASSERT_TRUE(list.AddPhotos(SamplePhotos(), settings, options).empty());
        ASSERT_EQ(MakeGif(list, settings, Quiet()), MakeResult::Made);
        files.push_back(bvtest::ReadFileBytes(settings.outputPath));
    }
    for (size_t i = 1; i < files.size(); i++)
        EXPECT_EQ(files[i], files[0]) << i;
}

TEST(MakeGif, OneEntryCarriesTheLastDelayAndZeroIsWrittenAsZero)
{
    const std::string folder = bvtest::MakeTempDir("makegif-one");
    ProjectSettings settings = Settings(folder + "/one.gif");
    settings.frameDelay = 0;
    settings.lastFrameDelay = 77;
    PhotoList list(false);
    ASSERT_TRUE(list.AddPhotos({ SamplePhotos()[0] }, settings).empty());
    ASSERT_EQ(MakeGif(list, settings, Quiet()), MakeResult::Made);
    GifPtr gif = ReadGif(settings.outputPath);
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->ImageCount, 1);
    GraphicsControlBlock gcb;
    ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), 0, &gcb), GIF_OK);
    EXPECT_EQ(gcb.DelayTime, 77);

    ASSERT_TRUE(list.AddPhotos({ SamplePhotos()[1] }, settings).empty());
    settings.lastFrameDelay = 0;
    ASSERT_EQ(MakeGif(list, settings, Quiet()), MakeResult::Made);
    gif = ReadGif(settings.outputPath);
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->ImageCount, 2);
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), i, &gcb), GIF_OK);
        EXPECT_EQ(gcb.DelayTime, 0);
    }
    EXPECT_EQ(list.Entry(1)->gifFrame->GetFrameDelay(), 0u); // the delay stays on the frame
}

TEST(MakeGif, AFailedMakingLeavesTheOldFileIntactAndNothingBehind)
{
    const std::string folder = bvtest::MakeTempDir("makegif-safe");
    const ProjectSettings settings = Settings(folder + "/keep.gif");
    const std::vector<uint8_t> old { 'G', 'I', 'F', '8', '9', 'a', 1, 2, 3 };
    bvtest::WriteFileBytes(settings.outputPath, old);

    PhotoList list(false);
    ASSERT_TRUE(list.AddPhotos({ SamplePhotos()[0] }, settings).empty());
    auto broken = std::make_unique<PhotoEntry>();
    broken->gifFrame = std::make_unique<CxImage>(); // no pixels: the encoder can't take it
    broken->canvas = std::make_unique<CxImage>();
    list.Append(std::move(broken));

    std::string message, why;
    EXPECT_EQ(MakeGif(list, settings, Quiet(&message), &why), MakeResult::Failed);
    EXPECT_EQ(message, "Failed");
    EXPECT_EQ(why, "the frames could not be encoded");
    EXPECT_EQ(bvtest::ReadFileBytes(settings.outputPath), old);
    EXPECT_EQ(FilesIn(folder), 1u);
}

TEST(MakeGif, AnOutputThatCannotBeWrittenFailsWithNothingWritten)
{
    const std::string folder = bvtest::MakeTempDir("makegif-nowhere");
    PhotoList list(false);
    ProjectSettings settings = Settings(folder + "/missing/out.gif");
    ASSERT_TRUE(list.AddPhotos({ SamplePhotos()[0] }, settings).empty());
    std::string message, why;
    EXPECT_EQ(MakeGif(list, settings, Quiet(&message), &why), MakeResult::Failed);
    EXPECT_EQ(message, "Failed");
    EXPECT_EQ(why, "the folder does not exist");
    settings.outputPath = folder; // a folder, not a file
    EXPECT_EQ(MakeGif(list, settings, Quiet(), &why), MakeResult::Failed);
    EXPECT_EQ(why, "a folder of that name is in the way");
    settings.outputPath = "";
    EXPECT_EQ(MakeGif(list, settings, Quiet(), &why), MakeResult::Failed);
    EXPECT_EQ(why, "no file name given");
    EXPECT_EQ(FilesIn(folder), 0u);

    PhotoList empty(false);
    settings.outputPath = folder + "/none.gif";
    EXPECT_EQ(MakeGif(empty, settings, Quiet()), MakeResult::NothingToMake);
    EXPECT_FALSE(bvtest::FileExists(settings.outputPath));
}

TEST(MakeGif, SomeUnreadablePhotosAreSkippedAndCounted)
{
    const std::string folder = bvtest::MakeTempDir("makegif-skip");
    bvtest::WriteFileBytes(folder + "/broken.png", std::vector<uint8_t>(100, 7));
    ProjectSettings settings = Settings(folder + "/out.gif");
    PhotoList list(false);
    auto photos = SamplePhotos();
    photos.push_back(folder + "/broken.png");
    const auto failures = list.AddPhotos(photos, settings);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, folder + "/broken.png");
    EXPECT_EQ(list.Count(), 4u);
}

TEST(MakeGif, OptimisedTheFileShowsTheSameFramesAndDitheredItKeepsThePalettes)
{
    const std::string folder = bvtest::MakeTempDir("makegif-options");
    ProjectSettings settings = Settings(folder + "/plain.gif");
    settings.backgroundImagePath = bvtest::TestData("bmp/bmpsuite/g/rgb24.bmp");
    PhotoList list(false);
    ASSERT_TRUE(list.AddPhotos(SamplePhotos(), settings).empty());
    const auto make = [&](bool optimize, bool dither) {
        ProjectSettings s = settings;
        s.outputPath
            = folder + (optimize ? "/small" : "/plain") + (dither ? "-dither.gif" : ".gif");
        s.optimizeSize = optimize;
        s.ditherColours = dither;
        EXPECT_EQ(MakeGif(list, s, Quiet()), MakeResult::Made);
        const std::vector<uint8_t> bytes = bvtest::ReadFileBytes(s.outputPath);
        return std::pair { bytes.size(), gifpeer::ReadWithGiflib(bytes.data(), bytes.size()) };
    };
    for (bool dither : { false, true }) {
        const auto [plainSize, plain] = make(false, dither);
        const auto [smallSize, small] = make(true, dither);
        EXPECT_LT(smallSize, plainSize);
        EXPECT_EQ(gifpeer::ComposeLikeBrowsers(small), gifpeer::ComposeLikeBrowsers(plain));
    }

    const gifpeer::PeerFile plain = make(false, false).second;
    const gifpeer::PeerFile dithered = make(false, true).second;
    ASSERT_EQ(dithered.frames.size(), plain.frames.size());
    for (size_t i = 0; i < plain.frames.size(); i++) {
        EXPECT_EQ(dithered.frames[i].colors, plain.frames[i].colors) << i;
        EXPECT_NE(dithered.frames[i].indices, plain.frames[i].indices) << i;
    }
}
