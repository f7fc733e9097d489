// The making that streams its frames to the file: the same bytes as the making from a
// list, and memory that does not grow with the number of photos. The binary counts the
// heap itself: malloc and its kin are replaced by ones that keep the peak of the bytes
// in use (not under AddressSanitizer, which keeps the heap its own way).
#include "app/FrameStream.h"

#include "app/BatchRunner.h"
#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <malloc.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define BRIMVALE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRIMVALE_ASAN 1
#endif
#endif

namespace {
std::atomic<size_t> heapInUse { 0 };
std::atomic<size_t> heapPeak { 0 };
} // namespace

#ifndef BRIMVALE_ASAN
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

void* Counted(void* block)
{
    if (block) {
        const size_t now = heapInUse += malloc_usable_size(block);
        size_t peak = heapPeak;
        while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) { }
    }
    return block;
}

void Uncount(void* block)
{
    if (block)
        heapInUse -= malloc_usable_size(block);
}

} // namespace

extern "C" {
void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
void* calloc(size_t n, size_t size) { return Counted(__libc_calloc(n, size)); }
void free(void* block)
{
    Uncount(block);
    __libc_free(block);
}
void* realloc(void* block, size_t size)
{
    if (!block)
        return malloc(size);
    const size_t before = malloc_usable_size(block);
    void* moved = __libc_realloc(block, size);
    if (moved || size == 0) {
        heapInUse -= before;
        Counted(moved);
    }
    return moved;
}
void* memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** block, size_t alignment, size_t size)
{
    *block = memalign(alignment, size);
    return *block ? 0 : ENOMEM;
}
}
#endif

