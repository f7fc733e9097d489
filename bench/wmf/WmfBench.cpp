// What the child-process playback costs: a whole Decode (header checks, bitmap, fork,
// playback, read-back) against the enhanced-metafile player alone on the same raster,
// and a 16-bit metafile through libwmf.
#include "image/core/CxStream.h"
#include "image/formats/wmf/CxImageWMF.h"
#include "image/formats/wmf/EmfPlayer.h"
#include "image/formats/wmf/MetafileLayout.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadCorpus(const std::string& relative)
{
    std::ifstream in(std::string(BRIMVALE_TESTDATA_DIR) + "/" + relative, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void DecodeFile(benchmark::State& state, const char* relative, int32_t side)
{
    const std::vector<uint8_t> bytes = ReadCorpus(relative);
    for (auto _ : state) {
        CxMemStream stream(bytes.data(), bytes.size());
        CxImageWMF reader;
        if (!reader.Decode(&stream, side, side))
            state.SkipWithError(reader.GetLastError());
        benchmark::DoNotOptimize(reader.GetBits());
    }
}

void PlayInProcess(benchmark::State& state, const char* relative, int32_t side)
{
    const std::vector<uint8_t> bytes = ReadCorpus(relative);
    metafile::EnhancedHeader header;
    if (!metafile::CheckEnhancedMetafile(bytes.data(), bytes.size(), &header)) {
        state.SkipWithError("not an enhanced metafile");
        return;
    }
    std::vector<uint32_t> pixels(size_t(side) * side);
    for (auto _ : state) {
        std::fill(pixels.begin(), pixels.end(), 0x00FFFFFFu);
        metafile::PlayEnhancedMetafile(bytes.data(), header, pixels.data(), side, side);
        benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_DecodeEnhanced(benchmark::State& state)
{
    DecodeFile(state, "metafile/libemf2svg/test-033.emf", int32_t(state.range(0)));
}
void BM_PlayEnhancedInProcess(benchmark::State& state)
{
    PlayInProcess(state, "metafile/libemf2svg/test-033.emf", int32_t(state.range(0)));
}
void BM_DecodePlaceable(benchmark::State& state)
{
    DecodeFile(state, "metafile/gen/shapes.wmf", int32_t(state.range(0)));
}

} // namespace

BENCHMARK(BM_DecodeEnhanced)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayEnhancedInProcess)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePlaceable)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
