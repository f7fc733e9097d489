// The TIFF reader on pages written here with libtiff (or by hand where libtiff would
// refuse to write them), read back through a memory stream.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/tiff/CxImageTIF.h"
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

// Writes one page with libtiff: `setup` sets the fields, the rows come from `pixels`
// (one strip), and the file's bytes are returned.
std::vector<uint8_t> WriteTiff(
    const std::function<void(TIFF*)>& setup, const std::vector<uint8_t>& pixels, bool tiled = false)
{
    const std::string dir = bvtest::MakeTempDir("bv-tiff");
    const std::string path = dir + "/page.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    setup(tif);
    if (tiled) {
        const tmsize_t tileSize = TIFFTileSize(tif);
        for (size_t offset = 0, tile = 0; offset < pixels.size();
             offset += size_t(tileSize), tile++)
            TIFFWriteEncodedTile(
                tif, uint32_t(tile), const_cast<uint8_t*>(pixels.data() + offset), tileSize);
    } else {
        TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(pixels.data()), tmsize_t(pixels.size()));
    }
    TIFFClose(tif);
    std::vector<uint8_t> bytes = bvtest::ReadFileBytes(path);
    std::filesystem::remove_all(dir);
    return bytes;
}

// The same with one strip per sample plane (planar configuration 2).
std::vector<uint8_t> WritePlanarTiff(
    const std::function<void(TIFF*)>& setup, const std::vector<std::vector<uint8_t>>& planes)
{
    const std::string dir = bvtest::MakeTempDir("bv-tiff");
    const std::string path = dir + "/planar.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    setup(tif);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    for (size_t plane = 0; plane < planes.size(); plane++)
        TIFFWriteEncodedStrip(tif, uint32_t(plane), const_cast<uint8_t*>(planes[plane].data()),
            tmsize_t(planes[plane].size()));
    TIFFClose(tif);
    std::vector<uint8_t> bytes = bvtest::ReadFileBytes(path);
    std::filesystem::remove_all(dir);
    return bytes;
}

void SetBasics(TIFF* tif, uint32_t width, uint32_t height, uint16_t samples, uint16_t bits,
    uint16_t photometric)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
}

struct Decoded {
    bool ok;
    std::string error;
};

Decoded DecodeBytes(CxImageTIF& image, const std::vector<uint8_t>& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    const bool ok = image.Decode(&stream);
    return { ok, image.GetLastError() };
}

// A little-endian TIFF with one directory of SHORT/LONG entries, for declarations libtiff
// would not write. Entries are (tag, type, value); strip data follows the directory.
std::vector<uint8_t> HandMadeTiff(std::vector<std::array<uint32_t, 3>> entries)
{
    std::vector<uint8_t> bytes = { 'I', 'I', 42, 0, 8, 0, 0, 0 };
    auto Put16 = [&](uint32_t v) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    };
    auto Put32 = [&](uint32_t v) {
        Put16(v & 0xFFFF);
        Put16(v >> 16);
    };
    Put16(uint32_t(entries.size()));
    for (const auto& entry : entries) {
        Put16(entry[0]);
        Put16(entry[1]);
        Put32(1);
        Put32(entry[2]);
    }
    Put32(0);
    bytes.resize(bytes.size() + 64, 0x55);
    return bytes;
}

int32_t AlwaysEscape(CxImage*, uint32_t) { return 1; }

uint32_t escapeQuestions = 0;

int32_t EscapeAfterFirstQuestion(CxImage*, uint32_t) { return escapeQuestions++ > 0; }

} // namespace

TEST(TiffReader, CielabPixelsBecomeSrgb)
{
    const std::vector<uint8_t> lab = { 255, 0, 0, 0, 0, 0, 128, 0, 0 };
    const auto bytes
        = WriteTiff([](TIFF* tif) { SetBasics(tif, 3, 1, 3, 8, PHOTOMETRIC_CIELAB); }, lab);
    CxImageTIF image;
    ASSERT_TRUE(DecodeBytes(image, bytes).ok) << image.GetLastError();
    ASSERT_EQ(image.GetBpp(), 24);
    const RGBQUAD expected[3] = { { 254, 254, 255, 0 }, { 8, 8, 8, 0 }, { 119, 119, 119, 0 } };
    for (int x = 0; x < 3; x++) {
        const RGBQUAD c = image.GetPixelColor(x, 0, false);
        EXPECT_EQ(c.rgbRed, expected[x].rgbRed) << x;
        EXPECT_EQ(c.rgbGreen, expected[x].rgbGreen) << x;
        EXPECT_EQ(c.rgbBlue, expected[x].rgbBlue) << x;
    }
}

