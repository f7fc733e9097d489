// The cost of the making's output options on a real photo composed at 800 x 600: error
// diffusion against the frame's palette next to the nearest-colour mapping it replaces
// (the quantiser's own mapping, with its caches), and the size-optimising writer next to
// the plain one on a slideshow of the sample photos.
#include "app/ColorQuantizer.h"
#include "app/Composition.h"
#include "app/Dither.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"

#include <benchmark/benchmark.h>

namespace {

ProjectSettings Canvas()
{
    ProjectSettings settings;
    settings.overallWidth = 800;
    settings.overallHeight = 600;
    settings.photoSize = 600;
    return settings;
}

// A photo on a white background (0), over a background picture (1), on a blue one (2).
const PhotoEntry& Photo(int64_t background)
{
    static const std::unique_ptr<PhotoEntry> entries[3] = {
        ComposeFrame(BRIMVALE_SOURCE_DIR "/examples/sunset.jpg", Canvas()),
        [] {
            ProjectSettings settings = Canvas();
            settings.backgroundImagePath = BRIMVALE_SOURCE_DIR "/examples/plasma.jpg";
            return ComposeFrame(BRIMVALE_SOURCE_DIR "/examples/sunset.jpg", settings);
        }(),
        [] {
            ProjectSettings settings = Canvas();
            settings.backgroundColor = 0x996633; // #336699
            return ComposeFrame(BRIMVALE_SOURCE_DIR "/examples/sunset.jpg", settings);
        }(),
    };
    return *entries[background];
}

void BM_MapNearest(benchmark::State& state)
{
    const CxImage& canvas = *Photo(state.range(0)).canvas;
    const CxImage& frame = *Photo(state.range(0)).gifFrame;
    const int32_t w = canvas.GetWidth(), h = canvas.GetHeight();
    std::vector<uint8_t> indices(size_t(w) * size_t(h));
    for (auto _ : state) {
        PaletteSearch search(frame.GetPalette(), frame.GetNumColors());
        for (int32_t y = 0; y < h; y++) {
            const uint8_t* p = canvas.GetBits(uint32_t(y));
            for (int32_t x = 0; x < w; x++, p += 3)
                indices[size_t(y) * size_t(w) + size_t(x)]
                    = uint8_t(search.Nearest(p[2], p[1], p[0]));
        }
        benchmark::DoNotOptimize(indices.data());
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}
BENCHMARK(BM_MapNearest)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_Dither(benchmark::State& state)
{
    const PhotoEntry& photo = Photo(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(DitherToPalette(*photo.canvas, *photo.gifFrame));
    state.SetItemsProcessed(
        state.iterations() * photo.canvas->GetWidth() * photo.canvas->GetHeight());
}
BENCHMARK(BM_Dither)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void Encode(benchmark::State& state, bool optimized)
{
    static const auto entries = [] {
        std::vector<std::unique_ptr<PhotoEntry>> made;
        ProjectSettings settings = Canvas();
        for (const char* name : { "sunset.jpg", "plasma.jpg", "shapes.png", "alpha.png" })
            made.push_back(
                ComposeFrame(std::string(BRIMVALE_SOURCE_DIR "/examples/") + name, settings));
        return made;
    }();
    std::vector<CxImage*> frames;
    for (const auto& e : entries)
        frames.push_back(e->gifFrame.get());
    size_t bytes = 0;
    for (auto _ : state) {
        CxImageGIF gif;
        gif.SetDisposalMethod(2);
        CxMemStream stream;
        if (optimized)
            gif.EncodeOptimized(&stream, frames.data(), int(frames.size()));
        else
            gif.Encode(&stream, frames.data(), int(frames.size()), true);
        bytes = stream.Length();
    }
    state.counters["bytes"] = double(bytes);
}
void BM_EncodePlain(benchmark::State& state) { Encode(state, false); }
void BM_EncodeOptimized(benchmark::State& state) { Encode(state, true); }
BENCHMARK(BM_EncodePlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOptimized)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
