// Reading plans told from photo headers, the JPEG scales of fast decoding, and batches run
// costliest first within a memory budget.
#include "app/PhotoPlan.h"

#include "app/BatchRunner.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

ProjectSettings PhotoSize(uint32_t size)
{
    ProjectSettings settings;
    settings.photoSize = size;
    return settings;
}

} // namespace

TEST(PhotoPlan, HeadersTellHowAPhotoIsReadAndWhatItHolds)
{
    const ProjectSettings small = PhotoSize(40);
    const PhotoPlan baseline = PlanPhoto(bvtest::TestData("jpeg/gen/plasma-q85-420.jpg"), small);
    EXPECT_TRUE(baseline.streamed);
    EXPECT_EQ(baseline.reducedWidth, 40);
    EXPECT_EQ(baseline.reducedHeight, 30);
    EXPECT_LT(baseline.memoryBytes - 5 * 120 * 120 * 3, 160u * 120 * 3); // never the picture

    // A progressive file holds every coefficient (two bytes each) until its last scan.
    const PhotoPlan progressive
        = PlanPhoto(bvtest::TestData("jpeg/gen/plasma-progressive.jpg"), small);
    EXPECT_TRUE(progressive.streamed);
    EXPECT_GE(progressive.memoryBytes, baseline.memoryBytes + 160 * 120 * 2);
    EXPECT_GT(progressive.cost, baseline.cost);

    // Not reduced: the whole picture is made.
    const PhotoPlan whole
        = PlanPhoto(bvtest::TestData("jpeg/gen/plasma-q85-420.jpg"), PhotoSize(200));
    EXPECT_FALSE(whole.streamed);
    EXPECT_GE(whole.memoryBytes, baseline.memoryBytes + 160 * 120 * 3);

    EXPECT_TRUE(PlanPhoto(bvtest::TestData("png/pngsuite/basn2c08.png"), PhotoSize(20)).streamed);
    EXPECT_FALSE(PlanPhoto(bvtest::TestData("png/pngsuite/basi2c08.png"), PhotoSize(20)).streamed);
    EXPECT_FALSE(PlanPhoto(bvtest::TestData("png/pngsuite/basn6a08.png"), PhotoSize(20)).streamed);

    // A reader that can't tell its header alone: judged by the file's size.
    const PhotoPlan bmp = PlanPhoto(bvtest::TestData("bmp/bmpsuite/g/rgb24.bmp"), small);
    EXPECT_EQ(bmp.reducedWidth, 0);
    EXPECT_GE(bmp.memoryBytes, 127u * 64 * 3);
    EXPECT_EQ(PlanPhoto("/nonexistent.jpg", small).cost, 0u);
}

TEST(PhotoPlan, FastDecodingTakesTheSmallestScaleThatCoversTwiceTheReducedSize)
{
    EXPECT_EQ(FastJpegReduction(2560, 1600, 120, 75), 8); // 320 x 200
    EXPECT_EQ(FastJpegReduction(5120, 2880, 600, 338), 4); // 1280 x 720
    EXPECT_EQ(FastJpegReduction(3400, 2000, 600, 353), 3); // 1275 x 750
    EXPECT_EQ(FastJpegReduction(2560, 1600, 600, 375), 2); // 1280 x 800
    EXPECT_EQ(FastJpegReduction(2000, 1250, 600, 375), 0); // 5/8 would be needed
    EXPECT_EQ(FastJpegReduction(1921, 10, 120, 1), 8); // 241 x 2: rounded up, as libjpeg does

    const std::string progressive = bvtest::TestData("jpeg/gen/plasma-progressive.jpg");
    ProjectSettings fast = PhotoSize(40);
    fast.fastDecoding = true;
    const PhotoPlan half = PlanPhoto(progressive, fast); // 160 x 120 into 40 x 30
    EXPECT_EQ(half.jpegReduction, 2);
    EXPECT_FALSE(half.dcScansOnly);
    EXPECT_TRUE(half.streamed);
    fast.photoSize = 8;
    const PhotoPlan dc = PlanPhoto(progressive, fast);
    EXPECT_EQ(dc.jpegReduction, 8);
    EXPECT_TRUE(dc.dcScansOnly);
    // Only the DC coefficients are kept.
    const PhotoPlan exact = PlanPhoto(progressive, PhotoSize(8));
    EXPECT_EQ(exact.jpegReduction, 0);
    EXPECT_LT(dc.memoryBytes + 160 * 120 * 2, exact.memoryBytes);
}