TEST(TiffReader, PlanarCielabAndGreyWithAlpha)
{
    const auto lab
        = WritePlanarTiff([](TIFF* tif) { SetBasics(tif, 2, 1, 3, 8, PHOTOMETRIC_CIELAB); },
            { { 255, 128 }, { 0, 0 }, { 0, 0 } });
    CxImageTIF colour;
    ASSERT_TRUE(DecodeBytes(colour, lab).ok) << colour.GetLastError();
    EXPECT_EQ(colour.GetPixelColor(0, 0, false).rgbRed, 255);
    EXPECT_EQ(colour.GetPixelColor(0, 0, false).rgbBlue, 254);
    EXPECT_EQ(colour.GetPixelColor(1, 0, false).rgbGreen, 119);

    const auto greyAlpha = WritePlanarTiff(
        [](TIFF* tif) {
            SetBasics(tif, 2, 1, 2, 8, PHOTOMETRIC_MINISBLACK);
            const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        },
        { { 40, 50 }, { 255, 7 } });
    CxImageTIF grey;
    ASSERT_TRUE(DecodeBytes(grey, greyAlpha).ok) << grey.GetLastError();
    EXPECT_EQ(grey.GetPixelIndex(1, 0), 50);
    EXPECT_EQ(grey.GetAlpha(0, 0), 255);
    EXPECT_EQ(grey.GetAlpha(1, 0), 7);
}

TEST(TiffReader, MinIsWhiteFaxPageHasWhiteEntryZero)
{
    CxImage image(bvtest::TestData("tiff/gen/bw-g4.tif").c_str(), CXIMAGE_FORMAT_TIF);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 1);
    EXPECT_EQ(image.GetPaletteColor(0).rgbRed, 255);
    EXPECT_EQ(image.GetPaletteColor(1).rgbRed, 0);
    EXPECT_EQ(image.GetFormatOption(CXIMAGE_FORMAT_TIF), uint32_t(COMPRESSION_CCITTFAX4));
}

TEST(TiffReader, SixteenBitGreyKeepsTheHighByte)
{
    std::vector<uint8_t> samples(4 * 2);
    const uint16_t values[4] = { 0x0000, 0x12FF, 0x8001, 0xFFFF };
    std::memcpy(samples.data(), values, sizeof(values));
    const auto bytes = WriteTiff(
        [](TIFF* tif) { SetBasics(tif, 4, 1, 1, 16, PHOTOMETRIC_MINISBLACK); }, samples);
    CxImageTIF image;
    ASSERT_TRUE(DecodeBytes(image, bytes).ok) << image.GetLastError();
    ASSERT_EQ(image.GetBpp(), 8);
    EXPECT_TRUE(image.IsGreyRamp());
    EXPECT_EQ(image.GetPixelIndex(0, 0), 0x00);
    EXPECT_EQ(image.GetPixelIndex(1, 0), 0x12);
    EXPECT_EQ(image.GetPixelIndex(2, 0), 0x80);
    EXPECT_EQ(image.GetPixelIndex(3, 0), 0xFF);
}

TEST(TiffReader, SixteenBitRgbKeepsTheHighBytes)
{
    // The corpus reference of this file is brightened by its maker; compare with the
    // samples themselves (libtiff rounds 16 to 8 bits, so allow one step).
    const std::string path = bvtest::TestData("tiff/image-rs/rgb-3c-16b.tiff");
    CxImage image(path.c_str(), CXIMAGE_FORMAT_TIF);
    ASSERT_TRUE(image.IsValid()) << image.GetLastError();
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint16_t> line(size_t(TIFFScanlineSize(tif)) / 2);
    int worst = 0;
    for (uint32_t row = 0; row < uint32_t(image.GetHeight()); row++) {
        TIFFReadScanline(tif, line.data(), row, 0);
        for (int32_t x = 0; x < image.GetWidth(); x++) {
            const RGBQUAD c = image.GetPixelColor(x, image.GetHeight() - 1 - int32_t(row), false);
            worst = std::max({ worst, std::abs(c.rgbRed - (line[3 * x] >> 8)),
                std::abs(c.rgbGreen - (line[3 * x + 1] >> 8)),
                std::abs(c.rgbBlue - (line[3 * x + 2] >> 8)) });
        }
    }
    TIFFClose(tif);
    EXPECT_LE(worst, 1);
}

