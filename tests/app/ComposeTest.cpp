#include "app/ColorQuantizer.h"
#include "app/Composition.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "platform/DeviceBitmap.h"
#include "tests/support/TestSupport.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

bool Same(RGBQUAD a, RGBQUAD b)
{
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed;
}

constexpr RGBQUAD WHITE { 255, 255, 255, 0 };
constexpr RGBQUAD RED { 0, 0, 255, 0 };
constexpr RGBQUAD BLUE { 255, 0, 0, 0 };
constexpr RGBQUAD GREEN { 0, 255, 0, 0 };

CxImage Solid(int w, int h, RGBQUAD c)
{
    CxImage image(uint32_t(w), uint32_t(h), 24);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            image.SetPixelColor(x, y, c);
    return image;
}

// Writes a w x h BMP whose left half is `left` and right half `right`.
void WriteHalvesBmp(const std::string& path, int w, int h, RGBQUAD left, RGBQUAD right)
{
    platform::Bitmap bitmap(w, h, 24);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            bitmap.SetPixel(x, y, x < w / 2 ? left : right);
    ASSERT_TRUE(SaveBitmapAsBmp(bitmap, path.c_str()));
}

// The 8-bit BMP the quantiser makes of a canvas, loaded.
LoadedDib QuantizedCanvas(const platform::Bitmap& canvas)
{
    CxMemStream canvasBmp, frameBmp;
    EXPECT_TRUE(SaveBitmapAsBmp(canvas, &canvasBmp));
    EXPECT_TRUE(QuantizeBmpStream(&canvasBmp, &frameBmp));
    LoadedDib dib;
    EXPECT_TRUE(LoadDib(&frameBmp, dib));
    return dib;
}

} // namespace

TEST(Composition, PhotosAreReducedIntoThePhotoSquareAndNeverEnlarged)
{
    int32_t w, h;
    ReducedSize(600, 400, 120, w, h);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 80);
    ReducedSize(400, 600, 120, w, h);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 120);
    ReducedSize(500, 500, 120, w, h);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 120);
    ReducedSize(100, 50, 120, w, h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
    ReducedSize(130, 20, 120, w, h); // 120 / 6.5 = 18.46
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 18);
    // So elongated that the short side would round to 0: one pixel instead.
    ReducedSize(20000, 10, 120, w, h);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 1);
    ReducedSize(10, 20000, 120, w, h);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 120);
}

TEST(Composition, RoundToIntRoundsAsPrintfDoes)
{
    EXPECT_EQ(RoundToInt(1.4), 1);
    EXPECT_EQ(RoundToInt(1.6), 2);
    EXPECT_EQ(RoundToInt(-1.6), -2);
    EXPECT_EQ(RoundToInt(2.5), 2); // exact halves go to the even neighbour
    EXPECT_EQ(RoundToInt(3.5), 4);
    EXPECT_EQ(RoundToInt(1e300), INT_MAX);
}

TEST(Composition, NormalizePathCleansSeparators)
{
    std::string p = "C:/Temp//x\\\\y/";
    NormalizePath(p);
    EXPECT_EQ(p, "C:\\Temp\\x\\y");
    p = "\\\\server\\\\share\\\\";
    NormalizePath(p);
    EXPECT_EQ(p, "\\\\server\\share");
    p = "C:\\";
    NormalizePath(p);
    EXPECT_EQ(p, "C:\\");
    p = "//";
    NormalizePath(p);
    EXPECT_EQ(p, "\\\\");
}

TEST(Composition, PhotoIsCentredOnTheBackgroundColour)
{
    ProjectSettings settings;
    settings.overallWidth = 160;
    settings.overallHeight = 120;
    settings.backgroundColor = RGB(0, 0, 255);
    CxImage photo = Solid(120, 80, RED);
    auto canvas = ComposeCanvas(photo, settings, nullptr);
    ASSERT_TRUE(canvas);
    ASSERT_EQ(canvas->Width(), 160);
    ASSERT_EQ(canvas->BitsPerPixel(), 24);
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 160; x++) {
            const bool inside = x >= 20 && x < 140 && y >= 20 && y < 100;
            ASSERT_TRUE(Same(canvas->GetPixel(x, y), inside ? RED : BLUE)) << x << "," << y;
        }

    // An odd difference leaves the extra pixel at the right and the bottom.
    settings.overallWidth = 121;
    settings.overallHeight = 81;
    settings.backgroundColor = RGB(255, 255, 255);
    canvas = ComposeCanvas(photo, settings, nullptr);
    EXPECT_TRUE(Same(canvas->GetPixel(0, 0), RED));
    EXPECT_TRUE(Same(canvas->GetPixel(120, 40), WHITE));
    EXPECT_TRUE(Same(canvas->GetPixel(60, 80), WHITE));
}

