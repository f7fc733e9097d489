// Making the animation: the frames of the photo list, in list order, encoded as one
// endlessly looping GIF89a file, which is then opened with the desktop's default program.
#pragma once

#include "PhotoList.h"
#include "ProjectSettings.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class CxStream;

constexpr const char* GIF_COMMENT = "Created with Orrinwick Brimvale";
constexpr const char* MESSAGE_FAILED = "Failed";
constexpr const char* MESSAGE_UNKNOWN_FORMAT
    = "%d images can not be added because of unknown file format";
// Told beside that message: what the readers take.
constexpr const char* MESSAGE_READABLE_FORMATS
    = "Brimvale reads BMP, ICO/CUR, GIF, JPEG, PNG, TIFF, TGA, PCX, WBMP, WMF/EMF, "
      "JPEG 2000, PGX, PNM, Sun raster, JBIG, WebP, HEIF/HEIC, AVIF and JPEG XL.";

enum class MakeResult { NothingToMake, Made, Failed };

// How the file is written beyond what the settings say.
struct AnimationOptions {
    // The loop block's count: how often the animation plays again; 0 = forever.
    uint16_t loopCount = 0;
    // One delay per frame (1/100 s) in frame order; empty: the settings' two delays.
    std::vector<uint32_t> frameDelays;
    // Told after each frame is coded (frames done, frames in all), from the writing
    // thread; answering false stops the writing, which then fails.
    std::function<bool(size_t done, size_t total)> progress;
    // Threads that code the frames; 0 = one per processor core.
    unsigned threads = 0;
};

struct MakeGifOptions {
    AnimationOptions animation;
    // Open the written file with the desktop's default program (without waiting).
    bool openResult = true;
    // Shows the program's message ("Failed") to the user; null = not shown.
    std::function<void(const char* message)> showMessage;
    // Told when encoding begins.
    std::function<void()> encoding;
};

// The frame of an entry as it is coded: remade from the entry's canvas at
// settings.quality when it is set, else dithered from it when settings.ditherColours is
// (then made holds the new frame); else, or when the canvas is gone, the entry's own.
// Null when memory ran short for the new frame.
CxImage* FrameToCode(
    const PhotoEntry& entry, const ProjectSettings& settings, std::unique_ptr<CxImage>& made);

// Gives every frame its delay (the last one lastFrameDelay, the others frameDelay, unless
// the options give one per frame) and encodes them into stream: dithered from each
// entry's canvas when settings.ditherColours is set, in the smallest form that shows the
// same when settings.optimizeSize is. False when the encoder fails.
bool EncodeAnimation(PhotoList& list, const ProjectSettings& settings, CxStream* stream,
    const AnimationOptions& options = {});

// Writes settings.outputPath. The new file is written beside the target and renamed over
// it only when encoding succeeded, so a failure leaves an old file as it was and nothing
// new behind; then "Failed" is shown, and why (when given) says what went wrong in words
// for the user ("the folder does not exist", "out of memory").
MakeResult MakeGif(PhotoList& list, const ProjectSettings& settings,
    const MakeGifOptions& options = {}, std::string* why = nullptr);
// The same for a caller that shows "Failed" itself: true when the file was made.
bool MakeGif(
    PhotoList& list, const ProjectSettings& settings, bool openResult, std::string* why = nullptr);

// Replaces the file at target with what write puts into a new file beside it; false (and
// the target untouched, the new file removed, with the reason in why) when the new file
// can't be made, write fails or runs out of memory (a std::bad_alloc included), or the
// rename fails.
bool ReplaceFileSafely(
    const std::string& target, const std::function<bool(FILE*)>& write, std::string* why = nullptr);
