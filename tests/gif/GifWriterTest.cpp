// The GIF writer checked byte by byte where the layout is fixed, and against giflib (and
// our own reader) for the pixel data of every coding.
#include "GifPeer.h"
#include "GifTestFrames.h"
#include "image/gif/GifRunLength.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using giftest::DecodeOurs;
using giftest::EncodeFrames;
using giftest::MakeFrame;
using giftest::TopDownIndex;

namespace {

// Every index and palette entry of one frame as giflib read it.
void ExpectSameFrame(const CxImage& frame, const gifpeer::PeerFrame& peer, const char* what,
    const CxImage* paletteFrom = nullptr)
{
    if (!paletteFrom)
        paletteFrom = &frame;
    SCOPED_TRACE(what);
    ASSERT_EQ(peer.width, frame.GetWidth());
    ASSERT_EQ(peer.height, frame.GetHeight());
    ASSERT_EQ(peer.indices.size(), size_t(frame.GetWidth()) * size_t(frame.GetHeight()));
    const uint32_t colors = 1u << frame.GetBpp();
    ASSERT_EQ(peer.colors.size(), size_t(colors) * 3);
    for (uint32_t i = 0; i < colors; i++) {
        const RGBQUAD c = paletteFrom->GetPaletteColor(i);
        ASSERT_EQ(peer.colors[3 * i], c.rgbRed) << "entry " << i;
        ASSERT_EQ(peer.colors[3 * i + 1], c.rgbGreen) << "entry " << i;
        ASSERT_EQ(peer.colors[3 * i + 2], c.rgbBlue) << "entry " << i;
    }
    for (int y = 0; y < frame.GetHeight(); y++) {
        for (int x = 0; x < frame.GetWidth(); x++) {
            ASSERT_EQ(peer.indices[size_t(y) * frame.GetWidth() + x], TopDownIndex(frame, x, y))
                << "pixel " << x << "," << y;
        }
    }
}

// The same indices (and palette) read back by our own reader.
void ExpectSameIndices(const CxImage& decoded, const CxImage& frame, const char* what)
{
    SCOPED_TRACE(what);
    ASSERT_TRUE(decoded.IsValid());
    ASSERT_EQ(decoded.GetWidth(), frame.GetWidth());
    ASSERT_EQ(decoded.GetHeight(), frame.GetHeight());
    for (uint32_t i = 0; i < frame.GetNumColors(); i++)
        ASSERT_EQ(0, std::memcmp(&decoded.GetPalette()[i], &frame.GetPalette()[i], 3)) << i;
    for (int y = 0; y < frame.GetHeight(); y++) {
        for (int x = 0; x < frame.GetWidth(); x++)
            ASSERT_EQ(decoded.GetPixelIndex(x, y), frame.GetPixelIndex(x, y)) << x << "," << y;
    }
}

// Splits LZW data into codes, following the code width of the table a decoder grows.
std::vector<int> ReadCodes(const std::vector<uint8_t>& data, int minimumCodeSize)
{
    const int clear = 1 << minimumCodeSize;
    int width = minimumCodeSize + 1;
    int next = clear + 2;
    bool afterClear = true;
    std::vector<int> codes;
    uint32_t bits = 0;
    int held = 0;
    size_t position = 0;
    for (;;) {
        while (held < width && position < data.size()) {
            bits |= uint32_t(data[position++]) << held;
            held += 8;
        }
        if (held < width)
            break;
        const int code = int(bits & ((1u << width) - 1));
        bits >>= width;
        held -= width;
        codes.push_back(code);
        if (code == clear + 1)
            break;
        if (code == clear) {
            width = minimumCodeSize + 1;
            next = clear + 2;
            afterClear = true;
            continue;
        }
        if (!afterClear && next < 4096)
            next++;
        afterClear = false;
        if (next >= (1 << width) && width < 12)
            width++;
    }
    return codes;
}

struct ImageData {
    size_t descriptor = 0; // offset of the 0x2C byte
    int minimumCodeSize = 0;
    std::vector<int> blockSizes;
    std::vector<uint8_t> data;
};

// The image blocks of a file our writer made (whose layout is known).
std::vector<ImageData> FindImages(const std::vector<uint8_t>& file)
{
    std::vector<ImageData> images;
    size_t p = 13;
    if (file[10] & 0x80)
        p += size_t(3) << ((file[10] & 7) + 1);
    while (p < file.size() && file[p] != 0x3B) {
        if (file[p] == 0x21) {
            p += 2;
            while (p < file.size() && file[p] != 0)
                p += file[p] + 1;
            p++;
            continue;
        }
        EXPECT_EQ(file[p], 0x2C);
        ImageData image;
        image.descriptor = p;
        const uint8_t flags = file[p + 9];
        p += 10;
        if (flags & 0x80)
            p += size_t(3) << ((flags & 7) + 1);
        image.minimumCodeSize = file[p++];
        while (p < file.size() && file[p] != 0) {
            image.blockSizes.push_back(file[p]);
            image.data.insert(
                image.data.end(), file.begin() + long(p) + 1, file.begin() + long(p) + 1 + file[p]);
            p += file[p] + 1;
        }
        p++;
        images.push_back(std::move(image));
    }
    return images;
}

} // namespace

