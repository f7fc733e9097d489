// The GIF reader against the shared corpus and its reference decodes, against giflib for
// layouts our writer never makes, and against hostile or cut-off files.
#include "GifPeer.h"
#include "GifTestFrames.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <png.h>
#include <string>

using giftest::DecodeOurs;
using giftest::EncodeFrames;
using giftest::MakeFrame;
using giftest::TopDownIndex;

namespace {

struct Reference {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; // rows top to bottom
};

bool ReadPng(const std::string& path, Reference& reference)
{
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGBA;
    reference.width = int(image.width);
    reference.height = int(image.height);
    reference.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, reference.rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

// Pixels whose colour differs from the reference; transparent pixels of the reference
// only count when ours is not transparent there either.
int CountDifferences(const CxImage& image, const Reference& reference)
{
    if (image.GetWidth() != reference.width || image.GetHeight() != reference.height)
        return -1;
    int differences = 0;
    for (int y = 0; y < reference.height; y++) {
        for (int x = 0; x < reference.width; x++) {
            const uint8_t* want = &reference.rgba[(size_t(y) * reference.width + x) * 4];
            const int row = image.GetHeight() - 1 - y;
            const RGBQUAD got = image.GetPixelColor(x, row, false);
            const bool transparent = image.IsIndexed() && image.GetTransparentIndex() != -1
                && image.GetPixelIndex(x, row) == image.GetTransparentIndex();
            if (want[3] == 0 && transparent)
                continue;
            if (got.rgbRed != want[0] || got.rgbGreen != want[1] || got.rgbBlue != want[2])
                differences++;
        }
    }
    return differences;
}

std::unique_ptr<CxImageGIF> DecodeFile(const std::string& path, int frame, bool* ok)
{
    return DecodeOurs(bvtest::ReadFileBytes(path), frame, ok);
}

// A one-frame file of our writer, to patch by hand.
std::vector<uint8_t> SmallFile(int width = 4, int height = 3)
{
    auto frame = MakeFrame(width, height, 8, 77);
    return EncodeFrames({ frame.get() }, false, 1, 0);
}

} // namespace

TEST(GifReader, FirstFramesMatchTheCorpusReferences)
{
    // Images that do not fit the screen are neither counted nor shown: these files hold
    // no other image, so there is no frame to decode.
    const std::vector<std::string> notFitting = { "oob.gif", "issue_1455_oversized.gif" };
    int checked = 0;
    for (const std::string folder : { "gif/gen", "gif/image-rs/anim", "gif/image-rs/simple" }) {
        for (const std::string& path : bvtest::ListFiles(bvtest::TestData(folder))) {
            if (path.size() < 4 || path.compare(path.size() - 4, 4, ".gif") != 0)
                continue;
            SCOPED_TRACE(path);
            Reference reference;
            ASSERT_TRUE(ReadPng(path + ".ref.png", reference));
            bool ok = false;
            auto image = DecodeFile(path, 0, &ok);
            const std::string name = path.substr(path.rfind('/') + 1);
            bool expectedToDiffer = false;
            for (const std::string& known : notFitting)
                expectedToDiffer = expectedToDiffer || name == known;
            if (expectedToDiffer) {
                EXPECT_FALSE(ok);
                EXPECT_EQ(image->GetNumFrames(), 0);
                continue;
            }
            ASSERT_TRUE(ok) << image->GetLastError();
            EXPECT_EQ(CountDifferences(*image, reference), 0);
            checked++;
        }
    }
    EXPECT_GE(checked, 15);
}

TEST(GifReader, LaterFramesMatchTheCorpusReferences)
{
    for (const std::string name :
        { "anim-fullframes.gif", "anim-dispose2-localtables.gif", "anim-dispose3.gif" }) {
        const std::string path = bvtest::TestData("gif/gen/" + name);
        for (int n = 2; n <= 4; n++) {
            const std::string refPath = path + ".frame" + std::to_string(n) + ".png";
            if (!bvtest::FileExists(refPath))
                continue;
            SCOPED_TRACE(refPath);
            Reference reference;
            ASSERT_TRUE(ReadPng(refPath, reference));
            bool ok = false;
            auto image = DecodeFile(path, n - 1, &ok);
            ASSERT_TRUE(ok);
            const int differences = CountDifferences(*image, reference);
            std::printf("%s frame %d: %d pixels differ\n", name.c_str(), n, differences);
            if (name == "anim-fullframes.gif") {
                EXPECT_EQ(differences, 0);
            }
        }
    }
}

TEST(GifReader, InvalidAndTruncatedFilesFailOrDecodePartly)
{
    for (const std::string folder : { "gif/invalid", "gif/image-rs/invalid" }) {
        for (const std::string& path : bvtest::ListFiles(bvtest::TestData(folder))) {
            SCOPED_TRACE(path);
            bool ok = true;
            auto image = DecodeFile(path, 0, &ok);
            if (ok) {
                EXPECT_TRUE(image->IsValid());
            } else {
                EXPECT_STRNE(image->GetLastError(), "");
            }
        }
    }
    // Every prefix of two real files: a defined result, never a crash.
    for (const std::string name :
        { "gif/gen/anim-dispose2-localtables.gif", "gif/gen/pal256-interlaced.gif" }) {
        const std::vector<uint8_t> bytes = bvtest::ReadFileBytes(bvtest::TestData(name));
        for (size_t length = 0; length < bytes.size(); length += (length < 1200 ? 1 : 37)) {
            const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(length));
            bool ok = false;
            auto image = DecodeOurs(prefix, 0, &ok);
            if (ok) {
                ASSERT_TRUE(image->IsValid()) << length;
            }
        }
    }
}

