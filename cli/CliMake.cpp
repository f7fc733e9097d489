// brimvale-cli make: photos into one looping animated GIF, the way the program makes it.
#include "CliCommands.h"
#include "app/Composition.h"
#include "app/FrameStream.h"
#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "image/core/CxImage.h"
#include "platform/Memory.h"
#include "platform/Shell.h"
#include "platform/Threads.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {

namespace {

    constexpr const char* MAKE_USAGE
        = "Usage: brimvale-cli make [--width N] [--height N] [--photo-size N]\n"
          "           [--background '#RRGGBB' | --background-image FILE]\n"
          "           [--delay N] [--last-delay N] [--delays D1,D2,...] [--loop N]\n"
          "           [--keep-order] [--optimize] [--dither | --quality N] [--fast]\n"
          "           [--threads N] [--ignore-profiles] [--ignore-orientation]\n"
          "           [--open] [--quiet] [--force-name] -o OUT.gif PHOTO...\n"
          "\n"
          "Makes one looping GIF from the photos, one frame each, in the order of their paths\n"
          "(compared without regard to case) unless --keep-order is given. Every photo larger\n"
          "than the photo size is reduced to fit a square of that size, centred on a canvas of\n"
          "width x height painted with the background, and reduced to at most 256 colours.\n"
          "\n"
          "  --width N, --height N   canvas size, 32..800 (default 120 x 120)\n"
          "  --photo-size N          square each photo is reduced into, 32..800, not above\n"
          "                          the width nor the height (default 120)\n"
          "  --background '#RRGGBB'  canvas colour (default #FFFFFF)\n"
          "  --background-image FILE\n"
          "                          picture stretched over the canvas\n"
          "  --delay N               display time of every frame but the last, 1/100 s,\n"
          "                          0..9999 (default 50)\n"
          "  --last-delay N          display time of the last frame (default 50)\n"
          "  --delays D1,D2,...      one display time per photo given, in frame order,\n"
          "                          0..9999 each, instead of --delay and --last-delay; a\n"
          "                          photo that can't be read drops its value\n"
          "  --loop N                how often the animation plays again, 0..65535\n"
          "                          (default 0: forever)\n"
          "  --keep-order            frames in the order the photos are given\n"
          "  --optimize              the smallest file that shows exactly the same frames:\n"
          "                          each frame stores only what changes on the screen\n"
          "  --dither                spread each frame's colour error over its neighbours\n"
          "                          (Floyd-Steinberg) instead of taking the nearest colour:\n"
          "                          smoother gradients, larger files\n"
          "  --quality N             frames made for the eye, 1..100: each frame's palette\n"
          "                          chosen where the eye sees errors, colours spread only\n"
          "                          where that smooths; lower N gives smaller files (fewer\n"
          "                          colours, colours nudged to code shorter); excludes\n"
          "                          --dither\n"
          "  --fast                  decode a JPEG much larger than the photo size at a\n"
          "                          reduced scale (1/8 to 1/2, a progressive one at 1/8 from\n"
          "                          its first scans alone): several times faster, frames\n"
          "                          within a few levels of the exact ones; other formats\n"
          "                          are read as without it\n"
          "  --ignore-profiles       keep the pixels of photos with an embedded colour\n"
          "                          profile as stored instead of converting them to sRGB\n"
          "  --ignore-orientation    keep photos as stored instead of turning them upright\n"
          "                          as their Exif orientation says\n"
          "  --threads N             photos composed, and frames coded, at once, 0 = one per\n"
          "                          core (default 0); the file is the same whatever the\n"
          "                          number\n"
          "  --open                  open the result with the desktop's default program\n"
          "  --quiet                 no progress bar and no summary line\n"
          "  -o, --output OUT.gif    the file to write; an existing file is replaced only\n"
          "                          when the new one is complete\n"
          "  --force-name            write OUT even when its name doesn't end in .gif\n"
          "\n"
          "Exit status: 0 made from every photo; 1 some photo could not be read (the GIF is\n"
          "made from the others), none could, the background picture could not be read, or\n"
          "the GIF could not be written; 2 usage error.\n";

    struct UsageError {
        std::string text;
    };

    uint32_t ParseNumber(
        const std::string& option, const std::string& text, uint32_t low, uint32_t high)
    {
        bool digits = !text.empty() && text.size() <= 9;
        for (const char c : text)
            digits = digits && c >= '0' && c <= '9';
        const unsigned long value = digits ? std::strtoul(text.c_str(), nullptr, 10) : 0;
        if (!digits || value < low || value > high)
            throw UsageError { option + " must be an integer between " + std::to_string(low)
                + " and " + std::to_string(high) + " (got '" + text + "')" };
        return uint32_t(value);
    }