TEST(GifWriter, EveryCodingSizeAndDepthReadsBackInGiflibAndOurReader)
{
    const int widths[] = { 1, 2, 3, 255, 256, 257, 800 };
    const int heights[] = { 1, 800 };
    const int depths[] = { 1, 4, 8 };
    const uint32_t codings[] = { CXIMAGE_GIF_LZW, CXIMAGE_GIF_PLAIN_CODES, CXIMAGE_GIF_RUN_LENGTH };
    uint32_t seed = 1;
    for (const uint32_t coding : codings) {
        for (const int bpp : depths) {
            for (const int width : widths) {
                for (const int height : heights) {
                    const std::string what = "coding " + std::to_string(coding) + ", "
                        + std::to_string(bpp) + " bpp, " + std::to_string(width) + "x"
                        + std::to_string(height);
                    auto first = MakeFrame(width, height, bpp, seed++, coding);
                    auto second = MakeFrame(width, height, bpp, seed++, coding);
                    second->SetTransparentIndex(int32_t(seed % (1u << bpp)));
                    second->SetFrameDelay(seed % 2 ? 0 : 65535);
                    const bool local = seed % 4 < 2;
                    const std::vector<uint8_t> bytes
                        = EncodeFrames({ first.get(), second.get() }, local);

                    const gifpeer::PeerFile peer
                        = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
                    ASSERT_TRUE(peer.ok) << what << ": giflib error " << peer.error;
                    ASSERT_EQ(peer.frames.size(), 2u) << what;
                    EXPECT_EQ(peer.frames[1].localMap, local) << what;
                    EXPECT_FALSE(peer.frames[0].localMap) << what;
                    ExpectSameFrame(*first, peer.frames[0], (what + ", frame 1").c_str());
                    ExpectSameFrame(*second, peer.frames[1], (what + ", frame 2").c_str(),
                        local ? second.get() : first.get());
                    EXPECT_EQ(peer.frames[1].transIndex, second->GetTransparentIndex()) << what;
                    EXPECT_EQ(peer.frames[1].delay, int(second->GetFrameDelay())) << what;
                    EXPECT_EQ(peer.frames[0].transIndex, -1) << what;

                    ExpectSameIndices(*DecodeOurs(bytes, 0), *first, (what + ", ours").c_str());
                    if (HasFatalFailure())
                        return;
                }
            }
        }
    }
}

