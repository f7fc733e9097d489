// The metafile reader over built pictures and the corpus: sizes, failures, and pictures
// that paint what they draw where they draw it on a white ground.
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/wmf/CxImageWMF.h"
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <png.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void Put32(Bytes& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// One 16-bit metafile record: size in words, function, parameters.
Bytes Record(uint16_t function, std::initializer_list<int32_t> parameters)
{
    Bytes out;
    Put32(out, uint32_t(3 + parameters.size()));
    Put16(out, function);
    for (const int32_t p : parameters)
        Put16(out, uint32_t(p) & 0xFFFF);
    return out;
}

constexpr uint16_t META_SETWINDOWORG = 0x020B;
constexpr uint16_t META_SETWINDOWEXT = 0x020C;
constexpr uint16_t META_SETMAPMODE = 0x0103;
constexpr uint16_t META_CREATEBRUSHINDIRECT = 0x02FC;
constexpr uint16_t META_CREATEPENINDIRECT = 0x02FA;
constexpr uint16_t META_SELECTOBJECT = 0x012D;
constexpr uint16_t META_RECTANGLE = 0x041B;

struct Placeable {
    int16_t left = 0, top = 0, right = 1000, bottom = 1000;
    uint16_t unitsPerInch = 1000;
    bool breakChecksum = false;
};

// A placeable metafile with the given records (an end record is added).
Bytes PlaceableMetafile(const Placeable& header, const std::vector<Bytes>& records)
{
    Bytes body;
    size_t largest = 3;
    for (const Bytes& r : records) {
        body.insert(body.end(), r.begin(), r.end());
        largest = std::max(largest, r.size() / 2);
    }
    const Bytes end = Record(0, {});
    body.insert(body.end(), end.begin(), end.end());

    Bytes out;
    Put32(out, 0x9AC6CDD7);
    Put16(out, 0);
    Put16(out, uint16_t(header.left));
    Put16(out, uint16_t(header.top));
    Put16(out, uint16_t(header.right));
    Put16(out, uint16_t(header.bottom));
    Put16(out, header.unitsPerInch);
    Put32(out, 0);
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2)
        checksum ^= uint16_t(out[i] | (out[i + 1] << 8));
    Put16(out, header.breakChecksum ? uint16_t(checksum ^ 0x5A5A) : checksum);
    Put16(out, 1); // memory metafile
    Put16(out, 9);
    Put16(out, 0x0300);
    Put32(out, uint32_t((18 + body.size()) / 2));
    Put16(out, 4);
    Put32(out, uint32_t(largest));
    Put16(out, 0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A red rectangle without outline in logical coordinates, after the given set-up.
std::vector<Bytes> RedRectangle(
    std::vector<Bytes> setup, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    setup.push_back(Record(META_CREATEBRUSHINDIRECT, { 0, 0x00FF, 0x0000, 0 }));
    setup.push_back(Record(META_SELECTOBJECT, { 0 }));
    setup.push_back(Record(META_CREATEPENINDIRECT, { 5, 0, 0, 0, 0 }));
    setup.push_back(Record(META_SELECTOBJECT, { 1 }));
    setup.push_back(Record(META_RECTANGLE, { bottom, right, top, left }));
    return setup;
}

bool DecodeBytes(
    CxImageWMF& reader, const Bytes& bytes, int32_t maxWidth = 0, int32_t maxHeight = 0)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return reader.Decode(&stream, maxWidth, maxHeight);
}

// Device pixel (x, y), y counted from the top.
RGBQUAD TopDownPixel(const CxImage& image, int32_t x, int32_t y)
{
    return image.GetPixelColor(x, image.GetHeight() - 1 - y, false);
}

bool IsColor(RGBQUAD c, uint8_t r, uint8_t g, uint8_t b, int tolerance = 8)
{
    return std::abs(c.rgbRed - r) <= tolerance && std::abs(c.rgbGreen - g) <= tolerance
        && std::abs(c.rgbBlue - b) <= tolerance;
}

struct Reference {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Reference ReadReference(const std::string& path)
{
    Reference ref;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return ref;
    png.format = PNG_FORMAT_RGB;
    ref.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, ref.rgb.data(), 0, nullptr)) {
        ref.rgb.clear();
        return ref;
    }
    ref.width = png.width;
    ref.height = png.height;
    return ref;
}

