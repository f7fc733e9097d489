#include "tests/gif/GifPeer.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadText(const std::string& path)
{
    const auto bytes = bvtest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

Result RunMake(const std::vector<std::string>& arguments)
{
    static const std::string folder = bvtest::MakeTempDir("cli-make-io");
    std::string command = Quote(BRIMVALE_CLI) + " make";
    for (const std::string& a : arguments)
        command += " " + Quote(a);
    command += " >" + folder + "/out 2>" + folder + "/err </dev/null";
    Result r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadText(folder + "/out");
    r.err = ReadText(folder + "/err");
    return r;
}

gifpeer::PeerFile ReadMade(const std::string& path)
{
    const std::vector<uint8_t> bytes = bvtest::ReadFileBytes(path);
    return gifpeer::ReadWithGiflib(bytes.data(), bytes.size());
}

int FrameCount(const std::string& path)
{
    return bvtest::FileExists(path) ? int(ReadMade(path).frames.size()) : -1;
}

// Each frame's delay and the colour at its middle (0xRRGGBB).
std::pair<std::vector<int>, std::vector<uint32_t>> DelaysAndMiddles(const gifpeer::PeerFile& file)
{
    std::pair<std::vector<int>, std::vector<uint32_t>> result;
    for (const gifpeer::PeerFrame& f : file.frames) {
        const size_t c = size_t(f.indices[size_t(f.height / 2 * f.width + f.width / 2)]) * 3;
        result.first.push_back(f.delay);
        result.second.push_back(
            uint32_t(f.colors[c]) << 16 | uint32_t(f.colors[c + 1]) << 8 | f.colors[c + 2]);
    }
    return result;
}

// An 8 x 8 photo of one colour, as a 24-bit BMP.
std::string SolidPhoto(const std::string& path, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> file(54 + 8 * 8 * 3, 0);
    const uint8_t header[] = { 'B', 'M', uint8_t(file.size()), 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40,
        0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 1, 0, 24 };
    std::copy(std::begin(header), std::end(header), file.begin());
    for (size_t i = 54; i < file.size(); i += 3) {
        file[i] = b;
        file[i + 1] = g;
        file[i + 2] = r;
    }
    bvtest::WriteFileBytes(path, file);
    return path;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t h = 0xcbf29ce484222325u;
    for (uint8_t b : bytes)
        h = (h ^ b) * 0x100000001b3u;
    return h;
}

const std::string PHOTO = bvtest::TestData("jpeg/gen/plasma-q85-420.jpg");

} // namespace

TEST(CliMake, BadValuesAreRefusedNamingTheOption)
{
    const std::string out = bvtest::MakeTempDir("cli-make-bad") + "/x.gif";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases {
        { { "--width", "31" }, "--width" },
        { { "--height", "801" }, "--height" },
        { { "--width=abc" }, "--width" },
        { { "--photo-size", "200" }, "--photo-size" }, // above the default 120 x 120 canvas
        { { "--delay", "10000" }, "--delay" },
        { { "--last-delay", "-1" }, "--last-delay" },
        { { "--background", "red" }, "--background" },
        { { "--background-image", "" }, "--background-image" },
        { { "--background", "#000000", "--background-image", PHOTO }, "exclude" },
        { { "--frobnicate" }, "--frobnicate" },
        { { "--threads" }, "--threads" },
        { { "--loop", "65536" }, "--loop" },
        { { "--delays", "5,x" }, "--delays" },
        { { "--delays", "5,6" }, "--delays gives 2 delays for 1 photo" },
        { { "--delays", "5", "--delay", "5" }, "exclude" },
        { { "--optimize=yes" }, "--optimize" },
        { { "--fast=yes" }, "--fast" },
        { { "--quality", "0" }, "--quality" },
        { { "--quality", "101" }, "--quality" },
        { { "--quality", "90", "--dither" }, "exclude" },
    };
    const std::string tryHelp = "Try 'brimvale-cli make --help'.\n";
    for (const auto& [options, named] : cases) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), { "-o", out, PHOTO });
        const Result r = RunMake(arguments);
        EXPECT_EQ(r.status, 2) << named;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        // One line on what is wrong, one pointing to the help.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), tryHelp.size())), tryHelp);
    }
    Result r = RunMake({ "-o", out + ".PNG", PHOTO });
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("does not end in .gif"), std::string::npos) << r.err;
    EXPECT_EQ(RunMake({ "--quiet", "-o", out + ".GIF", PHOTO }).status, 0);
    EXPECT_EQ(RunMake({ "--quiet", "--force-name", "-o", out + ".png", PHOTO }).status, 0);
    EXPECT_EQ(FrameCount(out + ".png"), 1);
    EXPECT_EQ(RunMake({ PHOTO }).status, 2); // no -o
    EXPECT_EQ(RunMake({ "-o", out }).status, 2); // no photos
    EXPECT_FALSE(bvtest::FileExists(out));
    const Result help = RunMake({ "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--photo-size"), std::string::npos);
    EXPECT_NE(help.out.find("--fast"), std::string::npos);
    EXPECT_NE(help.out.find("--quality N"), std::string::npos);
}