TEST(GifWriter, ManyFramesKeepTheirOwnDelaysTablesAndOffsets)
{
    std::vector<std::unique_ptr<CxImage>> owned;
    std::vector<CxImage*> frames;
    // Enough pixels that the frames are coded on several threads.
    owned.push_back(MakeFrame(1100, 1000, 8, 7));
    for (int k = 1; k < 120; k++) {
        owned.push_back(MakeFrame(1 + k % 17, 1 + k % 13, (k % 3 == 0) ? 1 : (k % 3 == 1 ? 4 : 8),
            uint32_t(100 + k), uint32_t(k % 3)));
        owned.back()->SetOffset(k % 40, k % 30);
        owned.back()->SetFrameDelay(uint32_t(k * 547));
    }
    owned[5]->SetFrameDelay(0);
    owned[6]->SetFrameDelay(65535);
    owned[7]->SetFrameDelay(65536 + 3); // only the low 16 bits fit
    for (auto& frame : owned)
        frames.push_back(frame.get());

    const std::vector<uint8_t> bytes = EncodeFrames(frames, true, 0, 1);
    const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
    ASSERT_TRUE(peer.ok) << peer.error;
    ASSERT_EQ(peer.frames.size(), frames.size());
    for (size_t k = 0; k < frames.size(); k++) {
        ExpectSameFrame(*frames[k], peer.frames[k], ("frame " + std::to_string(k + 1)).c_str());
        EXPECT_EQ(peer.frames[k].left, k == 0 ? 0 : int(k % 40));
        EXPECT_EQ(peer.frames[k].delay, int(frames[k]->GetFrameDelay() & 0xFFFF));
        EXPECT_EQ(peer.frames[k].disposal, 1);
    }
    EXPECT_EQ(peer.frames[5].delay, 0);
    EXPECT_EQ(peer.frames[6].delay, 65535);
    EXPECT_EQ(peer.frames[7].delay, 3);
    EXPECT_EQ(peer.loopCount, 0);

    bool ok = false;
    auto decoded = DecodeOurs(bytes, 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(decoded->GetNumFrames(), 120);
}

TEST(GifWriter, LargeAnimationsAreCodedInTurnsAndComeOutInOrder)
{
    // Some twelve million pixels: coded a window of frames at a time on several threads.
    std::vector<std::unique_ptr<CxImage>> owned;
    std::vector<CxImage*> frames;
    for (int k = 0; k < 12; k++) {
        owned.push_back(MakeFrame(1000, 1000, k % 2 ? 8 : 4, uint32_t(k + 1)));
        frames.push_back(owned.back().get());
    }
    const std::vector<uint8_t> bytes = EncodeFrames(frames, true, 0, 1);
    const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
    ASSERT_TRUE(peer.ok) << peer.error;
    ASSERT_EQ(peer.frames.size(), frames.size());
    for (size_t k = 0; k < frames.size(); k++)
        ExpectSameFrame(*frames[k], peer.frames[k], ("frame " + std::to_string(k + 1)).c_str());
}

TEST(GifWriter, FileLayoutIsByteExact)
{
    // 2 x 2, 1 bpp, black and white; one frame with a transparent index.
    CxImage frame(2, 2, 1);
    frame.Clear(0);
    frame.SetPaletteColor(0, 0, 0, 0);
    frame.SetPaletteColor(1, 255, 255, 255);
    frame.SetPixelIndex(1, 1, 1); // top right
    frame.SetPixelIndex(0, 0, 1); // bottom left
    frame.SetTransparentIndex(1);
    frame.SetFrameDelay(0x1234);
    CxImage* frames[] = { &frame };

    CxImageGIF gif;
    gif.SetLoops(0);
    gif.SetDisposalMethod(2);
    gif.SetComment("hi");
    CxMemStream stream;
    ASSERT_TRUE(gif.Encode(&stream, frames, 1, true));
    const std::vector<uint8_t> bytes = stream.TakeBuffer();

    // Pixels top-down 0 1 / 1 0; codes (3 bits): clear 4, 0, 1, 1, 0 -> the string
    // table holds 01=6 and 11=7 (width 4 from here), then 0, end 5.
    const std::vector<int> expectedCodes = { 4, 0, 1, 1, 0, 5 };
    const std::vector<uint8_t> head = {
        'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0, // screen, 1 bpp table
        0, 0, 0, 255, 255, 255, // global colour table
        0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0,
        0x21, 0xF9, 0x04, 0x09, 0x34, 0x12, 0x01, 0x00, // disposal 2 with transparency
        0x21, 0xFE, 2, 'h', 'i', 0x00, // comment
        0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0x00, // frame 1 has no local table even when asked
        2, // minimum code size 2 for 1 bpp
    };
    ASSERT_GT(bytes.size(), head.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(head.size())), head);
    const auto images = FindImages(bytes);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(ReadCodes(images[0].data, 2), expectedCodes);
    EXPECT_EQ(bytes.back(), 0x3B);
    EXPECT_EQ(bytes[bytes.size() - 2], 0x00);

    const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.comment, "hi");
    EXPECT_EQ(peer.frames[0].indices, (std::vector<uint8_t> { 0, 1, 1, 0 }));
}

