// Working chunks are kept for reuse only while a ChunkReuse lives, and only as many as
// its limit allows beside those in use.
#include "platform/Memory.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

TEST(ChunkReuse, KeepsReleasedChunksWithinItsLimitWhileItLives)
{
    using platform::AcquireChunk;
    using platform::ReleaseChunk;
    std::vector<void*> chunks { AcquireChunk(), AcquireChunk() };
    for (void* chunk : chunks)
        ReleaseChunk(chunk);
    EXPECT_EQ(platform::ChunksKept(), 0u); // no reuse asked for

    {
        const platform::ChunkReuse reuse { 3 * platform::CHUNK_BYTES };
        chunks = { AcquireChunk(), AcquireChunk(), AcquireChunk(), AcquireChunk() };
        EXPECT_EQ(platform::ChunksInUse(), 4u);
        for (void* chunk : chunks)
            ReleaseChunk(chunk);
        // The first released goes while four are still held; the other three stay.
        EXPECT_EQ(platform::ChunksKept(), 3u);
        void* again = AcquireChunk();
        EXPECT_NE(std::find(chunks.begin() + 1, chunks.end(), again), chunks.end());
        EXPECT_EQ(platform::ChunksKept(), 2u);
        ReleaseChunk(again);
    }
    EXPECT_EQ(platform::ChunksKept(), 0u);
    EXPECT_EQ(platform::ChunksInUse(), 0u);
}
