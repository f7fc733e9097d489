// Reference pictures of the corpus: 8-bit RGBA PNG files, top row first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bvtest {

struct RefImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba; // top row first

    const uint8_t* At(uint32_t x, uint32_t yFromTop) const
    {
        return rgba.data() + (size_t(yFromTop) * width + x) * 4;
    }
};

// Decodes a PNG file with libpng; false (and text in error) when it can't.
bool LoadRefPng(const std::string& path, RefImage& image, std::string& error);

} // namespace bvtest
