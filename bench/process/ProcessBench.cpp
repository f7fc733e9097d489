// The whole-image operations beside plain memory passes over the same buffers, so that
// their ratios (not the machine's speed) are what a run shows.
//
//   process_bench --benchmark_filter=Reduce   the area-averaging reduction of a photo,
//                                             whole and streamed
//   process_bench --benchmark_filter=800      bit-depth increase and quarter turns
#include "image/core/CxImage.h"
#include "image/process/CxAreaReduction.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

void FillNoise(CxImage& image)
{
    uint32_t state = 12345;
    uint8_t* p = image.GetBits(0);
    for (uint32_t i = 0; i < image.GetHeader().biSizeImage; i++) {
        state = state * 1664525u + 1013904223u;
        p[i] = uint8_t(state >> 24);
    }
}

const CxImage& Photo()
{
    static CxImage photo = [] {
        CxImage image(4000, 3000, 24);
        FillNoise(image);
        return CxImage(image);
    }();
    return photo;
}

// The floor: one read of every source byte, summing each channel.
void BM_Reduce_Floor_ChannelSums(benchmark::State& state)
{
    const CxImage& photo = Photo();
    for (auto _ : state) {
        uint64_t blue = 0, green = 0, red = 0;
        for (int32_t y = 0; y < photo.GetHeight(); y++) {
            const uint8_t* p = photo.GetBits(0) + size_t(y) * photo.GetRowStride();
            for (int32_t x = 0; x < photo.GetWidth(); x++, p += 3) {
                blue += p[0];
                green += p[1];
                red += p[2];
            }
        }
        benchmark::DoNotOptimize(blue);
        benchmark::DoNotOptimize(green);
        benchmark::DoNotOptimize(red);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * photo.GetHeader().biSizeImage);
}
BENCHMARK(BM_Reduce_Floor_ChannelSums)->Unit(benchmark::kMillisecond);

// A second floor, closer to the memory bandwidth: the same sums with the rows added
// column-wise in 16-bit lanes (which the compiler can do 16 bytes at a time) and folded
// into the channel totals every 257 rows.
void AddBytes(uint16_t* __restrict sums, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        for (size_t j = 0; j < 16; j++)
            sums[i + j] = uint16_t(sums[i + j] + row[i + j]);
    }
    for (; i < n; i++)
        sums[i] = uint16_t(sums[i] + row[i]);
}

void BM_Reduce_Floor_ChannelSumsWide(benchmark::State& state)
{
    const CxImage& photo = Photo();
    const size_t rowBytes = size_t(photo.GetWidth()) * 3;
    std::vector<uint16_t> sums(rowBytes);
    for (auto _ : state) {
        uint64_t totals[3] = { 0, 0, 0 };
        std::fill(sums.begin(), sums.end(), 0);
        for (int32_t y = 0; y < photo.GetHeight(); y++) {
            AddBytes(sums.data(), photo.GetBits(0) + size_t(y) * photo.GetRowStride(), rowBytes);
            if (y % 257 == 256 || y == photo.GetHeight() - 1) {
                for (size_t i = 0; i < rowBytes; i++)
                    totals[i % 3] += sums[i];
                std::fill(sums.begin(), sums.end(), 0);
            }
        }
        benchmark::DoNotOptimize(totals);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * photo.GetHeader().biSizeImage);
}
BENCHMARK(BM_Reduce_Floor_ChannelSumsWide)->Unit(benchmark::kMillisecond);

void BM_Reduce_AreaAverage(benchmark::State& state)
{
    CxImage& photo = const_cast<CxImage&>(Photo());
    const int32_t width = int32_t(state.range(0));
    const int32_t height = int32_t(state.range(1));
    for (auto _ : state) {
        CxImage result;
        photo.Resample(width, height, RM_AREA_AVERAGE, &result);
        benchmark::DoNotOptimize(result.GetBits(0));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * photo.GetHeader().biSizeImage);
}
BENCHMARK(BM_Reduce_AreaAverage)
    ->Args({ 120, 90 })
    ->Args({ 600, 450 })
    ->Unit(benchmark::kMillisecond);

