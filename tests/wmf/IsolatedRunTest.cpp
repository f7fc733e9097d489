// The child-process guard around metafile players: whatever the work does to its own
// process, the caller gets an answer, and only a normal finish counts as success.
#include "image/formats/wmf/IsolatedRun.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using metafile::IsolationLimits;
using metafile::RunIsolated;
using metafile::SharedRaster;

TEST(IsolatedRun, PixelsPaintedByTheChildReachTheCaller)
{
    SharedRaster raster(4, 3);
    ASSERT_TRUE(raster.IsValid());
    raster.Fill(0x00FFFFFF);
    EXPECT_TRUE(RunIsolated(raster, [](SharedRaster& target) {
        target.Row(2)[3] = 0x00123456;
        return true;
    }));
    EXPECT_EQ(raster.Row(2)[3], 0x00123456u);
    EXPECT_EQ(raster.Row(0)[0], 0x00FFFFFFu);
}

TEST(IsolatedRun, ChildThatFailsCrashesOrExitsIsAFailure)
{
    SharedRaster raster(2, 2);
    EXPECT_FALSE(RunIsolated(raster, [](SharedRaster&) { return false; }));
    EXPECT_FALSE(RunIsolated(raster, [](SharedRaster&) -> bool { std::abort(); }));
    EXPECT_FALSE(RunIsolated(raster, [](SharedRaster&) -> bool {
        raise(SIGSEGV);
        return true;
    }));
    // A library that ends the process itself, even with success, did not finish its work.
    EXPECT_FALSE(RunIsolated(raster, [](SharedRaster&) -> bool { _exit(0); }));
}

TEST(IsolatedRun, ChildDoesNotKeepTheProgramsFiles)
{
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    SharedRaster raster(1, 1);
    const int watched = pipeEnds[1];
    EXPECT_TRUE(RunIsolated(raster, [watched](SharedRaster&) {
        return fcntl(watched, F_GETFD) == -1; // closed in the child
    }));
    EXPECT_NE(fcntl(watched, F_GETFD), -1); // and still open here
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(IsolatedRun, RunawayChildIsStopped)
{
    SharedRaster raster(2, 2);
    IsolationLimits limits;
    limits.wallMilliseconds = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunIsolated(
        raster,
        [](SharedRaster&) {
            for (;;)
                pause();
            return true;
        },
        limits));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // Spinning on the CPU meets the CPU limit even before the clock runs out.
    limits.wallMilliseconds = 20000;
    limits.cpuSeconds = 1;
    const auto spinStart = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunIsolated(
        raster,
        [](SharedRaster&) {
            volatile uint64_t n = 0;
            for (;;)
                n = n + 1;
            return true;
        },
        limits));
    EXPECT_LT(std::chrono::steady_clock::now() - spinStart, std::chrono::seconds(10));
}

} // namespace