TEST(CliMake, MakesTheGifFromTheReadablePhotosAndListsTheOthers)
{
    const std::string folder = bvtest::MakeTempDir("cli-make");
    bvtest::WriteFileBytes(folder + "/broken.png", std::vector<uint8_t>(40, 3));
    const std::string out = folder + "/anim.gif";
    Result r = RunMake({ "--quiet", "--width=200", "--height", "150", "--photo-size", "100",
        "--background", "#102030", "--delay", "0", "--last-delay", "300", "-o", out, PHOTO,
        folder + "/broken.png", bvtest::TestData("png/pngsuite/basn2c08.png") });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("broken.png: "), std::string::npos) << r.err;
    EXPECT_NE(
        r.err.find("1 images can not be added because of unknown file format"), std::string::npos)
        << r.err;
    EXPECT_EQ(FrameCount(out), 2);

    // Fast decoding reads the 160 x 120 JPEG at half size for a photo size of 40.
    r = RunMake({ "--quiet", "--fast", "--width", "64", "--height", "48", "--photo-size", "40",
        "-o", out, PHOTO, bvtest::TestData("png/pngsuite/basn2c08.png") });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FrameCount(out), 2);

    r = RunMake({ "-o", out, PHOTO });
    EXPECT_EQ(r.status, 0);
    // No progress bar when stderr isn't a terminal, only the summary.
    EXPECT_EQ(r.err,
        out + ": 1 frame, 120 x 120, " + std::to_string(bvtest::ReadFileBytes(out).size())
            + " bytes\n");
    EXPECT_EQ(FrameCount(out), 1);
}

