#include "Memory.h"

#include <algorithm>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <mutex>
#include <sys/mman.h>
#include <vector>

namespace platform {

namespace {

    constexpr size_t LARGE_BLOCK = size_t(4) << 20;
    constexpr size_t HUGE_PAGE = size_t(2) << 20;

    struct ChunkPool {
        std::mutex mutex;
        std::vector<void*> kept;
        size_t inUse = 0;
        size_t scopes = 0;
        size_t keepBytes = 0;
    };

    ChunkPool& Pool()
    {
        static ChunkPool pool;
        return pool;
    }

    void FreeAll(std::vector<void*>& chunks)
    {
        for (void* chunk : chunks)
            std::free(chunk);
        chunks.clear();
    }

    thread_local uint64_t allocationFailures = 0;

} // namespace

void NoteAllocationFailure() { allocationFailures++; }

uint64_t AllocationFailures() { return allocationFailures; }

bool ReturnFreedBlocksFrom(size_t bytes)
{
#if defined(__GLIBC__)
    return mallopt(M_MMAP_THRESHOLD, int(bytes)) == 1;
#else
    (void)bytes;
    return false;
#endif
}

void* AllocateBuffer(size_t bytes)
{
    void* block;
    if (bytes < LARGE_BLOCK) {
        block = std::malloc(bytes);
    } else {
        const size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
        block = std::aligned_alloc(HUGE_PAGE, rounded);
        if (block)
            madvise(block, rounded, MADV_HUGEPAGE); // advice only: failure changes nothing
    }
    if (!block)
        NoteAllocationFailure();
    return block;
}

void* AcquireChunk()
{
    ChunkPool& pool = Pool();
    {
        std::lock_guard lock(pool.mutex);
        if (!pool.kept.empty()) {
            void* chunk = pool.kept.back();
            pool.kept.pop_back();
            pool.inUse++;
            return chunk;
        }
    }
    // Small pages: reused chunks are already mapped, and a fresh huge page can cost far
    // more to fault in than the small ones it spares, right after other processes have
    // freed their memory.
    void* chunk = std::malloc(CHUNK_BYTES);
    if (!chunk) {
        NoteAllocationFailure();
        return nullptr;
    }
    std::lock_guard lock(pool.mutex);
    pool.inUse++;
    return chunk;
}

void ReleaseChunk(void* chunk)
{
    if (!chunk)
        return;
    ChunkPool& pool = Pool();
    {
        std::lock_guard lock(pool.mutex);
        pool.inUse--;
        if (pool.scopes > 0
            && (pool.inUse + pool.kept.size() + 1) * CHUNK_BYTES <= pool.keepBytes) {
            pool.kept.push_back(chunk);
            return;
        }
    }
    std::free(chunk);
}

ChunkReuse::ChunkReuse(size_t keepBytes)
{
    ChunkPool& pool = Pool();
    std::lock_guard lock(pool.mutex);
    pool.keepBytes = pool.scopes == 0 ? keepBytes : std::max(pool.keepBytes, keepBytes);
    pool.scopes++;
}

ChunkReuse::~ChunkReuse()
{
    ChunkPool& pool = Pool();
    std::vector<void*> freed;
    {
        std::lock_guard lock(pool.mutex);
        if (--pool.scopes == 0)
            freed.swap(pool.kept);
    }
    FreeAll(freed);
}

size_t ChunksInUse()
{
    std::lock_guard lock(Pool().mutex);
    return Pool().inUse;
}

size_t ChunksKept()
{
    std::lock_guard lock(Pool().mutex);
    return Pool().kept.size();
}

} // namespace platform
