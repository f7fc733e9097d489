// Reference pictures of the conformance corpus (8-bit RGBA PNGs) and comparison of a
// decoded CxImage against them.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bvtest {

struct RefImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba; // rows top first
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
RefComparison CompareToRef(const CxImage& image, const RefImage& ref, int tolerance = 0);

// Every file directly in a corpus folder that has a reference beside it.
std::vector<std::string> FilesWithRefs(const std::string& folder);

} // namespace bvtest
