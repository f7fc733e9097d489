// Runs untrusted rendering work in a child process over a raster shared with it, so that
// a crash, an abort, an exit or a runaway loop inside a metafile library costs the one
// picture and not the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace metafile {

struct IsolationLimits {
    uint32_t cpuSeconds = 10; // CPU time of the child
    uint32_t wallMilliseconds = 20000; // real time before the child is killed
    uint64_t extraAddressSpace = uint64_t(1) << 30; // beyond what the process already maps
};

// A raster of 32-bit pixels (blue, green, red, unused) in memory shared with children.
class SharedRaster {
public:
    SharedRaster(int32_t width, int32_t height);
    ~SharedRaster();
    SharedRaster(const SharedRaster&) = delete;
    SharedRaster& operator=(const SharedRaster&) = delete;

    bool IsValid() const { return memory != nullptr; }
    int32_t Width() const { return width; }
    int32_t Height() const { return height; }
    uint32_t* Pixels() const;
    // The start of row y, top row first.
    uint32_t* Row(int32_t y) const { return Pixels() + size_t(y) * size_t(width); }
    void Fill(uint32_t value);

private:
    friend bool RunIsolated(
        SharedRaster&, const std::function<bool(SharedRaster&)>&, const IsolationLimits&);
    int32_t width;
    int32_t height;
    size_t bytes = 0;
    void* memory = nullptr;
};

// Runs work(raster) in a child process and answers true only when the child finished
// normally, in time, and work answered true. Whatever the child painted stays in raster.
bool RunIsolated(SharedRaster& raster, const std::function<bool(SharedRaster&)>& work,
    const IsolationLimits& limits = {});

} // namespace metafile
