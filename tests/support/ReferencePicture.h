// Reference pictures of the conformance corpus, read with libpng directly (an independent
// reading, not the reader under test), and comparison of a decoded CxImage against them.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bvtest {

// 8-bit RGBA, top row first, samples as stored (no gamma, background or transparency).
struct RgbaPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* At(uint32_t x, uint32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

bool ReadRgbaPng(const std::string& path, RgbaPicture& picture, std::string& error);

// What a PNG file's header chunks say, as far as the expected decode depends on it.
struct PngFacts {
    int colorType = 0;
    int bitDepth = 0;
    int interlace = 0;
    bool hasBackground = false;
    uint8_t background[3] = { 0, 0, 0 }; // red, green, blue at 8 bits
    bool hasTrns = false;
};

bool ReadPngFacts(const std::string& path, PngFacts& facts);

// The colour of the image pixel at (x, y) counted from the top row.
RGBQUAD TopDownPixel(const CxImage& image, int32_t x, int32_t y);

// A reference picture read for comparison; on failure it is empty and error says why.
struct RefImage : RgbaPicture {
    std::string error;
};

RefImage LoadRefPng(const std::string& path);

struct RefComparison {
    bool sameSize = false;
    uint64_t differing = 0; // pixels whose RGB differs by more than the tolerance
    int maxDifference = 0; // largest channel difference over all pixels
};

// Compares the RGB of every pixel (the image's rows are bottom-up, the reference's top
// first); alpha is not compared.
RefComparison CompareToRef(const CxImage& image, const RgbaPicture& ref, int tolerance = 0);

// Every file directly in a corpus folder that has a reference beside it.
std::vector<std::string> FilesWithRefs(const std::string& folder);

struct Difference {
    uint32_t pixels = 0; // pixels whose RGB differs by more than the tolerance
    uint32_t largest = 0; // the largest channel difference
};

} // namespace bvtest
