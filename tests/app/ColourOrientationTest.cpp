// Photos arrive in sRGB and upright: wide-gamut photos are converted by their embedded
// profile, photos stored on their side are turned by their Exif orientation, and photos
// with neither (or with an sRGB profile, or orientation 1) keep every byte.
#include "app/Composition.h"
#include "app/PhotoPlan.h"
#include "image/core/CxImage.h"
#include "platform/DeviceBitmap.h"
#include "tests/support/TestSupport.h"

#include <cmath>
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
        const uint8_t* row = image.GetBits(uint32_t(y));
        bytes.insert(bytes.end(), row, row + rowBytes);
    }
    return bytes;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); i++)
        sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

std::unique_ptr<CxImage> Read(const std::string& name, ProjectSettings settings,
    PhotoReading reading = PhotoReading::Streamed)
{
    std::string error;
    auto photo = ReadReducedPhoto(bvtest::TestData(name), settings, &error, reading);
    EXPECT_TRUE(photo) << name << ": " << error;
    return photo;
}

ProjectSettings WithPhotoSize(uint32_t size)
{
    ProjectSettings settings;
    settings.photoSize = size;
    return settings;
}

// Every photo made from the sRGB source (160 x 120) of the wide-gamut pair.
const char* const SRGB_SOURCE = "jpeg/gen/plasma-q95-444.jpg.ref.png";
const char* const UPRIGHT = "jpeg/gen/plasma-q95-444.jpg";

} // namespace

TEST(ColourProfiles, WideGamutPhotosArriveInSrgb)
{
    for (const char* name : { "jpeg/gen/plasma-prophoto.jpg", "png/gen/plasma-adobergb.png" }) {
        SCOPED_TRACE(name);
        // Whole (photo size 160) and through the streamed reduction (80).
        for (uint32_t size : { 160u, 80u }) {
            ProjectSettings settings = WithPhotoSize(size);
            const auto source = Read(SRGB_SOURCE, settings);
            const auto converted = Read(name, settings);
            settings.ignoreProfiles = true;
            const auto stored = Read(name, settings);
            ASSERT_TRUE(source && converted && stored);
            EXPECT_GE(Psnr(PixelRows(*converted), PixelRows(*source)), 38.0) << size;
            EXPECT_LT(Psnr(PixelRows(*stored), PixelRows(*source)), 30.0) << size;
        }
    }
    // The background picture too.
    const auto background = [](const char* name, PictureCorrections corrections) {
        const auto canvas = StretchBackground(
            bvtest::TestData(name), 100, 70, PhotoReading::Streamed, corrections);
        EXPECT_TRUE(canvas) << name;
        return canvas ? std::vector<uint8_t>(canvas->Bits(), canvas->Bits() + canvas->Stride() * 70)
                      : std::vector<uint8_t>();
    };
    const auto source = background(SRGB_SOURCE, {});
    EXPECT_GE(Psnr(background("jpeg/gen/plasma-prophoto.jpg", {}), source), 38.0);
    EXPECT_LT(Psnr(background("jpeg/gen/plasma-prophoto.jpg", { false, true }), source), 30.0);
}

TEST(ColourProfiles, UntaggedSrgbTaggedAndUprightPhotosKeepTheirBytes)
{
    // The same scan data with no profile and no orientation, with an sRGB profile, and
    // with orientation 1: streamed, whole, and at the fast scale.
    for (uint32_t size : { 80u, 160u, 32u }) {
        ProjectSettings settings = WithPhotoSize(size);
        settings.fastDecoding = size == 32;
        const auto plain = Read(UPRIGHT, settings);
        ASSERT_TRUE(plain);
        for (const char* name :
            { "jpeg/gen/plasma-srgb-tagged.jpg", "jpeg/gen/plasma-orient1.jpg" }) {
            const auto tagged = Read(name, settings);
            ASSERT_TRUE(tagged) << name;
            EXPECT_EQ(PixelRows(*tagged), PixelRows(*plain)) << name << " at " << size;
        }
    }
}