    COLORREF ParseColour(const std::string& option, const std::string& text)
    {
        const std::string hex = (!text.empty() && text[0] == '#') ? text.substr(1) : text;
        bool ok = hex.size() == 6;
        for (const char c : hex)
            ok = ok && std::strchr("0123456789abcdefABCDEF", c) != nullptr;
        if (!ok)
            throw UsageError { option + " must be a colour '#RRGGBB' (got '" + text + "')" };
        const unsigned long value = std::strtoul(hex.c_str(), nullptr, 16);
        return RGB(uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value));
    }

    // "--delays 10,20,30": each 0..9999.
    std::vector<uint32_t> ParseDelays(const std::string& option, const std::string& text)
    {
        std::vector<uint32_t> delays;
        size_t start = 0;
        for (;;) {
            const size_t comma = text.find(',', start);
            const std::string item = text.substr(start, comma - start);
            try {
                delays.push_back(ParseNumber(option, item, 0, MAX_FRAME_DELAY));
            } catch (const UsageError&) {
                throw UsageError { option
                    + " must be a comma-separated list of integers between 0 and "
                    + std::to_string(MAX_FRAME_DELAY) + " (got '" + text + "')" };
            }
            if (comma == std::string::npos)
                return delays;
            start = comma + 1;
        }
    }

    bool EndsWithGif(const std::string& path)
    {
        if (path.size() < 4)
            return false;
        std::string end = path.substr(path.size() - 4);
        for (char& c : end)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return end == ".gif";
    }

    struct MakeArguments {
        ProjectSettings settings;
        AnimationOptions animation;
        std::vector<std::string> photos;
        unsigned threads = 0;
        bool keepOrder = false;
        bool open = false;
        bool quiet = false;
        bool help = false;
    };

    MakeArguments ParseArguments(int argc, char** argv)
    {
        MakeArguments arguments;
        ProjectSettings& s = arguments.settings;
        bool colourGiven = false, pictureGiven = false, outputGiven = false, optionsEnded = false;
        bool delayGiven = false, delaysGiven = false, forceName = false;
        for (int i = 0; i < argc; i++) {
            std::string arg = argv[i];
            if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
                arguments.photos.push_back(arg);
                continue;
            }
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            std::string value;
            bool hasValue = false;
            if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
                value = arg.substr(arg.find('=') + 1);
                arg = arg.substr(0, arg.find('='));
                hasValue = true;
            }
            const auto takeValue = [&]() -> std::string {
                if (hasValue)
                    return value;
                if (i + 1 >= argc)
                    throw UsageError { arg + " needs a value" };
                return argv[++i];
            };
            if (arg == "--help" || arg == "-h") {
                arguments.help = true;
            } else if (arg == "--width") {
                s.overallWidth = ParseNumber(arg, takeValue(), MIN_CANVAS_SIDE, MAX_CANVAS_SIDE);
            } else if (arg == "--height") {
                s.overallHeight = ParseNumber(arg, takeValue(), MIN_CANVAS_SIDE, MAX_CANVAS_SIDE);
            } else if (arg == "--photo-size") {
                s.photoSize = ParseNumber(arg, takeValue(), MIN_CANVAS_SIDE, MAX_CANVAS_SIDE);
            } else if (arg == "--background") {
                s.backgroundColor = ParseColour(arg, takeValue());
                colourGiven = true;
            } else if (arg == "--background-image") {
                s.backgroundImagePath = takeValue();
                if (s.backgroundImagePath.empty())
                    throw UsageError { "--background-image must name a picture file" };
                pictureGiven = true;
            } else if (arg == "--delay") {
                s.frameDelay = ParseNumber(arg, takeValue(), 0, MAX_FRAME_DELAY);
                delayGiven = true;
            } else if (arg == "--last-delay") {
                s.lastFrameDelay = ParseNumber(arg, takeValue(), 0, MAX_FRAME_DELAY);
                delayGiven = true;
            } else if (arg == "--delays") {
                arguments.animation.frameDelays = ParseDelays(arg, takeValue());
                delaysGiven = true;
            } else if (arg == "--loop") {
                arguments.animation.loopCount = uint16_t(ParseNumber(arg, takeValue(), 0, 65535));
            } else if (arg == "--keep-order") {
                arguments.keepOrder = true;
            } else if (arg == "--dither") {
                s.ditherColours = true;
            } else if (arg == "--quality") {
                s.quality = ParseNumber(arg, takeValue(), 1, MAX_QUALITY);
            } else if (arg == "--force-name") {
                forceName = true;
            } else if (arg == "--threads") {
                arguments.threads = ParseNumber(arg, takeValue(), 0, 64);
            } else if (arg == "--optimize") {
                s.optimizeSize = true;
            } else if (arg == "--fast") {
                s.fastDecoding = true;
            } else if (arg == "--ignore-profiles") {
                s.ignoreProfiles = true;
            } else if (arg == "--ignore-orientation") {
                s.ignoreOrientation = true;
            } else if (arg == "--open") {
                arguments.open = true;
            } else if (arg == "--quiet" || arg == "-q") {
                arguments.quiet = true;
            } else if (arg == "-o" || arg == "--output") {
                s.outputPath = takeValue();
                if (s.outputPath.empty())
                    throw UsageError { arg + " must name the GIF file to write" };
                outputGiven = true;
            } else {
                throw UsageError { "unknown option '" + arg + "'" };
            }
            if (hasValue
                && (arg == "--open" || arg == "--quiet" || arg == "--help" || arg == "--optimize"
                    || arg == "--dither" || arg == "--keep-order" || arg == "--force-name"
                    || arg == "--fast" || arg == "--ignore-profiles"
                    || arg == "--ignore-orientation"))
                throw UsageError { arg + " takes no value" };
        }
        if (arguments.help)
            return arguments;
        if (s.quality > 0 && s.ditherColours)
            throw UsageError { "--quality and --dither exclude each other (--quality chooses "
                               "its own dithering)" };
        if (colourGiven && pictureGiven)
            throw UsageError { "--background and --background-image exclude each other" };
        if (s.photoSize > s.overallWidth || s.photoSize > s.overallHeight)
            throw UsageError { "--photo-size (" + std::to_string(s.photoSize)
                + ") must not be greater than --width (" + std::to_string(s.overallWidth)
                + ") nor --height (" + std::to_string(s.overallHeight) + ")" };
        if (!outputGiven)
            throw UsageError { "-o OUT.gif is missing" };
        if (!forceName && !EndsWithGif(s.outputPath))
            throw UsageError { "-o " + s.outputPath
                + " does not end in .gif (--force-name writes it all the same)" };
        if (arguments.photos.empty())
            throw UsageError { "no photos given" };
        if (delaysGiven && delayGiven)
            throw UsageError { "--delays and --delay or --last-delay exclude each other" };
        if (delaysGiven && arguments.animation.frameDelays.size() != arguments.photos.size())
            throw UsageError { "--delays gives "
                + std::to_string(arguments.animation.frameDelays.size()) + " delays for "
                + std::to_string(arguments.photos.size())
                + (arguments.photos.size() == 1 ? " photo" : " photos") };
        return arguments;
    }

    // A one-line progress bar on stderr, redrawn in place.
    class ProgressBar {
    public:
        explicit ProgressBar(bool shown)
            : shown(shown)
        {
        }
        ~ProgressBar() { Finish(); }
        void Photo(size_t done, size_t total)
        {
            if (!shown || total == 0)
                return;
            constexpr int WIDTH = 30;
            const int filled = int(WIDTH * done / total);
            std::fprintf(stderr, "\r[%.*s%*s] photo %zu of %zu", filled,
                "##############################", WIDTH - filled, "", done, total);
            std::fflush(stderr);
            drawn = true;
        }
        void Finish()
        {
            if (drawn)
                std::fprintf(stderr, "\r%60s\r", "");
            drawn = false;
        }

    private:
        bool shown;
        bool drawn = false;
    };

    // The photos in frame order, with their delays when given one each.
    void PutInFrameOrder(MakeArguments& arguments)
    {
        if (arguments.keepOrder)
            return;
        std::vector<size_t> order(arguments.photos.size());
        for (size_t i = 0; i < order.size(); i++)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return PhotoPathLess(arguments.photos[a], arguments.photos[b]);
        });
        std::vector<std::string> photos;
        for (size_t i : order)
            photos.push_back(arguments.photos[i]);
        arguments.photos = std::move(photos);
    }

    // Photos that memory was short for even when read again: nothing is written, since a
    // GIF without them would be a wrong result.
    bool ReportShortOfMemory(const std::vector<PhotoFailure>& failures)
    {
        bool any = false;
        for (const PhotoFailure& failure : failures) {
            if (!failure.outOfMemory)
                continue;
            std::fprintf(stderr, "brimvale-cli make: %s: %s\n", failure.path.c_str(),
                failure.reason.c_str());
            any = true;
        }
        if (any)
            std::fprintf(stderr,
                "brimvale-cli make: out of memory: not every photo could be read, so nothing "
                "was written\n");
        return any;
    }

    void UsageFailure(const std::string& text)
    {
        std::fprintf(
            stderr, "brimvale-cli make: %s\nTry 'brimvale-cli make --help'.\n", text.c_str());
    }

} // namespace

