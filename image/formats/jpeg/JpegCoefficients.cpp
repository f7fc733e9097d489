#include "JpegCoefficients.h"

#include "platform/Memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <jerror.h>

// One array of block rows, as libjpeg asked for it.
struct JpegCoefficients::Array {
    JDIMENSION blocksPerRow;
    JDIMENSION rows;
    JDIMENSION maxAccess;
    bool preZero;
    // Everything: a pointer per row into the store's block; rows from firstUndefined on
    // have not been written yet.
    std::vector<JBLOCKROW> rowPointers;
    JDIMENSION firstUndefined = 0;
    // DC only: each block's DC coefficient, and a window of maxAccess rows whose other
    // coefficients stay zero, holding rows [windowStart, windowEnd).
    std::vector<JCOEF> dc;
    std::vector<JCOEF> windowCoefficients;
    std::vector<JBLOCKROW> window;
    JDIMENSION windowStart = 0;
    JDIMENSION windowEnd = 0;
    bool windowDirty = false;
};

void JpegCoefficients::BlockFree::operator()(void* block) const { std::free(block); }

JpegCoefficients::JpegCoefficients() = default;

JpegCoefficients::~JpegCoefficients()
{
    for (void* chunk : chunks)
        platform::ReleaseChunk(chunk);
}

uint64_t JpegCoefficients::BytesFor(j_decompress_ptr cinfo, Keep keep)
{
    // The library asks for one array per component, rounded up to whole MCUs, with a
    // window of up to five strips of rows (for block smoothing).
    uint64_t total = 0;
    for (int c = 0; c < cinfo->num_components; c++) {
        const jpeg_component_info& component = cinfo->comp_info[c];
        const uint64_t h = uint64_t(std::max(component.h_samp_factor, 1));
        const uint64_t v = uint64_t(std::max(component.v_samp_factor, 1));
        const uint64_t across = (component.width_in_blocks + h - 1) / h * h;
        const uint64_t down = (component.height_in_blocks + v - 1) / v * v;
        total += keep == Keep::Everything
            ? across * down * sizeof(JBLOCK)
            : across * down * sizeof(JCOEF) + across * 5 * v * sizeof(JBLOCK);
    }
    return total;
}

void JpegCoefficients::Install(j_decompress_ptr cinfo, Keep keepWhat)
{
    keep = keepWhat;
    cinfo->client_data = this;
    libraryRealize = cinfo->mem->realize_virt_arrays;
    cinfo->mem->request_virt_barray = Request;
    cinfo->mem->realize_virt_arrays = Realize;
    cinfo->mem->access_virt_barray = Access;
}

jvirt_barray_ptr JpegCoefficients::Request(j_common_ptr cinfo, int poolId, boolean preZero,
    JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess)
{
    // Only the image pool has virtual arrays, as in the library's own manager.
    if (poolId != JPOOL_IMAGE)
        ERREXIT1(cinfo, JERR_BAD_POOL_ID, poolId);
    auto* self = static_cast<JpegCoefficients*>(cinfo->client_data);
    Array* array = self->AddArray(blocksPerRow, rows, maxAccess, preZero != 0);
    // Out of memory: the library's error exit, the only way out of its frames.
    if (!array)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 13);
    return reinterpret_cast<jvirt_barray_ptr>(array);
}

JpegCoefficients::Array* JpegCoefficients::AddArray(
    JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess, bool preZero) noexcept
{
    try {
        auto array = std::make_unique<Array>();
        array->blocksPerRow = blocksPerRow;
        array->rows = rows;
        array->maxAccess = std::min(maxAccess, rows);
        array->preZero = preZero;
        arrays.push_back(std::move(array));
        return arrays.back().get();
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        return nullptr;
    }
}

void JpegCoefficients::Realize(j_common_ptr cinfo)
{
    auto* self = static_cast<JpegCoefficients*>(cinfo->client_data);
    self->libraryRealize(cinfo);
    if (self->arrays.empty())
        return; // a single-scan file keeps no picture's worth of coefficients
    uint64_t total = 0;
    for (const auto& array : self->arrays) {
        const uint64_t blocks = uint64_t(array->blocksPerRow) * array->rows;
        total += self->keep == Keep::Everything ? blocks * sizeof(JBLOCK)
                                                : blocks * sizeof(JCOEF)
                + uint64_t(array->blocksPerRow) * array->maxAccess * sizeof(JBLOCK);
    }
    if (total > uint64_t(cinfo->mem->max_memory_to_use) || total > SIZE_MAX / 2)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    // Out of memory: the library's error exit, the only way out of its frames.
    if (const int failure = self->TakeMemory())
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, failure);
}

int JpegCoefficients::TakeMemory() noexcept
{
    try {
        return TakeMemoryOrThrow();
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        return 14;
    }
}

