// The Exif walk on made-up marker streams (both byte orders, every rule with an edge) and
// on real files.
#include "ExifBuilder.h"
#include "image/core/CxStream.h"
#include "image/formats/exif/CxExifReader.h"
#include "tests/support/TestSupport.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>

using bvtest::Bytes;
using bvtest::CommentSegment;
using bvtest::ExifBuilder;
using bvtest::MarkerStream;

namespace {

struct Walk {
    ExifRecord record {};
    CxExifReader reader { &record };
    bool reached = false;

    explicit Walk(const Bytes& bytes)
    {
        CxMemStream stream(bytes.data(), bytes.size());
        reached = reader.ReadExifFromStream(&stream);
    }
};

ExifBuilder CameraTags(bool bigEndian)
{
    ExifBuilder b(bigEndian);
    b.Ascii(ExifBuilder::FIRST, 0x010F, "Orrin")
        .Ascii(ExifBuilder::FIRST, 0x0110, "Model Seven")
        .Short(ExifBuilder::FIRST, 0x0112, 6)
        .Rational(ExifBuilder::FIRST, 0x011A, 300, 1)
        .Rational(ExifBuilder::FIRST, 0x011B, 600, 2)
        .Short(ExifBuilder::FIRST, 0x0128, 3)
        .Rational(ExifBuilder::EXIF, 0x829A, 1, 125)
        .Rational(ExifBuilder::EXIF, 0x829D, 28, 10)
        .Short(ExifBuilder::EXIF, 0x8822, 2)
        .Short(ExifBuilder::EXIF, 0x8827, 2)
        .Undefined(ExifBuilder::EXIF, 0x9000, { '0', '2', '3', '0' })
        .Ascii(ExifBuilder::EXIF, 0x9003, "2024:05:06 07:08:09")
        .Rational(ExifBuilder::EXIF, 0x9102, 5, 1)
        .Rational(ExifBuilder::EXIF, 0x9203, -3, 2, 10)
        .Rational(ExifBuilder::EXIF, 0x9204, -2, 3, 10)
        .Rational(ExifBuilder::EXIF, 0x9206, 7, 2)
        .Short(ExifBuilder::EXIF, 0x9207, 5)
        .Short(ExifBuilder::EXIF, 0x9208, 4)
        .Short(ExifBuilder::EXIF, 0x9209, 0x19)
        .Rational(ExifBuilder::EXIF, 0x920A, 35, 1)
        .Long(ExifBuilder::EXIF, 0xA002, 4000)
        .Long(ExifBuilder::EXIF, 0xA003, 3000)
        .Rational(ExifBuilder::EXIF, 0xA20E, 4000, 1)
        .Rational(ExifBuilder::EXIF, 0xA20F, 3000, 1)
        .Short(ExifBuilder::EXIF, 0xA210, 4);
    return b;
}

} // namespace

TEST(ExifReader, FileWithoutExifReachesTheScanAndReadsTheFrameHeader)
{
    Walk walk(MarkerStream({}, 640, 480, 1));
    EXPECT_TRUE(walk.reached);
    EXPECT_FALSE(walk.record.exifFound);
    EXPECT_EQ(walk.record.width, 640);
    EXPECT_EQ(walk.record.height, 480);
    EXPECT_EQ(walk.record.hasColour, 0);
    EXPECT_EQ(walk.record.frameMarker, 0xC0);
    // The frame header and the start of scan are kept.
    EXPECT_EQ(walk.reader.GetSegmentCount(), 2);
}