TEST(Composition, BackgroundPictureIsStretchedOverTheWholeCanvasAndCached)
{
    const std::string folder = bvtest::MakeTempDir("compose-bg");
    const std::string picture = folder + "/bg.bmp";
    WriteHalvesBmp(picture, 4, 2, BLUE, GREEN); // another aspect ratio than the canvas
    ProjectSettings settings;
    settings.overallWidth = 120;
    settings.overallHeight = 40;
    settings.backgroundImagePath = picture;
    CxImage photo = Solid(10, 10, RED);
    BackgroundCache cache;
    auto canvas = ComposeCanvas(photo, settings, &cache);
    ASSERT_TRUE(canvas);
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 120; x++) {
            const RGBQUAD want = (x >= 55 && x < 65 && y >= 15 && y < 25) ? RED
                : x < 60                                                  ? BLUE
                                                                          : GREEN;
            ASSERT_TRUE(Same(canvas->GetPixel(x, y), want)) << x << "," << y;
        }

    // The same file again comes from the cache with the same pixels; a changed file is
    // read again.
    auto again = ComposeCanvas(photo, settings, &cache);
    EXPECT_EQ(std::memcmp(again->Bits(), canvas->Bits(), size_t(canvas->Stride()) * 40), 0);
    WriteHalvesBmp(picture, 6, 2, GREEN, GREEN);
    canvas = ComposeCanvas(photo, settings, &cache);
    EXPECT_TRUE(Same(canvas->GetPixel(0, 0), GREEN));

    // An unreadable picture: the colour fills instead.
    bvtest::WriteFileBytes(picture, std::vector<uint8_t>(64, 1));
    settings.backgroundColor = RGB(255, 0, 0);
    canvas = ComposeCanvas(photo, settings, &cache);
    EXPECT_TRUE(Same(canvas->GetPixel(0, 0), RED));
}

TEST(Composition, FrameHoldsExactlyWhatTheQuantiserMadeOfTheCanvas)
{
    ProjectSettings settings;
    const std::string photo = bvtest::TestData("bmp/bmpsuite/g/rgb24.bmp");
    std::string error;
    auto entry = ComposeFrame(photo, settings, nullptr, &error);
    ASSERT_TRUE(entry) << error;
    EXPECT_EQ(entry->displayName, "rgb24.bmp");
    ASSERT_EQ(entry->canvas->GetWidth(), 120);
    ASSERT_EQ(entry->canvas->GetHeight(), 120);
    ASSERT_EQ(entry->canvas->GetBpp(), 24);
    const CxImage& frame = *entry->gifFrame;
    ASSERT_EQ(frame.GetBpp(), 8);

    // Quantise the entry's canvas again: the same palette and the same indices.
    std::unique_ptr<platform::Bitmap> canvas(entry->canvas->MakeDeviceBitmap(nullptr));
    const LoadedDib want = QuantizedCanvas(*canvas);
    ASSERT_EQ(frame.GetNumColors(), want.colors.size());
    for (uint32_t i = 0; i < want.colors.size(); i++) {
        const RGBQUAD got = frame.GetPaletteColor(i);
        ASSERT_TRUE(Same(got, want.colors[i])) << i;
    }
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 120; x++)
            ASSERT_EQ(frame.GetPixelIndex(x, y), want.BottomUpRow(y)[x]) << x << "," << y;
}

TEST(Composition, ElongatedPhotoBecomesOnePixelHighAndIsCentred)
{
    const std::string folder = bvtest::MakeTempDir("compose-long");
    WriteHalvesBmp(folder + "/long.bmp", 2000, 4, RED, RED);
    ProjectSettings settings;
    std::string error;
    auto entry = ComposeFrame(folder + "/long.bmp", settings, nullptr, &error);
    ASSERT_TRUE(entry) << error;
    const CxImage& t = *entry->canvas;
    // Device row 59 is stored row 60 of 120.
    EXPECT_TRUE(Same(t.GetPixelColor(0, 120 - 1 - 59), RED));
    EXPECT_TRUE(Same(t.GetPixelColor(0, 120 - 1 - 58), WHITE));
    EXPECT_TRUE(Same(t.GetPixelColor(0, 120 - 1 - 60), WHITE));
}

TEST(Composition, UnreadablePhotoGivesNoEntryAndTheReadersText)
{
    std::string error;
    EXPECT_FALSE(ComposeFrame("/nonexistent/photo.jpg", ProjectSettings {}, nullptr, &error));
    EXPECT_FALSE(error.empty());
}