TEST(CliMake, MakesTheGifFromThePhotoFormatsMixedWithJpegs)
{
    const std::string folder = bvtest::MakeTempDir("cli-make-formats");
    const std::string out = folder + "/mixed.gif";
    std::vector<std::string> arguments = { "--quiet", "--keep-order", "-o", out, PHOTO };
    for (const char* file : { "webp/gen/anim-2frames.webp", "heif/gen/shapes-97x61-irot90.heic",
             "jpeg/gen/shapes-97x61.jpg", "avif/gen/alpha.avif", "jxl/gen/plasma-d1.jxl",
             "webp/gen/alpha-lossless.webp", "heif/gen/plasma-10bit.heic" })
        arguments.push_back(bvtest::TestData(file));
    arguments.push_back(bvtest::TestData("jxl/invalid/trunc50-plasma-d1.jxl"));
    const Result r = RunMake(arguments);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("trunc50-plasma-d1.jxl: JPEG XL decoding failed: the file is truncated"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(FrameCount(out), 8);
}

TEST(CliMake, NothingReadableOrNothingWritableLeavesTheOldFile)
{
    const std::string folder = bvtest::MakeTempDir("cli-make-none");
    const std::string out = folder + "/old.gif";
    const std::vector<uint8_t> old { 'o', 'l', 'd' };
    bvtest::WriteFileBytes(out, old);
    bvtest::WriteFileBytes(folder + "/a.jpg", std::vector<uint8_t>(10, 0));
    Result r = RunMake({ "-o", out, folder + "/a.jpg", folder + "/missing.png" });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.png: not found\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 images can not be added"), std::string::npos) << r.err;
    EXPECT_EQ(bvtest::ReadFileBytes(out), old);

    r = RunMake({ "-o", folder + "/no/such/folder/x.gif", PHOTO });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("/no/such/folder/x.gif: the folder does not exist\nFailed\n"), std::string::npos)
        << r.err;

    // A background picture that can't be read stops the making, naming it and why.
    for (const auto& [picture, why] : { std::pair { folder + "/a.jpg", "JPEG" },
             std::pair { folder + "/gone.png", "not found" } }) {
        r = RunMake({ "--background-image", picture, "-o", out, PHOTO });
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(picture + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
        EXPECT_EQ(bvtest::ReadFileBytes(out), old);
    }
}

TEST(CliMake, KeepsTheOrderGivenAndWritesTheLoopCountAndEachDelay)
{
    const std::string folder = bvtest::MakeTempDir("cli-make-order");
    const std::vector<std::string> photos { SolidPhoto(folder + "/c.bmp", 0, 0, 255),
        SolidPhoto(folder + "/a.bmp", 255, 0, 0), folder + "/b-missing.bmp",
        SolidPhoto(folder + "/b.bmp", 0, 255, 0) };
    const std::string out = folder + "/out.gif";
    std::vector<std::string> arguments { "--quiet", "--keep-order", "--loop", "3", "--delays",
        "10,20,30,40", "-o", out };
    arguments.insert(arguments.end(), photos.begin(), photos.end());
    EXPECT_EQ(RunMake(arguments).status, 1); // one photo can't be read: its delay goes
    gifpeer::PeerFile made = ReadMade(out);
    EXPECT_EQ(DelaysAndMiddles(made),
        std::pair(std::vector<int> { 10, 20, 40 },
            std::vector<uint32_t> { 0x0000FF, 0xFF0000, 0x00FF00 }));
    EXPECT_EQ(made.loopCount, 3);

    // Sorted by path unless asked otherwise, the delays still in frame order; 0 and no
    // --loop loop forever.
    arguments = { "--quiet", "--delays", "0,5,9999", "-o", out, photos[0], photos[1], photos[3] };
    EXPECT_EQ(RunMake(arguments).status, 0);
    made = ReadMade(out);
    EXPECT_EQ(DelaysAndMiddles(made),
        std::pair(std::vector<int> { 0, 5, 9999 },
            std::vector<uint32_t> { 0xFF0000, 0x00FF00, 0x0000FF }));
    EXPECT_EQ(made.loopCount, 0);
}

// Made without options, the file stays byte for byte what this program has always made.
TEST(CliMake, WithoutOptionsTheFileStaysAsItWas)
{
    const std::string folder = bvtest::MakeTempDir("cli-make-pin");
    const std::string examples = bvtest::SourceDir() + "/examples/";
    std::vector<std::string> arguments { "--quiet", "--width", "300", "--height", "200",
        "--photo-size", "150", "--background-image", examples + "plasma.jpg", "--delay", "7",
        "--last-delay", "300", "-o", folder + "/one.gif" };
    for (const char* name : { "sunset.jpg", "plasma.jpg", "shapes.png", "alpha.png", "grad.gif",
             "grey.tga", "pal256.bmp" })
        arguments.push_back(examples + name);
    ASSERT_EQ(RunMake(arguments).status, 0);
    EXPECT_EQ(Fnv1a(bvtest::ReadFileBytes(folder + "/one.gif")), 0x7b445efed36ce66fu);
}

// Frames made for the eye go into the file as they are made, in order, on however many
// threads.
TEST(CliMake, AQualityFileIsTheSameWhateverTheThreads)
{
    const std::string folder = bvtest::MakeTempDir("cli-make-quality");
    const std::string examples = bvtest::SourceDir() + "/examples/";
    for (const char* optimize : { "--quiet", "--optimize" }) {
        std::vector<uint64_t> hashes;
        for (const char* threads : { "1", "3" }) {
            std::vector<std::string> arguments { "--quiet", optimize, "--quality", "60",
                "--threads", threads, "--width", "200", "--height", "150", "--photo-size", "150",
                "-o", folder + "/q.gif" };
            for (const char* name : { "sunset.jpg", "plasma.jpg", "shapes.png", "grad.gif" })
                arguments.push_back(examples + name);
            ASSERT_EQ(RunMake(arguments).status, 0) << optimize;
            hashes.push_back(Fnv1a(bvtest::ReadFileBytes(folder + "/q.gif")));
        }
        EXPECT_EQ(hashes[0], hashes[1]) << optimize;
    }
}

TEST(CliMake, IgnoringProfilesAndOrientationKeepsPhotosAsStored)
{
    const std::string folder = bvtest::MakeTempDir("cli-make-ignore");
    const std::string prophoto = bvtest::TestData("jpeg/gen/plasma-prophoto.jpg");
    const std::string turned = bvtest::TestData("jpeg/gen/plasma-orient6.jpg");
    // Each option changes only the photo it is about.
    std::vector<uint64_t> hashes;
    for (const char* option : { "--quiet", "--ignore-profiles", "--ignore-orientation" }) {
        for (const std::string& photo : { prophoto, turned }) {
            const std::string out = folder + "/out.gif";
            ASSERT_EQ(RunMake({ option, "--quiet", "-o", out, photo }).status, 0) << option;
            hashes.push_back(Fnv1a(bvtest::ReadFileBytes(out)));
        }
    }
    EXPECT_NE(hashes[2], hashes[0]);
    EXPECT_EQ(hashes[3], hashes[1]);
    EXPECT_EQ(hashes[4], hashes[0]);
    EXPECT_NE(hashes[5], hashes[1]);
    EXPECT_EQ(RunMake({ "--ignore-profiles=1", "-o", folder + "/x.gif", prophoto }).status, 2);
}