TEST(ExifReader, ReadsEveryCameraTag)
{
    Walk walk(MarkerStream({ CameraTags(false).Segment() }));
    const ExifRecord& r = walk.record;
    ASSERT_TRUE(r.exifFound) << walk.reader.GetError();
    EXPECT_STREQ(r.make, "Orrin");
    EXPECT_STREQ(r.model, "Model Seven");
    EXPECT_EQ(r.orientation, 6);
    EXPECT_FLOAT_EQ(r.xResolution, 300);
    EXPECT_FLOAT_EQ(r.yResolution, 300);
    EXPECT_EQ(std::bit_cast<uint32_t>(r.resolutionUnit), 0x3EC99326u);
    EXPECT_FLOAT_EQ(r.exposureTime, 1.0f / 125);
    EXPECT_FLOAT_EQ(r.fNumber, 2.8f);
    EXPECT_EQ(r.exposureProgram, 2);
    EXPECT_EQ(r.isoSpeed, 400); // stored as 2: ISO divided by 200
    EXPECT_STREQ(r.exifVersion, "0230");
    EXPECT_STREQ(r.dateTime, "2024:05:06 07:08:09");
    EXPECT_EQ(r.compressedBitsPerPixel, 5);
    EXPECT_FLOAT_EQ(r.brightnessValue, -1.5f);
    EXPECT_FLOAT_EQ(r.exposureBiasValue, -2.0f / 3);
    EXPECT_FLOAT_EQ(r.subjectDistance, 3.5f);
    EXPECT_EQ(r.meteringMode, 5);
    EXPECT_EQ(r.whiteBalance, 4);
    EXPECT_EQ(r.flash, 1);
    EXPECT_FLOAT_EQ(r.focalLength, 35);
    EXPECT_FLOAT_EQ(r.focalPlaneXResolution, 4000);
    EXPECT_FLOAT_EQ(r.focalPlaneYResolution, 3000);
    EXPECT_EQ(std::bit_cast<uint32_t>(r.focalPlaneResolutionUnit), 0x3D214285u);
    // The larger Exif image dimension, in millimetres of sensor.
    EXPECT_FLOAT_EQ(r.sensorWidth, 4000 * r.focalPlaneResolutionUnit / 4000);
}

TEST(ExifReader, BothByteOrdersGiveTheSameRecord)
{
    Walk little(MarkerStream({ CameraTags(false).Segment() }));
    Walk big(MarkerStream({ CameraTags(true).Segment() }));
    ASSERT_TRUE(little.record.exifFound && big.record.exifFound);
    little.record.thumbnail = big.record.thumbnail = nullptr;
    EXPECT_EQ(std::memcmp(&little.record, &big.record, sizeof(ExifRecord)), 0);
}

TEST(ExifReader, IsoBelowFiftyIsMultipliedBy200)
{
    for (bool big : { false, true }) {
        ExifBuilder low(big);
        low.Short(ExifBuilder::EXIF, 0x8827, 2);
        EXPECT_EQ(Walk(MarkerStream({ low.Segment() })).record.isoSpeed, 400);
        ExifBuilder normal(big);
        normal.Short(ExifBuilder::EXIF, 0x8827, 100);
        EXPECT_EQ(Walk(MarkerStream({ normal.Segment() })).record.isoSpeed, 100);
    }
}

TEST(ExifReader, ShutterSpeedOnlyFillsAMissingExposureTime)
{
    ExifBuilder alone(true);
    alone.Rational(ExifBuilder::EXIF, 0x9201, 6, 1, 10);
    EXPECT_FLOAT_EQ(Walk(MarkerStream({ alone.Segment() })).record.exposureTime, 1.0f / 64);

    ExifBuilder before(true);
    before.Rational(ExifBuilder::EXIF, 0x829A, 1, 100)
        .Rational(ExifBuilder::EXIF, 0x9201, 6, 1, 10);
    EXPECT_FLOAT_EQ(Walk(MarkerStream({ before.Segment() })).record.exposureTime, 0.01f);

    ExifBuilder after(true);
    after.Rational(ExifBuilder::EXIF, 0x9201, 6, 1, 10).Rational(ExifBuilder::EXIF, 0x829A, 1, 100);
    EXPECT_FLOAT_EQ(Walk(MarkerStream({ after.Segment() })).record.exposureTime, 0.01f);
}

TEST(ExifReader, ApertureOnlyFillsAMissingFNumber)
{
    ExifBuilder alone(false);
    alone.Rational(ExifBuilder::EXIF, 0x9202, 4, 1);
    EXPECT_FLOAT_EQ(Walk(MarkerStream({ alone.Segment() })).record.fNumber, 4.0f);
    ExifBuilder both(false);
    both.Rational(ExifBuilder::EXIF, 0x829D, 56, 10).Rational(ExifBuilder::EXIF, 0x9205, 4, 1);
    EXPECT_FLOAT_EQ(Walk(MarkerStream({ both.Segment() })).record.fNumber, 5.6f);
}

TEST(ExifReader, CommentBeforeTheExifBlockIsClearedOneAfterItIsKept)
{
    ExifBuilder b(false);
    b.Short(ExifBuilder::FIRST, 0x0112, 1);
    EXPECT_STREQ(Walk(MarkerStream({ CommentSegment("before"), b.Segment() })).record.comments, "");
    EXPECT_STREQ(
        Walk(MarkerStream({ b.Segment(), CommentSegment("after") })).record.comments, "after");
}