TEST(GifWriter, LoopBlockFollowsTheLoopSetting)
{
    auto frame = MakeFrame(4, 4, 8, 3);
    auto fileFor = [&](int32_t loops) { return EncodeFrames({ frame.get() }, false, loops); };
    const std::vector<uint8_t> endless = fileFor(0);
    const std::vector<uint8_t> once = fileFor(1);
    const std::vector<uint8_t> five = fileFor(5);
    const size_t loopAt = 13 + 768;
    EXPECT_EQ(endless[loopAt], 0x21);
    EXPECT_EQ(endless[loopAt + 1], 0xFF);
    EXPECT_EQ(endless[loopAt + 16], 0); // repeat count 0: endless
    EXPECT_EQ(endless[loopAt + 17], 0);
    EXPECT_EQ(once[loopAt + 1], 0xF9); // no loop block: the control block follows the table
    EXPECT_EQ(once.size() + 19, endless.size());
    EXPECT_EQ(five[loopAt + 16], 4);
    EXPECT_EQ(gifpeer::ReadWithGiflib(five.data(), five.size()).loopCount, 4);
    EXPECT_EQ(fileFor(-7)[loopAt + 16], 0);
}

TEST(GifWriter, CommentIsWrittenOnceAndCutAt255Characters)
{
    auto frame = MakeFrame(4, 4, 4, 3);
    const std::string longText(300, 'c');
    const std::vector<uint8_t> bytes
        = EncodeFrames({ frame.get(), frame.get(), frame.get() }, true, 1, 0, longText.c_str());
    const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.comment, std::string(255, 'c'));
    int comments = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i++)
        comments += bytes[i] == 0x21 && bytes[i + 1] == 0xFE;
    EXPECT_EQ(comments, 1);

    const std::vector<uint8_t> none = EncodeFrames({ frame.get() }, true, 1, 0, "");
    for (size_t i = 0; i + 1 < none.size(); i++)
        EXPECT_FALSE(none[i] == 0x21 && none[i + 1] == 0xFE);

    CxImageGIF gif;
    gif.SetComment(longText.c_str());
    EXPECT_EQ(std::strlen(gif.GetComment()), 255u);
    gif.SetComment(nullptr);
    EXPECT_EQ(std::strlen(gif.GetComment()), 255u);
}

TEST(GifWriter, ControlFlagsCarryDisposalAndTransparency)
{
    auto plain = MakeFrame(3, 3, 8, 5);
    auto transparent = MakeFrame(3, 3, 8, 6);
    transparent->SetTransparentIndex(300); // only the low byte is written
    const std::vector<uint8_t> bytes
        = EncodeFrames({ plain.get(), transparent.get() }, false, 1, 2);
    std::vector<size_t> controls;
    for (size_t i = 0; i + 2 < bytes.size(); i++) {
        if (bytes[i] == 0x21 && bytes[i + 1] == 0xF9 && bytes[i + 2] == 0x04)
            controls.push_back(i);
    }
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(bytes[controls[0] + 3], 0x08);
    EXPECT_EQ(bytes[controls[0] + 6], 0xFF);
    EXPECT_EQ(bytes[controls[1] + 3], 0x09);
    EXPECT_EQ(bytes[controls[1] + 6], 300 & 0xFF);
}

TEST(GifWriter, LocalTablesOnlyFromTheSecondFrame)
{
    auto a = MakeFrame(5, 5, 4, 11);
    auto b = MakeFrame(5, 5, 4, 12);
    const std::vector<uint8_t> bytes = EncodeFrames({ a.get(), b.get() }, true);
    const auto images = FindImages(bytes);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(bytes[images[0].descriptor + 9], 0x00);
    EXPECT_EQ(bytes[images[1].descriptor + 9], 0x83);
    EXPECT_EQ(bytes[10], 0xE3); // 4 bpp screen flags

    const std::vector<uint8_t> global = EncodeFrames({ a.get(), b.get() }, false);
    EXPECT_EQ(global[FindImages(global)[1].descriptor + 9], 0x00);
}