TEST(GifReader, SignatureDecidesBeforeAnythingElse)
{
    std::vector<uint8_t> bytes = SmallFile();
    bool ok = false;
    DecodeOurs(bytes, 0, &ok);
    EXPECT_TRUE(ok);
    bytes[4] = '7'; // GIF87a
    DecodeOurs(bytes, 0, &ok);
    EXPECT_TRUE(ok);
    bytes[3] = '9';
    auto rejected = DecodeOurs(bytes, 0, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(rejected->GetLastError(), "Not a GIF");

    CxImageGIF gif;
    EXPECT_FALSE(gif.Decode(nullptr));
}

TEST(GifReader, GiflibWrittenFilesDecodeToTheSameIndices)
{
    // Interlaced images of every short height (passes without rows included), GIF87a,
    // and a file without a global table.
    for (int height = 1; height <= 20; height++) {
        gifpeer::WriteFrame frame;
        frame.width = 7;
        frame.height = height;
        frame.interlaced = true;
        frame.bpp = 0;
        for (int i = 0; i < 7 * height; i++)
            frame.indices.push_back(uint8_t((i * 37 + height) % 251));
        std::vector<uint8_t> colors;
        for (int i = 0; i < 768; i++)
            colors.push_back(uint8_t(i * 7));
        const std::vector<uint8_t> bytes
            = gifpeer::WriteWithGiflib(7, height, 8, colors, { frame }, height % 2 == 0);
        bool ok = false;
        auto image = DecodeOurs(bytes, 0, &ok);
        ASSERT_TRUE(ok) << height;
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < 7; x++)
                ASSERT_EQ(TopDownIndex(*image, x, y), frame.indices[size_t(y) * 7 + x])
                    << height << " " << y;
        }
        EXPECT_EQ(image->GetPaletteColor(5).rgbRed, 105);
    }
}