// Compares the picture with a reference rendered at another size: at every reference
// pixel inside a flat area (its neighbours alike, so edges and anti-aliasing do not
// count) the picture's pixel at the same relative place must have that colour. Answers
// the share of such pixels that match, and the share of them that are white.
struct Agreement {
    double matching;
    size_t compared;
    size_t whiteCompared;
    size_t whiteMatching;
};

Agreement CompareWithReference(const CxImage& image, const Reference& ref, int tolerance = 40)
{
    Agreement result { 0, 0, 0, 0 };
    size_t matching = 0;
    for (uint32_t y = 2; y + 2 < ref.height; y += 2) {
        for (uint32_t x = 2; x + 2 < ref.width; x += 2) {
            const uint8_t* c = ref.At(x, y);
            bool flat = true;
            for (int dy = -2; dy <= 2 && flat; dy++)
                for (int dx = -2; dx <= 2 && flat; dx++) {
                    const uint8_t* n = ref.At(x + dx, y + dy);
                    flat = std::abs(n[0] - c[0]) < 6 && std::abs(n[1] - c[1]) < 6
                        && std::abs(n[2] - c[2]) < 6;
                }
            if (!flat)
                continue;
            const int32_t px = int32_t((x + 0.5) * image.GetWidth() / ref.width);
            const int32_t py = int32_t((y + 0.5) * image.GetHeight() / ref.height);
            const RGBQUAD ours = TopDownPixel(image, px, py);
            const bool same = IsColor(ours, c[0], c[1], c[2], tolerance);
            result.compared++;
            matching += same;
            if (c[0] > 250 && c[1] > 250 && c[2] > 250) {
                result.whiteCompared++;
                result.whiteMatching += same;
            }
        }
    }
    result.matching = result.compared ? double(matching) / result.compared : 0;
    return result;
}

TEST(WmfReader, PlaceableSizeComesFromBoundsAtScreenResolution)
{
    Placeable header;
    header.right = 1440;
    header.bottom = 720;
    header.unitsPerInch = 1440;
    CxImageWMF reader;
    ASSERT_TRUE(DecodeBytes(reader, PlaceableMetafile(header, RedRectangle({}, 0, 0, 720, 360))))
        << reader.GetLastError();
    EXPECT_EQ(reader.GetWidth(), 96);
    EXPECT_EQ(reader.GetHeight(), 48);
    EXPECT_EQ(reader.GetBpp(), 24); // a 32-bit screen reads back as 24 bits
    EXPECT_EQ(reader.GetType(), CXIMAGE_FORMAT_WMF);
}

TEST(WmfReader, LargePicturesKeepTheirAspectWithinFourThousandPixels)
{
    struct Case {
        int16_t right, bottom;
        int32_t width, height;
    };
    for (const Case& c : { Case { 8000, 2000, 4000, 1000 }, Case { 1000, 9000, 444, 4000 } }) {
        Placeable header;
        header.right = c.right;
        header.bottom = c.bottom;
        header.unitsPerInch = 96; // one unit per screen pixel
        CxImageWMF reader;
        ASSERT_TRUE(DecodeBytes(reader, PlaceableMetafile(header, RedRectangle({}, 0, 0, 10, 10))))
            << reader.GetLastError();
        EXPECT_EQ(reader.GetWidth(), c.width);
        EXPECT_EQ(reader.GetHeight(), c.height);
    }
}

