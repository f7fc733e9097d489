// How photos are read for their frames. Rows that stream straight into the reduction give
// the very bytes of reading the whole picture first: every file of the corpus, at photo
// sizes that reduce most of them by whole and by uneven factors, and files cut short.
// Fast decoding comes within a stated PSNR of the exact reading on the corpus JPEGs.
#include "app/Composition.h"
#include "app/PhotoPlan.h"
#include "image/core/CxImage.h"
#include "platform/DeviceBitmap.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> PixelRows(const CxImage& image)
{
    std::vector<uint8_t> bytes;
    const size_t rowBytes = size_t(image.GetWidth()) * 3;
    for (int32_t y = 0; y < image.GetHeight(); y++) {
        const uint8_t* row = image.GetBits(0) + size_t(y) * image.GetRowStride();
        bytes.insert(bytes.end(), row, row + rowBytes);
    }
    return bytes;
}

// Leaves freed heap memory full of one value, so that pixels a reader never writes would
// show it.
void SoilTheHeap(uint8_t value)
{
    for (size_t size : { size_t(60000), size_t(200000) }) {
        void* block = std::malloc(size);
        std::memset(block, value, size);
        std::free(block);
    }
}

// Reads the photo both ways and expects the same result; answers whether it streamed.
bool ExpectSameBothWays(const std::string& path, const ProjectSettings& settings)
{
    std::string bufferedError, streamedError;
    SoilTheHeap(0x00);
    const auto buffered = ReadReducedPhoto(path, settings, &bufferedError, PhotoReading::Buffered);
    SoilTheHeap(0xFF);
    const auto streamed = ReadReducedPhoto(path, settings, &streamedError, PhotoReading::Streamed);
    EXPECT_EQ(bool(buffered), bool(streamed)) << path;
    if (!buffered || !streamed) {
        EXPECT_EQ(bufferedError, streamedError) << path;
        return false;
    }
    EXPECT_EQ(streamed->GetWidth(), buffered->GetWidth()) << path;
    EXPECT_EQ(streamed->GetHeight(), buffered->GetHeight()) << path;
    EXPECT_EQ(PixelRows(*streamed), PixelRows(*buffered)) << path;
    return PlanPhoto(path, settings).streamed;
}

} // namespace

TEST(StreamedReading, EveryCorpusFileGivesTheBytesOfTheWholePicture)
{
    size_t streamed = 0;
    for (const std::string& path : bvtest::ListFiles(bvtest::TestDataDir())) {
        ProjectSettings settings;
        settings.photoSize = 45;
        streamed += ExpectSameBothWays(path, settings);
        // A second, uneven factor for the files whose rows stream.
        settings.photoSize = 16;
        if (PlanPhoto(path, settings).streamed)
            streamed += ExpectSameBothWays(path, settings);
    }
    // Most of the corpus is PNG; its non-interlaced grey and colour files, and every
    // JPEG, stream.
    EXPECT_GT(streamed, 150u);
}

TEST(StreamedReading, BackgroundPicturesStretchToTheBytesOfTheWholePicture)
{
    for (const char* name : { "jpeg/gen/plasma-q85-420.jpg", "jpeg/gen/grey.jpg",
             "jpeg/gen/plasma-cmyk.jpg", "jpeg/image-rs/progressive/3.jpg",
             "png/pngsuite/basn2c16.png", "png/pngsuite/basn0g08.png", "png/pngsuite/basi2c08.png",
             "png/pngsuite/basn6a08.png", "bmp/bmpsuite/g/rgb24.bmp" }) {
        // Shrunk on both sides, and enlarged on one.
        for (const auto& [width, height] : { std::pair(37, 23), std::pair(90, 700) }) {
            const auto streamed
                = StretchBackground(bvtest::TestData(name), width, height, PhotoReading::Streamed);
            const auto whole
                = StretchBackground(bvtest::TestData(name), width, height, PhotoReading::Buffered);
            ASSERT_TRUE(streamed && whole) << name;
            const size_t bytes = size_t(whole->Stride()) * size_t(height);
            EXPECT_EQ(std::memcmp(streamed->Bits(), whole->Bits(), bytes), 0) << name;
        }
    }
}