TEST(GifWriter, MinimumCodeSizesAndStartingWidths)
{
    auto one = MakeFrame(9, 9, 1, 1);
    auto eight = MakeFrame(9, 9, 8, 2);
    const auto oneImage = FindImages(EncodeFrames({ one.get() }, false))[0];
    const auto eightImage = FindImages(EncodeFrames({ eight.get() }, false))[0];
    EXPECT_EQ(oneImage.minimumCodeSize, 2);
    EXPECT_EQ(oneImage.data[0] & 7, 4); // a 3-bit clear code
    EXPECT_EQ(eightImage.minimumCodeSize, 8);
    EXPECT_EQ(eightImage.data[0] | ((eightImage.data[1] & 1) << 8), 256); // 9-bit clear
    const std::vector<uint8_t> file = EncodeFrames({ eight.get() }, false);
    EXPECT_EQ(file[10], 0xE7);
}

TEST(GifWriter, SubBlocksHold254BytesForLzwAnd255ForRunLengths)
{
    auto lzw = MakeFrame(300, 300, 8, 21, CXIMAGE_GIF_LZW);
    auto plain = MakeFrame(300, 300, 8, 21, CXIMAGE_GIF_PLAIN_CODES);
    auto runs = MakeFrame(300, 300, 8, 21, CXIMAGE_GIF_RUN_LENGTH);
    for (auto* frame : { lzw.get(), plain.get(), runs.get() }) {
        const auto image = FindImages(EncodeFrames({ frame }, false))[0];
        const int full = frame == runs.get() ? 255 : 254;
        ASSERT_GT(image.blockSizes.size(), 2u);
        for (size_t i = 0; i + 1 < image.blockSizes.size(); i++)
            ASSERT_EQ(image.blockSizes[i], full) << "block " << i;
        EXPECT_LE(image.blockSizes.back(), full);
        EXPECT_GT(image.blockSizes.back(), 0);
    }
}

TEST(GifWriter, RunLengthCoderSendsATriangleOfRunCodes)
{
    CxImage flat(10, 1, 8);
    flat.SetPaletteColor(7, 1, 2, 3);
    flat.Clear(7);
    flat.SetFormatOption(CXIMAGE_GIF_RUN_LENGTH, CXIMAGE_FORMAT_GIF);
    const auto image = FindImages(EncodeFrames({ &flat }, false))[0];
    EXPECT_EQ(ReadCodes(image.data, 8), (std::vector<int> { 256, 7, 258, 259, 260, 257 }));

    CxImage alternating(40, 1, 8);
    for (int x = 0; x < 40; x++)
        alternating.SetPixelIndex(x, 0, uint8_t(x % 2 ? 9 : 4));
    alternating.SetFormatOption(CXIMAGE_GIF_RUN_LENGTH, CXIMAGE_FORMAT_GIF);
    const auto codes = ReadCodes(FindImages(EncodeFrames({ &alternating }, false))[0].data, 8);
    for (const int code : codes)
        EXPECT_TRUE(code < 256 || code == 256 || code == 257) << code;
    EXPECT_EQ(codes.size(), 42u); // clear, one code per pixel, end

    EXPECT_EQ(GifIntegerSqrt(15), 3u);
    EXPECT_EQ(GifIntegerSqrt(16), 4u);
    EXPECT_EQ(GifIntegerSqrt(1u << 30), 1u << 15);
    EXPECT_EQ(GifIntegerSqrt(0xFFFFFFFFu), 65535u);
    EXPECT_EQ(GifRunCodeCount(6, 100), 3u);
    EXPECT_EQ(GifRunCodeCount(7, 100), 4u);
}

