#include "FrameStream.h"

#include "BatchRunner.h"
#include "Composition.h"
#include "PhotoPlan.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"
#include "image/gif/GifAnimationWriter.h"
#include "image/gif/GifOptimize.h"
#include "platform/Memory.h"
#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <unistd.h>

namespace {

// A photo's outcome, kept until its turn: the coded frame, or (for the optimising writer,
// which looks at the pixels) the indexed frame, or why it could not be read.
struct Outcome {
    bool done = false;
    bool fatal = false; // its frame was made but could not be coded: the making fails
    // Memory ran short for it (perhaps only while others were read beside it): it is
    // composed again at its turn.
    bool shortOfMemory = false;
    std::unique_ptr<GifCodedFrame> coded;
    std::unique_ptr<CxImage> frame;
    std::string error;
};

Outcome ComposeOutcome(const std::string& path, const ProjectSettings& settings,
    BackgroundCache* cache, const PhotoPlan& plan)
{
    Outcome made;
    const platform::AllocationWatch watch;
    try {
        std::unique_ptr<PhotoEntry> entry = ComposeFrame(path, settings, cache, &made.error, &plan);
        if (entry) {
            std::unique_ptr<CxImage> dithered;
            CxImage* frame = FrameToCode(*entry, settings, dithered);
            if (!frame) {
                platform::NoteAllocationFailure();
            } else if (settings.optimizeSize) {
                made.frame = dithered ? std::move(dithered) : std::move(entry->gifFrame);
            } else {
                made.coded = std::make_unique<GifCodedFrame>();
                if (!CodeGifFrame(*frame, *made.coded, &made.error)) {
                    made.coded.reset();
                    made.fatal = true;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
    }
    // A frame made while some allocation failed may lack what that was for (an alpha
    // plane, a colour profile): it is not kept.
    if (watch.RanShort()) {
        made = Outcome();
        made.shortOfMemory = true;
        made.error = platform::OUT_OF_MEMORY_TEXT;
    }
    made.done = true;
    return made;
}

// Takes the outcomes in photo order and writes their frames. A frame is written once the
// next one is known, since the last frame carries the last delay.
class FrameWriter {
public:
    FrameWriter(const ProjectSettings& settings, const StreamOptions& options, CxStream* stream,
        size_t photos)
        : settings(settings)
        , options(options)
        , stream(stream)
        , photos(photos)
        , writer(stream, GIF_COMMENT, LoopsOf(options), 2)
        , optimiser(stream, GIF_COMMENT, LoopsOf(options), 2, options.photos.threads)
    {
    }

    // Takes the outcome of photo `index`; false once the making can't go on.
    bool Take(size_t index, Outcome outcome, StreamResult& result, const std::string& path)
    {
        if (failed)
            return false;
        if (outcome.fatal)
            return Fail();
        if (!outcome.coded && !outcome.frame) {
            result.failures.push_back(PhotoFailure { path, outcome.error });
            return true;
        }
        if (held && !Write(false, result))
            return false;
        held = std::move(outcome);
        heldIndex = index;
        return true;
    }

    bool Finish(StreamResult& result)
    {
        if (failed || !held)
            return false;
        if (!Write(true, result))
            return false;
        if (settings.optimizeSize)
            return optimiser.End() || Fail();
        return writer.End() || Fail();
    }

    // The optimising writer met a frame whose colours don't fit one table: the plain
    // file is to be written instead.
    bool Unplannable() const { return optimiser.Unplannable(); }

private:
    static int32_t LoopsOf(const StreamOptions& options)
    {
        // The encoder writes its loop count less one, and no block for 1.
        const uint16_t count = options.animation.loopCount;
        return count == 0 ? 0 : int32_t(count) + 1;
    }

    bool Fail()
    {
        failed = true;
        return false;
    }

    bool Write(bool last, StreamResult& result)
    {
        const std::vector<uint32_t>& delays = options.animation.frameDelays;
        const uint32_t delay = !delays.empty() ? delays[heldIndex]
            : last                             ? settings.lastFrameDelay
                                               : settings.frameDelay;
        Outcome outcome = std::move(*held);
        held.reset();
        if (outcome.frame) {
            outcome.frame->SetFrameDelay(delay);
            if (!optimiser.Add(*outcome.frame))
                return Fail();
        } else {
            if (!writer.Add(*outcome.coded, delay))
                return Fail();
        }
        result.frames++;
        if (options.animation.progress && !options.animation.progress(result.frames, photos))
            return Fail();
        return true;
    }

    const ProjectSettings& settings;
    const StreamOptions& options;
    CxStream* stream;
    size_t photos;
    GifAnimationWriter writer;
    GifOptimizedWriter optimiser;
    std::optional<Outcome> held;
    size_t heldIndex = 0;
    bool failed = false;
};

// Which photos may be composed now: a photo that memory ran short for is composed again
// alone, and none is begun meanwhile.
struct Admission {
    std::mutex mutex;
    std::condition_variable changed;
    size_t composing = 0;
    bool alone = false;

    void Enter()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !alone; });
        composing++;
    }

    // done runs under the lock as the photo leaves.
    template <typename Done> void Leave(Done done)
    {
        {
            std::lock_guard lock(mutex);
            done();
            composing--;
        }
        changed.notify_all();
    }

    // Runs compose once no photo is being composed; none is begun until it returns.
    template <typename Compose> Outcome Alone(Compose compose)
    {
        {
            std::unique_lock lock(mutex);
            alone = true;
            changed.wait(lock, [&] { return composing == 0; });
        }
        Outcome made = compose();
        {
            std::lock_guard lock(mutex);
            alone = false;
        }
        changed.notify_all();
        return made;
    }
};

// Photos composed ahead of the first frame not written yet: four per thread at least, and
// as many as 16 MiB of frames waiting for their turn would come to (an indexed frame is a
// byte a pixel; its coding is smaller as a rule). The costliest photos of the window are
// begun first, so a short list with its largest photos at the end still keeps every
// thread busy to the last photo.
size_t DefaultWindow(const ProjectSettings& settings, unsigned threads)
{
    const uint64_t frameBytes
        = std::max<uint64_t>(uint64_t(settings.overallWidth) * settings.overallHeight, 1);
    const uint64_t byBytes = (uint64_t(16) << 20) / frameBytes;
    return size_t(
        std::max<uint64_t>({ uint64_t(threads) * 4, 8, std::min<uint64_t>(byBytes, 4096) }));
}

} // namespace