TEST(WmfReader, ForcedSizeReplacesEachSideOnItsOwn)
{
    const Bytes file = PlaceableMetafile(Placeable {}, RedRectangle({}, 0, 0, 500, 500));
    CxImageWMF wide;
    ASSERT_TRUE(DecodeBytes(wide, file, 200, 0));
    EXPECT_EQ(wide.GetWidth(), 200);
    EXPECT_EQ(wide.GetHeight(), 96);
    CxImageWMF both;
    ASSERT_TRUE(DecodeBytes(both, file, 30, 20));
    EXPECT_EQ(both.GetWidth(), 30);
    EXPECT_EQ(both.GetHeight(), 20);
}

// The rectangle covers x 100..300 and y 100..200 of a 2000 x 1000 picture: on the
// 192 x 96 raster that is x 9.6..28.8 and y 9.6..19.2; the rest stays white.
void ExpectRedRectangleAtItsPlace(const CxImage& image)
{
    ASSERT_EQ(image.GetWidth(), 192);
    ASSERT_EQ(image.GetHeight(), 96);
    EXPECT_TRUE(IsColor(TopDownPixel(image, 19, 14), 255, 0, 0));
    EXPECT_TRUE(IsColor(TopDownPixel(image, 11, 11), 255, 0, 0));
    EXPECT_TRUE(IsColor(TopDownPixel(image, 27, 18), 255, 0, 0));
    for (const auto& [x, y] : { std::pair { 5, 14 }, { 32, 14 }, { 19, 5 }, { 19, 23 }, { 0, 0 },
             { 191, 0 }, { 0, 95 }, { 191, 95 }, { 100, 50 } })
        EXPECT_TRUE(IsColor(TopDownPixel(image, x, y), 255, 255, 255)) << x << "," << y;
}

TEST(WmfReader, DrawsWhereTheMetafileDrawsOverWhite)
{
    Placeable header;
    header.right = 2000;
    header.bottom = 1000;
    header.unitsPerInch = 1000;
    // Without a mapping mode of its own...
    CxImageWMF plain;
    ASSERT_TRUE(
        DecodeBytes(plain, PlaceableMetafile(header, RedRectangle({}, 100, 100, 300, 200))));
    ExpectRedRectangleAtItsPlace(plain);
    // ...and with an anisotropic window over the bounds, as drawing programs write it.
    CxImageWMF windowed;
    const std::vector<Bytes> setup = { Record(META_SETWINDOWEXT, { 1000, 2000 }),
        Record(META_SETWINDOWORG, { 0, 0 }), Record(META_SETMAPMODE, { 8 }) };
    ASSERT_TRUE(
        DecodeBytes(windowed, PlaceableMetafile(header, RedRectangle(setup, 100, 100, 300, 200))));
    ExpectRedRectangleAtItsPlace(windowed);
}

TEST(WmfReader, WrongChecksumIsTriedAsEnhancedAndFails)
{
    Placeable header;
    header.breakChecksum = true;
    CxImageWMF reader;
    EXPECT_FALSE(DecodeBytes(reader, PlaceableMetafile(header, RedRectangle({}, 0, 0, 9, 9))));
    EXPECT_STREQ(reader.GetLastError(), "corrupted WMF");

    CxImage fromFile(bvtest::TestData("metafile/invalid/badchecksum-lines.wmf").c_str(), 0);
    EXPECT_FALSE(fromFile.IsValid());
    EXPECT_STREQ(fromFile.GetLastError(), "corrupted WMF");
}

TEST(WmfReader, InvalidFilesFailAsCorrupted)
{
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData("metafile/invalid"))) {
        CxImage image(path.c_str(), CXIMAGE_FORMAT_WMF);
        EXPECT_FALSE(image.IsValid()) << path;
        EXPECT_STREQ(image.GetLastError(), "corrupted WMF") << path;
    }
    // Units per inch beyond 2540, and a record that runs past the end of the metafile.
    Placeable header;
    header.unitsPerInch = 2541;
    CxImageWMF fine;
    EXPECT_FALSE(DecodeBytes(fine, PlaceableMetafile(header, {})));
    EXPECT_STREQ(fine.GetLastError(), "corrupted WMF");
    Bytes overrun = PlaceableMetafile(Placeable {}, RedRectangle({}, 0, 0, 9, 9));
    overrun[22 + 18] = 0xF0; // the first record claims 240 words
    CxImageWMF reader;
    EXPECT_FALSE(DecodeBytes(reader, overrun));
    EXPECT_STREQ(reader.GetLastError(), "corrupted WMF");
}

