// The format dispatch: extension table, probing with the stream rewound between readers,
// typed decodes without fallback, and Load's handling of the error text.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char* const UNKNOWN = "Decode: Unknown or wrong format";

// A file of the corpus behind `prefix` junk bytes, so that a stream can start mid-buffer.
std::vector<uint8_t> WithPrefix(const std::string& relative, size_t prefix)
{
    std::vector<uint8_t> bytes(prefix, 0xEE);
    const std::vector<uint8_t> file = bvtest::ReadFileBytes(bvtest::TestData(relative));
    bytes.insert(bytes.end(), file.begin(), file.end());
    return bytes;
}

TEST(FormatExtension, FollowsTheTableInOrder)
{
    struct Case {
        const char* name;
        uint32_t type;
    };
    const Case cases[] = {
        { "photo.bmp", CXIMAGE_FORMAT_BMP },
        { "PHOTO.JPEG", CXIMAGE_FORMAT_JPG },
        { "photo.Jpg", CXIMAGE_FORMAT_JPG },
        { "anim.v2.gif", CXIMAGE_FORMAT_GIF },
        { "a.png", CXIMAGE_FORMAT_PNG },
        { "a.ico", CXIMAGE_FORMAT_ICO },
        { "a.tif", CXIMAGE_FORMAT_TIF },
        { "a.TIFF", CXIMAGE_FORMAT_TIF },
        { "a.tga", CXIMAGE_FORMAT_TGA },
        { "a.pcx", CXIMAGE_FORMAT_PCX },
        { "a.wbmp", CXIMAGE_FORMAT_WBMP },
        { "a.wmf", CXIMAGE_FORMAT_WMF },
        { "a.emf", CXIMAGE_FORMAT_WMF },
        { "a.j2k", CXIMAGE_FORMAT_J2K },
        { "a.jp2", CXIMAGE_FORMAT_J2K }, // no extension gives 13
        { "a.jbg", CXIMAGE_FORMAT_JBG },
        { "a.jpc", CXIMAGE_FORMAT_JPC },
        { "a.j2c", CXIMAGE_FORMAT_JPC },
        { "a.pgx", CXIMAGE_FORMAT_PGX },
        { "a.ras", CXIMAGE_FORMAT_RAS },
        { "a.pnm", CXIMAGE_FORMAT_PNM },
        { "a.pgm", CXIMAGE_FORMAT_PNM },
        { "a.ppm", CXIMAGE_FORMAT_PNM },
        { "a.cur", CXIMAGE_FORMAT_UNKNOWN },
        { "a.", CXIMAGE_FORMAT_UNKNOWN },
        { "README", CXIMAGE_FORMAT_UNKNOWN },
        // Without a dot the whole name is the extension.
        { "bmp", CXIMAGE_FORMAT_BMP },
        { "dir.png/file", CXIMAGE_FORMAT_UNKNOWN },
        { "a.bmp.txt", CXIMAGE_FORMAT_UNKNOWN },
    };
    for (const Case& c : cases)
        EXPECT_EQ(CxImage::GetTypeFromExtension(c.name), c.type) << c.name;
    EXPECT_EQ(CxImage::GetTypeFromExtension(nullptr), CXIMAGE_FORMAT_UNKNOWN);
}