TEST(ColourProfiles, APictureReadIntoAnImageThatHeldAnotherHasOnlyItsOwnProfile)
{
    CxImage image;
    ASSERT_TRUE(image.Load(bvtest::TestData("jpeg/gen/plasma-prophoto.jpg").c_str()));
    ASSERT_FALSE(image.GetIccProfile().empty());
    ASSERT_TRUE(image.Load(bvtest::TestData("jpeg/gen/plasma-orient6.jpg").c_str()));
    ASSERT_EQ(image.GetOrientation(), 6);
    ASSERT_TRUE(image.Load(bvtest::TestData("bmp/bmpsuite/g/pal1.bmp").c_str()));
    EXPECT_TRUE(image.GetIccProfile().empty());
    EXPECT_EQ(image.GetOrientation(), 0);
}

TEST(ColourProfiles, AProfileThatCantBeUsedIsPassedOverWithANote)
{
    // The ProPhoto profile with its signature broken: the photo reads as stored.
    std::vector<uint8_t> bytes = bvtest::CorpusBytes("jpeg/gen/plasma-prophoto.jpg");
    const std::string marker = "ICC_PROFILE";
    auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    ASSERT_NE(at, bytes.end());
    // Behind the marker's name and piece numbers, the profile's 'acsp' at offset 36.
    at[marker.size() + 3 + 36] = 'x';
    const std::string path = bvtest::MakeTempDir("colour-refused") + "/broken.jpg";
    bvtest::WriteFileBytes(path, bytes);

    std::vector<std::string> notes;
    SetReadingNoteHandler([&](const std::string& where, const std::string& note) {
        notes.push_back(where + ": " + note);
    });
    ProjectSettings settings = WithPhotoSize(80);
    std::string error;
    const auto photo = ReadReducedPhoto(path, settings, &error);
    SetReadingNoteHandler(nullptr);
    settings.ignoreProfiles = true;
    const auto stored = Read("jpeg/gen/plasma-prophoto.jpg", settings);
    ASSERT_TRUE(photo && stored) << error;
    EXPECT_EQ(PixelRows(*photo), PixelRows(*stored));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find(path + ": colour profile ignored"), std::string::npos) << notes[0];

    // Pieces that don't add up (the count says two, one is there): no profile at all.
    at[marker.size() + 3 + 36] = 'a';
    at[marker.size() + 2] = 2;
    bvtest::WriteFileBytes(path, bytes);
    CxImage image(path.c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(image.IsValid());
    EXPECT_TRUE(image.GetIccProfile().empty());
}

TEST(Orientation, EveryOrientationMakesTheUprightPhoto)
{
    // Reduced (streamed, whole, and at the fast scale) and kept at full size.
    for (uint32_t size : { 80u, 160u, 32u }) {
        ProjectSettings settings = WithPhotoSize(size);
        settings.fastDecoding = size == 32;
        const auto upright = Read(UPRIGHT, settings);
        ASSERT_TRUE(upright);
        for (int n = 2; n <= 9; n++) {
            const std::string name = n == 9 ? "png/gen/plasma-orient6.png"
                                            : "jpeg/gen/plasma-orient" + std::to_string(n) + ".jpg";
            SCOPED_TRACE(name + " at " + std::to_string(size));
            const auto turned = Read(name, settings);
            ASSERT_TRUE(turned);
            ASSERT_EQ(turned->GetWidth(), upright->GetWidth());
            ASSERT_EQ(turned->GetHeight(), upright->GetHeight());
            EXPECT_GE(Psnr(PixelRows(*turned), PixelRows(*upright)), 45.0);
            // The plan sees the upright size too.
            const PhotoPlan plan = PlanPhoto(bvtest::TestData(name), settings);
            EXPECT_EQ(plan.reducedWidth, upright->GetWidth());
            EXPECT_EQ(plan.reducedHeight, upright->GetHeight());
        }
    }
    // Kept as stored when asked.
    ProjectSettings settings = WithPhotoSize(80);
    settings.ignoreOrientation = true;
    const auto stored = Read("jpeg/gen/plasma-orient6.jpg", settings);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->GetWidth(), 60);
    EXPECT_EQ(stored->GetHeight(), 80);
}