TEST(WmfReader, HeaderClaimingAHugeRecordStillPlays)
{
    // The largest-record field claims two gigabytes; the records are small.
    Bytes file = PlaceableMetafile(Placeable {}, RedRectangle({}, 0, 0, 500, 500));
    const uint8_t huge[4] = { 0x4E, 0x00, 0x00, 0x40 };
    std::memcpy(&file[22 + 12], huge, 4);
    CxImageWMF reader;
    ASSERT_TRUE(DecodeBytes(reader, file)) << reader.GetLastError();
    EXPECT_TRUE(IsColor(TopDownPixel(reader, 10, 10), 255, 0, 0));
}

TEST(WmfReader, EmptyBoundsAreAnEmptyPicture)
{
    Bytes emf = bvtest::ReadFileBytes(bvtest::TestData("metafile/gen/shapes.emf"));
    // Bounds 40, 40, 40, 90: no width.
    for (size_t field = 8; field < 24; field += 4) {
        const uint32_t value = field == 20 ? 90 : 40;
        std::memcpy(&emf[field], &value, 4);
    }
    CxImageWMF enhanced;
    EXPECT_FALSE(DecodeBytes(enhanced, emf));
    EXPECT_STREQ(enhanced.GetLastError(), "empty WMF");

    // A placeable picture of no width: its extents cannot be scaled up, and it ends.
    Placeable header;
    header.right = 0;
    CxImageWMF placeable;
    EXPECT_FALSE(DecodeBytes(placeable, PlaceableMetafile(header, RedRectangle({}, 0, 0, 9, 9))));
    EXPECT_STREQ(placeable.GetLastError(), "empty WMF");
}

int32_t CancelAlways(CxImage*, uint32_t) { return 1; }

TEST(WmfReader, EscapeCallbackCancels)
{
    CxImageWMF reader;
    reader.SetEscapeCallback(CancelAlways);
    EXPECT_FALSE(
        DecodeBytes(reader, PlaceableMetafile(Placeable {}, RedRectangle({}, 0, 0, 9, 9))));
    EXPECT_STREQ(reader.GetLastError(), "Cancelled");
    EXPECT_FALSE(reader.IsValid());
}

TEST(WmfReader, ReadsFromWhereTheStreamStands)
{
    Bytes bytes(10, 0xEE);
    const Bytes wmf = PlaceableMetafile(Placeable {}, RedRectangle({}, 0, 0, 500, 500));
    bytes.insert(bytes.end(), wmf.begin(), wmf.end());
    const Bytes emf = bvtest::ReadFileBytes(bvtest::TestData("metafile/gen/lines.emf"));
    Bytes enhanced(10, 0xEE);
    enhanced.insert(enhanced.end(), emf.begin(), emf.end());
    for (const Bytes* file : { &bytes, &enhanced }) {
        CxMemStream stream(file->data(), file->size());
        ASSERT_TRUE(stream.Seek(10, SEEK_SET));
        CxImageWMF reader;
        EXPECT_TRUE(reader.Decode(&stream)) << reader.GetLastError();
    }
}

