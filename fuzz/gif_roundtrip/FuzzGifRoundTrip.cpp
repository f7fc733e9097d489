// Turns the input into frames, writes them with one of the pixel codings and reads the
// file back with giflib or with our reader, or writes them size-optimised and checks that
// the file shows the same frames: every index and palette entry must come back.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"
#include "tests/gif/GifPeer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void Mismatch(const char* what)
{
    std::fprintf(stderr, "GIF round trip mismatch: %s\n", what);
    std::abort();
}

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size)
        : data(data)
        , size(size)
    {
    }
    uint8_t Next()
    {
        if (size == 0)
            return 0;
        const uint8_t byte = data[position % size];
        position++;
        return byte;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    Bytes in(data, size);
    const int count = 1 + in.Next() % 4;
    const int width = 1 + in.Next() % 96;
    const int height = 1 + in.Next() % 64;
    static const int depths[] = { 1, 4, 8 };

    // Every frame covers the screen without transparency, so frame k read back on its own
    // holds exactly frame k's indices.
    std::vector<std::unique_ptr<CxImage>> frames;
    std::vector<CxImage*> pointers;
    for (int k = 0; k < count; k++) {
        // Some frames start as the one before and change a few runs of it.
        const bool changed = k > 0 && (in.Next() & 1);
        const int bpp = changed ? frames.back()->GetBpp() : depths[in.Next() % 3];
        auto frame = changed
            ? std::make_unique<CxImage>(*frames.back())
            : std::make_unique<CxImage>(uint32_t(width), uint32_t(height), uint32_t(bpp));
        for (int i = 0; i < (changed ? 0 : 1 << bpp); i++)
            frame->SetPaletteColor(uint32_t(i), in.Next(), in.Next(), in.Next());
        // Pixel bytes: runs and noise straight from the input.
        const int from = changed ? int(in.Next()) * width * height / 256 : 0;
        const int to
            = changed ? std::min(width * height, from + 1 + in.Next() % 64) : width * height;
        for (int at = from; at < to;) {
            const uint8_t control = in.Next();
            const int run = (control & 0x80) ? 1 + (control & 0x7F) : 1;
            const uint8_t value = uint8_t(in.Next() % (1 << bpp));
            for (int r = 0; r < run && at < to && (r == 0 || at % width != 0); r++, at++)
                frame->SetPixelIndex(at % width, at / width, value);
        }
        frame->SetFrameDelay(in.Next());
        frames.push_back(std::move(frame));
        pointers.push_back(frames.back().get());
    }

    // One check per input, chosen by it: the plain writer's file read by giflib, or by our
    // reader, or the size-optimised file against the plain one. Over the run every check
    // sees every kind of input, at a third of the work for each.
    const uint32_t check = in.Next() % 3;
    if (check < 2) {
        const uint32_t coding = in.Next() % 3;
        for (CxImage* frame : pointers)
            frame->SetFormatOption(coding, CXIMAGE_FORMAT_GIF);
        CxImageGIF writer;
        CxMemStream out;
        if (!writer.Encode(&out, pointers.data(), count, true))
            Mismatch("encode failed");
        const std::vector<uint8_t> bytes = out.TakeBuffer();

        if (check == 0) {
            const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
            if (!peer.ok || int(peer.frames.size()) != count)
                Mismatch("giflib could not read the file");
            for (int k = 0; k < count; k++) {
                const CxImage& frame = *pointers[size_t(k)];
                const gifpeer::PeerFrame& got = peer.frames[size_t(k)];
                for (int y = 0; y < height; y++) {
                    for (int x = 0; x < width; x++) {
                        if (got.indices[size_t(y) * width + x]
                            != frame.GetPixelIndex(x, height - 1 - y))
                            Mismatch("giflib index");
                    }
                }
                for (uint32_t i = 0; i < (1u << frame.GetBpp()); i++) {
                    const RGBQUAD c = frame.GetPaletteColor(i);
                    if (got.colors[3 * i] != c.rgbRed || got.colors[3 * i + 1] != c.rgbGreen
                        || got.colors[3 * i + 2] != c.rgbBlue)
                        Mismatch("giflib palette");
                }
            }
            return 0;
        }
        // Our reader composes every frame before the one asked for, so it reads back one
        // frame, chosen by the input: all frames' codes are decoded, and over the run every
        // frame number is compared.
        const int k = int(in.Next() % uint32_t(count));
        const CxImage& frame = *pointers[size_t(k)];
        CxImageGIF reader;
        reader.SetFrame(k);
        CxMemStream stream(bytes.data(), bytes.size());
        if (!reader.Decode(&stream) || reader.GetNumFrames() != count)
            Mismatch("our reader failed");
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                if (reader.GetPixelIndex(x, y) != frame.GetPixelIndex(x, y))
                    Mismatch("our index");
            }
        }
        for (uint32_t i = 0; i < frame.GetNumColors(); i++) {
            const RGBQUAD got = reader.GetPaletteColor(i);
            const RGBQUAD want = frame.GetPaletteColor(i);
            if (got.rgbRed != want.rgbRed || got.rgbGreen != want.rgbGreen
                || got.rgbBlue != want.rgbBlue)
                Mismatch("our palette");
        }
        return 0;
    }

    // The size-optimised writer: a browser shows every frame as it shows the plain file's,
    // some frames now with a transparent index.
    {
        for (CxImage* frame : pointers)
            if (in.Next() % 4 == 0)
                frame->SetTransparentIndex(in.Next() % (1 << frame->GetBpp()));
        const int32_t disposal = 1 + in.Next() % 2;
        std::vector<std::vector<uint32_t>> shown[2];
        for (int optimized = 0; optimized < 2; optimized++) {
            CxImageGIF writer;
            writer.SetDisposalMethod(disposal);
            CxMemStream out;
            if (!(optimized ? writer.EncodeOptimized(&out, pointers.data(), count)
                            : writer.Encode(&out, pointers.data(), count, true)))
                Mismatch("optimised encode failed");
            const std::vector<uint8_t> bytes = out.TakeBuffer();
            const gifpeer::PeerFile peer = gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
            if (!peer.ok || int(peer.frames.size()) != count)
                Mismatch("giflib could not read the optimised file");
            shown[optimized] = gifpeer::ComposeLikeBrowsers(peer);
        }
        if (shown[0] != shown[1])
            Mismatch("the optimised file shows other frames");
    }
    return 0;
}
