// giflib as an independent second opinion: reading a GIF into plain vectors, and writing
// files with layouts our own writer never produces (interlaced rows, GIF87a, offsets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gifpeer {

struct PeerFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    bool localMap = false;
    std::vector<uint8_t> indices; // rows top to bottom
    std::vector<uint8_t> colors; // red, green, blue of the map in effect
    int delay = -1; // -1: no graphic control block
    int transIndex = -1;
    int disposal = 0;
};

struct PeerFile {
    bool ok = false;
    int error = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> globalColors;
    std::vector<PeerFrame> frames;
    int loopCount = -1; // -1: no loop block
    std::string comment;
};

PeerFile ReadWithGiflib(const uint8_t* data, size_t size);

// What a browser shows after each frame of a file read by giflib: the screen starts
// transparent, each frame's non-transparent pixels are drawn over it, and then its
// disposal applies (2 clears its rectangle, 3 restores what was there before it). A pixel
// is 0 when transparent, else 0xFF000000 | 0xRRGGBB.
std::vector<std::vector<uint32_t>> ComposeLikeBrowsers(const PeerFile& file);

struct WriteFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    int bpp = 8; // of the local map; 0: no local map
    std::vector<uint8_t> colors; // local map (2^bpp triples) when bpp > 0
    std::vector<uint8_t> indices; // rows top to bottom
    int delay = -1; // -1: no graphic control block
    int transIndex = -1;
    int disposal = 0;
};

// Writes a file with giflib; globalBpp 0 leaves out the global colour table.
std::vector<uint8_t> WriteWithGiflib(int width, int height, int globalBpp,
    const std::vector<uint8_t>& globalColors, const std::vector<WriteFrame>& frames,
    bool gif89 = true);

} // namespace gifpeer
