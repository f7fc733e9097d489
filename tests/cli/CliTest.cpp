// brimvale-cli run as a user runs it: exit status, stdout and stderr.
#include "image/core/CxImage.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

CliRun RunCli(const std::string& arguments)
{
    static const std::string dir = bvtest::MakeTempDir("cli");
    const std::string out = dir + "/stdout.txt";
    const std::string err = dir + "/stderr.txt";
    const std::string command
        = std::string(BRIMVALE_CLI) + " " + arguments + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    return CliRun { WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err) };
}

size_t CountLines(const std::string& text)
{
    size_t lines = 0;
    for (const char c : text)
        lines += c == '\n';
    return lines;
}

uint32_t Le32(const std::string& bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) | (uint32_t(uint8_t(bytes[at + 1])) << 8)
        | (uint32_t(uint8_t(bytes[at + 2])) << 16) | (uint32_t(uint8_t(bytes[at + 3])) << 24);
}

TEST(CliTool, HelpVersionAndUsageErrors)
{
    const CliRun version = RunCli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "brimvale-cli 8.7\n");

    const CliRun help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("info FILE..."), std::string::npos);
    EXPECT_NE(
        help.out.find("decode [--frame N] FILE OUT.bmp [--alpha ALPHA.bmp]"), std::string::npos);

    EXPECT_EQ(RunCli("").status, 2);
    EXPECT_EQ(RunCli("frobnicate").status, 2);
    EXPECT_EQ(RunCli("info").status, 2);
    EXPECT_EQ(RunCli("decode only-one-file.bmp").status, 2);
    EXPECT_EQ(RunCli("decode --frame x a.bmp b.bmp").status, 2);
    EXPECT_EQ(RunCli("decode --frame -1 a.bmp b.bmp").status, 2);
    EXPECT_EQ(RunCli("decode a.bmp b.bmp --alpha").status, 2);
    EXPECT_EQ(RunCli("decode --bogus a.bmp b.bmp").status, 2);
    EXPECT_EQ(RunCli("decode --help").status, 0);
}

TEST(CliTool, InfoPrintsOneJsonObjectPerFile)
{
    const std::string tga = bvtest::TestData("tga/gen/alpha-t2-32.tga");
    const std::string ico = bvtest::TestData("ico/gen/multi-4-8-32bit.ico");
    const CliRun run = RunCli("info " + Quote(tga) + " " + Quote(ico));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "{\"path\":\"" + tga
            + "\",\"format\":7,\"formatName\":\"TGA\",\"width\":64,\"height\":64,\"bpp\":24,"
              "\"paletteSize\":0,\"transparentIndex\":-1,\"transparentColor\":null,\"alpha\":true,"
              "\"frames\":1,\"dpi\":[96,96],\"orientation\":1,\"iccProfile\":null}\n"
              "{\"path\":\""
            + ico
            + "\",\"format\":5,\"formatName\":\"ICO\",\"width\":16,\"height\":16,\"bpp\":4,"
              "\"paletteSize\":16,\"transparentIndex\":-1,\"transparentColor\":null,\"alpha\":"
              "false,"
              "\"frames\":3,\"dpi\":[96,96],\"orientation\":1,\"iccProfile\":null}\n");
}

TEST(CliTool, InfoTellsTheOrientationAndProfileAndDecodeApplies)
{
    const std::string turned = bvtest::TestData("jpeg/gen/plasma-orient6.jpg");
    const std::string prophoto = bvtest::TestData("jpeg/gen/plasma-prophoto.jpg");
    const CliRun info = RunCli("info " + Quote(turned) + " " + Quote(prophoto));
    EXPECT_NE(info.out.find("\"height\":160,\"bpp\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"orientation\":6,\"iccProfile\":null}"), std::string::npos);
    EXPECT_NE(
        info.out.find("\"orientation\":1,\"iccProfile\":\"ProPhoto RGB\"}"), std::string::npos);

    const std::string dir = bvtest::MakeTempDir("cli-decode-upright");
    ASSERT_EQ(RunCli("decode " + Quote(turned) + " " + Quote(dir + "/upright.bmp")).status, 0);
    ASSERT_EQ(
        RunCli("decode --ignore-orientation " + Quote(turned) + " " + Quote(dir + "/stored.bmp"))
            .status,
        0);
    const CxImage upright((dir + "/upright.bmp").c_str(), CXIMAGE_FORMAT_BMP);
    const CxImage stored((dir + "/stored.bmp").c_str(), CXIMAGE_FORMAT_BMP);
    EXPECT_EQ(upright.GetWidth(), 160);
    EXPECT_EQ(stored.GetWidth(), 120);
}

