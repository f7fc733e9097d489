// The making pipeline's own stages on canvases of the sizes the program makes: the
// quantiser (octree and nearest-entry search), the nearest-entry search against the
// all-entries scan it replaces, and one photo's whole composition. Set BRIMVALE_BENCH_PHOTOS
// to a few photos (separated by ':') for the stages on canvases made of real photographs over
// a background picture (the last of them); without it those cases are skipped.
#include "app/ColorQuantizer.h"
#include "app/Composition.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "platform/DeviceBitmap.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <random>
#include <sstream>

namespace {

// A canvas like a composed frame: a smooth photo-like middle on a flat background,
// with some noise so that the palette fills up.
platform::Bitmap MakeCanvas(int w, int h)
{
    platform::Bitmap canvas(w, h, 24);
    std::mt19937 random(1);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const bool photo = x > w / 8 && x < w * 7 / 8 && y > h / 8 && y < h * 7 / 8;
            const int n = int(random() % 24);
            canvas.SetPixel(x, y,
                photo
                    ? RGBQUAD { uint8_t((x * 255 / w + n) & 255), uint8_t((y * 255 / h + n) & 255),
                        uint8_t(((x + y) * 128 / (w + h) + 3 * n) & 255), 0 }
                    : RGBQUAD { 255, 255, 255, 0 });
        }
    return canvas;
}

void BM_QuantizeCanvas(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const platform::Bitmap canvas = MakeCanvas(w, h);
    CxMemStream bmp;
    SaveBitmapAsBmp(canvas, &bmp);
    for (auto _ : state) {
        CxMemStream out;
        benchmark::DoNotOptimize(QuantizeBmpStream(&bmp, &out));
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}
BENCHMARK(BM_QuantizeCanvas)->Args({ 120, 120 })->Args({ 800, 600 })->Unit(benchmark::kMillisecond);

std::vector<std::string> BenchPhotos()
{
    std::vector<std::string> photos;
    if (const char* list = std::getenv("BRIMVALE_BENCH_PHOTOS")) {
        std::stringstream in(list);
        for (std::string path; std::getline(in, path, ':');)
            if (!path.empty())
                photos.push_back(path);
    }
    return photos;
}

// The 800 x 600 canvases of the photos, each reduced to 600 over the last as background.
const std::vector<std::unique_ptr<platform::Bitmap>>& PhotoCanvases()
{
    static std::vector<std::unique_ptr<platform::Bitmap>> canvases = [] {
        std::vector<std::unique_ptr<platform::Bitmap>> made;
        const std::vector<std::string> photos = BenchPhotos();
        if (photos.empty())
            return made;
        ProjectSettings settings;
        settings.overallWidth = 800;
        settings.overallHeight = 600;
        settings.photoSize = 600;
        settings.backgroundImagePath = photos.back();
        for (const std::string& path : photos)
            if (auto photo = ReadReducedPhoto(path, settings, nullptr))
                if (auto canvas = ComposeCanvas(*photo, settings, nullptr))
                    made.push_back(std::move(canvas));
        return made;
    }();
    return canvases;
}

// Octree and nearest-entry mapping of canvases made of real photographs.
void BM_QuantizePhotoCanvas(benchmark::State& state)
{
    const auto& canvases = PhotoCanvases();
    if (canvases.empty()) {
        state.SkipWithError("BRIMVALE_BENCH_PHOTOS names no readable photo");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(QuantizeCanvas(*canvases[i], nullptr));
        i = (i + 1) % canvases.size();
    }
    state.SetItemsProcessed(state.iterations() * 800 * 600);
}
BENCHMARK(BM_QuantizePhotoCanvas)->Unit(benchmark::kMillisecond);

std::vector<RGBQUAD> RandomPalette()
{
    std::mt19937 random(2);
    std::vector<RGBQUAD> palette(256);
    for (auto& e : palette)
        e = RGBQUAD { uint8_t(random()), uint8_t(random()), uint8_t(random()), 0 };
    return palette;
}

void BM_NearestCells(benchmark::State& state)
{
    const auto palette = RandomPalette();
    std::mt19937 random(3);
    // A frame's worth of lookups for each palette, as the quantiser makes them: colours
    // near one another, as in a photo.
    std::vector<uint32_t> colours(100000);
    uint32_t walk = 0x808080;
    for (auto& c : colours) {
        walk = (walk + (random() & 0x070707) - 0x030303) & 0xFFFFFF;
        c = walk;
    }
    for (auto _ : state) {
        PaletteSearch search(palette.data(), 256);
        for (uint32_t c : colours)
            benchmark::DoNotOptimize(search.Nearest(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(colours.size()));
}
BENCHMARK(BM_NearestCells);

void BM_NearestAllEntries(benchmark::State& state)
{
    const platform::Palette palette(RandomPalette());
    std::mt19937 random(3);
    std::vector<uint32_t> colours(100000);
    uint32_t walk = 0x808080;
    for (auto& c : colours) {
        walk = (walk + (random() & 0x070707) - 0x030303) & 0xFFFFFF;
        c = walk;
    }
    for (auto _ : state) {
        for (uint32_t c : colours)
            benchmark::DoNotOptimize(
                palette.NearestIndex(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(colours.size()));
}
BENCHMARK(BM_NearestAllEntries);

void BM_ComposeFrame(benchmark::State& state)
{
    ProjectSettings settings;
    settings.overallWidth = settings.overallHeight = uint32_t(state.range(0));
    settings.photoSize = uint32_t(state.range(0));
    const std::string photo = std::string(BRIMVALE_TESTDATA_DIR) + "/jpeg/gen/plasma-q85-420.jpg";
    for (auto _ : state)
        benchmark::DoNotOptimize(ComposeFrame(photo, settings));
}
BENCHMARK(BM_ComposeFrame)->Arg(120)->Arg(800)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