TEST(GifWriter, LongFlatRunsStayReadable)
{
    // Runs long enough to exhaust the code budget several times, at each depth.
    for (const int bpp : { 1, 4, 8 }) {
        CxImage flat(2000, 700, uint32_t(bpp));
        flat.SetPaletteColor(1, 10, 20, 30);
        flat.Clear(1);
        for (int x = 0; x < 2000; x += 7)
            flat.SetPixelIndex(x, 350, 0);
        flat.SetFormatOption(CXIMAGE_GIF_RUN_LENGTH, CXIMAGE_FORMAT_GIF);
        const std::vector<uint8_t> bytes = EncodeFrames({ &flat }, false);
        const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
        ASSERT_TRUE(peer.ok) << bpp;
        ExpectSameFrame(flat, peer.frames[0], "flat");
        ExpectSameIndices(*DecodeOurs(bytes), flat, "flat, ours");
        EXPECT_LT(bytes.size(), 40000u) << bpp; // runs, not one code per pixel
    }
}

TEST(GifWriter, RefusesWhatItCannotWrite)
{
    auto frame = MakeFrame(4, 4, 8, 1);
    CxImage* frames[] = { frame.get(), frame.get(), nullptr, frame.get() };
    CxImageGIF gif;
    CxMemStream stream;

    EXPECT_FALSE(gif.Encode(nullptr, frames, 1, true));
    EXPECT_STREQ(gif.GetLastError(), "invalid file pointer");
    EXPECT_FALSE(gif.Encode(&stream, nullptr, 1, true));
    EXPECT_STREQ(gif.GetLastError(), "multipage GIF, no images!");
    EXPECT_FALSE(gif.Encode(&stream, frames, 0, true));
    EXPECT_STREQ(gif.GetLastError(), "multipage GIF, no images!");
    CxImage* nullFirst[] = { nullptr };
    EXPECT_FALSE(gif.Encode(&stream, nullFirst, 1, true));
    EXPECT_EQ(stream.Length(), 0u);

    CxImage colour(4, 4, 24);
    CxImage empty;
    CxImage* withColour[] = { frame.get(), &colour };
    EXPECT_FALSE(gif.Encode(&stream, withColour, 2, true));
    EXPECT_STREQ(gif.GetLastError(),
        "GIF frame has no palette: only 1, 4 and 8-bit images can be written (frame 2)");
    CxImage* withEmpty[] = { &empty };
    EXPECT_FALSE(gif.Encode(&stream, withEmpty, 1, true));
    EXPECT_EQ(stream.Length(), 0u);

    // A missing third frame leaves the header and two frames, and no trailer.
    EXPECT_FALSE(gif.Encode(&stream, frames, 4, true));
    EXPECT_STREQ(gif.GetLastError(), "Bad image pointer");
    const std::vector<uint8_t> bytes = stream.TakeBuffer();
    EXPECT_EQ(FindImages(bytes).size(), 2u);
    EXPECT_NE(bytes.back(), 0x3B);
    const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
    EXPECT_EQ(peer.frames.size(), 2u);
}

TEST(GifWriter, AWriteFailureIsReported)
{
    auto frame = MakeFrame(16, 16, 8, 1);
    CxImage* frames[] = { frame.get() };
    const uint8_t readOnly[4] = {};
    CxMemStream stream(readOnly, sizeof(readOnly)); // refuses every write
    CxImageGIF gif;
    EXPECT_FALSE(gif.Encode(&stream, frames, 1, false));
    EXPECT_STREQ(gif.GetLastError(), "Write Error in GIF file");
}

TEST(GifWriter, ShortPalettesArePaddedToTheAnnouncedTableSize)
{
    auto frame = MakeFrame(6, 6, 8, 9);
    // A frame whose palette claims fewer entries than its depth holds.
    struct Shrunk : CxImage {
        using CxImage::CxImage;
        void SetColors(uint32_t n) { head.biClrUsed = n; }
    };
    Shrunk shrunk(6, 6, 4);
    shrunk.SetPaletteColor(0, 9, 8, 7);
    shrunk.SetPixelIndex(2, 2, 1);
    shrunk.SetColors(3);
    CxImage* frames[] = { frame.get(), &shrunk };
    bool ok = false;
    const std::vector<uint8_t> bytes
        = EncodeFrames({ frames[0], frames[1] }, true, 0, 2, nullptr, &ok);
    ASSERT_TRUE(ok);
    const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
    ASSERT_TRUE(peer.ok);
    ASSERT_EQ(peer.frames[1].colors.size(), 48u);
    EXPECT_EQ(peer.frames[1].colors[0], 9);
    EXPECT_EQ(peer.frames[1].colors[47], 0);
}