// The same reduction fed one row at a time from the top, as a reader streams them.
void BM_Reduce_Streamed(benchmark::State& state)
{
    const CxImage& photo = Photo();
    CxImage result(uint32_t(state.range(0)), uint32_t(state.range(1)), 24);
    for (auto _ : state) {
        CxAreaReduction reduction(photo.GetWidth(), photo.GetHeight(), result);
        for (int32_t y = photo.GetHeight() - 1; y >= 0; y--)
            reduction.AddRow(y, photo.GetBits(0) + size_t(y) * photo.GetRowStride());
        reduction.Finish();
        benchmark::DoNotOptimize(result.GetBits(0));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * photo.GetHeader().biSizeImage);
}
BENCHMARK(BM_Reduce_Streamed)->Args({ 120, 90 })->Args({ 600, 450 })->Unit(benchmark::kMillisecond);

// The same reduction of rows that are in the cache, as a decoder hands them over: one
// source row fed as every row, so that the reduction's own work is what is timed.
void BM_Reduce_CachedRows(benchmark::State& state)
{
    const CxImage& photo = Photo();
    CxImage result(uint32_t(state.range(0)), uint32_t(state.range(1)), 24);
    const uint8_t* row = photo.GetBits(uint32_t(photo.GetHeight() / 2));
    for (auto _ : state) {
        CxAreaReduction reduction(photo.GetWidth(), photo.GetHeight(), result);
        for (int32_t y = photo.GetHeight() - 1; y >= 0; y--)
            reduction.AddRow(y, row);
        reduction.Finish();
        benchmark::DoNotOptimize(result.GetBits(0));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * photo.GetHeader().biSizeImage);
}
BENCHMARK(BM_Reduce_CachedRows)->Args({ 600, 450 })->Unit(benchmark::kMillisecond);

// --- 800 x 800 ---------------------------------------------------------------------------

const CxImage& Square(uint32_t bpp)
{
    static CxImage squares[3]
        = { CxImage(800, 800, 1), CxImage(800, 800, 8), CxImage(800, 800, 24) };
    CxImage& image = squares[bpp == 1 ? 0 : bpp == 8 ? 1 : 2];
    static bool filled = false;
    if (!filled) {
        for (CxImage& s : squares) {
            FillNoise(s);
            for (uint32_t i = 0; i < s.GetNumColors(); i++)
                s.SetPaletteColor(i, uint8_t(i), uint8_t(255 - i), uint8_t(i * 3));
        }
        filled = true;
    }
    return image;
}

// The floor: copying the 24-bit result's bytes once into a fresh buffer.
void BM_800_Floor_Copy24(benchmark::State& state)
{
    const CxImage& image = Square(24);
    const size_t bytes = image.GetHeader().biSizeImage;
    for (auto _ : state) {
        std::vector<uint8_t> copy(bytes);
        std::memcpy(copy.data(), image.GetBits(0), bytes);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_800_Floor_Copy24)->Unit(benchmark::kMicrosecond);

void BM_800_IncreaseBpp24_From8(benchmark::State& state)
{
    const CxImage& source = Square(8);
    for (auto _ : state) {
        state.PauseTiming();
        CxImage image(source);
        state.ResumeTiming();
        image.IncreaseBpp(24);
        benchmark::DoNotOptimize(image.GetBits(0));
    }
}
BENCHMARK(BM_800_IncreaseBpp24_From8)->Unit(benchmark::kMicrosecond);

void BM_800_Rotate(benchmark::State& state)
{
    CxImage& source = const_cast<CxImage&>(Square(uint32_t(state.range(0))));
    const bool left = state.range(1) != 0;
    for (auto _ : state) {
        CxImage result;
        if (left)
            source.RotateLeft(&result);
        else
            source.RotateRight(&result);
        benchmark::DoNotOptimize(result.GetBits(0));
    }
}
BENCHMARK(BM_800_Rotate)
    ->ArgNames({ "bpp", "left" })
    ->Args({ 24, 1 })
    ->Args({ 24, 0 })
    ->Args({ 8, 1 })
    ->Args({ 1, 1 })
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