TEST(TiffReader, ColourMapsOfSixteenAndEightBits)
{
    std::vector<uint16_t> red(16), green(16), blue(16);
    for (uint16_t i = 0; i < 16; i++) {
        red[i] = uint16_t(i * 4369);
        green[i] = uint16_t(65535 - i * 4369);
        blue[i] = 0x8080;
    }
    const std::vector<uint8_t> pixels = { 0x0F, 0x5A };
    auto bytes = WriteTiff(
        [&](TIFF* tif) {
            SetBasics(tif, 4, 1, 1, 4, PHOTOMETRIC_PALETTE);
            TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        },
        pixels);
    CxImageTIF wide;
    ASSERT_TRUE(DecodeBytes(wide, bytes).ok) << wide.GetLastError();
    ASSERT_EQ(wide.GetBpp(), 4);
    EXPECT_EQ(wide.GetPaletteColor(15).rgbRed, 255);
    EXPECT_EQ(wide.GetPaletteColor(5).rgbRed, 85);
    EXPECT_EQ(wide.GetPaletteColor(5).rgbGreen, 170);
    EXPECT_EQ(wide.GetPaletteColor(5).rgbBlue, 0x8080 * 255 / 65535);
    EXPECT_EQ(wide.GetPixelIndex(1, 0), 15);
    EXPECT_EQ(wide.GetPixelIndex(2, 0), 5);

    // A map whose values all fit a byte is taken as 8-bit values.
    for (uint16_t i = 0; i < 16; i++)
        red[i] = green[i] = blue[i] = uint16_t(i * 10);
    bytes = WriteTiff(
        [&](TIFF* tif) {
            SetBasics(tif, 4, 1, 1, 4, PHOTOMETRIC_PALETTE);
            TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        },
        pixels);
    CxImageTIF narrow;
    ASSERT_TRUE(DecodeBytes(narrow, bytes).ok) << narrow.GetLastError();
    EXPECT_EQ(narrow.GetPaletteColor(15).rgbRed, 150);
}

TEST(TiffReader, ResolutionInCentimetresAndPosition)
{
    const auto bytes = WriteTiff(
        [](TIFF* tif) {
            SetBasics(tif, 2, 2, 1, 8, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, 118.0f);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, 40.0f);
            TIFFSetField(tif, TIFFTAG_XPOSITION, 2.75f);
            TIFFSetField(tif, TIFFTAG_YPOSITION, 1.25f);
        },
        std::vector<uint8_t>(4, 9));
    CxImageTIF image;
    ASSERT_TRUE(DecodeBytes(image, bytes).ok) << image.GetLastError();
    EXPECT_EQ(image.GetXDPI(), 300); // 118 x 2.54 + 0.5 = 300.22
    EXPECT_EQ(image.GetYDPI(), 102); // 40 x 2.54 + 0.5 = 102.1
    int32_t x = 0, y = 0;
    image.GetOffset(&x, &y);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 1);
}

TEST(TiffReader, GreyWithAlphaAndTiledGrey)
{
    const std::vector<uint8_t> greyAlpha = { 10, 255, 20, 128, 30, 0 };
    auto bytes = WriteTiff(
        [](TIFF* tif) {
            SetBasics(tif, 3, 1, 2, 8, PHOTOMETRIC_MINISBLACK);
            const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        },
        greyAlpha);
    CxImageTIF withAlpha;
    ASSERT_TRUE(DecodeBytes(withAlpha, bytes).ok) << withAlpha.GetLastError();
    ASSERT_TRUE(withAlpha.HasAlpha());
    EXPECT_EQ(withAlpha.GetPixelIndex(1, 0), 20);
    EXPECT_EQ(withAlpha.GetAlpha(1, 0), 128);
    EXPECT_EQ(withAlpha.GetAlpha(2, 0), 0);

    // 40 x 20 in 16 x 16 tiles: the right and bottom tiles are partly outside the page.
    const uint32_t width = 40, height = 20, tileSide = 16;
    std::vector<uint8_t> tiles;
    for (uint32_t ty = 0; ty < 2; ty++)
        for (uint32_t tx = 0; tx < 3; tx++)
            for (uint32_t y = 0; y < tileSide; y++)
                for (uint32_t x = 0; x < tileSide; x++)
                    tiles.push_back(uint8_t((tx * tileSide + x) + 3 * (ty * tileSide + y)));
    bytes = WriteTiff(
        [&](TIFF* tif) {
            SetBasics(tif, width, height, 1, 8, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, tileSide);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, tileSide);
        },
        tiles, true);
    CxImageTIF tiled;
    ASSERT_TRUE(DecodeBytes(tiled, bytes).ok) << tiled.GetLastError();
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++)
            ASSERT_EQ(tiled.GetPixelIndex(int32_t(x), int32_t(height - 1 - y)), uint8_t(x + 3 * y))
                << x << "," << y;
}

