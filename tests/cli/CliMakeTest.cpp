#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <gif_lib.h>
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

int FrameCount(const std::string& path)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif)
        return -1;
    const int frames = DGifSlurp(gif) == GIF_OK ? gif->ImageCount : -1;
    DGifCloseFile(gif, &error);
    return frames;
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
    };
    for (const auto& [options, named] : cases) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), { "-o", out, PHOTO });
        const Result r = RunMake(arguments);
        EXPECT_EQ(r.status, 2) << named;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    }
    EXPECT_EQ(RunMake({ PHOTO }).status, 2); // no -o
    EXPECT_EQ(RunMake({ "-o", out }).status, 2); // no photos
    EXPECT_FALSE(bvtest::FileExists(out));
    const Result help = RunMake({ "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--photo-size"), std::string::npos);
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

    r = RunMake({ "-o", out, PHOTO });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, ""); // no progress bar when stderr isn't a terminal
    EXPECT_EQ(FrameCount(out), 1);
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
}