TEST(StreamedReading, APictureTooLargeToHoldIsRefusedEitherWay)
{
    // A PNG header declaring 16000 x 16000 colour pixels (768 MB), then an empty IDAT.
    const auto be32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(v >> shift));
    };
    std::vector<uint8_t> png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    const auto addChunk = [&](std::vector<uint8_t> chunk) {
        uint32_t crc = 0xFFFFFFFF;
        for (const uint8_t b : chunk) {
            crc ^= b;
            for (int k = 0; k < 8; k++)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        be32(png, uint32_t(chunk.size() - 4));
        png.insert(png.end(), chunk.begin(), chunk.end());
        be32(png, ~crc);
    };
    std::vector<uint8_t> header = { 'I', 'H', 'D', 'R' };
    be32(header, 16000);
    be32(header, 16000);
    header.insert(header.end(), { 8, 2, 0, 0, 0 });
    addChunk(header);
    addChunk({ 'I', 'D', 'A', 'T' });
    const std::string path = bvtest::MakeTempDir("streamed-huge") + "/huge.png";
    bvtest::WriteFileBytes(path, png);
    ProjectSettings settings;
    settings.photoSize = 45;
    ExpectSameBothWays(path, settings);
    std::string error;
    EXPECT_FALSE(ReadReducedPhoto(path, settings, &error));
    EXPECT_EQ(error, "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(StreamedReading, FilesCutShortGiveTheSameBytesWhateverTheHeapHeld)
{
    const std::string folder = bvtest::MakeTempDir("streamed-cut");
    for (const char* name :
        { "jpeg/gen/plasma-q85-420.jpg", "jpeg/gen/plasma-progressive.jpg",
            "jpeg/gen/plasma-restart1row.jpg", "jpeg/gen/grey.jpg", "png/pngsuite/basn2c08.png" }) {
        const std::vector<uint8_t> whole = bvtest::ReadFileBytes(bvtest::TestData(name));
        for (const size_t percent : { 30u, 60u, 90u }) {
            const std::string cut
                = folder + "/cut" + std::to_string(percent) + std::string(std::strrchr(name, '.'));
            bvtest::WriteFileBytes(cut,
                std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() * percent / 100));
            ProjectSettings settings;
            settings.photoSize = 45;
            ExpectSameBothWays(cut, settings);
        }
    }
}

namespace {

double Psnr(const CxImage& a, const CxImage& b)
{
    const std::vector<uint8_t> x = PixelRows(a), y = PixelRows(b);
    double squares = 0;
    for (size_t i = 0; i < x.size(); i++)
        squares += (double(x[i]) - y[i]) * (double(x[i]) - y[i]);
    return squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(x.size()) / squares);
}

} // namespace

TEST(FastDecoding, CorpusJpegsComeWithinAStatedPsnrOfTheExactReading)
{
    // Baseline 4:2:0, 4:2:2 and 4:4:4, progressive, optimised, restart markers, grey,
    // CMYK, Exif; a file cut in its scan data, and progressive files cut short here. At
    // photo sizes 16, 40 and 60 the 160 x 120 ones are read at 1/4, 1/2 and full scale,
    // the 650 x 470 progressive one at 1/8 (from its DC scans) and 1/4.
    std::vector<std::string> paths;
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData("jpeg"))) {
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".jpg") == 0)
            paths.push_back(path);
    }
    const std::string folder = bvtest::MakeTempDir("fast-cut");
    for (const char* name :
        { "jpeg/gen/plasma-progressive.jpg", "jpeg/image-rs/progressive/3.jpg" }) {
        const std::vector<uint8_t> whole = bvtest::ReadFileBytes(bvtest::TestData(name));
        for (const size_t percent : { 5u, 20u, 50u, 80u }) {
            paths.push_back(
                folder + "/cut" + std::to_string(percent) + "-" + (std::strrchr(name, '/') + 1));
            bvtest::WriteFileBytes(paths.back(),
                std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() * percent / 100));
        }
    }
    for (const std::string& path : paths) {
        for (const uint32_t photoSize : { 16u, 40u, 60u }) {
            ProjectSettings exact;
            exact.photoSize = photoSize;
            ProjectSettings fast = exact;
            fast.fastDecoding = true;
            std::string exactError, fastError;
            const auto a = ReadReducedPhoto(path, exact, &exactError);
            const auto b = ReadReducedPhoto(path, fast, &fastError);
            // A file that fails, or decodes partly, does so either way.
            ASSERT_EQ(bool(a), bool(b)) << path << ": " << exactError << " / " << fastError;
            if (!a) {
                EXPECT_EQ(exactError, fastError) << path;
                continue;
            }
            ASSERT_EQ(b->GetWidth(), a->GetWidth()) << path;
            ASSERT_EQ(b->GetHeight(), a->GetHeight()) << path;
            // Smooth pictures come out nearly the same; edges cut by the 8 x 8 blocks of
            // a scaled reading (the shapes, the textured photo) lose more.
            const bool smooth = path.find("plasma") != std::string::npos
                || path.find("grey") != std::string::npos;
            EXPECT_GE(Psnr(*a, *b), smooth ? 40.0 : 25.0) << path << " at " << photoSize;
        }
    }
}