bool StreamAnimation(const std::vector<std::string>& paths, const ProjectSettings& settings,
    CxStream* stream, const StreamOptions& options, StreamResult& result)
{
    result = StreamResult();
    const size_t total = paths.size();
    const std::vector<uint32_t>& delays = options.animation.frameDelays;
    if (!stream || total == 0 || (!delays.empty() && delays.size() != total))
        return false;

    std::vector<PhotoPlan> plans(total);
    std::vector<BatchJob> jobs(total);
    for (size_t i = 0; i < total; i++) {
        plans[i] = PlanPhoto(paths[i], settings);
        jobs[i] = BatchJob { plans[i].cost, plans[i].memoryBytes };
    }
    const auto compose = [&](size_t i) {
        return ComposeOutcome(paths[i], settings, options.photos.backgroundCache, plans[i]);
    };

    Admission admission;
    std::vector<Outcome> outcomes(total); // guarded by the admission's mutex
    FrameWriter writer(settings, options, stream, total);
    std::atomic<bool> stop { false };
    size_t next = 0;
    bool checked = !options.beforeFirstFrame;
    // Writes the frames whose turn has come; on the calling thread.
    const auto drain = [&] {
        while (!stop && next < total) {
            Outcome outcome;
            {
                std::lock_guard lock(admission.mutex);
                if (!outcomes[next].done)
                    return;
                outcome = std::move(outcomes[next]);
            }
            // Asked before a photo is composed again too: whatever it waits for (the
            // background picture being read) is then done.
            if (!checked && (outcome.coded || outcome.frame || outcome.shortOfMemory)) {
                checked = true;
                if (!options.beforeFirstFrame()) {
                    result.abandoned = true;
                    stop = true;
                    return;
                }
            }
            if (outcome.shortOfMemory) {
                // Again, here, alone: no photo is composed beside it, and the decoders'
                // chunks kept for reuse are given back first. Short even then, nothing is
                // written.
                outcome = admission.Alone([&] {
                    platform::ReleaseKeptChunks();
                    return compose(next);
                });
                if (outcome.shortOfMemory) {
                    result.failures.push_back(PhotoFailure { paths[next], outcome.error, true });
                    stop = true;
                    return;
                }
            }
            try {
                if (!writer.Take(next, std::move(outcome), result, paths[next]))
                    stop = true;
            } catch (const std::bad_alloc&) {
                platform::NoteAllocationFailure();
                stop = true;
            }
            next++;
        }
    };

    const unsigned threads = platform::ThreadsFor(options.photos.threads);
    BatchOptions batch;
    batch.threads = options.photos.threads;
    batch.memoryBudget = options.photos.memoryBudget;
    batch.window = options.window ? options.window : DefaultWindow(settings, threads);
    batch.stopRequested
        = [&] { return stop || (options.photos.stopRequested && options.photos.stopRequested()); };
    batch.progress = [&](size_t done, size_t all) {
        if (options.photos.progress)
            options.photos.progress(done, all);
        drain();
    };
    RunBatch(
        jobs,
        [&](size_t i) {
            admission.Enter();
            Outcome made = compose(i);
            admission.Leave([&] { outcomes[i] = std::move(made); });
        },
        batch);
    drain();
    const bool made = !stop && next == total && writer.Finish(result);
    result.unplannable = writer.Unplannable();
    return made;
}