TEST(CliTool, InfoTellsThePhotoFormatsAndTheirSize)
{
    std::string arguments = "info";
    for (const char* file : { "webp/gen/alpha-lossy.webp", "heif/gen/shapes-97x61-irot90.heic",
             "avif/gen/plasma-10bit.avif", "jxl/gen/shapes-97x61-lossless.jxl" })
        arguments += " " + Quote(bvtest::TestData(file));
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    size_t at = 0;
    for (const char* expected :
        { "\"format\":18,\"formatName\":\"WEBP\",\"width\":64,\"height\":64,\"bpp\":24,",
            "\"format\":19,\"formatName\":\"HEIF\",\"width\":61,\"height\":97,\"bpp\":24,",
            "\"format\":20,\"formatName\":\"AVIF\",\"width\":160,\"height\":120,\"bpp\":24,",
            "\"format\":21,\"formatName\":\"JXL\",\"width\":97,\"height\":61,\"bpp\":24," }) {
        at = run.out.find(expected, at);
        EXPECT_NE(at, std::string::npos) << expected << " in " << run.out;
    }
    EXPECT_EQ(CountLines(run.out), 4u);
}

TEST(CliTool, InfoReportsErrorsAndFailsWithStatusOne)
{
    const std::string bad = bvtest::TestData("tga/image-rs/invalid/flip-zero-height.tga");
    const CliRun run = RunCli("info " + Quote(bad) + " /no/such/file.bmp");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
        "{\"path\":\"" + bad
            + "\",\"error\":\"Unknown TGA image type\"}\n"
              "{\"path\":\"/no/such/file.bmp\",\"error\":\"can't open file: No such file or "
              "directory\"}\n");
}

TEST(CliTool, InfoKeepsTheReadersRemarksOffStandardOutput)
{
    // Seven fill bytes before the first marker: the Exif walk remarks on them.
    std::vector<uint8_t> bytes
        = bvtest::ReadFileBytes(bvtest::SourceDir() + "/examples/plasma.jpg");
    bytes.insert(bytes.begin() + 2, 7, 0xFF);
    const std::string path = bvtest::MakeTempDir("cli-remarks") + "/fill.jpg";
    bvtest::WriteFileBytes(path, bytes);
    const CliRun run = RunCli("info " + Quote(path));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(CountLines(run.out), 1u) << run.out;
    EXPECT_EQ(run.out.front(), '{');
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "}\n");
    EXPECT_NE(run.err.find("too many padding bytes"), std::string::npos);
}

TEST(CliTool, InfoAndDecodeHandleEveryCorpusFile)
{
    const std::string dir = bvtest::MakeTempDir("cli-all");
    for (const char* family :
        { "bmp", "ico", "tga", "pcx", "wbmp", "webp", "heif", "avif", "jxl" }) {
        std::string arguments = "info";
        size_t files = 0;
        for (const std::string& path : bvtest::ListFiles(bvtest::TestData(family))) {
            if (path.find(".png") != std::string::npos || path.find("LICENSE") != std::string::npos)
                continue;
            arguments += " " + Quote(path);
            files++;
            const CliRun decode = RunCli("decode " + Quote(path) + " " + Quote(dir + "/out.bmp"));
            EXPECT_TRUE(decode.status == 0 || decode.status == 1) << path;
            if (decode.status == 1) {
                EXPECT_NE(decode.err.find(path), std::string::npos) << path;
            }
        }
        const CliRun info = RunCli(arguments);
        EXPECT_LE(info.status, 1) << family;
        EXPECT_EQ(CountLines(info.out), files) << family;
    }
}

