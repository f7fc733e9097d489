// The GIF codec side by side with giflib doing the same work in the same run: LZW encoding
// of a photo-like frame, the run-length coder on a flat frame (giflib: its LZW), and
// decoding a 50-frame animation; large 1-bit screens painted by our reader.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"
#include "tests/gif/GifPeer.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <random>
#include <vector>

namespace {

// Smooth shading with grain and a few edges, in 256 levels: what a quantised photo gives.
std::vector<uint8_t> PhotoLike(int width, int height, int shift)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height));
    std::mt19937 random(uint32_t(7 + shift));
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const int xs = x + shift;
            double v = 128 + 60 * std::sin(xs * 0.013) * std::cos(y * 0.021) + (xs + 2 * y) * 0.05;
            if ((xs / 97 + y / 83) % 5 == 0)
                v += 40;
            v += int(random() % 5) - 2;
            pixels[size_t(y) * width + x] = uint8_t(std::clamp(int(v), 0, 255));
        }
    }
    return pixels;
}

std::vector<uint8_t> Palette()
{
    std::vector<uint8_t> colors(768);
    for (int i = 0; i < 256; i++) {
        colors[3 * i] = uint8_t(i);
        colors[3 * i + 1] = uint8_t(255 - i);
        colors[3 * i + 2] = uint8_t(i / 2);
    }
    return colors;
}

std::unique_ptr<CxImage> FrameOf(
    const std::vector<uint8_t>& pixels, int width, int height, uint32_t option)
{
    auto frame = std::make_unique<CxImage>(uint32_t(width), uint32_t(height), 8);
    frame->SetPalette(Palette().data(), 256);
    for (int y = 0; y < height; y++)
        std::memcpy(
            frame->GetBits(uint32_t(height - 1 - y)), &pixels[size_t(y) * width], size_t(width));
    frame->SetFormatOption(option, CXIMAGE_FORMAT_GIF);
    return frame;
}

std::vector<uint8_t> Flat(int width, int height)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height), 40);
    for (int y = 300; y < 500; y++)
        std::memset(&pixels[size_t(y) * width + 200], 90, 400);
    return pixels;
}

size_t EncodeOurs(CxImage* frame)
{
    CxImageGIF gif;
    CxMemStream stream;
    gif.Encode(&stream, &frame, 1, false);
    return stream.Length();
}

int Sink(GifFileType* gif, const GifByteType* buffer, int length)
{
    auto* bytes = static_cast<std::vector<uint8_t>*>(gif->UserData);
    bytes->insert(bytes->end(), buffer, buffer + length);
    return length;
}

size_t EncodeGiflib(const std::vector<uint8_t>& pixels, int width, int height)
{
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, Sink, &error);
    const std::vector<uint8_t> colors = Palette();
    ColorMapObject* map
        = GifMakeMapObject(256, reinterpret_cast<const GifColorType*>(colors.data()));
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (int y = 0; y < height; y++) {
        std::memcpy(row.data(), &pixels[size_t(y) * width], row.size());
        EGifPutLine(gif, row.data(), width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes.size();
}

void BM_EncodePhotoLzw_Ours(benchmark::State& state)
{
    const auto pixels = PhotoLike(800, 800, 0);
    auto frame = FrameOf(pixels, 800, 800, CXIMAGE_GIF_LZW);
    size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = EncodeOurs(frame.get()));
    state.counters["bytes"] = double(size);
}

void BM_EncodePhotoLzw_Giflib(benchmark::State& state)
{
    const auto pixels = PhotoLike(800, 800, 0);
    size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = EncodeGiflib(pixels, 800, 800));
    state.counters["bytes"] = double(size);
}

void BM_EncodeFlatRunLength_Ours(benchmark::State& state)
{
    const auto pixels = Flat(800, 800);
    auto frame = FrameOf(pixels, 800, 800, CXIMAGE_GIF_RUN_LENGTH);
    size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = EncodeOurs(frame.get()));
    state.counters["bytes"] = double(size);
}

void BM_EncodeFlatLzw_Ours(benchmark::State& state)
{
    const auto pixels = Flat(800, 800);
    auto frame = FrameOf(pixels, 800, 800, CXIMAGE_GIF_LZW);
    size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = EncodeOurs(frame.get()));
    state.counters["bytes"] = double(size);
}

void BM_EncodeFlatLzw_Giflib(benchmark::State& state)
{
    const auto pixels = Flat(800, 800);
    size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(size = EncodeGiflib(pixels, 800, 800));
    state.counters["bytes"] = double(size);
}

// 50 frames of 400 x 400, each covering the screen, written by giflib.
const std::vector<uint8_t>& Animation()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<gifpeer::WriteFrame> frames;
        for (int k = 0; k < 50; k++) {
            gifpeer::WriteFrame frame;
            frame.width = 400;
            frame.height = 400;
            frame.bpp = 0;
            frame.delay = 10;
            frame.indices = PhotoLike(400, 400, k * 8);
            frames.push_back(std::move(frame));
        }
        return gifpeer::WriteWithGiflib(400, 400, 8, Palette(), frames);
    }();
    return bytes;
}

