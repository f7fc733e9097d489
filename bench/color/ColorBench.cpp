// What a photo with an embedded colour profile costs beside one without: making the
// conversion (with its check for sRGB), and converting rows, against decoding the same
// JPEG. Items are pixels, so the rates of conversion and decoding compare directly.
#include "image/color/SrgbConversion.h"
#include "image/core/CxStream.h"
#include "image/formats/jpeg/CxImageJPG.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> CorpusBytes(const std::string& name)
{
    std::ifstream in(std::string(BRIMVALE_TESTDATA_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// A photo of the corpus decoded as stored, with its profile.
const CxImageJPG& Photo(const char* name)
{
    static std::map<std::string, std::unique_ptr<CxImageJPG>> photos;
    std::unique_ptr<CxImageJPG>& photo = photos[name];
    if (!photo) {
        photo = std::make_unique<CxImageJPG>();
        std::vector<uint8_t> bytes = CorpusBytes(name);
        CxMemStream stream(bytes.data(), bytes.size());
        photo->Decode(&stream);
    }
    return *photo;
}

const char* const WIDE_GAMUT = "jpeg/gen/plasma-prophoto.jpg";

void BM_MakeConversion(benchmark::State& state)
{
    // 0: the ProPhoto profile (converts); 1: an sRGB one (found to keep every colour).
    const std::vector<uint8_t>& profile
        = Photo(state.range(0) == 0 ? WIDE_GAMUT : "jpeg/gen/plasma-srgb-tagged.jpg")
              .GetIccProfile();
    for (auto _ : state) {
        SrgbConversion conversion(profile, false);
        benchmark::DoNotOptimize(conversion.Converts());
    }
}
BENCHMARK(BM_MakeConversion)->Arg(0)->Arg(1);

void BM_ConvertRows(benchmark::State& state)
{
    const CxImageJPG& photo = Photo(WIDE_GAMUT);
    const SrgbConversion conversion(photo.GetIccProfile(), false);
    const uint32_t width = uint32_t(photo.GetWidth());
    std::vector<uint8_t> row(size_t(width) * 3);
    int32_t y = 0;
    for (auto _ : state) {
        const uint8_t* source = photo.GetBits(uint32_t(y));
        std::copy(source, source + row.size(), row.begin());
        conversion.ConvertRow(row.data(), width);
        benchmark::ClobberMemory();
        y = (y + 1) % photo.GetHeight();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * width);
}
BENCHMARK(BM_ConvertRows);

void BM_DecodeJpeg(benchmark::State& state)
{
    std::vector<uint8_t> bytes = CorpusBytes(WIDE_GAMUT);
    int64_t pixels = 0;
    for (auto _ : state) {
        CxMemStream stream(bytes.data(), bytes.size());
        CxImageJPG photo;
        photo.Decode(&stream);
        pixels += int64_t(photo.GetWidth()) * photo.GetHeight();
    }
    state.SetItemsProcessed(pixels);
}
BENCHMARK(BM_DecodeJpeg);

} // namespace

BENCHMARK_MAIN();