TEST(FormatProbe, RewindsToTheStartPositionBeforeEachReader)
{
    // The BMP reader reads and fails first on both; the icon and TGA readers must then see
    // the file from where the stream stood, not from offset 0 or where BMP stopped.
    const struct {
        const char* file;
        uint32_t type;
    } cases[] = {
        { "ico/gen/plasma-32-8bit.ico", CXIMAGE_FORMAT_ICO },
        { "tga/gen/plasma-t2-24.tga", CXIMAGE_FORMAT_TGA },
        { "wbmp/gen/bw.wbmp", CXIMAGE_FORMAT_WBMP },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> bytes = WithPrefix(c.file, 7);
        CxMemStream stream(bytes.data(), bytes.size());
        ASSERT_TRUE(stream.Seek(7, SEEK_SET));
        CxImage probed;
        ASSERT_TRUE(probed.Decode(&stream, CXIMAGE_FORMAT_UNKNOWN)) << probed.GetLastError();
        EXPECT_EQ(probed.GetType(), c.type);

        CxImage typed(bvtest::TestData(c.file).c_str(), c.type);
        ASSERT_TRUE(typed.IsValid());
        EXPECT_EQ(probed.GetWidth(), typed.GetWidth());
        EXPECT_EQ(probed.GetHeight(), typed.GetHeight());
        EXPECT_EQ(probed.GetPixelColor(3, 5).rgbRed, typed.GetPixelColor(3, 5).rgbRed);
    }
}