TEST(ExifReader, OnlyTheFirstCommentCountsAndControlBytesBecomeQuestionMarks)
{
    Walk walk(
        MarkerStream({ CommentSegment("one\r\ntwo\tthree\x01\r"), CommentSegment("second") }));
    EXPECT_STREQ(walk.record.comments, "one\ntwo\tthree??");
    // The second comment segment is discarded: SOF, SOS and the first comment remain.
    EXPECT_EQ(walk.reader.GetSegmentCount(), 3);
}

TEST(ExifReader, CommentsStopAtTheirLimit)
{
    Walk walk(MarkerStream({ CommentSegment(std::string(1200, 'x')) }));
    EXPECT_EQ(std::strlen(walk.record.comments), 998u);
}

TEST(ExifReader, UserCommentSkipsItsCharacterCodeAndTrailingSpaces)
{
    ExifBuilder ascii(false);
    ascii.Undefined(ExifBuilder::EXIF, 0x9286,
        { 'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'e', 'l', 'l', 'o', ' ', ' ', ' ' });
    EXPECT_STREQ(Walk(MarkerStream({ ascii.Segment() })).record.comments, "Hello");

    ExifBuilder plain(true);
    plain.Undefined(ExifBuilder::EXIF, 0x9286, { 'P', 'l', 'a', 'i', 'n', ' ', 'x', ' ' });
    EXPECT_STREQ(Walk(MarkerStream({ plain.Segment() })).record.comments, "Plain x");

    ExifBuilder empty(true);
    empty.Undefined(ExifBuilder::EXIF, 0x9286, { 'A', 'S', 'C', 'I', 'I', 0, 0, 0, ' ', ' ' });
    EXPECT_STREQ(
        Walk(MarkerStream({ empty.Segment(), CommentSegment("kept") })).record.comments, "kept");
}

TEST(ExifReader, OrientationNineIsRecordedAsZeroAndTheWalkGoesOn)
{
    ExifBuilder b(false);
    b.Short(ExifBuilder::FIRST, 0x0112, 9).Ascii(ExifBuilder::FIRST, 0x0110, "After");
    Walk walk(MarkerStream({ b.Segment() }));
    EXPECT_TRUE(walk.reached);
    EXPECT_TRUE(walk.record.exifFound);
    EXPECT_EQ(walk.record.orientation, 0);
    EXPECT_STREQ(walk.reader.GetError(), "Undefined rotation value");
    EXPECT_STREQ(walk.record.model, "After");
}

TEST(ExifReader, UnitCodesOutsideTheTableLeaveTheUnit)
{
    ExifBuilder b(false);
    b.Short(ExifBuilder::FIRST, 0x0128, 5).Short(ExifBuilder::FIRST, 0x0128, 7);
    EXPECT_EQ(std::bit_cast<uint32_t>(Walk(MarkerStream({ b.Segment() })).record.resolutionUnit),
        0x3825214Du);
    ExifBuilder inch(true);
    inch.Short(ExifBuilder::FIRST, 0x0128, 2);
    EXPECT_FLOAT_EQ(Walk(MarkerStream({ inch.Segment() })).record.resolutionUnit, 1.0f);
}

TEST(ExifReader, TwentyKeptSegmentsWithoutAScanAreTooMany)
{
    std::vector<Bytes> segments(19, ExifBuilder::MakeSegment(0xE2, { 1, 2, 3 }));
    Walk tooMany(MarkerStream(segments)); // 19 APP2 + frame header = 20, then no room
    EXPECT_FALSE(tooMany.reached);
    EXPECT_STREQ(tooMany.reader.GetError(), "Too many sections in jpg file");

    segments.pop_back(); // 18 APP2 + frame header + start of scan as the 20th
    Walk fits(MarkerStream(segments));
    EXPECT_TRUE(fits.reached);
    EXPECT_EQ(fits.reader.GetSegmentCount(), 20);

    // Discarded segments (APP0, non-Exif APP1) do not count.
    std::vector<Bytes> discarded(30, ExifBuilder::MakeSegment(0xE0, { 'J', 'F', 'I', 'F', 0 }));
    EXPECT_TRUE(Walk(MarkerStream(discarded)).reached);
}

TEST(ExifReader, NonExifApp1IsDiscardedUntouched)
{
    const std::string xmp = "http://ns.adobe.com/xap/1.0/";
    Walk walk(MarkerStream({ ExifBuilder::MakeSegment(0xE1, Bytes(xmp.begin(), xmp.end())) }));
    EXPECT_TRUE(walk.reached);
    EXPECT_FALSE(walk.record.exifFound);
    EXPECT_EQ(walk.reader.GetSegmentCount(), 2);
}

TEST(ExifReader, MarkerWalkFailures)
{
    EXPECT_FALSE(Walk(Bytes { 0x89, 'P', 'N', 'G' }).reached);
    EXPECT_FALSE(Walk(Bytes {}).reached);

    Walk padded(Bytes { 0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0, 4, 'o', 'k', 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xDA });
    EXPECT_FALSE(padded.reached); // the second marker has seven padding bytes
    EXPECT_STREQ(padded.record.comments, "ok"); // six were fine

    Walk shortLength(Bytes { 0xFF, 0xD8, 0xFF, 0xE2, 0, 1 });
    EXPECT_FALSE(shortLength.reached);
    EXPECT_STREQ(shortLength.reader.GetError(), "invalid marker");

    Walk cut(Bytes { 0xFF, 0xD8, 0xFF, 0xE2, 0, 10, 1, 2 });
    EXPECT_FALSE(cut.reached);
    EXPECT_STREQ(cut.reader.GetError(), "Premature end of file?");

    EXPECT_FALSE(Walk(Bytes { 0xFF, 0xD8, 0xFF, 0xD9, 0, 2 }).reached);
}

TEST(ExifReader, BadExifBlocksLeaveExifFoundFalseButTheWalkGoesOn)
{
    const auto check = [](Bytes payload, const char* text) {
        SCOPED_TRACE(text);
        Walk walk(MarkerStream({ ExifBuilder::MakeSegment(0xE1, payload) }));
        EXPECT_TRUE(walk.reached);
        EXPECT_FALSE(walk.record.exifFound);
        EXPECT_STREQ(walk.reader.GetError(), text);
    };
    ExifBuilder good(false);
    good.Short(ExifBuilder::FIRST, 0x0112, 1);
    Bytes payload = good.Payload();

    Bytes header = payload;
    header[5] = 1;
    check(header, "Incorrect Exif header");
    Bytes alignment = payload;
    alignment[6] = 'X';
    check(alignment, "Invalid Exif alignment marker.");
    Bytes start = payload;
    start[8] = 43;
    check(start, "Invalid Exif start (1)");
    check(Bytes(payload.begin(), payload.begin() + 12), "Invalid Exif start (1)");
    Bytes count = payload;
    count[6 + 8] = 0xFF; // 255 entries in a block of a few bytes
    check(count, "Illegally sized directory");
    Bytes format = payload;
    format[6 + 10 + 2] = 13;
    check(format, "Illegal format code in EXIF dir");

    ExifBuilder pointer(false);
    pointer.Add(ExifBuilder::FIRST, 0x010F, 2, 100, bvtest::Bytes(8, 'a'));
    Bytes badPointer = pointer.Payload();
    badPointer[6 + 10 + 8] = 0xF0; // value offset far beyond the block
    check(badPointer, "Illegal pointer offset value in EXIF.");

    ExifBuilder link(false);
    link.Long(ExifBuilder::FIRST, 0x8769, 0x10000);
    check(link.Payload(), "Illegal subdirectory link");
}

TEST(ExifReader, FailureInsideASubdirectoryDoesNotFailItsParent)
{
    ExifBuilder b(false);
    b.Add(ExifBuilder::EXIF, 0x9999, 13, 1, { 0, 0, 0, 0 }).Short(ExifBuilder::FIRST, 0x0112, 3);
    Walk walk(MarkerStream({ b.Segment() }));
    EXPECT_TRUE(walk.record.exifFound);
    EXPECT_STREQ(walk.reader.GetError(), "Illegal format code in EXIF dir");
    EXPECT_EQ(walk.record.orientation, 3);
}

TEST(ExifReader, DirectoryLinksThatLoopEnd)
{
    ExifBuilder b(true);
    b.Short(ExifBuilder::FIRST, 0x0112, 8);
    Bytes payload = b.Payload();
    // The first directory (one entry) names itself as the next one.
    payload[6 + 8 + 2 + 12 + 3] = 8;
    Walk self(MarkerStream({ ExifBuilder::MakeSegment(0xE1, payload) }));
    EXPECT_TRUE(self.record.exifFound);
    EXPECT_EQ(self.record.orientation, 8);

    // Many sub-directory links to the directory that holds them.
    ExifBuilder many(false);
    for (int i = 0; i < 300; i++)
        many.Long(ExifBuilder::FIRST, 0x8769, 8);
    Walk loops(MarkerStream({ many.Segment() }));
    EXPECT_TRUE(loops.record.exifFound);

    // Two directories linking to each other, each with many links to the other.
    ExifBuilder pair(false);
    for (int i = 0; i < 100; i++)
        pair.Long(ExifBuilder::EXIF, 0xA005, 8);
    EXPECT_TRUE(Walk(MarkerStream({ pair.Segment() })).record.exifFound);
}

TEST(ExifReader, ThumbnailPointsIntoTheStoredSegment)
{
    const Bytes thumbnail = { 0xFF, 0xD8, 0xFF, 0xD9, 7, 7 };
    ExifBuilder probe(false);
    probe.Long(ExifBuilder::SECOND, 0x0201, 0).Long(ExifBuilder::SECOND, 0x0202, 6).Tail(thumbnail);
    uint32_t tailOffset = 0;
    probe.Payload(&tailOffset);

    ExifBuilder b(false);
    b.Long(ExifBuilder::SECOND, 0x0201, tailOffset)
        .Long(ExifBuilder::SECOND, 0x0202, 6)
        .Tail(thumbnail);
    Walk walk(MarkerStream({ b.Segment() }));
    ASSERT_TRUE(walk.record.exifFound);
    ASSERT_NE(walk.record.thumbnail, nullptr);
    EXPECT_EQ(walk.record.thumbnailSize, 6u);
    EXPECT_EQ(std::memcmp(walk.record.thumbnail, thumbnail.data(), 6), 0);

    ExifBuilder outside(false);
    outside.Long(ExifBuilder::SECOND, 0x0201, tailOffset)
        .Long(ExifBuilder::SECOND, 0x0202, 7)
        .Tail(thumbnail);
    EXPECT_EQ(Walk(MarkerStream({ outside.Segment() })).record.thumbnail, nullptr);
}

TEST(ExifReader, ValuesAsRealByFormat)
{
    ExifRecord record {};
    CxExifReader reader(&record);
    ExifBuilder big(true);
    const uint8_t signedRational[8] = { 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 4 };
    // Byte order is that of the last block parsed; a fresh reader reads little-endian.
    const uint8_t littleShort[2] = { 0xFE, 0xFF };
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(littleShort, 3), 65534);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(littleShort, 8), -2);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(littleShort, 1), 254);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(littleShort, 6), -2);
    const uint8_t zeroDenominator[8] = { 5, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(zeroDenominator, 5), 0);
    const float f = 2.5f;
    const double d = -0.125;
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(reinterpret_cast<const uint8_t*>(&f), 11), 2.5);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(reinterpret_cast<const uint8_t*>(&d), 12), -0.125);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(littleShort, 2), 0);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(littleShort, 7), 0);

    // After a big-endian block, rationals read big-endian and as signed numbers.
    big.Short(ExifBuilder::FIRST, 0x0112, 1);
    const Bytes payload = big.Payload();
    Bytes copy = payload;
    ASSERT_TRUE(reader.ParseExifBlock(copy.data(), uint32_t(copy.size() + 2)));
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(signedRational, 5), -0.5);
    EXPECT_DOUBLE_EQ(reader.ExifValueAsReal(signedRational, 10), -0.5);
}