namespace {

ProjectSettings Settings()
{
    ProjectSettings s;
    s.overallWidth = 160;
    s.overallHeight = 120;
    s.photoSize = 100;
    s.backgroundColor = 0x3080C0;
    s.frameDelay = 12;
    s.lastFrameDelay = 345;
    return s;
}

std::vector<uint8_t> FromList(const std::vector<std::string>& paths,
    const ProjectSettings& settings, const std::vector<uint32_t>& delays)
{
    PhotoList list(false);
    AddPhotosOptions options;
    options.threads = 1;
    options.sortByPath = false;
    const auto failures = list.AddPhotos(paths, settings, options);
    AnimationOptions animation;
    animation.loopCount = 4;
    // A photo that can't be read drops its delay.
    for (size_t i = 0; i < delays.size(); i++)
        if (i < paths.size() && paths[i].find("missing") == std::string::npos)
            animation.frameDelays.push_back(delays[i]);
    CxMemStream gif;
    EXPECT_TRUE(EncodeAnimation(list, settings, &gif, animation));
    return std::vector<uint8_t>(gif.Data(), gif.Data() + gif.Length());
}

std::vector<uint8_t> Streamed(const std::vector<std::string>& paths,
    const ProjectSettings& settings, const std::vector<uint32_t>& delays, StreamResult& result)
{
    StreamOptions options;
    options.photos.threads = 2;
    options.window = 3;
    options.animation.loopCount = 4;
    options.animation.frameDelays = delays;
    CxMemStream gif;
    EXPECT_TRUE(StreamAnimation(paths, settings, &gif, options, result));
    return std::vector<uint8_t>(gif.Data(), gif.Data() + gif.Length());
}

TEST(FrameStream, TheBatchBeginsNoPhotoBeyondItsWindow)
{
    // The costliest last: begun costliest first, they would all wait for the first.
    std::vector<BatchJob> jobs;
    for (uint64_t i = 0; i < 12; i++)
        jobs.push_back(BatchJob { i, 1 });
    BatchOptions options;
    options.threads = 2;
    options.window = 3;
    std::mutex mutex;
    std::vector<bool> ended(jobs.size(), false);
    size_t furthest = 0, runs = 0;
    RunBatch(
        jobs,
        [&](size_t i) {
            {
                std::lock_guard lock(mutex);
                const size_t unfinished
                    = size_t(std::find(ended.begin(), ended.end(), false) - ended.begin());
                furthest = std::max(furthest, i - unfinished);
                runs++;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::lock_guard lock(mutex);
            ended[i] = true;
        },
        options);
    EXPECT_EQ(runs, jobs.size());
    EXPECT_LT(furthest, 3u);
}

TEST(FrameStream, WritesTheBytesOfTheMakingFromAList)
{
    // Large and small photos, so that the costliest-first order differs from frame order,
    // one that can't be read in the middle, and photos turned upright and converted to sRGB.
    const std::vector<std::string> paths { bvtest::TestData("png/pngsuite/basn2c08.png"),
        bvtest::TestData("jpeg/gen/plasma-progressive.jpg"), bvtest::TestData("missing.png"),
        bvtest::TestData("bmp/bmpsuite/g/pal8.bmp"), bvtest::TestData("jpeg/gen/shapes-97x61.jpg"),
        bvtest::TestData("jpeg/image-rs/progressive/cat.jpg"),
        bvtest::TestData("gif/gen/shapes-transparent.gif"),
        bvtest::TestData("jpeg/gen/plasma-orient6.jpg"),
        bvtest::TestData("jpeg/gen/plasma-prophoto.jpg") };
    // Plain, dithered, at a quality (with lossy coding), each also optimised.
    for (int mode = 0; mode < 6; mode++) {
        ProjectSettings settings = Settings();
        settings.ditherColours = mode % 3 == 1;
        settings.quality = mode % 3 == 2 ? 70 : 0;
        settings.optimizeSize = mode >= 3;
        for (const std::vector<uint32_t>& delays :
            { std::vector<uint32_t> {}, std::vector<uint32_t> { 5, 6, 7, 8, 9, 10, 11, 12, 13 } }) {
            StreamResult result;
            const std::vector<uint8_t> streamed = Streamed(paths, settings, delays, result);
            EXPECT_EQ(streamed, FromList(paths, settings, delays)) << "mode " << mode;
            EXPECT_EQ(result.frames, 8u);
            ASSERT_EQ(result.failures.size(), 1u);
            EXPECT_EQ(result.failures[0].path, paths[2]);
        }
    }
}

TEST(FrameStream, ACompactListWritesTheFileOfTheFullOne)
{
    const std::vector<std::string> paths { bvtest::TestData("png/pngsuite/basn2c08.png"),
        bvtest::TestData("jpeg/gen/plasma-progressive.jpg"),
        bvtest::TestData("gif/gen/shapes-transparent.gif"),
        bvtest::TestData("jpeg/gen/shapes-97x61.jpg") };
    ProjectSettings settings = Settings();
    settings.overallWidth = 400;
    settings.overallHeight = 200;
    PhotoList compact(false, true);
    AddPhotosOptions options;
    options.sortByPath = false;
    ASSERT_TRUE(compact.AddPhotos(paths, settings, options).empty());
    for (size_t i = 0; i < compact.Count(); i++) {
        const PhotoEntry& entry = *compact.Entry(i);
        EXPECT_FALSE(entry.gifFrame);
        ASSERT_TRUE(entry.codedFrame && entry.canvas);
        EXPECT_EQ(entry.canvas->GetWidth(), 160u);
        EXPECT_EQ(entry.canvas->GetHeight(), 80u);
    }
    const std::vector<uint32_t> delays { 5, 6, 7, 8 };
    for (int mode = 0; mode < 6; mode++) {
        settings.ditherColours = mode % 3 == 1;
        settings.quality = mode % 3 == 2 ? 70 : 0;
        settings.optimizeSize = mode >= 3;
        AnimationOptions animation;
        animation.loopCount = 4;
        animation.frameDelays = delays;
        CxMemStream gif;
        ASSERT_TRUE(EncodeAnimation(compact, settings, &gif, animation)) << "mode " << mode;
        EXPECT_EQ(std::vector<uint8_t>(gif.Data(), gif.Data() + gif.Length()),
            FromList(paths, settings, delays))
            << "mode " << mode;
    }
}

TEST(FrameStream, ALongAnimationHoldsOnlyTheFramesOnTheirWay)
{
#ifdef BRIMVALE_ASAN
    GTEST_SKIP() << "the heap is counted only without AddressSanitizer";
#endif
    // 300 frames of 320 x 240: held until the end, their indexed frames and canvases
    // alone would take 300 x 300 KB, some 90 MB.
    ProjectSettings settings = Settings();
    settings.overallWidth = 320;
    settings.overallHeight = 240;
    settings.photoSize = 200;
    const std::vector<std::string> paths(300, bvtest::TestData("jpeg/gen/plasma-q85-420.jpg"));
    StreamOptions options;
    options.photos.threads = 2;
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    CxFileStream gif(file);
    StreamResult result;
    heapPeak = heapInUse.load();
    const size_t before = heapInUse;
    ASSERT_TRUE(StreamAnimation(paths, settings, &gif, options, result));
    EXPECT_EQ(result.frames, 300u);
    EXPECT_GT(std::ftell(file), 300 * 1000);
    std::fclose(file);
    // The frames in flight and the window of coded ones waiting for their turn.
    EXPECT_LT(heapPeak - before, size_t(8) << 20);
}

} // namespace