TEST(GifReader, InterlacedRowsArriveInPassOrder)
{
    // Ten rows, each line holding its arrival number: rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
    gifpeer::WriteFrame frame;
    frame.width = 3;
    frame.height = 10;
    frame.interlaced = true;
    frame.bpp = 8;
    frame.colors.assign(768, 0);
    const int order[] = { 0, 8, 4, 2, 6, 1, 3, 5, 7, 9 };
    frame.indices.assign(30, 0);
    for (int arrival = 0; arrival < 10; arrival++) {
        for (int x = 0; x < 3; x++)
            frame.indices[size_t(order[arrival]) * 3 + x] = uint8_t(arrival);
    }
    const std::vector<uint8_t> bytes = gifpeer::WriteWithGiflib(3, 10, 0, {}, { frame });
    bool ok = false;
    auto image = DecodeOurs(bytes, 0, &ok);
    ASSERT_TRUE(ok);
    for (int arrival = 0; arrival < 10; arrival++)
        EXPECT_EQ(TopDownIndex(*image, 1, order[arrival]), arrival);
}

TEST(GifReader, FramesAreCountedAndARequestBeyondThemFails)
{
    auto a = MakeFrame(5, 5, 8, 1);
    auto b = MakeFrame(5, 5, 8, 2);
    const std::vector<uint8_t> bytes = EncodeFrames({ a.get(), b.get() }, true);
    bool ok = false;
    auto image = DecodeOurs(bytes, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(image->GetNumFrames(), 2);
    DecodeOurs(bytes, -1, &ok);
    EXPECT_FALSE(ok);
    image = DecodeOurs(bytes, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetNumFrames(), 2);
    for (int y = 0; y < 5; y++) {
        for (int x = 0; x < 5; x++)
            ASSERT_EQ(image->GetPixelIndex(x, y), b->GetPixelIndex(x, y));
    }
}

TEST(GifReader, ImagesOutsideTheScreenAreNeitherCountedNorShown)
{
    auto screen = MakeFrame(10, 10, 8, 1);
    auto inside = MakeFrame(4, 4, 8, 2);
    auto outside = MakeFrame(4, 4, 8, 3);
    inside->SetOffset(6, 6);
    outside->SetOffset(7, 0); // 7 + 4 > 10
    const std::vector<uint8_t> bytes
        = EncodeFrames({ screen.get(), outside.get(), inside.get() }, false, 1, 1);
    bool ok = false;
    auto image = DecodeOurs(bytes, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetNumFrames(), 2);
    // Frame 2 is the inside one, over the first frame.
    EXPECT_EQ(TopDownIndex(*image, 9, 9), TopDownIndex(*inside, 3, 3));
    EXPECT_EQ(TopDownIndex(*image, 8, 0), TopDownIndex(*screen, 8, 0));
}

TEST(GifReader, DisposalTwoClearsToTheFirstTransparentIndex)
{
    auto first = MakeFrame(6, 6, 8, 4);
    first->SetTransparentIndex(17);
    auto second = MakeFrame(2, 2, 8, 5);
    second->SetOffset(1, 1);
    const std::vector<uint8_t> bytes = EncodeFrames({ first.get(), second.get() }, false, 1, 2);
    bool ok = false;
    auto image = DecodeOurs(bytes, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetTransparentIndex(), 17);
    EXPECT_EQ(TopDownIndex(*image, 0, 0), 17);
    EXPECT_EQ(TopDownIndex(*image, 5, 5), 17);
    EXPECT_EQ(TopDownIndex(*image, 1, 1), TopDownIndex(*second, 0, 0));

    // Without disposal the first frame stays under the second.
    const std::vector<uint8_t> kept = EncodeFrames({ first.get(), second.get() }, false, 1, 1);
    image = DecodeOurs(kept, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(TopDownIndex(*image, 5, 5), TopDownIndex(*first, 5, 5));
}

TEST(GifReader, BadExtensionsEndTheScan)
{
    auto a = MakeFrame(4, 4, 8, 1);
    auto b = MakeFrame(4, 4, 8, 2);
    const std::vector<uint8_t> good = EncodeFrames({ a.get(), b.get() }, false, 1, 0);
    // The second graphic control block gets size byte 5.
    std::vector<uint8_t> bytes = good;
    size_t second = 0;
    int seen = 0;
    for (size_t i = 0; i + 2 < bytes.size(); i++) {
        if (bytes[i] == 0x21 && bytes[i + 1] == 0xF9 && ++seen == 2)
            second = i;
    }
    ASSERT_GT(second, 0u);
    bytes[second + 2] = 5;
    bool ok = false;
    auto image = DecodeOurs(bytes, 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetNumFrames(), 1);

    // An empty comment before the first image: nothing is counted, and nothing decodes.
    std::vector<uint8_t> comment(good.begin(), good.begin() + 13 + 768);
    comment.insert(comment.end(), { 0x21, 0xFE, 0x00 });
    comment.insert(comment.end(), good.begin() + 13 + 768, good.end());
    image = DecodeOurs(comment, 0, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(image->GetNumFrames(), 0);
}

TEST(GifReader, ExtensionsFillTheCodecSettings)
{
    auto a = MakeFrame(4, 4, 8, 1);
    a->SetFrameDelay(250);
    a->SetTransparentIndex(3);
    const std::vector<uint8_t> bytes = EncodeFrames({ a.get() }, false, 6, 2, "made here");
    bool ok = false;
    auto image = DecodeOurs(bytes, 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_STREQ(image->GetComment(), "made here");
    EXPECT_EQ(image->GetLoops(), 5);
    EXPECT_EQ(image->GetDisposalMethod(), 2);
    EXPECT_EQ(image->GetFrameDelay(), 250u);
    EXPECT_EQ(image->GetTransparentIndex(), 3);
    EXPECT_EQ(image->GetControlBlock().flags, 0x09);
    // A transparent index fills the rest of a short table with white.
    auto four = MakeFrame(4, 4, 4, 1);
    four->SetTransparentIndex(0);
    image = DecodeOurs(EncodeFrames({ four.get() }, false), 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetBpp(), 4);
}

TEST(GifReader, BadMinimumCodeSizesLeaveThePixelsButTheScanGoesOn)
{
    for (const uint8_t size : { 1, 10 }) {
        auto a = MakeFrame(4, 4, 8, 1);
        auto b = MakeFrame(4, 4, 8, 2);
        std::vector<uint8_t> bytes = EncodeFrames({ a.get(), b.get() }, false, 1, 1);
        // The first image's minimum code size byte follows its descriptor.
        size_t descriptor = 0;
        for (size_t i = 13 + 768; i < bytes.size(); i++) {
            if (bytes[i] == 0x2C) {
                descriptor = i;
                break;
            }
        }
        ASSERT_EQ(bytes[descriptor + 10], 8);
        bytes[descriptor + 10] = size;
        bool ok = false;
        auto image = DecodeOurs(bytes, 0, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(image->GetNumFrames(), 2);
        image = DecodeOurs(bytes, 1, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(image->GetPixelIndex(2, 2), b->GetPixelIndex(2, 2));
    }
}

TEST(GifReader, HugeScreensHitTheMemoryLimit)
{
    std::vector<uint8_t> bytes = SmallFile();
    bytes[6] = bytes[7] = bytes[8] = bytes[9] = 0xFF; // 65535 x 65535
    bool ok = true;
    auto image = DecodeOurs(bytes, 0, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(image->GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(GifReader, SizeOnlyQueryReadsTheScreen)
{
    const std::vector<uint8_t> bytes = SmallFile(9, 7);
    CxImageGIF gif;
    gif.SetEscapeCallback([](CxImage*, uint32_t) -> int32_t { return 1; });
    CxMemStream stream(bytes.data(), bytes.size());
    EXPECT_TRUE(gif.Decode(&stream));
    EXPECT_EQ(gif.GetWidth(), 9);
    EXPECT_EQ(gif.GetHeight(), 7);
    EXPECT_FALSE(gif.IsValid());
}

TEST(GifReader, HostileCodeChainsStayInsideTheTables)
{
    // Data blocks of random codes after valid headers: bad codes, loops in the prefix
    // chains, early end codes. Nothing may crash, and the decode ends.
    std::mt19937 random(5);
    const std::vector<uint8_t> good = SmallFile(64, 64);
    const size_t dataAt = 13 + 768 + 8 + 10 + 1;
    for (int round = 0; round < 300; round++) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + long(dataAt));
        for (int block = 0; block < 8; block++) {
            bytes.push_back(255);
            for (int i = 0; i < 255; i++)
                bytes.push_back(uint8_t(random()));
        }
        if (round % 2)
            bytes.insert(bytes.end(),
                { 0x00, 0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 2, 0x4C, 0x01, 0x00, 0x3B });
        bool ok = false;
        DecodeOurs(bytes, 0, &ok);
    }
}

TEST(GifReader, TiledFilesArePaintedInColour)
{
    // No global table and a first image smaller than the screen both ways: every image
    // is painted at its place in one 24-bit picture, whatever its depth (1-, 4- and 8-bit
    // frames, one 4-bit frame with a table of 8).
    const int depths[4] = { 1, 3, 4, 8 };
    std::vector<gifpeer::WriteFrame> tiles;
    for (int k = 0; k < 4; k++) {
        gifpeer::WriteFrame tile;
        tile.left = (k % 2) * 5;
        tile.top = (k / 2) * 4;
        tile.width = 5;
        tile.height = 4;
        tile.bpp = depths[k];
        for (int i = 0; i < (1 << tile.bpp); i++)
            tile.colors.insert(
                tile.colors.end(), { uint8_t(k * 60), uint8_t(i * 7), uint8_t(255 - i) });
        for (int i = 0; i < 20; i++)
            tile.indices.push_back(uint8_t((i * 5 + k) % (1 << tile.bpp)));
        tile.delay = 0;
        tiles.push_back(tile);
    }
    const std::vector<uint8_t> bytes = gifpeer::WriteWithGiflib(10, 8, 0, {}, tiles);
    bool ok = false;
    auto image = DecodeOurs(bytes, 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetBpp(), 24);
    EXPECT_EQ(image->GetNumFrames(), 4);
    for (const gifpeer::WriteFrame& tile : tiles) {
        for (int i = 0; i < 20; i++) {
            const int x = tile.left + i % 5;
            const int y = tile.top + i / 5;
            const uint8_t* want = &tile.colors[size_t(tile.indices[size_t(i)]) * 3];
            const RGBQUAD got = image->GetPixelColor(x, 7 - y);
            EXPECT_EQ(got.rgbRed, want[0]) << x << "," << y;
            EXPECT_EQ(got.rgbGreen, want[1]) << x << "," << y;
            EXPECT_EQ(got.rgbBlue, want[2]) << x << "," << y;
        }
    }
}

TEST(GifReader, WiderLaterFramesKeepTheirIndices)
{
    // A 1-bit first frame under an 8-bit second one: the canvas grows to 8 bits.
    auto first = MakeFrame(6, 6, 1, 1);
    auto second = MakeFrame(3, 3, 8, 2);
    second->SetOffset(2, 2);
    const std::vector<uint8_t> bytes = EncodeFrames({ first.get(), second.get() }, true, 1, 1);
    bool ok = false;
    auto image = DecodeOurs(bytes, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetBpp(), 8);
    EXPECT_EQ(TopDownIndex(*image, 3, 3), TopDownIndex(*second, 1, 1));
    EXPECT_EQ(TopDownIndex(*image, 0, 0), TopDownIndex(*first, 0, 0));
}

TEST(GifReader, LoadsThroughTheFormatDispatch)
{
    const std::string path = bvtest::TestData("gif/gen/shapes-8colours.gif");
    CxImage byType(path.c_str(), CXIMAGE_FORMAT_GIF);
    ASSERT_TRUE(byType.IsValid()) << byType.GetLastError();
    EXPECT_EQ(byType.GetType(), uint32_t(CXIMAGE_FORMAT_GIF));
    Reference reference;
    ASSERT_TRUE(ReadPng(path + ".ref.png", reference));
    EXPECT_EQ(CountDifferences(byType, reference), 0);

    // Without a usable extension the readers probe the bytes.
    const std::string dir = bvtest::MakeTempDir("gif-probe");
    const std::string copy = dir + "/picture.data";
    bvtest::WriteFileBytes(copy, bvtest::ReadFileBytes(path));
    CxImage probed(copy.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    ASSERT_TRUE(probed.IsValid()) << probed.GetLastError();
    EXPECT_EQ(probed.GetWidth(), reference.width);
}

TEST(GifReader, LaterControlBlocksDoNotReachEarlierFrames)
{
    // Only the second frame is transparent; counting reads its block before the first
    // frame is decoded for real.
    auto first = MakeFrame(4, 4, 8, 1);
    auto second = MakeFrame(4, 4, 8, 2);
    second->SetTransparentIndex(9);
    second->SetFrameDelay(77);
    first->SetFrameDelay(5);
    const std::vector<uint8_t> bytes = EncodeFrames({ first.get(), second.get() }, false, 1, 1);
    bool ok = false;
    auto image = DecodeOurs(bytes, 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(image->GetTransparentIndex(), -1);
    EXPECT_EQ(image->GetFrameDelay(), 5u);
    EXPECT_EQ(image->GetControlBlock().flags & 1, 0);
}

TEST(GifReader, DisposalTwoWithoutTransparencyClearsToTheBackground)
{
    auto first = MakeFrame(6, 6, 8, 4);
    auto second = MakeFrame(2, 2, 8, 5);
    second->SetOffset(2, 2);
    const std::vector<uint8_t> bytes = EncodeFrames({ first.get(), second.get() }, false, 1, 2);
    bool ok = false;
    auto image = DecodeOurs(bytes, 1, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(TopDownIndex(*image, 0, 0), 0); // the writer's background index
    EXPECT_EQ(TopDownIndex(*image, 2, 2), TopDownIndex(*second, 0, 0));
}

TEST(GifReader, LowDepthFramesComposeAtAnyOffset)
{
    // Unaligned offsets and partial bytes at the row ends, with and without a transparent
    // index, for the depths whose pixels share bytes.
    for (const int bpp : { 1, 4 }) {
        for (const int left : { 0, 3, 8, 10 }) {
            for (const int transparent : { -1, 1 }) {
                SCOPED_TRACE(testing::Message()
                    << bpp << " bits, left " << left << ", index " << transparent);
                auto first = MakeFrame(21, 9, bpp, 11);
                auto second = MakeFrame(11, 5, bpp, 12);
                second->SetOffset(left, 2);
                second->SetTransparentIndex(transparent);
                const std::vector<uint8_t> bytes
                    = EncodeFrames({ first.get(), second.get() }, false, 1, 1);
                bool ok = false;
                auto image = DecodeOurs(bytes, 1, &ok);
                ASSERT_TRUE(ok);
                int wrong = 0;
                for (int y = 0; y < 9; y++) {
                    for (int x = 0; x < 21; x++) {
                        uint8_t expected = TopDownIndex(*first, x, y);
                        if (x >= left && x < left + 11 && y >= 2 && y < 7) {
                            const uint8_t over = TopDownIndex(*second, x - left, y - 2);
                            if (over != transparent)
                                expected = over;
                        }
                        wrong += TopDownIndex(*image, x, y) != expected;
                    }
                }
                EXPECT_EQ(wrong, 0);
            }
        }
    }
}