TEST(WmfReader, GeneratedPicturesMatchTheirReferences)
{
    struct Case {
        const char* name;
        int32_t width, height;
    };
    // 16-bit metafiles: bounds at 1200 units per inch on 96 dots per inch; enhanced ones:
    // their bounds in the pixels of their 1200-dpi reference device.
    for (const Case& c : { Case { "shapes.wmf", 159, 119 }, Case { "lines.wmf", 119, 119 },
             Case { "evenodd.wmf", 99, 79 }, Case { "shapes.emf", 2030, 1511 },
             Case { "lines.emf", 1511, 1511 }, Case { "evenodd.emf", 1275, 1038 } }) {
        const std::string path = bvtest::TestData(std::string("metafile/gen/") + c.name);
        CxImage image(path.c_str(), 0); // the extension picks the reader
        ASSERT_TRUE(image.IsValid()) << c.name << ": " << image.GetLastError();
        EXPECT_EQ(image.GetWidth(), c.width) << c.name;
        EXPECT_EQ(image.GetHeight(), c.height) << c.name;
        EXPECT_EQ(image.GetBpp(), 24);
        const Reference ref = ReadReference(path + ".ref.png");
        ASSERT_GT(ref.width, 0u) << c.name;
        const Agreement agreement = CompareWithReference(image, ref);
        EXPECT_GT(agreement.compared, 300u) << c.name;
        EXPECT_GT(agreement.matching, 0.97) << c.name;
        EXPECT_GT(agreement.whiteCompared, 50u) << c.name;
        // Unpainted areas stay white; a one-pixel shift of a thin line may touch a few.
        EXPECT_GE(agreement.whiteMatching * 1000, agreement.whiteCompared * 995) << c.name;
    }
}

TEST(WmfReader, EvenOddStarLeavesItsCentreOpen)
{
    // The pentagram's centre is outside an even-odd fill; its points are inside.
    for (const char* name : { "evenodd.wmf", "evenodd.emf" }) {
        const std::string path = bvtest::TestData(std::string("metafile/gen/") + name);
        CxImage image(path.c_str(), 0);
        ASSERT_TRUE(image.IsValid()) << name;
        const Reference ref = ReadReference(path + ".ref.png");
        auto ours = [&](double fx, double fy) {
            return TopDownPixel(
                image, int32_t(fx * image.GetWidth()), int32_t(fy * image.GetHeight()));
        };
        auto theirs = [&](double fx, double fy) {
            return ref.At(uint32_t(fx * ref.width), uint32_t(fy * ref.height));
        };
        for (const auto& [fx, fy] : { std::pair { 0.47, 0.42 }, { 0.47, 0.16 }, { 0.2, 0.1 } }) {
            const uint8_t* expected = theirs(fx, fy);
            EXPECT_TRUE(IsColor(ours(fx, fy), expected[0], expected[1], expected[2], 40))
                << name << " at " << fx << "," << fy;
        }
    }
}

TEST(WmfReader, ProbingFindsAMetafileOfUnknownName)
{
    const std::string folder = bvtest::MakeTempDir("wmf-probe");
    const std::string path = folder + "/picture";
    bvtest::WriteFileBytes(
        path, bvtest::ReadFileBytes(bvtest::TestData("metafile/gen/shapes.emf")));
    CxImage image(path.c_str(), 0);
    EXPECT_TRUE(image.IsValid()) << image.GetLastError();
    EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_WMF);
    std::remove(path.c_str());
    std::remove(folder.c_str());
}

TEST(WmfReader, CorpusEnhancedMetafilesDecodeAsPictures)
{
    size_t decoded = 0;
    for (const std::string& path : bvtest::ListFiles(bvtest::TestData("metafile/libemf2svg"))) {
        if (path.size() < 4 || path.compare(path.size() - 4, 4, ".emf") != 0)
            continue;
        const Bytes bytes = bvtest::ReadFileBytes(path);
        int32_t bounds[4];
        std::memcpy(bounds, &bytes[8], sizeof bounds);
        int64_t width = int64_t(bounds[2]) - bounds[0];
        int64_t height = int64_t(bounds[3]) - bounds[1];
        if (width > 4000) {
            height = height * 4000 / width;
            width = 4000;
        }
        if (height > 4000) {
            width = width * 4000 / height;
            height = 4000;
        }
        CxImage image(path.c_str(), 0);
        ASSERT_TRUE(image.IsValid()) << path << ": " << image.GetLastError();
        EXPECT_EQ(image.GetWidth(), width) << path;
        EXPECT_EQ(image.GetHeight(), height) << path;
        decoded++;
    }
    EXPECT_EQ(decoded, 40u);
}

} // namespace
