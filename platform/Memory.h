// Memory for large pixel buffers and decoders' working arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// What a failure for lack of memory says, wherever it happens.
constexpr const char* OUT_OF_MEMORY_TEXT = "out of memory";

// Memory that ran short is told apart from a broken file or a failed write: whoever meets
// an allocation failure (a null from the allocator, a std::bad_alloc caught) notes it, and
// a caller compares the count of its own thread before and after a step.
void NoteAllocationFailure();
uint64_t AllocationFailures();

// Tells whether the allocation failures of the calling thread grew while it lived.
class AllocationWatch {
public:
    AllocationWatch()
        : start(AllocationFailures())
    {
    }
    bool RanShort() const { return AllocationFailures() != start; }

private:
    uint64_t start;
};

// Sets the process's threshold above which freed buffers go straight back to the system
// (the allocator's mmap threshold); false where the allocator has none.
bool ReturnFreedBlocksFrom(size_t bytes);

// Makes every thread allocate from one shared heap (the allocator's arenas). Each further
// heap keeps the memory freed in it for its own thread, so over a long run the peak grows
// with the mix of sizes that pass through the threads; under a limit on the address space
// (ulimit -v) each one also reserves 64 MiB of it up front. False where the allocator has
// no such setting.
bool ShareOneHeap();

// Allocates a buffer that std::free releases. Blocks of 4 MiB and more are aligned to
// 2 MiB and offered to the kernel for transparent huge pages, so that filling a photo's
// pixels faults a few large pages instead of thousands of small ones. Null on failure.
void* AllocateBuffer(size_t bytes);

// Chunks of 2 MiB for the large working arrays of a decoder (the coefficients of a
// progressive JPEG) that it fills row by row. A fresh page costs the kernel a fault and a
// clearing; while a ChunkReuse lives, released chunks are kept for the next acquisition
// instead, so a batch of photos fills the same pages over and over. Contents are
// undefined. Null on failure.
constexpr size_t CHUNK_BYTES = size_t(2) << 20;
void* AcquireChunk();
void ReleaseChunk(void* chunk);

// Keeps released chunks for reuse from its construction to its end (several may live at
// once, on any threads), as long as the chunks in use and those kept take no more than
// keepBytes; when the last one ends, the kept chunks are freed. The kept chunks are only
// a saving: memory that runs short meanwhile (an allocation of AllocateBuffer or
// AcquireChunk, or of operator new) frees them and is tried again before it fails.
class ChunkReuse {
public:
    explicit ChunkReuse(size_t keepBytes);
    ~ChunkReuse();
    ChunkReuse(const ChunkReuse&) = delete;
    ChunkReuse& operator=(const ChunkReuse&) = delete;
};

// Frees the chunks kept for reuse (those acquired later are kept again); how many.
size_t ReleaseKeptChunks();

// Chunks now in use and kept for reuse (for tests).
size_t ChunksInUse();
size_t ChunksKept();

} // namespace platform
