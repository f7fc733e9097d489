#include "MakeGif.h"

#include "Dither.h"
#include "FrameStream.h"
#include "QualityDither.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Shell.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <vector>

CxImage* FrameToCode(
    const PhotoEntry& entry, const ProjectSettings& settings, std::unique_ptr<CxImage>& made)
{
    CxImage* frame = entry.gifFrame.get();
    // Remade from the canvas the frame was made from (an entry without it keeps its frame
    // as it is): at the quality asked for, else dithered; the quality mode chooses its
    // own dithering.
    if (!frame || !entry.canvas || (settings.quality == 0 && !settings.ditherColours))
        return frame;
    const platform::AllocationWatch watch;
    try {
        made = settings.quality > 0 ? MakeQualityFrame(*entry.canvas, *frame, settings.quality)
                                    : DitherToPalette(*entry.canvas, *frame);
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
    }
    // Not the designed frame in the place of one that found no memory.
    if (watch.RanShort()) {
        made.reset();
        return nullptr;
    }
    return made ? made.get() : frame;
}

bool EncodeAnimation(PhotoList& list, const ProjectSettings& settings, CxStream* stream,
    const AnimationOptions& options)
{
    if (list.Compact())
        return EncodeCompactList(list, settings, stream, options);
    const size_t n = list.Count();
    if (n == 0 || !stream)
        return false;
    if (!options.frameDelays.empty() && options.frameDelays.size() != n)
        return false;
    std::vector<CxImage*> frames;
    frames.reserve(n);
    std::vector<std::unique_ptr<CxImage>> dithered;
    for (size_t i = 0; i < n; i++) {
        const PhotoEntry* entry = list.Entry(i);
        CxImage* frame = entry->gifFrame.get();
        if (!frame || !frame->IsValid())
            return false;
        if (!options.frameDelays.empty())
            frame->SetFrameDelay(options.frameDelays[i]);
        else
            frame->SetFrameDelay(i == n - 1 ? settings.lastFrameDelay : settings.frameDelay);
        // The quality mode remakes every frame below, several at once.
        std::unique_ptr<CxImage> made;
        if (settings.quality == 0 && !(frame = FrameToCode(*entry, settings, made)))
            return false;
        if (made)
            dithered.push_back(std::move(made));
        frames.push_back(frame);
    }
    if (settings.quality > 0
        && !MakeQualityFrames(list, settings.quality, options.threads, frames, dithered)) {
        platform::NoteAllocationFailure();
        return false; // not the designed frames in their place
    }
    CxImageGIF gif;
    gif.SetComment(GIF_COMMENT);
    // The encoder writes its loop count less one, and no block for 1.
    gif.SetLoops(options.loopCount == 0 ? 0 : int32_t(options.loopCount) + 1);
    gif.SetDisposalMethod(2);
    if (options.progress)
        gif.SetFrameProgress([&options](int done, int total) {
            return options.progress(size_t(done), size_t(total));
        });
    gif.SetThreads(options.threads);
    const bool encoded = settings.optimizeSize ? gif.EncodeOptimized(stream, frames.data(), int(n))
                                               : gif.Encode(stream, frames.data(), int(n), true);
    if (!encoded)
        return false;
    // The encoder reports a failed write only through its error text.
    return gif.GetLastError()[0] == '\0' && stream->Error() == 0;
}

namespace {

std::string SystemReason(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

} // namespace

bool ReplaceFileSafely(
    const std::string& target, const std::function<bool(FILE*)>& write, std::string* why)
{
    const auto fail = [why](std::string reason) {
        if (why)
            *why = std::move(reason);
        return false;
    };
    const size_t slash = target.find_last_of('/');
    const std::string folder
        = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty())
        return fail("no file name given");
    struct stat folderInfo { };
    if (::stat(folder.c_str(), &folderInfo) != 0)
        return fail(errno == ENOENT ? "the folder does not exist"
                                    : SystemReason("can't reach the folder", errno));
    if (!S_ISDIR(folderInfo.st_mode))
        return fail("the folder is not a folder");
    struct stat targetInfo { };
    const bool exists = ::stat(target.c_str(), &targetInfo) == 0;
    if (exists && !S_ISREG(targetInfo.st_mode))
        return fail(S_ISDIR(targetInfo.st_mode) ? "a folder of that name is in the way"
                                                : "something other than a file is in the way");

    // The new file gets the old one's permissions, or those of a newly created file. It
    // is removed again on every way out but the last.
    platform::TemporaryFile temporary;
    if (const int error = temporary.Create(folder, name,
            exists ? unsigned(targetInfo.st_mode & 07777) : platform::NewFilePermissions()))
        return fail(SystemReason("can't create a file in the folder", error));
    std::string reason;
    const platform::AllocationWatch watch;
    errno = 0;
    try {
        // Written while an allocation failed, the file may lack what that was for.
        if (!write(temporary.File()) || watch.RanShort()) {
            if (watch.RanShort())
                reason = platform::OUT_OF_MEMORY_TEXT;
            else if (std::ferror(temporary.File()))
                reason = SystemReason("can't write the file", errno ? errno : EIO);
            else
                reason = "the frames could not be encoded";
        }
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        reason = platform::OUT_OF_MEMORY_TEXT;
    }
    if (!reason.empty())
        return fail(reason);
    if (const int error = temporary.Close())
        return fail(SystemReason("can't write the file", error));
    if (const int error = temporary.CommitAs(target))
        return fail(SystemReason("can't replace the file", error));
    return true;
}

MakeResult MakeGif(PhotoList& list, const ProjectSettings& settings, const MakeGifOptions& options,
    std::string* why)
{
    if (list.Count() == 0)
        return MakeResult::NothingToMake;
    if (options.encoding)
        options.encoding();
    const bool made = ReplaceFileSafely(
        settings.outputPath,
        [&](FILE* file) {
            CxFileStream stream(file);
            return EncodeAnimation(list, settings, &stream, options.animation);
        },
        why);
    if (!made) {
        if (options.showMessage)
            options.showMessage(MESSAGE_FAILED);
        return MakeResult::Failed;
    }
    if (options.openResult)
        platform::OpenWithDefaultProgram(settings.outputPath);
    return MakeResult::Made;
}

bool MakeGif(PhotoList& list, const ProjectSettings& settings, bool openResult, std::string* why)
{
    MakeGifOptions options;
    options.openResult = openResult;
    return MakeGif(list, settings, options, why) == MakeResult::Made;
}