TEST(BatchRunner, CostliestFirstAndSideBySideOnlyWithinTheBudget)
{
    // Jobs 0 and 1 hold 60 each, job 2 holds 10, within a budget of 100: the two large
    // ones never run at once, the small one runs beside either.
    const std::vector<BatchJob> jobs { { 5, 60 }, { 9, 60 }, { 1, 10 }, { 7, 10 } };
    std::mutex mutex;
    std::vector<size_t> order;
    int running = 0, largeRunning = 0, mostLarge = 0, most = 0;
    BatchOptions options;
    options.threads = 2;
    options.memoryBudget = 100;
    size_t reported = 0;
    options.progress = [&](size_t done, size_t total) {
        EXPECT_EQ(total, 4u);
        EXPECT_GT(done, reported);
        reported = done;
        // Slow to listen: jobs end while it is being told, the last one too.
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    };
    const auto begun = RunBatch(
        jobs,
        [&](size_t i) {
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
                most = std::max(most, ++running);
                if (jobs[i].memoryBytes == 60)
                    mostLarge = std::max(mostLarge, ++largeRunning);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            std::lock_guard lock(mutex);
            running--;
            if (jobs[i].memoryBytes == 60)
                largeRunning--;
        },
        options);
    EXPECT_EQ(begun, std::vector<bool>(4, true));
    EXPECT_EQ(reported, 4u);
    EXPECT_EQ(mostLarge, 1);
    EXPECT_EQ(most, 2);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0], 1u); // the costliest
    EXPECT_EQ(order[1], 3u); // the costliest that fits beside it

    // Beside a job larger than the budget, one of up to an eighth of the budget still
    // runs; a larger one waits for it to end.
    const std::vector<BatchJob> large { { 9, 200 }, { 5, 30 }, { 1, 10 } };
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> begins(3), ends(3);
    options.memoryBudget = 80;
    options.progress = nullptr;
    RunBatch(
        large,
        [&](size_t i) {
            begins[i] = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 200 : 5));
            ends[i] = Clock::now();
        },
        options);
    EXPECT_LT(begins[2], ends[0]);
    EXPECT_GE(begins[1], ends[0]);

    // One job alone always runs, however large; a stop begins nothing more.
    std::atomic<int> runs { 0 };
    options.memoryBudget = 10;
    options.progress = nullptr;
    options.stopRequested = [&] { return runs.load() >= 2; };
    const auto some = RunBatch(
        jobs, [&](size_t) { runs++; }, options);
    EXPECT_EQ(runs.load(), 2);
    EXPECT_EQ(std::count(some.begin(), some.end(), true), 2);
}

TEST(BatchRunner, MoreWorkersAddRoomOnlyForSmallJobsBesideALargeOne)
{
    // Three photos of 90 against a budget of 96 never read at once, whatever the number
    // of workers; the small ones (an eighth of the budget at most) run beside them.
    std::vector<BatchJob> jobs { { 90, 90 }, { 89, 90 }, { 88, 90 }, { 50, 40 }, { 49, 40 } };
    for (int i = 0; i < 12; i++)
        jobs.push_back(BatchJob { uint64_t(10 + i), 12 });
    for (unsigned threads : { 2u, 4u, 16u }) {
        SCOPED_TRACE(threads);
        std::mutex mutex;
        uint64_t held = 0, mostHeld = 0, largeHeld = 0, mostLarge = 0;
        size_t small = 0, mostSmall = 0;
        BatchOptions options;
        options.threads = threads;
        options.memoryBudget = 96;
        const auto begun = RunBatch(
            jobs,
            [&](size_t i) {
                const uint64_t bytes = jobs[i].memoryBytes;
                {
                    std::lock_guard lock(mutex);
                    mostHeld = std::max(mostHeld, held += bytes);
                    if (bytes > 12)
                        mostLarge = std::max(mostLarge, largeHeld += bytes);
                    else
                        mostSmall = std::max(mostSmall, ++small);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(bytes > 12 ? 20 : 5));
                std::lock_guard lock(mutex);
                held -= bytes;
                if (bytes > 12)
                    largeHeld -= bytes;
                else
                    small--;
            },
            options);
        EXPECT_EQ(begun, std::vector<bool>(jobs.size(), true));
        EXPECT_LE(mostLarge, 96u);
        EXPECT_LE(mostHeld, 90u + 12u * (threads - 1));
        EXPECT_GE(mostSmall, 1u);
    }
}