TEST(FormatProbe, AllReadersFailingGivesOneText)
{
    const std::string junk = "this is plainly not a picture of any kind, just some text";
    CxMemStream stream(junk.data(), junk.size());
    CxImage image;
    EXPECT_FALSE(image.Decode(&stream, CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_STREQ(image.GetLastError(), UNKNOWN);
    EXPECT_FALSE(image.IsValid());
}

TEST(FormatDecode, TypedDecodeKeepsTheReadersTextAndNeverProbes)
{
    // A valid TGA handed to the BMP reader fails with that reader's text.
    const std::vector<uint8_t> bytes
        = bvtest::ReadFileBytes(bvtest::TestData("tga/gen/plasma-t2-24.tga"));
    CxMemStream stream(bytes.data(), bytes.size());
    CxImage image;
    EXPECT_FALSE(image.Decode(&stream, CXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "Error reading BMP info");
    EXPECT_FALSE(image.IsValid());

    CxMemStream again(bytes.data(), bytes.size());
    EXPECT_FALSE(image.Decode(&again, CXIMAGE_FORMAT_PCX));
    EXPECT_STREQ(image.GetLastError(), "Error: Not a PCX file");
}

TEST(FormatDecode, OnlyTheMatchingReaderAcceptsAFile)
{
    const std::vector<uint8_t> bytes
        = bvtest::ReadFileBytes(bvtest::TestData("tga/gen/plasma-t2-24.tga"));
    for (uint32_t type = 1; type < CMAX_IMAGE_FORMATS; type++) {
        CxMemStream stream(bytes.data(), bytes.size());
        CxImage image;
        EXPECT_EQ(image.Decode(&stream, type), type == CXIMAGE_FORMAT_TGA) << type;
    }
}

TEST(FormatDecode, FailedIconDecodeCopiesTheFrameCountAndKeepsTheText)
{
    const std::vector<uint8_t> bytes
        = bvtest::ReadFileBytes(bvtest::TestData("ico/gen/multi-4-8-32bit.ico"));
    CxMemStream stream(bytes.data(), bytes.size());
    CxImage image;
    image.SetLastError("earlier text");
    image.SetFrame(3);
    EXPECT_FALSE(image.Decode(&stream, CXIMAGE_FORMAT_ICO));
    EXPECT_EQ(image.GetNumFrames(), 3);
    EXPECT_STREQ(image.GetLastError(), "earlier text");

    CxMemStream second(bytes.data(), bytes.size());
    image.SetFrame(1);
    ASSERT_TRUE(image.Decode(&second, CXIMAGE_FORMAT_ICO));
    EXPECT_EQ(image.GetNumFrames(), 3);
    EXPECT_EQ(image.GetWidth(), 32);
}

TEST(FormatDecode, IdsPastTheTableFailAtOnce)
{
    const std::vector<uint8_t> bytes
        = bvtest::ReadFileBytes(bvtest::TestData("bmp/bmpsuite/g/pal8.bmp"));
    for (const uint32_t type : { uint32_t(CMAX_IMAGE_FORMATS), 200u, 0xFFFFFFFFu }) {
        CxMemStream stream(bytes.data(), bytes.size());
        CxImage image;
        EXPECT_FALSE(image.Decode(&stream, type));
        EXPECT_STREQ(image.GetLastError(), UNKNOWN);
        EXPECT_EQ(stream.Tell(), 0) << "a reader ran for id " << type;
    }
    CxImage image;
    EXPECT_FALSE(image.Decode(static_cast<CxStream*>(nullptr), CXIMAGE_FORMAT_BMP));
}

TEST(FormatDecode, FailureLeavesThePreviousPictureAndSuccessReplacesIt)
{
    CxImage image(bvtest::TestData("bmp/bmpsuite/g/pal8.bmp").c_str(), 0);
    ASSERT_TRUE(image.IsValid());
    const std::string junk(200, 'x');
    CxMemStream stream(junk.data(), junk.size());
    EXPECT_FALSE(image.Decode(&stream, CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_TRUE(image.IsValid());
    EXPECT_EQ(image.GetWidth(), 127);
    EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_BMP);

    EXPECT_TRUE(image.Load(bvtest::TestData("wbmp/gen/bw.wbmp").c_str(), 0));
    EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_WBMP);
    EXPECT_EQ(image.GetBpp(), 1);
}

TEST(FormatLoad, HighIdsProbeAndRestoreTheErrorText)
{
    const std::string dir = bvtest::MakeTempDir("dispatch");
    const std::string junk = dir + "/junk.dat";
    bvtest::WriteFileBytes(junk, std::vector<uint8_t>(300, 0x5A));

    CxImage image;
    image.SetLastError("kept");
    EXPECT_FALSE(image.Load(junk.c_str(), CMAX_IMAGE_FORMATS));
    EXPECT_STREQ(image.GetLastError(), "kept");
    EXPECT_FALSE(image.Load(junk.c_str(), 0));
    EXPECT_STREQ(image.GetLastError(), UNKNOWN);

    // A high id still finds a real picture by probing.
    EXPECT_TRUE(image.Load(bvtest::TestData("tga/gen/plasma-t2-24.tga").c_str(), 99));
    EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_TGA);

    image.SetLastError("unchanged");
    EXPECT_FALSE(image.Load((dir + "/missing.bmp").c_str(), CXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "unchanged");
    EXPECT_FALSE(image.Load(nullptr, 0));
}

TEST(FormatLoad, FileNameConstructorTrustsTheExtension)
{
    const std::string dir = bvtest::MakeTempDir("dispatch");
    const std::vector<uint8_t> tga
        = bvtest::ReadFileBytes(bvtest::TestData("tga/gen/plasma-t2-24.tga"));
    bvtest::WriteFileBytes(dir + "/misnamed.bmp", tga);
    bvtest::WriteFileBytes(dir + "/unnamed.xyz", tga);

    CxImage misnamed((dir + "/misnamed.bmp").c_str(), 0);
    EXPECT_FALSE(misnamed.IsValid());
    EXPECT_STREQ(misnamed.GetLastError(), "Error reading BMP info");
    EXPECT_EQ(misnamed.GetType(), CXIMAGE_FORMAT_BMP);

    CxImage unnamed((dir + "/unnamed.xyz").c_str(), 0);
    EXPECT_TRUE(unnamed.IsValid());
    EXPECT_EQ(unnamed.GetType(), CXIMAGE_FORMAT_TGA);
}

TEST(FormatLoad, APictureUnderAnotherFormatsNameIsReadForWhatItIs)
{
    const std::string dir = bvtest::MakeTempDir("dispatch");
    const struct {
        const char* file;
        uint32_t type;
    } misnamed[] = {
        { "png/pngsuite/basn2c08.png", CXIMAGE_FORMAT_PNG },
        { "gif/gen/anim-dispose3.gif", CXIMAGE_FORMAT_GIF },
        { "bmp/bmpsuite/g/pal8.bmp", CXIMAGE_FORMAT_BMP },
    };
    for (const auto& c : misnamed) {
        SCOPED_TRACE(c.file);
        const std::string path = dir + "/photo.jpg";
        bvtest::WriteFileBytes(path, bvtest::CorpusBytes(c.file));
        CxImage photo(path.c_str(), 0);
        ASSERT_TRUE(photo.IsValid()) << photo.GetLastError();
        EXPECT_EQ(photo.GetType(), c.type);
        CxImage loaded;
        EXPECT_TRUE(loaded.Load(path.c_str(), CXIMAGE_FORMAT_JPG));
    }

    // A JPEG cut short is a damaged JPEG, and a PNG signature over junk is no picture:
    // both fail with the JPEG reader's text.
    std::vector<uint8_t> cut = bvtest::CorpusBytes("jpeg/invalid/head16-shapes-97x61.jpg");
    bvtest::WriteFileBytes(dir + "/cut.jpg", cut);
    CxImage damaged((dir + "/cut.jpg").c_str(), 0);
    EXPECT_FALSE(damaged.IsValid());
    EXPECT_STREQ(damaged.GetLastError(), "JPEG datastream contains no image");
    EXPECT_EQ(damaged.GetType(), CXIMAGE_FORMAT_JPG);

    std::vector<uint8_t> junk(300, 0x5A);
    std::memcpy(junk.data(), "\x89PNG\r\n\x1A\n", 8);
    bvtest::WriteFileBytes(dir + "/junk.jpg", junk);
    CxImage nothing((dir + "/junk.jpg").c_str(), 0);
    EXPECT_FALSE(nothing.IsValid());
    EXPECT_STREQ(nothing.GetLastError(), "Not a JPEG file: starts with 0x89 0x50");
}

TEST(FormatDecode, FileHandleStaysOpenForTheCaller)
{
    FILE* file = std::fopen(bvtest::TestData("pcx/gen/bw-1bit.pcx").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    CxImage image;
    EXPECT_TRUE(image.Decode(file, CXIMAGE_FORMAT_PCX)) << image.GetLastError();
    EXPECT_EQ(std::fseek(file, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(file), 10);
    EXPECT_EQ(std::fclose(file), 0);
}

TEST(FormatProbe, FindsEachLibraryReaderByItsContent)
{
    // Streams of unknown format go through the readers in probe order; each of these
    // must end at its own reader, however the earlier ones judge its bytes.
    const struct {
        const char* file;
        uint32_t type;
        int32_t bpp;
    } probes[] = { { "tiff/gen/grey8.tif", CXIMAGE_FORMAT_TIF, 8 },
        { "tiff/gen/rgb-lzw.tif", CXIMAGE_FORMAT_TIF, 24 },
        { "jpeg2000/gen/plasma.j2k", CXIMAGE_FORMAT_J2K, 24 },
        { "jpeg2000/gen/plasma-lossless.jp2", CXIMAGE_FORMAT_J2K, 24 },
        { "jbig/gen/dither-default.jbg", CXIMAGE_FORMAT_JBG, 1 },
        { "pgx/gen/grey8.pgx", CXIMAGE_FORMAT_PGX, 8 },
        { "pnm/gen/shapes-p3.ppm", CXIMAGE_FORMAT_PNM, 24 },
        { "ras/gen/pal256-rle.ras", CXIMAGE_FORMAT_RAS, 24 } };
    for (const auto& probe : probes) {
        SCOPED_TRACE(probe.file);
        const auto bytes = bvtest::CorpusBytes(probe.file);
        CxMemStream stream(bytes.data(), bytes.size());
        CxImage image;
        ASSERT_TRUE(image.Decode(&stream, CXIMAGE_FORMAT_UNKNOWN)) << image.GetLastError();
        EXPECT_EQ(image.GetType(), probe.type);
        EXPECT_EQ(image.GetBpp(), probe.bpp);
    }
}

} // namespace
