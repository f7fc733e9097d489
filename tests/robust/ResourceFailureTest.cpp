// Makings in which memory or threads run out: allocation number N fails (once, or from
// then on), or thread number N is refused, walked over N for plain, optimised, dithered
// and quality makings. Whatever fails, the program doesn't end, leaves no file behind,
// leaves an existing output as it was, and names memory as the reason; whatever
// succeeds is the very file of a making with nothing short.
#include "cli/CliCommands.h"
#include "image/core/CxImage.h"
#include "platform/Threads.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <new>
#include <unistd.h>

// Sanitizer builds keep their own allocator: there only refused threads are tried.
#if defined(__SANITIZE_ADDRESS__)
#define ALLOCATION_HOOKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ALLOCATION_HOOKS 0
#endif
#endif
#ifndef ALLOCATION_HOOKS
#define ALLOCATION_HOOKS 1
#endif

namespace {

// Allocations counted while armed; the one numbered failAt fails, and every later one
// too when persistent.
std::atomic<bool> armed { false };
std::atomic<long> counted { 0 };
std::atomic<long> failAt { -1 };
std::atomic<bool> persistent { false };

[[maybe_unused]] bool ShouldFail()
{
    if (!armed.load(std::memory_order_relaxed))
        return false;
    const long n = ++counted;
    const long at = failAt.load();
    return at > 0 && (n == at || (persistent && n > at));
}

} // namespace

#if ALLOCATION_HOOKS
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

