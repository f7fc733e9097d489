#include "Memory.h"

#include <cstdlib>
#include <sys/mman.h>

namespace platform {

namespace {

    constexpr size_t LARGE_BLOCK = size_t(4) << 20;
    constexpr size_t HUGE_PAGE = size_t(2) << 20;

} // namespace

void* AllocateBuffer(size_t bytes)
{
    if (bytes < LARGE_BLOCK)
        return std::malloc(bytes);
    const size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void* block = std::aligned_alloc(HUGE_PAGE, rounded);
    if (block)
        madvise(block, rounded, MADV_HUGEPAGE); // advice only: failure changes nothing
    return block;
}

} // namespace platform