int JpegCoefficients::TakeMemoryOrThrow()
{
    JpegCoefficients* self = this;
    if (self->keep == Keep::DcOnly) {
        for (const auto& array : self->arrays) {
            array->dc.assign(size_t(array->blocksPerRow) * array->rows, 0);
            array->windowCoefficients.assign(
                size_t(array->blocksPerRow) * array->maxAccess * DCTSIZE2, 0);
            for (JDIMENSION r = 0; r < array->maxAccess; r++) {
                array->window.push_back(reinterpret_cast<JBLOCKROW>(
                    array->windowCoefficients.data() + size_t(r) * array->blocksPerRow * DCTSIZE2));
            }
        }
        return 0;
    }
    // Rows are packed into chunks; a row never straddles two, and a row longer than a
    // chunk has a block of its own. Room for every pointer first, so that nothing taken
    // can fail to be recorded (and given back).
    size_t chunksNeeded = 0, wideNeeded = 0;
    for (const auto& array : self->arrays) {
        const size_t rowBytes = size_t(array->blocksPerRow) * sizeof(JBLOCK);
        const size_t rowsPerChunk = platform::CHUNK_BYTES / std::max<size_t>(rowBytes, 1);
        if (rowsPerChunk == 0)
            wideNeeded += array->rows;
        else
            chunksNeeded += (array->rows + rowsPerChunk - 1) / rowsPerChunk;
    }
    self->chunks.reserve(chunksNeeded);
    self->wideRows.reserve(wideNeeded);
    uint8_t* chunk = nullptr;
    size_t used = platform::CHUNK_BYTES;
    for (const auto& array : self->arrays) {
        const size_t rowBytes = size_t(array->blocksPerRow) * sizeof(JBLOCK);
        array->rowPointers.resize(array->rows);
        for (JDIMENSION r = 0; r < array->rows; r++) {
            if (rowBytes > platform::CHUNK_BYTES) {
                self->wideRows.emplace_back(platform::AllocateBuffer(rowBytes));
                if (!self->wideRows.back())
                    return 12;
                array->rowPointers[r] = static_cast<JBLOCKROW>(self->wideRows.back().get());
                continue;
            }
            if (used + rowBytes > platform::CHUNK_BYTES) {
                chunk = static_cast<uint8_t*>(platform::AcquireChunk());
                if (!chunk)
                    return 11;
                self->chunks.push_back(chunk);
                used = 0;
            }
            array->rowPointers[r] = reinterpret_cast<JBLOCKROW>(chunk + used);
            used += rowBytes;
        }
    }
    return 0;
}

JBLOCKARRAY JpegCoefficients::Access(j_common_ptr cinfo, jvirt_barray_ptr handle,
    JDIMENSION startRow, JDIMENSION rows, boolean writable)
{
    auto* self = static_cast<JpegCoefficients*>(cinfo->client_data);
    Array& array = *reinterpret_cast<Array*>(handle);
    const JDIMENSION endRow = startRow + rows;
    const bool realized
        = self->keep == Keep::DcOnly ? !array.window.empty() : !array.rowPointers.empty();
    if (endRow > array.rows || endRow < startRow || rows > array.maxAccess || !realized)
        ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
    return self->keep == Keep::DcOnly ? self->AccessDc(array, startRow, endRow, writable)
                                      : self->AccessAll(cinfo, array, startRow, endRow, writable);
}

JBLOCKARRAY JpegCoefficients::AccessAll(
    j_common_ptr cinfo, Array& array, JDIMENSION startRow, JDIMENSION endRow, boolean writable)
{
    // Rows are defined before they are read: cleared on first touch when the library
    // asked for that, as its own manager does.
    if (array.firstUndefined < endRow) {
        JDIMENSION undefined = array.firstUndefined;
        if (undefined < startRow) {
            if (writable) // a writer skipped part of the array
                ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
            undefined = startRow; // a reader may look ahead
        }
        if (writable)
            array.firstUndefined = endRow;
        if (!array.preZero && !writable)
            ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
        // Row by row: rows follow one another only within a chunk.
        for (JDIMENSION r = undefined; array.preZero && r < endRow; r++)
            std::memset(array.rowPointers[r], 0, size_t(array.blocksPerRow) * sizeof(JBLOCK));
    }
    return array.rowPointers.data() + startRow;
}

JBLOCKARRAY JpegCoefficients::AccessDc(
    Array& array, JDIMENSION startRow, JDIMENSION endRow, boolean writable)
{
    if (startRow < array.windowStart || endRow > array.windowEnd) {
        if (array.windowDirty) {
            for (JDIMENSION r = array.windowStart; r < array.windowEnd; r++) {
                const JBLOCKROW row = array.window[r - array.windowStart];
                JCOEF* dc = array.dc.data() + size_t(r) * array.blocksPerRow;
                for (JDIMENSION b = 0; b < array.blocksPerRow; b++)
                    dc[b] = row[b][0];
            }
        }
        // Nothing writes the other coefficients in a decode of the DC scans alone: they
        // stay the zeros the window started with.
        for (JDIMENSION r = startRow; r < endRow; r++) {
            const JBLOCKROW row = array.window[r - startRow];
            const JCOEF* dc = array.dc.data() + size_t(r) * array.blocksPerRow;
            for (JDIMENSION b = 0; b < array.blocksPerRow; b++)
                row[b][0] = dc[b];
        }
        array.windowStart = startRow;
        array.windowEnd = endRow;
        array.windowDirty = false;
    }
    if (writable)
        array.windowDirty = true;
    return array.window.data() + (startRow - array.windowStart);
}
