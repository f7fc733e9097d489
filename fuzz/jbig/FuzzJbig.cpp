// The JBIG reader over arbitrary bytes.
#include "image/core/CxStream.h"
#include "image/formats/jbig/CxImageJBG.h"

#include <cstddef>
#include <cstdint>

namespace {

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Typical prediction lets a hundred bytes describe a page of a billion pixels, which
    // JBIG-KIT then decodes pixel by pixel within the reader's memory limit: correct but
    // slow, so the fuzzer keeps to pages of at most 4 million pixels.
    if (size >= 20 && uint64_t(BigEndian32(data + 4)) * BigEndian32(data + 8) > (uint64_t(1) << 22))
        return 0;
    CxMemStream stream(data, size);
    CxImageJBG image;
    image.Decode(&stream);
    return 0;
}