void DecodeOurs(benchmark::State& state, int frame)
{
    const std::vector<uint8_t>& bytes = Animation();
    for (auto _ : state) {
        CxImageGIF gif;
        gif.SetFrame(frame < 0 ? 49 : frame);
        CxMemStream stream(bytes.data(), bytes.size());
        if (!gif.Decode(&stream) || gif.GetNumFrames() != 50)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(gif.GetBits(0));
    }
}

struct Source {
    const std::vector<uint8_t>* bytes;
    size_t position;
};

int ReadSource(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* source = static_cast<Source*>(gif->UserData);
    const size_t n = std::min(size_t(length), source->bytes->size() - source->position);
    std::memcpy(buffer, source->bytes->data() + source->position, n);
    source->position += n;
    return int(n);
}

// giflib reads every frame; with compose set the frames are also laid over one canvas.
void DecodeGiflib(benchmark::State& state, bool compose)
{
    const std::vector<uint8_t>& bytes = Animation();
    std::vector<uint8_t> canvas(400 * 400);
    for (auto _ : state) {
        Source source { &bytes, 0 };
        int error = 0;
        GifFileType* gif = DGifOpen(&source, ReadSource, &error);
        if (DGifSlurp(gif) != GIF_OK || gif->ImageCount != 50)
            state.SkipWithError("giflib failed");
        if (compose) {
            for (int k = 0; k < gif->ImageCount; k++) {
                const SavedImage& image = gif->SavedImages[k];
                for (int y = 0; y < image.ImageDesc.Height; y++) {
                    const uint8_t* from = image.RasterBits + size_t(y) * image.ImageDesc.Width;
                    std::memcpy(
                        &canvas[size_t(y + image.ImageDesc.Top) * 400 + image.ImageDesc.Left], from,
                        size_t(image.ImageDesc.Width));
                }
            }
        }
        benchmark::DoNotOptimize(canvas.data());
        DGifCloseFile(gif, &error);
    }
}

// Screens painted from large 1-bit frames: four tiles of a file without a global table
// (the reader paints them in colour on a 24-bit screen), and one frame with a transparent
// index laid over the screen.
const std::vector<uint8_t>& OneBitFile(bool tiled)
{
    static std::vector<uint8_t> files[2];
    std::vector<uint8_t>& bytes = files[tiled];
    if (bytes.empty()) {
        const int side = 2000;
        std::vector<gifpeer::WriteFrame> frames;
        for (int k = 0; k < (tiled ? 4 : 1); k++) {
            gifpeer::WriteFrame frame;
            frame.left = tiled ? (k % 2) * side / 2 : 0;
            frame.top = tiled ? (k / 2) * side / 2 : 0;
            frame.width = frame.height = tiled ? side / 2 : side;
            frame.bpp = tiled ? 1 : 0;
            frame.colors = { 250, 10, 10, 10, 10, 250 };
            frame.delay = 10;
            frame.transIndex = tiled ? -1 : 0;
            for (const uint8_t level : PhotoLike(frame.width, frame.height, k))
                frame.indices.push_back(level > 128);
            frames.push_back(std::move(frame));
        }
        bytes = gifpeer::WriteWithGiflib(
            side, side, tiled ? 0 : 1, tiled ? std::vector<uint8_t>() : Palette(), frames);
    }
    return bytes;
}

void DecodeOneBit(benchmark::State& state, bool tiled)
{
    const std::vector<uint8_t>& bytes = OneBitFile(tiled);
    for (auto _ : state) {
        CxImageGIF gif;
        CxMemStream stream(bytes.data(), bytes.size());
        if (!gif.Decode(&stream) || gif.GetBpp() != (tiled ? 24 : 1))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(gif.GetBits(0));
    }
}

void BM_DecodeOneBitTiles_Ours(benchmark::State& state) { DecodeOneBit(state, true); }
void BM_DecodeOneBitTransparentFrame_Ours(benchmark::State& state) { DecodeOneBit(state, false); }
void BM_DecodeAnimationFirstFrame_Ours(benchmark::State& state) { DecodeOurs(state, 0); }
void BM_DecodeAnimationLastFrame_Ours(benchmark::State& state) { DecodeOurs(state, -1); }
void BM_DecodeAnimation_Giflib(benchmark::State& state) { DecodeGiflib(state, false); }
void BM_DecodeAnimationComposed_Giflib(benchmark::State& state) { DecodeGiflib(state, true); }

} // namespace

BENCHMARK(BM_EncodePhotoLzw_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePhotoLzw_Giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeFlatRunLength_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeFlatLzw_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeFlatLzw_Giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOneBitTiles_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOneBitTransparentFrame_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAnimationFirstFrame_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAnimationLastFrame_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAnimation_Giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAnimationComposed_Giflib)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