TEST(ExifReader, RealFiles)
{
    const auto walkFile = [](const char* name, ExifRecord& record) {
        const Bytes bytes = bvtest::ReadFileBytes(bvtest::TestData(name));
        CxExifReader reader(&record);
        CxMemStream stream(bytes.data(), bytes.size());
        return reader.ReadExifFromStream(&stream);
    };
    ExifRecord dpi {};
    EXPECT_TRUE(walkFile("jpeg/gen/plasma-exif300dpi.jpg", dpi));
    EXPECT_TRUE(dpi.exifFound);
    EXPECT_FLOAT_EQ(dpi.xResolution, 300);
    EXPECT_FLOAT_EQ(dpi.resolutionUnit, 1);
    EXPECT_EQ(dpi.orientation, 1);
    EXPECT_EQ(dpi.hasColour, 1);

    ExifRecord rotated {};
    EXPECT_TRUE(walkFile("jpeg/gen/plasma-exif-orient6.jpg", rotated));
    EXPECT_EQ(rotated.orientation, 6);
    EXPECT_FLOAT_EQ(rotated.xResolution, 72);

    ExifRecord portrait {};
    EXPECT_TRUE(walkFile("jpeg/image-rs/portrait_2.jpg", portrait));
    EXPECT_TRUE(portrait.exifFound);
    EXPECT_EQ(portrait.orientation, 2);

    ExifRecord grey {};
    EXPECT_TRUE(walkFile("jpeg/gen/grey.jpg", grey));
    EXPECT_FALSE(grey.exifFound);
    EXPECT_EQ(grey.hasColour, 0);
}
