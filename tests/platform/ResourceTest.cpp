// Threads the system refuses leave fewer helpers, not an ended program; a temporary file
// is gone again unless it was committed, and an allocation that fails is counted on the
// thread that met it.
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Threads.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

// Under AddressSanitizer an allocation larger than it serves ends the program unless it is
// told to answer null, as the system's allocator does.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

TEST(ThreadGroup, CarriesOnWithTheThreadsTheSystemLetsStart)
{
    std::atomic<int> ran { 0 };
    {
        platform::RefuseThreadsAfter(2);
        platform::ThreadGroup group;
        EXPECT_EQ(group.StartUpTo(5, [&] { ran++; }), 2u);
        EXPECT_FALSE(group.Start([&] { ran++; }));
        platform::RefuseThreadsAfter(-1);
        EXPECT_TRUE(group.Start([&] { ran++; }));
    }
    EXPECT_EQ(ran.load(), 3);
}

TEST(TemporaryFile, IsRemovedUnlessCommitted)
{
    const std::string folder = bvtest::MakeTempDir("temporary-file");
    {
        platform::TemporaryFile left;
        ASSERT_EQ(left.Create(folder, "made.gif", 0644), 0);
        std::fputs("half", left.File());
    }
    platform::TemporaryFile kept;
    ASSERT_EQ(kept.Create(folder, "made.gif", 0644), 0);
    std::fputs("whole", kept.File());
    EXPECT_EQ(kept.Close(), 0);
    EXPECT_EQ(kept.CommitAs(folder + "/made.gif"), 0);
    EXPECT_EQ(bvtest::ListFiles(folder), std::vector<std::string> { folder + "/made.gif" });
    EXPECT_EQ(bvtest::ReadFileBytes(folder + "/made.gif").size(), 5u);
}

TEST(AllocationWatch, SeesTheFailuresOfItsOwnThreadOnly)
{
    const platform::AllocationWatch watch;
    std::thread([] { platform::NoteAllocationFailure(); }).join();
    EXPECT_FALSE(watch.RanShort());
    EXPECT_EQ(platform::AllocateBuffer(SIZE_MAX / 2), nullptr);
    EXPECT_TRUE(watch.RanShort());
}

// The chunks kept for reuse are a saving only: memory that runs short gives them back
// before an allocation fails.
TEST(ChunkReuse, GivesItsKeptChunksBackWhenMemoryRunsShort)
{
    using platform::ChunksKept;
    const platform::ChunkReuse reuse { 4 * platform::CHUNK_BYTES };
    const auto keepTwo = [] {
        void* first = platform::AcquireChunk();
        void* second = platform::AcquireChunk();
        platform::ReleaseChunk(first);
        platform::ReleaseChunk(second);
    };
    keepTwo();
    ASSERT_EQ(ChunksKept(), 2u);
    EXPECT_EQ(platform::AllocateBuffer(SIZE_MAX / 2), nullptr);
    EXPECT_EQ(ChunksKept(), 0u);
#if !defined(__SANITIZE_ADDRESS__) // its operator new ends the program instead of failing
    keepTwo();
    volatile size_t huge = SIZE_MAX / 2;
    EXPECT_THROW(::operator delete(::operator new(huge)), std::bad_alloc);
    EXPECT_EQ(ChunksKept(), 0u);
#endif
}
