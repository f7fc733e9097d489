#include "Memory.h"

#include <algorithm>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <mutex>
#include <new>
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

    // Set while the calling thread holds the pool's lock: an allocation that fails then
    // can't free the kept chunks.
    thread_local bool holdingPool = false;

    class PoolLock {
    public:
        explicit PoolLock(ChunkPool& pool)
            : lock(pool.mutex)
        {
            holdingPool = true;
        }
        ~PoolLock() { holdingPool = false; }

    private:
        std::lock_guard<std::mutex> lock;
    };

    std::new_handler previousNewHandler = nullptr;

    // operator new's last resort while chunks are kept: free them, then try again.
    void FreeKeptChunksOrFail()
    {
        if (holdingPool || ReleaseKeptChunks() == 0)
            throw std::bad_alloc();
    }

    template <typename Allocate> void* AllocateOrFreeKept(Allocate allocate)
    {
        void* block = allocate();
        if (!block && ReleaseKeptChunks() > 0)
            block = allocate();
        if (!block)
            NoteAllocationFailure();
        return block;
    }

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

bool ShareOneHeap()
{
#if defined(__GLIBC__)
    return mallopt(M_ARENA_MAX, 1) == 1;
#else
    return false;
#endif
}

void* AllocateBuffer(size_t bytes)
{
    if (bytes < LARGE_BLOCK)
        return AllocateOrFreeKept([bytes] { return std::malloc(bytes); });
    const size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void* block = AllocateOrFreeKept([rounded] { return std::aligned_alloc(HUGE_PAGE, rounded); });
    if (block)
        madvise(block, rounded, MADV_HUGEPAGE); // advice only: failure changes nothing
    return block;
}

void* AcquireChunk()
{
    ChunkPool& pool = Pool();
    {
        const PoolLock lock(pool);
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
    void* chunk = AllocateOrFreeKept([] { return std::malloc(CHUNK_BYTES); });
    if (!chunk)
        return nullptr;
    const PoolLock lock(pool);
    pool.inUse++;
    return chunk;
}

void ReleaseChunk(void* chunk)
{
    if (!chunk)
        return;
    ChunkPool& pool = Pool();
    {
        const PoolLock lock(pool);
        pool.inUse--;
        if (pool.scopes > 0
            && (pool.inUse + pool.kept.size() + 1) * CHUNK_BYTES <= pool.keepBytes) {
            try {
                pool.kept.push_back(chunk);
                return;
            } catch (const std::bad_alloc&) {
                // not kept, then
            }
        }
    }
    std::free(chunk);
}

ChunkReuse::ChunkReuse(size_t keepBytes)
{
    ChunkPool& pool = Pool();
    const PoolLock lock(pool);
    pool.keepBytes = pool.scopes == 0 ? keepBytes : std::max(pool.keepBytes, keepBytes);
    if (pool.scopes++ == 0)
        previousNewHandler = std::set_new_handler(FreeKeptChunksOrFail);
}

ChunkReuse::~ChunkReuse()
{
    ChunkPool& pool = Pool();
    bool last;
    {
        const PoolLock lock(pool);
        last = --pool.scopes == 0;
        if (last)
            std::set_new_handler(previousNewHandler);
    }
    // No chunk is kept any more once the last one has ended.
    if (last)
        ReleaseKeptChunks();
}

size_t ReleaseKeptChunks()
{
    ChunkPool& pool = Pool();
    std::vector<void*> freed;
    {
        const PoolLock lock(pool);
        freed.swap(pool.kept);
    }
    const size_t count = freed.size();
    FreeAll(freed);
    return count;
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