MakeResult MakeGifFromPhotos(const std::vector<std::string>& paths, const ProjectSettings& settings,
    const StreamOptions& options, StreamResult& result, std::string* why)
{
    result = StreamResult();
    if (paths.empty())
        return MakeResult::NothingToMake;
    const bool made = ReplaceFileSafely(
        settings.outputPath,
        [&](FILE* file) {
            CxFileStream stream(file);
            if (StreamAnimation(paths, settings, &stream, options, result))
                return true;
            if (!result.unplannable)
                return false;
            // Some frame's colours don't fit one table: the plain file instead, as the
            // optimising encoder writes then. (Composed frames are opaque and always fit;
            // this keeps the two makings' files the same should that change.)
            ProjectSettings plain = settings;
            plain.optimizeSize = false;
            return std::fflush(file) == 0 && ::ftruncate(::fileno(file), 0) == 0
                && std::fseek(file, 0, SEEK_SET) == 0
                && StreamAnimation(paths, plain, &stream, options, result);
        },
        why);
    if (made)
        return MakeResult::Made;
    if (result.abandoned || (result.frames == 0 && result.failures.size() == paths.size()))
        return MakeResult::NothingToMake;
    return MakeResult::Failed;
}

bool NeedsCanvas(const ProjectSettings& settings)
{
    return settings.ditherColours || settings.quality > 0;
}

namespace {

enum class Encoded { Made, Failed, Unplannable };

Encoded EncodeCompact(const PhotoList& list, const ProjectSettings& settings, CxStream* stream,
    const AnimationOptions& options, const std::vector<uint32_t>& delays)
{
    const size_t n = list.Count();
    const int32_t loops = options.loopCount == 0 ? 0 : int32_t(options.loopCount) + 1;
    const auto goOn = [&](size_t done) { return !options.progress || options.progress(done, n); };
    if (NeedsCanvas(settings)) {
        StreamOptions again;
        again.animation = options;
        again.animation.frameDelays = delays;
        std::vector<std::string> paths;
        for (size_t i = 0; i < n; i++)
            paths.push_back(list.Entry(i)->sourcePath);
        StreamResult result;
        if (StreamAnimation(paths, settings, stream, again, result) && result.failures.empty())
            return Encoded::Made;
        return result.unplannable ? Encoded::Unplannable : Encoded::Failed;
    }
    if (settings.optimizeSize) {
        GifOptimizedWriter writer(stream, GIF_COMMENT, loops, 2);
        for (size_t i = 0; i < n; i++) {
            const PhotoEntry* entry = list.Entry(i);
            std::unique_ptr<CxImage> frame
                = entry->codedFrame ? DecodeGifFrame(*entry->codedFrame) : nullptr;
            if (!frame)
                return Encoded::Failed;
            frame->SetFrameDelay(delays[i]);
            if (!writer.Add(*frame) || !goOn(i + 1))
                return writer.Unplannable() ? Encoded::Unplannable : Encoded::Failed;
        }
        if (writer.End())
            return Encoded::Made;
        return writer.Unplannable() ? Encoded::Unplannable : Encoded::Failed;
    }
    GifAnimationWriter writer(stream, GIF_COMMENT, loops, 2);
    for (size_t i = 0; i < n; i++) {
        const PhotoEntry* entry = list.Entry(i);
        if (!entry->codedFrame || !writer.Add(*entry->codedFrame, delays[i]) || !goOn(i + 1))
            return Encoded::Failed;
    }
    return writer.End() ? Encoded::Made : Encoded::Failed;
}

} // namespace

bool EncodeCompactList(const PhotoList& list, const ProjectSettings& settings, CxStream* stream,
    const AnimationOptions& options)
{
    const size_t n = list.Count();
    if (n == 0 || !stream || (!options.frameDelays.empty() && options.frameDelays.size() != n))
        return false;
    std::vector<uint32_t> delays = options.frameDelays;
    for (size_t i = delays.size(); i < n; i++)
        delays.push_back(i + 1 == n ? settings.lastFrameDelay : settings.frameDelay);
    if (!settings.optimizeSize)
        return EncodeCompact(list, settings, stream, options, delays) == Encoded::Made;
    // The optimised file is held until it is whole: a frame it can't plan means the plain
    // file instead.
    try {
        CxMemStream file;
        switch (EncodeCompact(list, settings, &file, options, delays)) {
        case Encoded::Made:
            stream->Write(file.Data(), 1, uint32_t(file.Length()));
            stream->Flush();
            return stream->Error() == 0;
        case Encoded::Unplannable: {
            ProjectSettings plain = settings;
            plain.optimizeSize = false;
            return EncodeCompact(list, plain, stream, options, delays) == Encoded::Made;
        }
        case Encoded::Failed:
            break;
        }
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
    }
    return false;
}
