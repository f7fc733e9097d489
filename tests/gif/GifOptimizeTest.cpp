// The size-optimised writer must show, frame for frame, exactly what the plain writer's
// file shows; giflib decodes both and the frames are composed as browsers compose them.
#include "image/gif/GifOptimize.h"

#include "GifPeer.h"
#include "GifTestFrames.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using Frames = std::vector<std::unique_ptr<CxImage>>;

std::vector<uint8_t> Write(const Frames& frames, int32_t disposal, bool optimized)
{
    std::vector<CxImage*> pointers;
    for (const auto& f : frames)
        pointers.push_back(f.get());
    CxImageGIF gif;
    gif.SetDisposalMethod(disposal);
    gif.SetComment("optimised");
    gif.SetLoops(3);
    CxMemStream stream;
    const bool ok = optimized ? gif.EncodeOptimized(&stream, pointers.data(), int(frames.size()))
                              : gif.Encode(&stream, pointers.data(), int(frames.size()), true);
    EXPECT_TRUE(ok) << gif.GetLastError();
    return stream.TakeBuffer();
}

// Writes the frames both ways and compares what a browser shows; returns the two sizes.
std::pair<size_t, size_t> ExpectSameShown(const Frames& frames, int32_t disposal)
{
    const std::vector<uint8_t> plain = Write(frames, disposal, false);
    const std::vector<uint8_t> small = Write(frames, disposal, true);
    const gifpeer::PeerFile a = gifpeer::ReadWithGiflib(plain.data(), plain.size());
    const gifpeer::PeerFile b = gifpeer::ReadWithGiflib(small.data(), small.size());
    EXPECT_TRUE(a.ok && b.ok);
    EXPECT_EQ(b.width, a.width);
    EXPECT_EQ(b.height, a.height);
    EXPECT_EQ(b.loopCount, a.loopCount);
    EXPECT_EQ(b.comment, a.comment);
    const auto shownA = gifpeer::ComposeLikeBrowsers(a);
    const auto shownB = gifpeer::ComposeLikeBrowsers(b);
    EXPECT_EQ(shownB.size(), shownA.size());
    for (size_t k = 0; k < std::min(shownA.size(), shownB.size()); k++) {
        EXPECT_EQ(b.frames[k].delay, a.frames[k].delay) << "frame " << k;
        size_t differing = 0;
        for (size_t p = 0; p < shownA[k].size(); p++)
            differing += shownA[k][p] != shownB[k][p];
        EXPECT_EQ(differing, 0u) << "frame " << k << " of " << shownA.size();
    }
    return { plain.size(), small.size() };
}

void RandomPalette(CxImage& frame, std::mt19937& random)
{
    for (uint32_t i = 0; i < frame.GetNumColors(); i++)
        frame.SetPaletteColor(i, uint8_t(random()), uint8_t(random()), uint8_t(random()));
}