TEST(CliTool, DecodeWritesA24BitBottomUpBmpOfThePicture)
{
    const std::string dir = bvtest::MakeTempDir("cli-decode");
    const std::string source = bvtest::TestData("bmp/bmpsuite/g/pal4rle.bmp");
    const std::string out = dir + "/out.bmp";
    const CliRun run = RunCli("decode " + Quote(source) + " " + Quote(out));
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string bytes = Slurp(out);
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bytes, 14), 40u);
    EXPECT_EQ(Le32(bytes, 22), 64u); // positive height: bottom-up
    EXPECT_EQ(uint8_t(bytes[28]), 24);
    EXPECT_EQ(Le32(bytes, 30), 0u);
    EXPECT_EQ(bytes.size(), 54u + 384u * 64u);

    CxImage original(source.c_str(), 0);
    CxImage written(out.c_str(), 0);
    ASSERT_TRUE(written.IsValid());
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 127; x++) {
            const RGBQUAD a = original.GetPixelColor(x, y, false);
            const RGBQUAD b = written.GetPixelColor(x, y, false);
            ASSERT_TRUE(a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue)
                << x << "," << y;
        }
    }
}

TEST(CliTool, DecodeWritesTheAlphaPlaneAndPicksFrames)
{
    const std::string dir = bvtest::MakeTempDir("cli-alpha");
    const std::string source = bvtest::TestData("tga/gen/alpha-t2-32.tga");
    const CliRun run = RunCli("decode " + Quote(source) + " " + Quote(dir + "/rgb.bmp")
        + " --alpha " + Quote(dir + "/alpha.bmp"));
    ASSERT_EQ(run.status, 0) << run.err;
    CxImage original(source.c_str(), 0);
    CxImage alpha((dir + "/alpha.bmp").c_str(), 0);
    ASSERT_TRUE(alpha.IsValid());
    EXPECT_EQ(alpha.GetBpp(), 8);
    EXPECT_TRUE(alpha.IsGreyRamp());
    bool varied = false;
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 64; x++) {
            ASSERT_EQ(alpha.GetPixelIndex(x, y), original.GetAlpha(x, y)) << x << "," << y;
            varied |= original.GetAlpha(x, y) != 255;
        }
    }
    EXPECT_TRUE(varied);

    // No alpha plane: the picture is still written, the alpha file is not.
    const CliRun plain = RunCli("decode " + Quote(bvtest::TestData("pcx/gen/bw-1bit.pcx")) + " "
        + Quote(dir + "/bw.bmp") + " --alpha " + Quote(dir + "/none.bmp"));
    EXPECT_EQ(plain.status, 0);
    EXPECT_FALSE(bvtest::FileExists(dir + "/none.bmp"));
    EXPECT_NE(plain.err.find("no alpha plane"), std::string::npos);

    const std::string ico = bvtest::TestData("ico/gen/multi-4-8-32bit.ico");
    ASSERT_EQ(RunCli("decode --frame 2 " + Quote(ico) + " " + Quote(dir + "/third.bmp")).status, 0);
    CxImage third((dir + "/third.bmp").c_str(), 0);
    EXPECT_EQ(third.GetWidth(), 32);
    EXPECT_EQ(third.GetBpp(), 24);

    const CliRun past = RunCli("decode --frame 3 " + Quote(ico) + " " + Quote(dir + "/none.bmp"));
    EXPECT_EQ(past.status, 1);
}

TEST(CliTool, DecodeFailureGivesTheReadersText)
{
    const std::string dir = bvtest::MakeTempDir("cli-fail");
    const std::string bad = bvtest::TestData("bmp/bmpsuite/invalid/badbitcount.bmp");
    const CliRun run = RunCli("decode " + Quote(bad) + " " + Quote(dir + "/out.bmp"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "brimvale-cli: " + bad + ": Error reading BMP info\n");
    EXPECT_FALSE(bvtest::FileExists(dir + "/out.bmp"));

    const CliRun unwritable
        = RunCli("decode " + Quote(bvtest::TestData("wbmp/gen/bw.wbmp")) + " /no/such/dir/out.bmp");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("can't create /no/such/dir/out.bmp"), std::string::npos);
}

} // namespace
