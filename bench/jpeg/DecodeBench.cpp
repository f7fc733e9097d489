// Our JPEG and PNG decodes of large photos side by side with a plain libjpeg / libpng
// loop over the same bytes in the same run; the closing lines give ours ÷ library.
// JpegOursEighthDc is fast decoding's read of a JPEG at 1/8 scale (a progressive one from
// its DC scans alone), beside the library's 1/8 of every scan.
//
// Photos: the wallpapers under /usr/share/backgrounds (Debian's lomiri-wallpapers) when
// present, else a 4000 x 3000 fractal plasma made with ImageMagick. PNG copies (RGB, and
// RGBA with a gradient alpha) are made with ImageMagick into the temporary folder.
#include "image/core/CxStream.h"
#include "image/formats/jpeg/CxImageJPG.h"
#include "image/formats/png/CxImagePNG.h"

#include <benchmark/benchmark.h>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <map>
#include <memory>
#include <png.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

bool Run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

struct Photo {
    std::string name;
    Bytes jpeg;
    Bytes pngRgb;
    Bytes pngRgba;
};

std::vector<Photo> LoadPhotos()
{
    const std::string work = (std::filesystem::temp_directory_path() / "bv-bench-jpeg").string();
    std::filesystem::create_directories(work);
    std::vector<std::string> sources;
    for (const char* name : { "aitzgorri_by_Aitzol_Berasategi.jpg", "Dragonfly_by_Bolly.jpg",
             "seeding_by_Clements_Engelhardt.jpg" }) {
        const std::string path = std::string("/usr/share/backgrounds/") + name;
        if (std::filesystem::exists(path))
            sources.push_back(path);
    }
    if (sources.empty()) {
        const std::string made = work + "/plasma-4000x3000.jpg";
        if (!std::filesystem::exists(made))
            Run("convert -size 4000x3000 -seed 7 plasma:fractal -quality 90 " + made);
        sources.push_back(made);
    }

    std::vector<Photo> photos;
    for (const std::string& source : sources) {
        Photo photo;
        photo.name = std::filesystem::path(source).stem().string().substr(0, 12);
        photo.jpeg = ReadBytes(source);
        const std::string rgb = work + "/" + photo.name + "-rgb.png";
        const std::string rgba = work + "/" + photo.name + "-rgba.png";
        if (!std::filesystem::exists(rgb))
            Run("convert " + source + " -strip PNG24:" + rgb);
        if (!std::filesystem::exists(rgba))
            Run("convert " + source + " -strip \\( +clone -colorspace gray \\) -alpha off "
                + "-compose copy_opacity -composite PNG32:" + rgba);
        photo.pngRgb = ReadBytes(rgb);
        photo.pngRgba = ReadBytes(rgba);
        photos.push_back(std::move(photo));
    }
    return photos;
}

std::vector<Photo>& Photos()
{
    static std::vector<Photo> photos = LoadPhotos();
    return photos;
}

// --- JPEG ---------------------------------------------------------------------------

void OursJpeg(benchmark::State& state, const Bytes* bytes)
{
    for (auto _ : state) {
        CxMemStream stream(bytes->data(), bytes->size());
        CxImageJPG image;
        if (!image.Decode(&stream))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(image.GetBits());
    }
}

// Ours at 1/8 scale, a progressive file read only as far as its DC scans (fast decoding).
void OursJpegEighthDc(benchmark::State& state, const Bytes* bytes)
{
    for (auto _ : state) {
        CxMemStream stream(bytes->data(), bytes->size());
        CxImageJPG image;
        image.SetJpegReduction(8);
        image.SetFormatOption(CXIMAGE_JPEG_DC_SCANS_ONLY, CXIMAGE_FORMAT_JPG);
        if (!image.Decode(&stream))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(image.GetBits());
    }
}

// The plain library loop: memory source, default output (RGB), one scanline at a time into
// one buffer for the whole picture; at 1/scale of the size.
void LibraryJpegScaled(benchmark::State& state, const Bytes* bytes, unsigned scale)
{
    for (auto _ : state) {
        jpeg_decompress_struct cinfo {};
        jpeg_error_mgr error {};
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, bytes->data(), static_cast<unsigned long>(bytes->size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.scale_denom = scale;
        jpeg_start_decompress(&cinfo);
        const size_t stride = size_t(cinfo.output_width) * cinfo.output_components;
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * cinfo.output_height]);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.get() + stride * cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.get());
    }
}

