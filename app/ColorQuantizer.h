// The program's own colour quantiser: an octree over the top colorBits bits of each
// channel, reduced after every pixel so that it never holds more than maxColors leaves,
// whose leaves in tree order are the palette. It reads a composed canvas (as a BMP file
// would load) and makes the 8-bit frame: that palette and, for every pixel, the index of
// the nearest palette entry.
#pragma once

#include "PaletteSearch.h"
#include "platform/DibTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

class CxImage;
class CxStream;

struct OctreeNode {
    uint32_t isLeaf;
    uint32_t pixelCount;
    uint32_t redSum;
    uint32_t greenSum;
    uint32_t blueSum;
    OctreeNode* child[8];
    OctreeNode* next; // the next node of the same level's reducible list
};

// A device-independent bitmap as loaded from a BMP file: header, masks, colour table and
// the stored rows, checked against the bytes that hold them.
struct LoadedDib {
    BITMAPINFOHEADER header {};
    bool topDown = false;
    uint32_t masks[3] = { 0, 0, 0 }; // red, green, blue for 16 and 32 bits
    std::vector<RGBQUAD> colors;
    uint32_t stride = 0;
    std::vector<uint8_t> bits; // height rows of stride bytes, in file order
    // Rows laid out as bits would hold them, borrowed from their owner (who keeps them
    // while the bitmap is used) instead of copied into bits.
    const uint8_t* borrowed = nullptr;

    int32_t Width() const { return header.biWidth; }
    int32_t Height() const { return header.biHeight < 0 ? -header.biHeight : header.biHeight; }
    // The pixel bytes of stored row k, k = 0 being the bottom row.
    const uint8_t* BottomUpRow(int32_t k) const
    {
        const int32_t fileRow = topDown ? Height() - 1 - k : k;
        return (borrowed ? borrowed : bits.data()) + size_t(fileRow) * stride;
    }
};

// Reads an uncompressed (or bit-field) BMP of 1, 4, 8, 16, 24 or 32 bits per pixel; false
// for anything else, a damaged file, or one larger than CXIMAGE_MAX_MEMORY.
bool LoadDib(CxStream* stream, LoadedDib& dib);

class ColorQuantizer {
public:
    ColorQuantizer(int32_t maxColors, int32_t colorBits);
    ~ColorQuantizer();
    ColorQuantizer(const ColorQuantizer&) = delete;
    ColorQuantizer& operator=(const ColorQuantizer&) = delete;

    // The frame of a loaded bitmap: 8 bits per pixel, the palette in its first entries (the
    // others black), bottom-up rows as the bitmap's; null when it can't be made. palette,
    // when given, receives the palette alone.
    std::unique_ptr<CxImage> Quantize(
        const LoadedDib& source, std::vector<RGBQUAD>* palette = nullptr);
    // The same frame as an 8-bit BMP written to destination from its start.
    bool Run(const LoadedDib& source, CxStream* destination);

    void Reset();
    bool FeedImage(const LoadedDib& source);
    // The palette in tree order: depth first, children 0..7.
    std::vector<RGBQUAD> MakePalette() const;
    uint32_t LeafCount() const { return leafCount; }

private:
    void AddColor(uint8_t red, uint8_t green, uint8_t blue);
    void ReduceTree();
    void FreeTree(OctreeNode* node);

    OctreeNode* root = nullptr;
    uint32_t leafCount = 0;
    OctreeNode* reducible[9] = {};
    int32_t maxColors;
    int32_t colorBits;

    // The leaf that colours of one cell of the colour cube (their top colorBits bits)
    // last went to: the walk down the tree ends there again until the tree is reduced,
    // which starts a new generation.
    struct LeafMemo {
        uint32_t cell;
        uint32_t generation;
        OctreeNode* leaf;
    };
    static constexpr int LEAF_MEMO_BITS = 12;
    std::vector<LeafMemo> leafMemo;
    uint32_t generation = 1;
};

// Reduces the BMP in source to at most 256 colours (6 bits per channel) and writes the
// 8-bit BMP to destination. Both streams stay open.
bool QuantizeBmpStream(CxStream* source, CxStream* destination);
