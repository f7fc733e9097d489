#include "DecodeMemory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

uint64_t ImageBytes(uint64_t w, uint64_t h, uint64_t bytesPerPixel)
{
    return ((w * bytesPerPixel + 3) & ~uint64_t(3)) * h;
}

// Walks the JPEG markers up to the frame header; 0 when it isn't found.
uint64_t JpegBytes(FILE* file)
{
    uint8_t b[8];
    if (std::fread(b, 1, 2, file) != 2 || b[0] != 0xFF || b[1] != 0xD8)
        return 0;
    for (int segments = 0; segments < 1000; segments++) {
        int c = std::fgetc(file);
        while (c != EOF && c != 0xFF)
            c = std::fgetc(file);
        while (c == 0xFF)
            c = std::fgetc(file);
        if (c == EOF)
            return 0;
        const int marker = c;
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01)
            continue;
        if (std::fread(b, 1, 2, file) != 2)
            return 0;
        const uint32_t length = Be16(b);
        if (length < 2)
            return 0;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
            && marker != 0xCC;
        if (!frame) {
            if (std::fseek(file, long(length) - 2, SEEK_CUR) != 0)
                return 0;
            continue;
        }
        uint8_t sof[6 + 3 * 4];
        if (length < 8 || std::fread(sof, 1, 6, file) != 6)
            return 0;
        const uint64_t h = Be16(sof + 1), w = Be16(sof + 3);
        const uint32_t components = std::min<uint32_t>(sof[5], 4);
        if (std::fread(sof + 6, 3, components, file) != components)
            return 0;
        // A grey picture is raised to 24 bits beside itself.
        uint64_t bytes
            = components == 1 ? ImageBytes(w, h, 1) + ImageBytes(w, h, 3) : ImageBytes(w, h, 3);
        const bool progressive
            = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
        if (progressive) {
            uint32_t hMax = 1, vMax = 1;
            for (uint32_t i = 0; i < components; i++) {
                hMax = std::max<uint32_t>(hMax, sof[6 + 3 * i + 1] >> 4);
                vMax = std::max<uint32_t>(vMax, sof[6 + 3 * i + 1] & 15);
            }
            for (uint32_t i = 0; i < components; i++) {
                const uint32_t hi = std::max<uint32_t>(1, sof[6 + 3 * i + 1] >> 4);
                const uint32_t vi = std::max<uint32_t>(1, sof[6 + 3 * i + 1] & 15);
                const uint64_t blocksX = (w * hi / hMax + 7) / 8 + 1;
                const uint64_t blocksY = (h * vi / vMax + 7) / 8 + 1;
                bytes += blocksX * blocksY * 128; // 64 coefficients of 2 bytes
            }
        }
        return bytes;
    }
    return 0;
}

uint64_t PngBytes(FILE* file)
{
    uint8_t b[24];
    if (std::fread(b, 1, 24, file) != 24 || std::memcmp(b + 1, "PNG", 3) != 0
        || std::memcmp(b + 12, "IHDR", 4) != 0)
        return 0;
    const uint64_t w = Be32(b + 16), h = Be32(b + 20);
    // The 24-bit image, an alpha plane, and the reader's own rows of the whole picture.
    return ImageBytes(w, h, 3) + w * h + w * h * 4;
}

} // namespace

uint64_t EstimateDecodeBytes(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    const uint64_t fileBytes = uint64_t(info.st_size);
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return 0;
    uint64_t bytes = JpegBytes(file.get());
    if (bytes == 0) {
        std::rewind(file.get());
        bytes = PngBytes(file.get());
    }
    // Anything else: at most a few times its file, as uncompressed or lightly
    // compressed pictures are.
    return bytes ? bytes : fileBytes * 4;
}

void MemoryGate::Acquire(uint64_t bytes)
{
    std::unique_lock lock(mutex);
    released.wait(lock, [&] { return inFlight == 0 || inFlight + bytes <= budget; });
    inFlight += bytes;
}

void MemoryGate::Release(uint64_t bytes)
{
    {
        std::lock_guard lock(mutex);
        inFlight -= std::min(inFlight, bytes);
    }
    released.notify_all();
}
