// brimvale-cli decode [--frame N] FILE OUT.bmp [--alpha ALPHA.bmp]
#include "CliCommands.h"
#include "app/Composition.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxBmpWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace cli {

namespace {

    const char* const DECODE_USAGE
        = "Usage: brimvale-cli decode [--frame N] [--ignore-profiles]\n"
          "           [--ignore-orientation] FILE OUT.bmp [--alpha ALPHA.bmp]\n";

    bool WriteBmp(const CxImage& image, const char* path)
    {
        FILE* file = std::fopen(path, "wb");
        if (!file) {
            std::fprintf(stderr, "brimvale-cli: can't create %s: %s\n", path, std::strerror(errno));
            return false;
        }
        bool written;
        {
            CxFileStream stream(file);
            written = SaveBmp(image, &stream);
        }
        if (std::fclose(file) != 0)
            written = false;
        if (!written)
            std::fprintf(stderr, "brimvale-cli: can't write %s\n", path);
        return written;
    }

    bool ParseFrame(const char* text, int32_t& frame)
    {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text, &end, 10);
        if (errno || !end || *end || end == text || value < 0 || value > INT32_MAX)
            return false;
        frame = int32_t(value);
        return true;
    }

} // namespace

int RunDecode(int argc, char** argv)
{
    int32_t frame = 0;
    const char* alphaPath = nullptr;
    PictureCorrections corrections;
    std::vector<const char*> positional;
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            std::printf("%s", DECODE_USAGE);
            std::printf(
                "Decodes FILE (format by extension, else by content), raises it to 24 bits\n"
                "and writes OUT.bmp; --alpha writes the alpha plane as an 8-bit grey BMP;\n"
                "--frame N picks the frame, page or icon entry (0 = first). As in making,\n"
                "a picture with an embedded colour profile is converted to sRGB and one\n"
                "with an Exif orientation turned upright, unless --ignore-profiles or\n"
                "--ignore-orientation says to keep it as stored.\n");
            return EXIT_OK;
        }
        if (std::strcmp(arg, "--frame") == 0) {
            if (i + 1 >= argc || !ParseFrame(argv[i + 1], frame)) {
                std::fprintf(
                    stderr, "brimvale-cli: --frame needs a number of 0 or more\n%s", DECODE_USAGE);
                return EXIT_USAGE;
            }
            i++;
        } else if (std::strcmp(arg, "--alpha") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "brimvale-cli: --alpha needs a file name\n%s", DECODE_USAGE);
                return EXIT_USAGE;
            }
            alphaPath = argv[++i];
        } else if (std::strcmp(arg, "--ignore-profiles") == 0) {
            corrections.profile = false;
        } else if (std::strcmp(arg, "--ignore-orientation") == 0) {
            corrections.orientation = false;
        } else if (arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "brimvale-cli: unknown option %s\n%s", arg, DECODE_USAGE);
            return EXIT_USAGE;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        std::fprintf(stderr, "%s", DECODE_USAGE);
        return EXIT_USAGE;
    }
    const char* path = positional[0];
    const char* outPath = positional[1];

    CxImage image;
    image.SetFrame(frame);
    image.Load(path, CxImage::GetTypeFromExtension(path));
    if (!image.IsValid()) {
        std::string text;
        if (FILE* file = std::fopen(path, "rb")) {
            std::fclose(file);
            text = image.GetLastError()[0] ? image.GetLastError() : "Decode failed";
        } else {
            text = std::string("can't open file: ") + std::strerror(errno);
        }
        std::fprintf(stderr, "brimvale-cli: %s: %s\n", path, text.c_str());
        return EXIT_FAILED;
    }

    SetReadingNoteHandler(PrintReadingNote);
    if (!MendWholePicture(image, corrections, path)) {
        std::fprintf(stderr, "brimvale-cli: %s: can't convert or turn the picture\n", path);
        return EXIT_FAILED;
    }

    if (alphaPath && image.HasAlpha()) {
        CxImage plane(uint32_t(image.GetWidth()), uint32_t(image.GetHeight()), 8);
        plane.MakeGreyPalette();
        for (int32_t y = 0; y < image.GetHeight(); y++) {
            for (int32_t x = 0; x < image.GetWidth(); x++)
                plane.SetPixelIndex(x, y, image.GetAlpha(x, y));
        }
        if (!WriteBmp(plane, alphaPath))
            return EXIT_FAILED;
    } else if (alphaPath) {
        std::fprintf(
            stderr, "brimvale-cli: %s has no alpha plane; %s not written\n", path, alphaPath);
    }

    if (!image.IncreaseBpp(24)) {
        std::fprintf(stderr, "brimvale-cli: %s: %s\n", path,
            image.GetLastError()[0] ? image.GetLastError() : "can't raise to 24 bits");
        return EXIT_FAILED;
    }
    return WriteBmp(image, outPath) ? EXIT_OK : EXIT_FAILED;
}

} // namespace cli
