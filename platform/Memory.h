// Memory for large pixel buffers.
#pragma once

#include <cstddef>

namespace platform {

// Allocates a buffer that std::free releases. Blocks of 4 MiB and more are aligned to
// 2 MiB and offered to the kernel for transparent huge pages, so that filling a photo's
// pixels faults a few large pages instead of thousands of small ones. Null on failure.
void* AllocateBuffer(size_t bytes);

} // namespace platform
