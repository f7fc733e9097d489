// Small helpers for building files byte by byte and decoding them from memory.
#pragma once

#include "image/core/CxImage.h"
#include "image/core/CxStream.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace bvtest {

struct Bytes {
    std::vector<uint8_t> data;

    Bytes& U8(uint32_t v)
    {
        data.push_back(uint8_t(v));
        return *this;
    }
    Bytes& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    Bytes& U32(uint32_t v) { return U16(v).U16(v >> 16); }
    Bytes& Raw(std::initializer_list<uint8_t> bytes)
    {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes& Raw(const std::vector<uint8_t>& bytes)
    {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes& Fill(size_t count, uint8_t value)
    {
        data.insert(data.end(), count, value);
        return *this;
    }
    size_t Size() const { return data.size(); }
};

// Decodes bytes with one reader; the reader keeps the result for inspection.
template <typename Reader> bool DecodeWith(Reader& reader, const std::vector<uint8_t>& bytes)
{
    CxMemStream stream(bytes.data(), bytes.size());
    return reader.Decode(&stream);
}

// Every prefix of a file must end in a clean result: a decode, or a failure with a text
// (the icon reader alone may fail silently on a directory it doesn't recognise).
template <typename Reader> void DecodeEveryPrefix(const std::vector<uint8_t>& bytes)
{
    for (size_t length = 0; length < bytes.size(); length++) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(length));
        Reader reader;
        CxMemStream stream(prefix.data(), prefix.size());
        reader.Decode(&stream);
    }
}

inline uint32_t Rgb(const RGBQUAD& c)
{
    return (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
}

} // namespace bvtest
