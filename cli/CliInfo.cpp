// brimvale-cli info FILE...: one JSON object per file.
#include "CliCommands.h"
#include "image/color/SrgbConversion.h"
#include "image/core/CxImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace cli {

const char* FormatName(unsigned type)
{
    static const char* const NAMES[CMAX_IMAGE_FORMATS]
        = { "unknown", "BMP", "GIF", "JPG", "PNG", "ICO", "TIF", "TGA", "PCX", "WBMP", "WMF", "J2K",
              "JBG", "JP2", "JPC", "PGX", "PNM", "RAS", "WEBP", "HEIF", "AVIF", "JXL" };
    return type < CMAX_IMAGE_FORMATS ? NAMES[type] : "unknown";
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                out += escaped;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

void PrintReadingNote(const std::string& path, const std::string& note)
{
    std::fprintf(stderr, "brimvale-cli: %s: %s\n", path.c_str(), note.c_str());
}

namespace {

    // Why a file gave no picture: the reader's text, or what stopped us before it.
    std::string FailureText(const char* path, const CxImage& image)
    {
        if (FILE* file = std::fopen(path, "rb"))
            std::fclose(file);
        else
            return std::string("can't open file: ") + std::strerror(errno);
        if (image.GetLastError()[0])
            return image.GetLastError();
        return "Decode failed";
    }

    std::string Describe(const char* path)
    {
        CxImage image(path, CXIMAGE_FORMAT_UNKNOWN);
        std::string line = "{\"path\":" + JsonString(path);
        if (!image.IsValid())
            return line + ",\"error\":" + JsonString(FailureText(path, image)) + "}";

        char text[512];
        const int32_t transIndex = image.GetTransparentIndex();
        std::string transColor = "null";
        if (transIndex != -1) {
            const RGBQUAD c = image.GetTransparentColor();
            std::snprintf(text, sizeof(text), "\"#%02x%02x%02x\"", c.rgbRed, c.rgbGreen, c.rgbBlue);
            transColor = text;
        }
        const int32_t frames = image.GetNumFrames() > 0 ? image.GetNumFrames() : 1;
        std::snprintf(text, sizeof(text),
            ",\"format\":%u,\"formatName\":\"%s\",\"width\":%d,\"height\":%d,\"bpp\":%u,"
            "\"paletteSize\":%u,\"transparentIndex\":%d,\"transparentColor\":%s,\"alpha\":%s,"
            "\"frames\":%d,\"dpi\":[%d,%d]",
            image.GetType(), FormatName(image.GetType()), image.GetWidth(), image.GetHeight(),
            unsigned(image.GetBpp()), image.GetNumColors(), transIndex, transColor.c_str(),
            image.HasAlpha() ? "true" : "false", frames, image.GetXDPI(), image.GetYDPI());
        // As stored: the orientation the picture is turned upright from (1 when none is
        // given; a reader that turns its pictures itself tells none) and the embedded
        // colour profile's description.
        const std::vector<uint8_t>& profile = image.GetIccProfile();
        return line + text + ",\"orientation\":"
            + std::to_string(std::max<int>(1, image.GetOrientation())) + ",\"iccProfile\":"
            + (profile.empty() ? "null" : JsonString(IccProfileDescription(profile))) + "}";
    }

} // namespace

int RunInfo(int argc, char** argv)
{
    if (argc == 1 && std::strcmp(argv[0], "--help") == 0) {
        std::printf("Usage: brimvale-cli info FILE...\n"
                    "Prints one JSON object per file: path, format id and name, width, height,\n"
                    "bpp, paletteSize, transparentIndex, transparentColor, alpha, frames, dpi,\n"
                    "orientation (as stored, 1..8), iccProfile (the embedded colour profile's\n"
                    "description, null without one); or path and error.\n");
        return EXIT_OK;
    }
    if (argc < 1) {
        std::fprintf(stderr, "Usage: brimvale-cli info FILE...\n");
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    for (int i = 0; i < argc; i++) {
        const std::string line = Describe(argv[i]);
        std::printf("%s\n", line.c_str());
        if (line.find(",\"error\":") != std::string::npos)
            status = EXIT_FAILED;
    }
    return status;
}

} // namespace cli
