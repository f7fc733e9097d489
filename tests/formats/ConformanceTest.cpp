// Every file of the BMP, icon, TGA, PCX and WBMP corpus through the program's own entry
// point (the file-name constructor, format by extension): valid files must give their
// reference picture pixel for pixel, broken ones a clean failure with a text.
#include "tests/support/ReferencePicture.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

using bvtest::RefImage;

enum class Check {
    Exact, // every pixel's RGB equals the reference
    FiveBit, // 5-bit channels are widened by shifting (v << 3); compare the top 5 bits
    Opaque, // pixels the reference shows transparent are not compared
    Shape, // decodes to the right size; the pixels are not the reference's (see reason)
    Fails, // must be refused with a text
    Decodes, // an invalid file that this program decodes on purpose (see reason)
    Either, // a decode or a clean refusal are both right
    IfDecoded, // may be refused with a text; when decoded, it must match its reference
};

struct Rule {
    Check check;
    const char* reason;
    int32_t frame = 0; // the entry the reference shows
};

// Files whose result differs from "valid: the reference; invalid: an error", with why.
// Paths are relative to the corpus.
const std::map<std::string, Rule>& Rules()
{
    static const std::map<std::string, Rule> rules = {
        // 16-bit BMP pixels: ExpandBitfields shifts each field into the top of its byte.
        { "bmp/bmpsuite/g/rgb16.bmp", { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/g/rgb16bfdef.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/g/rgb16-565.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/g/rgb16-565pal.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/rgb16.bmp", { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/rgb16-565.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/Info_X1_R5_G5_B5.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/Info_X1_R5_G5_B5_Top_Down.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/V3_A1_R5_G5_B5.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/V3_A1_R5_G5_B5_Top_Down.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/V3_R5_G6_B5.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/V3_R5_G6_B5_Top_Down.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/V4_R5_G6_B5.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/V5_A1_R5_G5_B5.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        // 32-bit BMP bit fields are not read: bytes 0, 1, 2 are always blue, green, red.
        { "bmp/image-rs/V3_X8_R8_G8_B8.bmp",
            { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/image-rs/V3_X8_R8_G8_B8_Top_Down.bmp",
            { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/g/rgb32bf.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/image-rs/rgb32bf.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        // 4-bit fields can't be read through the 16-bit expansion, which assumes the red,
        // green and blue fields are packed from bit 0 upwards.
        { "bmp/image-rs/V3_A4_R4_G4_B4.bmp",
            { Check::Shape, "4-4-4 fields under an alpha field" } },
        { "bmp/image-rs/V3_A4_R4_G4_B4_Top_Down.bmp",
            { Check::Shape, "4-4-4 fields under an alpha field" } },
        { "bmp/image-rs/V3_X4_R4_G4_B4.bmp",
            { Check::Shape, "4-4-4 fields under a padding field" } },
        { "bmp/image-rs/V3_X4_R4_G4_B4_Top_Down.bmp",
            { Check::Shape, "4-4-4 fields under a padding field" } },
        // Damaged files that the BMP reader decodes as far as they go: the fields named are
        // not used (planes of a 40-byte header, the file and image sizes), resolutions are
        // only numbers, RLE runs and deltas past the picture are clipped or end the
        // decoding, indices past the palette show its unused (black) entries, odd masks
        // are applied as given, and a top-down RLE bitmap is flipped like any other.
        { "bmp/bmpsuite/invalid/badbitssize.bmp",
            { Check::Decodes, "biSizeImage of a 40-byte header is not used" } },
        { "bmp/bmpsuite/invalid/baddens1.bmp", { Check::Decodes, "a resolution is only stored" } },
        { "bmp/bmpsuite/invalid/baddens2.bmp", { Check::Decodes, "a resolution is only stored" } },
        { "bmp/bmpsuite/invalid/badfilesize.bmp", { Check::Decodes, "bfSize is not used" } },
        { "bmp/bmpsuite/invalid/badplanes.bmp",
            { Check::Decodes, "planes of a 40-byte header are not used" } },
        { "bmp/bmpsuite/invalid/badrle.bmp",
            { Check::Decodes, "RLE overruns are clipped or end the decoding" } },
        { "bmp/bmpsuite/invalid/badrlebis.bmp",
            { Check::Decodes, "RLE overruns are clipped or end the decoding" } },
        { "bmp/bmpsuite/invalid/badrleter.bmp",
            { Check::Decodes, "RLE overruns are clipped or end the decoding" } },
        { "bmp/bmpsuite/invalid/badrle4.bmp",
            { Check::Decodes, "RLE overruns are clipped or end the decoding" } },
        { "bmp/bmpsuite/invalid/badrle4bis.bmp",
            { Check::Decodes, "RLE overruns are clipped or end the decoding" } },
        { "bmp/bmpsuite/invalid/badrle4ter.bmp",
            { Check::Decodes, "RLE overruns are clipped or end the decoding" } },
        { "bmp/bmpsuite/invalid/pal8badindex.bmp",
            { Check::Decodes, "indices past the palette show black" } },
        { "bmp/bmpsuite/invalid/rgb16-880.bmp",
            { Check::Decodes, "16-bit masks are applied as given" } },
        { "bmp/bmpsuite/invalid/rletopdown.bmp",
            { Check::Decodes, "top-down RLE is flipped like other bitmaps" } },
        { "bmp/bmpsuite/invalid/shortfile.bmp",
            { Check::Decodes, "truncated: decodes partially" } },
        { "bmp/image-rs/imagemagick_invalid_run_length_issue_2321.bmp",
            { Check::Either, "damaged RLE data, no reference" } },
        // TGA 16-bit colour-map entries are shifted, not scaled.
        { "tga/gen/pal16-t9-cmap16.tga",
            { Check::FiveBit, "16-bit colour-map entries are shifted, not scaled" } },
        { "tga/gen/shapes-t1-cmap16.tga",
            { Check::FiveBit, "16-bit colour-map entries are shifted, not scaled" } },
        // A WBMP that ends early still decodes; the missing rows stay black.
        { "wbmp/invalid/head16-dither.wbmp", { Check::Decodes, "truncated: decodes partially" } },
        { "wbmp/invalid/trunc50-bw.wbmp", { Check::Decodes, "truncated: decodes partially" } },
        // 16-bit fields narrower than 5 bits land in the top bits of their byte, unscaled.
        { "bmp/image-rs/rgb16-231.bmp", { Check::Shape, "2-3-1 fields are shifted, not scaled" } },
        { "bmp/image-rs/rgba16-1924.bmp",
            { Check::Shape, "narrow 16-bit fields are shifted, not scaled" } },
        { "bmp/image-rs/rgb32-111110.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/image-rs/rgba32-61754.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/image-rs/rgba32.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/image-rs/rgb24rle24.bmp",
            { Check::Fails, "24-bit RLE is refused (unknown compression)" } },
        { "bmp/image-rs/rgba32abf.bmp",
            { Check::Fails, "compression 6 is refused (unknown compression)" } },
        // Questionable bmpsuite files that decode, with why their pixels differ.
        { "bmp/bmpsuite/q/rgb16-231.bmp",
            { Check::Shape, "narrow 16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/q/rgb16-3103.bmp",
            { Check::Shape, "narrow 16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/q/rgba16-1924.bmp",
            { Check::Shape, "narrow 16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/q/rgba16-4444.bmp",
            { Check::Shape, "4-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/q/rgb32-111110.bmp",
            { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgb32-7187.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgb32-xbgr.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgb32h52.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgba32-1010102.bmp",
            { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgba32-2.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgba32-61754.bmp",
            { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgba32-81284.bmp",
            { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgba32h56.bmp", { Check::Shape, "32-bit bit-field masks are ignored" } },
        { "bmp/bmpsuite/q/rgb24prof2.bmp",
            { Check::Shape,
                "the reference applies the embedded colour profile, which is not used" } },
        { "bmp/bmpsuite/q/rgb16faketrns.bmp",
            { Check::FiveBit, "16-bit fields are shifted, not scaled" } },
        { "bmp/bmpsuite/q/rgba16-5551.bmp",
            { Check::Shape, "16-bit fields are shifted, not scaled; alpha bit left out" } },
        { "bmp/bmpsuite/q/rgba32-1.bmp",
            { Check::Opaque,
                "alpha is left out; the reference is black under transparent pixels" } },
        // Pixels that RLE data skips stay index 0; this reference shows them black (the
        // same files in bmpsuite/q are compared with the index-0 reading).
        { "bmp/image-rs/pal4rlecut.bmp", { Check::Shape, "skipped RLE pixels are index 0" } },
        { "bmp/image-rs/pal4rletrns.bmp", { Check::Shape, "skipped RLE pixels are index 0" } },
        { "bmp/image-rs/invalid/Bad_shortfile.bmp",
            { Check::Decodes, "truncated: decodes partially" } },
        { "bmp/image-rs/invalid/Bad_unusual_extend_buffer_usage.bmp",
            { Check::Decodes, "RLE data that ends early leaves the rest of the picture black" } },
        // Icons: see CheckFile for the colour under masked pixels.
        { "ico/image-rs/bmp-32bpp-conflicting-and-mask.ico",
            { Check::Shape, "a mask over every pixel inverts the picture (Negative)" } },
        { "ico/image-rs/bmp_v5_with_icc.ico",
            { Check::Shape,
                "the reference (made with ImageMagick) misreads the 124-byte header" } },
        { "ico/image-rs/multiple_entries_with_different_bit_depth.ico",
            { Check::Opaque, "the reference shows the largest, deepest entry", 5 } },
        { "ico/image-rs/invalid/Bad_smile-incorrect-image-length.ico",
            { Check::Decodes, "the entry's byte count is not used" } },
        { "ico/image-rs/invalid/crash-981fee302fe0fc543ee48292cc3d6ace7e97e633.ico",
            { Check::Decodes, "a short 4-bit entry decodes partially" } },
        { "ico/invalid/trunc50-alpha-32-32bit.ico",
            { Check::Decodes, "truncated: decodes partially" } },
    };
    return rules;
}

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

std::string Relative(const std::string& path)
{
    const std::string root = bvtest::TestDataDir() + "/";
    return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
}

// The references of a file: F.ref.png first, then every F.ref-alt-*.png.
std::vector<std::string> RefsOf(const std::string& path, const std::vector<std::string>& all)
{
    std::vector<std::string> refs;
    const std::string main = path + ".ref.png";
    if (std::find(all.begin(), all.end(), main) != all.end())
        refs.push_back(main);
    const std::string alt = path + ".ref-alt-";
    for (const std::string& file : all) {
        if (file.compare(0, alt.size(), alt) == 0)
            refs.push_back(file);
    }
    return refs;
}

// The number of pixels that differ, and the first of them in words.
size_t CountDifferences(const CxImage& image, const RefImage& ref, Check check, std::string& first)
{
    size_t differences = 0;
    for (uint32_t row = 0; row < ref.height; row++) {
        for (uint32_t x = 0; x < ref.width; x++) {
            const uint8_t* want = ref.At(x, row);
            if (check == Check::Opaque && want[3] == 0)
                continue;
            const RGBQUAD got
                = image.GetPixelColor(int32_t(x), int32_t(ref.height - 1 - row), false);
            const int shift = check == Check::FiveBit ? 3 : 0;
            const bool same = (got.rgbRed >> shift) == (want[0] >> shift)
                && (got.rgbGreen >> shift) == (want[1] >> shift)
                && (got.rgbBlue >> shift) == (want[2] >> shift);
            if (!same) {
                if (differences == 0) {
                    first = "(" + std::to_string(x) + "," + std::to_string(row) + ") got "
                        + std::to_string(got.rgbRed) + "," + std::to_string(got.rgbGreen) + ","
                        + std::to_string(got.rgbBlue) + " want " + std::to_string(want[0]) + ","
                        + std::to_string(want[1]) + "," + std::to_string(want[2]);
                }
                differences++;
            }
        }
    }
    return differences;
}

void CheckFile(const std::string& path, const std::vector<std::string>& all)
{
    const std::string relative = Relative(path);
    SCOPED_TRACE(relative);

    const auto rule = Rules().find(relative);
    const bool invalid = Contains(relative, "/invalid/");
    const bool questionable
        = Contains(relative, "/q/") || Contains(relative, "/x/") || Contains(relative, "/lenient/");
    Check check = invalid ? Check::Fails : questionable ? Check::IfDecoded : Check::Exact;
    int32_t frame = 0;
    if (rule != Rules().end()) {
        check = rule->second.check;
        frame = rule->second.frame;
    }
    // The icon reader gives masked pixels of 8 bits and less the lowest unused index, and
    // the icon references store transparent pixels as 0,0,0,0: only opaque ones compare.
    if (check == Check::Exact && relative.compare(0, 4, "ico/") == 0)
        check = Check::Opaque;

    CxImage image;
    image.SetFrame(frame);
    image.Load(path.c_str(), CxImage::GetTypeFromExtension(path.c_str()));
    switch (check) {
    case Check::Fails:
        EXPECT_FALSE(image.IsValid()) << "an invalid file was decoded";
        EXPECT_NE(image.GetLastError()[0], '\0') << "refused without a text";
        return;
    case Check::Either:
        if (!image.IsValid()) {
            EXPECT_NE(image.GetLastError()[0], '\0') << "refused without a text";
        }
        return;
    case Check::IfDecoded:
        if (!image.IsValid()) {
            EXPECT_NE(image.GetLastError()[0], '\0') << "refused without a text";
            return;
        }
        if (RefsOf(path, all).empty())
            return;
        check = Check::Exact;
        break;
    case Check::Decodes:
        EXPECT_TRUE(image.IsValid()) << image.GetLastError();
        return;
    default:
        break;
    }

    ASSERT_TRUE(image.IsValid()) << "not decoded: " << image.GetLastError();
    // Further frames or entries have references of their own (F.frameN.png, N from 2).
    for (int32_t n = 2;; n++) {
        const std::string framePath = path + ".frame" + std::to_string(n) + ".png";
        if (std::find(all.begin(), all.end(), framePath) == all.end())
            break;
        SCOPED_TRACE("frame " + std::to_string(n));
        CxImage other;
        other.SetFrame(n - 1);
        other.Load(path.c_str(), CxImage::GetTypeFromExtension(path.c_str()));
        ASSERT_TRUE(other.IsValid()) << other.GetLastError();
        const RefImage ref = bvtest::LoadRefPng(framePath);
        ASSERT_TRUE(ref.error.empty()) << ref.error;
        ASSERT_EQ(uint32_t(other.GetWidth()), ref.width);
        ASSERT_EQ(uint32_t(other.GetHeight()), ref.height);
        std::string first;
        EXPECT_EQ(CountDifferences(other, ref, check, first), 0u) << first;
    }

    const std::vector<std::string> refs = RefsOf(path, all);
    ASSERT_FALSE(refs.empty()) << "no reference picture";
    std::string report;
    for (const std::string& refPath : refs) {
        const RefImage ref = bvtest::LoadRefPng(refPath);
        ASSERT_TRUE(ref.error.empty()) << refPath << ": " << ref.error;
        if (uint32_t(image.GetWidth()) != ref.width || uint32_t(image.GetHeight()) != ref.height) {
            report += Relative(refPath) + ": size " + std::to_string(image.GetWidth()) + "x"
                + std::to_string(image.GetHeight()) + "; ";
            continue;
        }
        if (check == Check::Shape)
            return;
        std::string first;
        const size_t differences = CountDifferences(image, ref, check, first);
        if (differences == 0)
            return;
        report += Relative(refPath) + ": " + std::to_string(differences) + " pixels differ, first "
            + first + "; ";
    }
    ADD_FAILURE() << report;
}

void CheckFamily(const std::string& family)
{
    const std::vector<std::string> all = bvtest::ListFiles(bvtest::TestData(family));
    ASSERT_FALSE(all.empty()) << "no corpus under " << family;
    for (const std::string& path : all) {
        if (!Contains(path, ".png") && !Contains(path, "LICENSE") && !Contains(path, ".txt"))
            CheckFile(path, all);
    }
}

TEST(FormatConformance, Bmp) { CheckFamily("bmp"); }
TEST(FormatConformance, Icon) { CheckFamily("ico"); }
TEST(FormatConformance, Tga) { CheckFamily("tga"); }
TEST(FormatConformance, Pcx) { CheckFamily("pcx"); }
TEST(FormatConformance, Wbmp) { CheckFamily("wbmp"); }

// The list above names real files, so it can't silently cover nothing.
TEST(FormatConformance, EveryRuleNamesACorpusFile)
{
    for (const auto& [file, rule] : Rules()) {
        EXPECT_TRUE(bvtest::FileExists(bvtest::TestData(file))) << file;
        EXPECT_NE(rule.reason[0], '\0') << file;
    }
}

} // namespace
