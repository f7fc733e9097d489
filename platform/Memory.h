// Memory for large pixel buffers and decoders' working arrays.
#pragma once

#include <cstddef>

namespace platform {

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
// keepBytes; when the last one ends, the kept chunks are freed.
class ChunkReuse {
public:
    explicit ChunkReuse(size_t keepBytes);
    ~ChunkReuse();
    ChunkReuse(const ChunkReuse&) = delete;
    ChunkReuse& operator=(const ChunkReuse&) = delete;
};

// Chunks now in use and kept for reuse (for tests).
size_t ChunksInUse();
size_t ChunksKept();

} // namespace platform