void LibraryJpeg(benchmark::State& state, const Bytes* bytes)
{
    LibraryJpegScaled(state, bytes, 1);
}
void LibraryJpegEighthDc(benchmark::State& state, const Bytes* bytes)
{
    LibraryJpegScaled(state, bytes, 8);
}

// --- PNG ----------------------------------------------------------------------------

void OursPng(benchmark::State& state, const Bytes* bytes)
{
    for (auto _ : state) {
        CxMemStream stream(bytes->data(), bytes->size());
        CxImagePNG image;
        if (!image.Decode(&stream))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(image.GetBits());
    }
}

struct MemoryReader {
    const Bytes* bytes;
    size_t position;
};

void ReadMemory(png_structp png, png_bytep data, size_t length)
{
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->position + length > reader->bytes->size())
        png_error(png, "Read Error");
    std::memcpy(data, reader->bytes->data() + reader->position, length);
    reader->position += length;
}

bool DecodeWithLibpng(png_structp png, png_infop info, MemoryReader* reader, uint8_t** pixels)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, reader, ReadMemory);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_expand(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    *pixels = new uint8_t[rowBytes * height];
    for (uint32_t y = 0; y < height; y++)
        png_read_row(png, *pixels + rowBytes * y, nullptr);
    png_read_end(png, nullptr);
    return true;
}

// The plain library loop: read callback over memory, 8-bit samples as stored, row by row
// into one buffer for the whole picture.
void LibraryPng(benchmark::State& state, const Bytes* bytes)
{
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        MemoryReader reader { bytes, 0 };
        uint8_t* pixels = nullptr;
        if (!DecodeWithLibpng(png, info, &reader, &pixels))
            state.SkipWithError("libpng failed");
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels);
        delete[] pixels;
    }
}

// Prints the usual table, then ours ÷ library for every pair.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions only the medians count; the machine is shared, so the
            // process's own CPU time is compared rather than the wall time.
            if (run.error_occurred || run.iterations == 0)
                continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            std::string name = run.benchmark_name();
            const std::string::size_type suffix = name.find("_median");
            if (suffix != std::string::npos)
                name.erase(suffix);
            if (run.run_type == Run::RT_Aggregate || !times.count(name))
                times[name] = run.GetAdjustedCPUTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nours / library (CPU time, median of the repetitions):\n");
        for (const auto& [name, time] : times) {
            const std::string::size_type at = name.find("Ours");
            if (at == std::string::npos)
                continue;
            std::string library = name;
            library.replace(at, 4, "Library");
            const auto match = times.find(library);
            if (match != times.end())
                std::printf(
                    "  %-40s %.3f\n", std::string(name).erase(at, 4).c_str(), time / match->second);
        }
    }

private:
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    for (const Photo& photo : Photos()) {
        // Interleaved so that both sides see the same machine load.
        benchmark::RegisterBenchmark(("JpegOurs/" + photo.name).c_str(), OursJpeg, &photo.jpeg)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("JpegLibrary/" + photo.name).c_str(), LibraryJpeg, &photo.jpeg)
            ->Unit(benchmark::kMillisecond);
        // Fast decoding's 1/8 against the library's 1/8 of every scan.
        benchmark::RegisterBenchmark(
            ("JpegOursEighthDc/" + photo.name).c_str(), OursJpegEighthDc, &photo.jpeg)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("JpegLibraryEighthDc/" + photo.name).c_str(), LibraryJpegEighthDc, &photo.jpeg)
            ->Unit(benchmark::kMillisecond);
        if (!photo.pngRgb.empty()) {
            benchmark::RegisterBenchmark(
                ("PngOurs/rgb-" + photo.name).c_str(), OursPng, &photo.pngRgb)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(
                ("PngLibrary/rgb-" + photo.name).c_str(), LibraryPng, &photo.pngRgb)
                ->Unit(benchmark::kMillisecond);
        }
        if (!photo.pngRgba.empty()) {
            benchmark::RegisterBenchmark(
                ("PngOurs/rgba-" + photo.name).c_str(), OursPng, &photo.pngRgba)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(
                ("PngLibrary/rgba-" + photo.name).c_str(), LibraryPng, &photo.pngRgba)
                ->Unit(benchmark::kMillisecond);
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