TEST(TiffReader, OnlyColourPagesWithAFourthSampleGetAlpha)
{
    CxImage rgba(bvtest::TestData("tiff/gen/rgba-lzw.tif").c_str(), CXIMAGE_FORMAT_TIF);
    ASSERT_TRUE(rgba.IsValid()) << rgba.GetLastError();
    EXPECT_TRUE(rgba.HasAlpha());
    CxImage cmyk(bvtest::TestData("tiff/gen/cmyk.tif").c_str(), CXIMAGE_FORMAT_TIF);
    ASSERT_TRUE(cmyk.IsValid()) << cmyk.GetLastError();
    EXPECT_EQ(cmyk.GetBpp(), 24);
    EXPECT_FALSE(cmyk.HasAlpha());
}

TEST(TiffReader, PageBeyondTheLastFails)
{
    CxImage image;
    image.SetFrame(4);
    EXPECT_FALSE(
        image.Load(bvtest::TestData("tiff/gen/multipage-4.tif").c_str(), CXIMAGE_FORMAT_TIF));
    EXPECT_STREQ(image.GetLastError(), "Error: page not present in TIFF file");
    EXPECT_EQ(image.GetNumFrames(), 4);
}

TEST(TiffReader, TruncatedStripFails)
{
    auto bytes = WriteTiff([](TIFF* tif) { SetBasics(tif, 16, 16, 1, 8, PHOTOMETRIC_MINISBLACK); },
        std::vector<uint8_t>(256, 7));
    // Point the strip at the last bytes of the file, so that most of it is missing.
    const uint32_t ifd = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t(bytes[7]) << 24;
    const uint16_t count = uint16_t(bytes[ifd] | bytes[ifd + 1] << 8);
    bool patched = false;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t* entry = &bytes[ifd + 2 + 12 * i];
        if ((entry[0] | entry[1] << 8) == TIFFTAG_STRIPOFFSETS) {
            const uint32_t offset = uint32_t(bytes.size() - 20);
            std::memcpy(entry + 8, &offset, 4);
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    CxImageTIF image;
    const Decoded result = DecodeBytes(image, bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind("Corrupted TIFF file!", 0), 0u) << result.error;
}

TEST(TiffReader, HugeDeclarationsFailAtOnce)
{
    auto Declare = [](uint32_t width, uint32_t height, uint16_t samples, uint16_t photometric) {
        return HandMadeTiff({ { TIFFTAG_IMAGEWIDTH, TIFF_LONG, width },
            { TIFFTAG_IMAGELENGTH, TIFF_LONG, height }, { TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 8 },
            { TIFFTAG_PHOTOMETRIC, TIFF_SHORT, photometric },
            { TIFFTAG_STRIPOFFSETS, TIFF_LONG, 8 },
            { TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, samples },
            { TIFFTAG_ROWSPERSTRIP, TIFF_LONG, height },
            { TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 64 } });
    };
    const auto start = std::chrono::steady_clock::now();
    CxImageTIF grey;
    Decoded result = DecodeBytes(grey, Declare(60000, 60000, 1, PHOTOMETRIC_MINISBLACK));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "CxImageTIF can't create image");
    CxImageTIF rgb;
    result = DecodeBytes(rgb, Declare(60000, 60000, 3, PHOTOMETRIC_RGB));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "CxImageTIF can't create image");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // The 24-bit picture fits the memory limit, its 32-bit RGBA raster does not.
    CxImageTIF raster;
    result = DecodeBytes(raster, Declare(9000, 9000, 3, PHOTOMETRIC_RGB));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "No space for raster buffer");
}

TEST(TiffReader, NotATiffFailsToOpen)
{
    const std::vector<uint8_t> bytes
        = bvtest::ReadFileBytes(bvtest::TestData("pnm/gen/grey-p5.pgm"));
    CxImageTIF image;
    const Decoded result = DecodeBytes(image, bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind("Error encountered while opening TIFF file", 0), 0u)
        << result.error;
}

TEST(TiffReader, EscapeCallbackAsksForDimensionsOrCancels)
{
    const auto bytes = bvtest::ReadFileBytes(bvtest::TestData("tiff/gen/grey8.tif"));
    CxImageTIF query;
    query.SetEscapeCallback(AlwaysEscape);
    EXPECT_TRUE(DecodeBytes(query, bytes).ok);
    EXPECT_STREQ(query.GetLastError(), "output dimensions returned");
    EXPECT_GT(query.GetWidth(), 0);
    EXPECT_GT(query.GetHeight(), 0);
    EXPECT_FALSE(query.IsValid());

    // Cancelled after the header: a failure, not a half-read success.
    CxImageTIF cancelled;
    escapeQuestions = 0;
    cancelled.SetEscapeCallback(EscapeAfterFirstQuestion);
    EXPECT_FALSE(DecodeBytes(cancelled, bytes).ok);
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}