void* operator new(size_t bytes)
{
    void* p = ShouldFail() ? nullptr : __libc_malloc(bytes ? bytes : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }

// The C allocations too, the libraries' included (glibc lets a program replace them).
extern "C" {
void* malloc(size_t bytes)
{
    if (ShouldFail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(bytes);
}
void* calloc(size_t count, size_t bytes)
{
    if (ShouldFail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_calloc(count, bytes);
}
void* realloc(void* p, size_t bytes)
{
    if (bytes && ShouldFail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_realloc(p, bytes);
}
void* aligned_alloc(size_t alignment, size_t bytes)
{
    if (ShouldFail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_memalign(alignment, bytes);
}
int posix_memalign(void** out, size_t alignment, size_t bytes)
{
    if (ShouldFail())
        return ENOMEM;
    void* p = __libc_memalign(alignment, bytes);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}
#endif // ALLOCATION_HOOKS

namespace {

struct Making {
    int status = -1;
    std::string err;
    std::vector<uint8_t> output;
    std::vector<std::string> files;
};

class ResourceFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = bvtest::MakeTempDir("resource-failure");
        errFolder = bvtest::MakeTempDir("resource-failure-err");
        output = folder + "/made.gif";
        for (const char* photo : { "plasma.jpg", "sunset.jpg", "shapes.png", "grad.gif" })
            photos.push_back(bvtest::SourceDir() + "/examples/" + photo);
    }

    // One making in-process, stderr kept; the output file and the folder's files after.
    Making Make(const std::vector<std::string>& options)
    {
        bvtest::WriteFileBytes(output, OLD);
        std::vector<std::string> args { "--width", "64", "--height", "48", "--photo-size", "40",
            "--background-image", bvtest::SourceDir() + "/examples/alpha.png", "--quiet",
            "--threads", "3", "-o", output };
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), photos.begin(), photos.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        const std::string errPath = errFolder + "/err";
        std::fflush(stderr);
        const int saved = ::dup(2);
        const int errFile = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(errFile, 2);
        ::close(errFile);
        counted = 0;
        armed = true;
        Making made;
        made.status = cli::RunMake(int(argv.size()), argv.data());
        armed = false;
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        const std::vector<uint8_t> err = bvtest::ReadFileBytes(errPath);
        made.err.assign(err.begin(), err.end());
        made.output = bvtest::ReadFileBytes(output);
        made.files = bvtest::ListFiles(folder);
        return made;
    }

    // Walks the failing allocation over the whole making, in about `steps` strides.
    void WalkAllocations(const std::vector<std::string>& options, bool fromThenOn, int steps)
    {
        if (!ALLOCATION_HOOKS)
            GTEST_SKIP() << "allocations are the sanitizer's";
        failAt = -1;
        const Making sound = Make(options);
        ASSERT_EQ(sound.status, 0) << sound.err;
        const long total = counted.load();
        // BRIMVALE_FAILURE_STEPS walks more finely (every allocation: the total).
        if (const char* more = std::getenv("BRIMVALE_FAILURE_STEPS"))
            steps = std::max(steps, std::atoi(more));
        const long stride = std::max(1L, total / steps);
        persistent = fromThenOn;
        int failed = 0;
        for (long n = 1; n <= total; n += stride) {
            failAt = n;
            const Making made = Make(options);
            SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
            EXPECT_EQ(made.files, std::vector<std::string> { output });
            if (made.status == 0) {
                EXPECT_EQ(made.output, sound.output);
                continue;
            }
            failed++;
            EXPECT_EQ(made.status, 1) << made.err;
            EXPECT_EQ(made.output, OLD) << made.err;
            EXPECT_NE(made.err.find("memory"), std::string::npos) << made.err;
        }
        failAt = -1;
        persistent = false;
        std::printf("%ld allocations, %d walked, %d failed\n", total, int(total / stride), failed);
        // Failing from some allocation on, a making can't succeed.
        if (fromThenOn) {
            EXPECT_GE(failed, steps / 2);
        }
    }

    const std::vector<uint8_t> OLD { 'o', 'l', 'd' };
    std::string folder, errFolder, output;
    std::vector<std::string> photos;
};

TEST_F(ResourceFailure, AllocationsThatFailOnceAreOvercomeOrReportedInEveryMode)
{
    for (const auto& mode : std::vector<std::vector<std::string>> { {}, { "--optimize" },
             { "--dither" }, { "--optimize", "--dither" }, { "--quality", "60" } }) {
        SCOPED_TRACE(mode.empty() ? "plain" : mode[0]);
        WalkAllocations(mode, false, 40);
    }
}

TEST_F(ResourceFailure, AllocationsThatFailFromThenOnEndTheMakingWithoutHarm)
{
    for (const auto& mode : std::vector<std::vector<std::string>> {
             {}, { "--optimize" }, { "--dither" }, { "--quality", "60" } }) {
        SCOPED_TRACE(mode.empty() ? "plain" : mode[0]);
        WalkAllocations(mode, true, 30);
    }
}

TEST_F(ResourceFailure, RefusedThreadsLeaveTheSameFile)
{
    for (const auto& mode : std::vector<std::vector<std::string>> {
             {}, { "--optimize" }, { "--dither" }, { "--quality", "60" } }) {
        SCOPED_TRACE(mode.empty() ? "plain" : mode[0]);
        const Making sound = Make(mode);
        ASSERT_EQ(sound.status, 0) << sound.err;
        for (long allowed = 0; allowed <= 3; allowed++) {
            SCOPED_TRACE(allowed);
            platform::RefuseThreadsAfter(allowed);
            const Making made = Make(mode);
            platform::RefuseThreadsAfter(-1);
            EXPECT_EQ(made.status, 0) << made.err;
            EXPECT_EQ(made.output, sound.output);
        }
    }
}

TEST_F(ResourceFailure, AReaderShortOfMemorySaysSoInsteadOfAnUnknownFormat)
{
    if (!ALLOCATION_HOOKS)
        GTEST_SKIP() << "allocations are the sanitizer's";
    // Without a known extension every reader is tried in turn; memory that runs short
    // in the one that reads the file ends the probing with what happened.
    for (const char* photo : { "sunset.jpg", "shapes.png" }) {
        SCOPED_TRACE(photo);
        const std::string path = folder + "/" + photo + ".picture";
        bvtest::WriteFileBytes(
            path, bvtest::ReadFileBytes(bvtest::SourceDir() + "/examples/" + photo));
        counted = 0;
        armed = true;
        ASSERT_TRUE(CxImage(path.c_str(), CXIMAGE_FORMAT_UNKNOWN).IsValid());
        armed = false;
        const long total = counted.load();
        persistent = true;
        for (long n = 1; n <= total; n += std::max(1L, total / 20)) {
            failAt = n;
            counted = 0;
            armed = true;
            CxImage image(CXIMAGE_FORMAT_UNKNOWN);
            const bool read = image.Load(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
            armed = false;
            const std::string error = image.GetLastError();
            EXPECT_TRUE(read || error.find("memory") != std::string::npos)
                << "allocation " << n << " of " << total << ": " << error;
        }
        failAt = -1;
        persistent = false;
    }
}

} // namespace