static int Make(int argc, char** argv)
{
    MakeArguments arguments;
    try {
        arguments = ParseArguments(argc, argv);
    } catch (const UsageError& error) {
        UsageFailure(error.text);
        return EXIT_USAGE;
    }
    if (arguments.help) {
        std::fputs(MAKE_USAGE, stdout);
        return EXIT_OK;
    }
    const ProjectSettings& settings = arguments.settings;
    PutInFrameOrder(arguments);
    // Photos are read two at a time, and some hold large buffers while they are read (the
    // coefficients of a progressive JPEG, the whole picture of a photo that isn't
    // streamed). A fixed threshold hands every buffer of a few megabytes and more straight
    // back to the system when freed; otherwise each thread's heap would keep the free
    // space of its earlier photos, and the peak would add up to two large photos and then
    // some. For the same reason all threads share one heap: their hot loops don't
    // allocate, and the free space of several heaps made a long making's peak grow with
    // its number of photos. These are the process's choices, so they are made here and not
    // in the library.
    platform::ReturnFreedBlocksFrom(size_t(4) << 20);
    platform::ShareOneHeap();
    SetReadingNoteHandler(PrintReadingNote);
    // The background picture is read and stretched over the canvas beside the first
    // photos (when a thread can start for it), into the cache every frame takes it from;
    // a frame composed before it is ready waits for it there.
    const bool hasBackground = !settings.backgroundImagePath.empty();
    platform::ThreadGroup backgroundReader;
    if (hasBackground) {
        backgroundReader.Start([&settings] {
            try {
                BackgroundCache::Shared().Get(settings.backgroundImagePath, settings.overallWidth,
                    settings.overallHeight, CorrectionsOf(settings));
            } catch (const std::bad_alloc&) {
                // told below, when the photos that need it have been tried
            }
        });
    }

    // The background picture must be readable before the first frame goes out: one that
    // can't be read would leave the colour in its place.
    int backgroundState = hasBackground ? -1 : 1; // -1: not asked yet
    const auto backgroundRead = [&] {
        if (backgroundState < 0) {
            backgroundReader.JoinAll();
            backgroundState
                = BackgroundCache::Shared().Get(settings.backgroundImagePath, settings.overallWidth,
                      settings.overallHeight, CorrectionsOf(settings))
                ? 1
                : 0;
        }
        return backgroundState == 1;
    };

    ProgressBar bar(!arguments.quiet && ::isatty(STDERR_FILENO));
    StreamOptions options;
    options.photos.threads = arguments.threads;
    options.photos.progress = [&](size_t done, size_t total) { bar.Photo(done, total); };
    options.animation = arguments.animation;
    options.beforeFirstFrame = backgroundRead;
    StreamResult made;
    std::string why;
    const MakeResult result = MakeGifFromPhotos(arguments.photos, settings, options, made, &why);
    bar.Finish();
    backgroundReader.JoinAll();
    if (ReportShortOfMemory(made.failures))
        return EXIT_FAILED;
    if (!backgroundRead()) {
        const CxImage picture(settings.backgroundImagePath.c_str(), CXIMAGE_FORMAT_UNKNOWN);
        std::fprintf(stderr, "brimvale-cli make: %s: %s\n", settings.backgroundImagePath.c_str(),
            WhyUnreadable(settings.backgroundImagePath, picture.GetLastError()).c_str());
        return EXIT_FAILED;
    }

    int status = EXIT_OK;
    if (!made.failures.empty()) {
        for (const PhotoFailure& failure : made.failures)
            std::fprintf(stderr, "brimvale-cli make: %s: %s\n", failure.path.c_str(),
                failure.reason.c_str());
        std::fprintf(stderr, MESSAGE_UNKNOWN_FORMAT, int(made.failures.size()));
        std::fputc('\n', stderr);
        status = EXIT_FAILED;
    }
    if (result == MakeResult::NothingToMake)
        return EXIT_FAILED;
    if (result != MakeResult::Made) {
        std::fprintf(
            stderr, "brimvale-cli make: %s: %s\n", settings.outputPath.c_str(), why.c_str());
        std::fprintf(stderr, "%s\n", MESSAGE_FAILED);
        return EXIT_FAILED;
    }
    if (arguments.open)
        platform::OpenWithDefaultProgram(settings.outputPath);
    if (!arguments.quiet) {
        struct stat written { };
        ::stat(settings.outputPath.c_str(), &written);
        std::fprintf(stderr, "%s: %zu frame%s, %u x %u, %lld bytes\n", settings.outputPath.c_str(),
            made.frames, made.frames == 1 ? "" : "s", settings.overallWidth, settings.overallHeight,
            static_cast<long long>(written.st_size));
    }
    return status;
}

int RunMake(int argc, char** argv)
{
    // Memory that runs short anywhere else ends the making, with the existing output as
    // it was.
    try {
        return Make(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "brimvale-cli make: out of memory\n");
        return EXIT_FAILED;
    }
}

} // namespace cli