// A background that stays, partly recoloured from frame to frame, with small objects
// moving over it; each frame numbers its colours differently.
Frames MovingObjects(uint32_t seed, int width, int height, int count)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> background(size_t(width) * size_t(height));
    for (size_t i = 0; i < background.size(); i++)
        background[i] = uint8_t((i % size_t(width)) / 7 + (i / size_t(width)) / 5 + random() % 3);
    std::vector<RGBQUAD> colours(256);
    for (RGBQUAD& c : colours)
        c = RGBQUAD { uint8_t(random()), uint8_t(random()), uint8_t(random()), 0 };
    Frames frames;
    for (int k = 0; k < count; k++) {
        for (int change = 0; change < 6; change++)
            colours[random() % 256].rgbRed ^= 0x40;
        std::vector<uint8_t> order(256);
        for (int i = 0; i < 256; i++)
            order[size_t(i)] = uint8_t(i);
        std::shuffle(order.begin() + 1, order.end(), random);
        auto frame = std::make_unique<CxImage>(uint32_t(width), uint32_t(height), 8u);
        for (int i = 0; i < 256; i++)
            frame->SetPaletteColor(uint32_t(order[size_t(i)]), colours[size_t(i)].rgbRed,
                colours[size_t(i)].rgbGreen, colours[size_t(i)].rgbBlue);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                frame->SetPixelIndex(
                    x, y, order[background[size_t(y) * size_t(width) + size_t(x)]]);
        for (int object = 0; object < 3; object++) {
            const int ox = (object * 31 + k * (3 + object)) % (width - 8);
            const int oy = (object * 17 + k * 2) % (height - 6);
            for (int y = oy; y < oy + 6; y++)
                for (int x = ox; x < ox + 8; x++)
                    frame->SetPixelIndex(x, y, order[size_t(200 + object)]);
        }
        frame->SetFrameDelay(uint32_t(10 + k));
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Transparent areas that move: the next frame shows transparency where this one drew.
Frames MovingHoles(uint32_t seed, int width, int height, int count)
{
    std::mt19937 random(seed);
    Frames frames;
    for (int k = 0; k < count; k++) {
        const int bpp = k % 3 == 2 ? 4 : 8;
        auto frame = std::make_unique<CxImage>(uint32_t(width), uint32_t(height), uint32_t(bpp));
        RandomPalette(*frame, random);
        const int trans = bpp == 4 ? 15 : 77;
        frame->SetTransparentIndex(trans);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                const bool hole = (x - k * 5 + 40) % 40 < 12 || (k == 0 && y < height / 2);
                frame->SetPixelIndex(x, y, uint8_t(hole ? trans : (x / 9 + y / 4) % 12));
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

} // namespace

TEST(GifOptimize, ShowsWhatThePlainFileShowsOnRandomSequences)
{
    for (int32_t disposal : { 2, 1 }) {
        SCOPED_TRACE(disposal);
        const auto [plain, small] = ExpectSameShown(MovingObjects(7, 120, 90, 12), disposal);
        EXPECT_LT(small * 3, plain); // only the objects and the recoloured parts are written

        Frames full; // every pixel changes; sizes and depths differ
        for (uint32_t k = 0; k < 5; k++)
            full.push_back(giftest::MakeFrame(160, 100, k == 3 ? 1 : 8, 100 + k));
        ExpectSameShown(full, disposal);

        ExpectSameShown(MovingHoles(11, 100, 60, 9), disposal);
    }
}

TEST(GifOptimize, RepeatedFramesAndAOneFrameFileStayAsTheyAre)
{
    Frames frames;
    for (uint32_t k = 0; k < 4; k++)
        frames.push_back(giftest::MakeFrame(64, 48, 8, 5)); // the same frame four times
    frames.back()->SetFrameDelay(250);
    const auto [plain, small] = ExpectSameShown(frames, 2);
    EXPECT_LT(small * 2, plain);

    frames.resize(1);
    ExpectSameShown(frames, 2);
}

TEST(GifOptimize, TheFileIsTheSameWhateverTheThreads)
{
    const Frames frames = MovingObjects(9, 120, 90, 12);
    std::vector<uint8_t> files[3];
    for (unsigned threads : { 1u, 2u, 3u }) {
        CxMemStream stream;
        GifOptimizedWriter writer(&stream, "optimised", 3, 2, threads);
        for (const auto& frame : frames)
            ASSERT_TRUE(writer.Add(*frame));
        ASSERT_TRUE(writer.End());
        files[threads - 1] = stream.TakeBuffer();
    }
    EXPECT_EQ(files[1], files[0]);
    EXPECT_EQ(files[2], files[0]);
    EXPECT_EQ(files[0], Write(frames, 2, true)); // as the encoder writes it
}

namespace {

// Two frames of rows repeated from a few patterns (the string table pays to keep once it
// is full) around a transparent column; the second one recolours every other pixel with
// the first one's colours, or, with its own palette, with colours that frame doesn't have.
Frames RecolouredRows(bool ownColours)
{
    std::mt19937 random(2);
    const int32_t w = 100 + int32_t(random() % 200), h = 100 + int32_t(random() % 200);
    const uint32_t patterns = 1 + random() % 6, colours = 3 + random() % 14;
    std::vector<std::vector<uint8_t>> rows(patterns, std::vector<uint8_t>(size_t(w)));
    for (auto& row : rows)
        for (auto& v : row)
            v = uint8_t(random() % colours);
    Frames frames;
    for (int k = 0; k < 2; k++) {
        auto frame = std::make_unique<CxImage>(w, h, 8);
        for (uint32_t i = 0; i < 256; i++)
            frame->SetPaletteColor(uint8_t(i), uint8_t(i * 7), uint8_t(i * 3),
                uint8_t(i * 11 + (ownColours && k == 1 ? 1 : 0)));
        frame->SetTransparentIndex(255);
        for (int32_t y = 0; y < h; y++) {
            const auto& row = rows[size_t(y * 7 + y / 3) % patterns];
            for (int32_t x = 0; x < w; x++)
                frame->SetPixelIndex(
                    x, y, x == w / 2 ? 255 : uint8_t((row[size_t(x)] + k) % colours));
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

} // namespace

TEST(GifOptimize, TheGlobalTableIsTakenOnlyWhereItCodesNoLonger)
{
    // The same pixels coded with the global table or with one of the frame's own: the
    // file that may take the global table is never the larger.
    const auto [plainGlobal, withGlobal] = ExpectSameShown(RecolouredRows(false), 2);
    const auto [plainOwn, withOwn] = ExpectSameShown(RecolouredRows(true), 2);
    EXPECT_EQ(plainGlobal, plainOwn);
    EXPECT_LE(withGlobal, withOwn);
}
