// The inner loops of palette images: the nearest-colour search (with and without its
// one-entry cache) and writing colours into an 800 x 800 indexed image.
#include "image/core/CxImage.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

namespace {

// 256 distinct colours spread over the cube, none of them grey, so a search for a grey
// runs through the whole palette.
void SpreadPalette(CxImage& image)
{
    for (uint32_t i = 0; i < 256; i++)
        image.SetPaletteColor(i, uint8_t((i & 7) * 36 + 1), uint8_t(((i >> 3) & 7) * 36 + 2),
            uint8_t((i >> 6) * 85 + 3));
}

RGBQUAD Grey(uint32_t v) { return RGBQUAD { uint8_t(v), uint8_t(v), uint8_t(v), 0 }; }

void BM_FindNearestIndexCacheHit(benchmark::State& state)
{
    CxImage image(1, 1, 8);
    SpreadPalette(image);
    const RGBQUAD colour = Grey(128);
    for (auto _ : state)
        benchmark::DoNotOptimize(image.FindNearestIndex(colour));
}
BENCHMARK(BM_FindNearestIndexCacheHit);

void BM_FindNearestIndexCacheMiss(benchmark::State& state)
{
    CxImage image(1, 1, 8);
    SpreadPalette(image);
    // Alternating colours defeat the one-entry cache: every call searches 256 entries.
    const RGBQUAD colours[2] = { Grey(100), Grey(101) };
    uint32_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(image.FindNearestIndex(colours[i++ & 1]));
}
BENCHMARK(BM_FindNearestIndexCacheMiss);

// An 800 x 800 8-bit image written pixel by pixel with SetPixelColor. Flat: large areas of
// one colour (the common case, mostly cache hits). Noisy: a new colour at every pixel.
void BM_SetPixelColorIndexed800(benchmark::State& state)
{
    const bool noisy = state.range(0) != 0;
    CxImage image(800, 800, 8);
    SpreadPalette(image);
    std::vector<RGBQUAD> rows(800 * 800);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < 800; y++)
        for (int32_t x = 0; x < 800; x++) {
            seed = seed * 1103515245u + 12345u;
            rows[size_t(y) * 800 + x] = noisy
                ? RGBQUAD { uint8_t(seed >> 8), uint8_t(seed >> 16), uint8_t(seed >> 24), 0 }
                : Grey(uint32_t((x / 100) * 30 + (y / 200) * 5));
        }
    for (auto _ : state) {
        for (int32_t y = 0; y < 800; y++)
            for (int32_t x = 0; x < 800; x++)
                image.SetPixelColor(x, y, rows[size_t(y) * 800 + x]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 800 * 800);
    state.SetLabel(noisy ? "noisy" : "flat");
}
BENCHMARK(BM_SetPixelColorIndexed800)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
