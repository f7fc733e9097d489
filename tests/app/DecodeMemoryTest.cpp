#include "app/DecodeMemory.h"

#include "tests/support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

TEST(DecodeMemory, HeadersTellThePictureAndTheProgressiveCoefficients)
{
    // 160 x 120 colour pictures: the 24-bit image, plus every coefficient when progressive.
    const uint64_t image = 160 * 120 * 3;
    EXPECT_EQ(EstimateDecodeBytes(bvtest::TestData("jpeg/gen/plasma-q85-420.jpg")), image);
    const uint64_t progressive
        = EstimateDecodeBytes(bvtest::TestData("jpeg/gen/plasma-progressive.jpg"));
    EXPECT_GT(progressive, image + 160 * 120 * 2); // at least the luminance coefficients
    EXPECT_LT(progressive, image + 160 * 120 * 3 * 2 * 2);
    EXPECT_EQ(EstimateDecodeBytes(bvtest::TestData("png/pngsuite/basn2c08.png")),
        32u * 32 * 3 + 32 * 32 + 32 * 32 * 4);
    EXPECT_EQ(EstimateDecodeBytes("/nonexistent.jpg"), 0u);
}

TEST(DecodeMemory, GateLetsASecondPhotoInOnlyWithinTheBudget)
{
    MemoryGate gate(100);
    gate.Acquire(250); // alone, anything passes
    std::atomic<bool> entered { false };
    std::thread second([&] {
        gate.Acquire(10);
        entered = true;
        gate.Release(10);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    gate.Release(250);
    second.join();
    EXPECT_TRUE(entered);

    gate.Acquire(60);
    gate.Acquire(40); // 100 fits exactly
    gate.Release(60);
    gate.Release(40);
}
