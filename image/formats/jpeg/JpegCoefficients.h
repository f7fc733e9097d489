// Our own keeping of the coefficient arrays libjpeg asks for when a file has more than
// one scan (a progressive file above all): every coefficient of the picture, held until
// the last scan is in. libjpeg's own arrays come from plain malloc and fault in page by
// page, and are given back after each photo; ours are rows packed into chunks that a
// batch of photos reuses (platform::ChunkReuse). For a decode that reads only the DC scans and
// outputs at 1/8 scale, only the DC coefficient of each block is kept at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <memory>
#include <vector>

class JpegCoefficients {
public:
    enum class Keep { Everything, DcOnly };

    JpegCoefficients();
    ~JpegCoefficients();
    JpegCoefficients(const JpegCoefficients&) = delete;
    JpegCoefficients& operator=(const JpegCoefficients&) = delete;

    // Takes over the decompressor's block arrays (its sample arrays stay the library's).
    // cinfo->client_data points here from then on; call before jpeg_start_decompress.
    void Install(j_decompress_ptr cinfo, Keep keep);
    // What the arrays of a decompression whose header has been read will take.
    static uint64_t BytesFor(j_decompress_ptr cinfo, Keep keep);

private:
    struct Array;

    static jvirt_barray_ptr Request(j_common_ptr cinfo, int poolId, boolean preZero,
        JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess);
    static void Realize(j_common_ptr cinfo);
    // The allocations of the callbacks, which never let an exception into the library's
    // frames: null, or the case of the library's out-of-memory error, when memory ran short.
    Array* AddArray(
        JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess, bool preZero) noexcept;
    int TakeMemory() noexcept;
    int TakeMemoryOrThrow();
    static JBLOCKARRAY Access(j_common_ptr cinfo, jvirt_barray_ptr handle, JDIMENSION startRow,
        JDIMENSION rows, boolean writable);

    JBLOCKARRAY AccessAll(
        j_common_ptr cinfo, Array& array, JDIMENSION startRow, JDIMENSION endRow, boolean writable);
    JBLOCKARRAY AccessDc(Array& array, JDIMENSION startRow, JDIMENSION endRow, boolean writable);

    Keep keep = Keep::Everything;
    void (*libraryRealize)(j_common_ptr) = nullptr;
    std::vector<std::unique_ptr<Array>> arrays;
    std::vector<void*> chunks; // released to the platform's chunk pool
    struct BlockFree {
        void operator()(void* block) const;
    };
    std::vector<std::unique_ptr<void, BlockFree>> wideRows; // rows longer than a chunk
};
