// Builds Exif APP1 segments and small JPEG streams around them for the tests: a TIFF
// block in either byte order with a first directory, an optional Exif sub-directory
// (linked by tag 0x8769) and an optional second directory (the first one's next link).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bvtest {

using Bytes = std::vector<uint8_t>;

class ExifBuilder {
public:
    enum Directory { FIRST = 0, EXIF = 1, SECOND = 2 };

    explicit ExifBuilder(bool bigEndian)
        : bigEndian(bigEndian)
    {
    }

    ExifBuilder& Short(Directory d, uint16_t tag, uint16_t value)
    {
        return Add(d, tag, 3, 1, Encode16(value));
    }
    ExifBuilder& Long(Directory d, uint16_t tag, uint32_t value)
    {
        return Add(d, tag, 4, 1, Encode32(value));
    }
    ExifBuilder& Rational(
        Directory d, uint16_t tag, int32_t numerator, int32_t denominator, uint16_t format = 5)
    {
        Bytes v = Encode32(uint32_t(numerator));
        const Bytes low = Encode32(uint32_t(denominator));
        v.insert(v.end(), low.begin(), low.end());
        return Add(d, tag, format, 1, v);
    }
    ExifBuilder& Ascii(Directory d, uint16_t tag, const std::string& text)
    {
        Bytes v(text.begin(), text.end());
        v.push_back(0);
        return Add(d, tag, 2, uint32_t(v.size()), v);
    }
    ExifBuilder& Undefined(Directory d, uint16_t tag, const Bytes& bytes)
    {
        return Add(d, tag, 7, uint32_t(bytes.size()), bytes);
    }
    ExifBuilder& Add(Directory d, uint16_t tag, uint16_t format, uint32_t count, Bytes value)
    {
        directories[d].push_back(Entry { tag, format, count, std::move(value) });
        return *this;
    }
    // Bytes appended to the block behind everything else; their block offset is returned
    // by Build through tailOffset.
    ExifBuilder& Tail(const Bytes& bytes)
    {
        tail = bytes;
        return *this;
    }

    // The APP1 payload: "Exif\0\0" and the TIFF block.
    Bytes Payload(uint32_t* tailOffset = nullptr) const
    {
        std::vector<Entry> dirs[3] = { directories[0], directories[1], directories[2] };
        if (!dirs[EXIF].empty())
            dirs[FIRST].push_back(Entry { 0x8769, 4, 1, Encode32(0) });

        uint32_t offsets[3] = { 0, 0, 0 };
        uint32_t position = 8;
        for (int d = 0; d < 3; d++) {
            if (d != FIRST && dirs[d].empty())
                continue;
            offsets[d] = position;
            position += 2 + 12 * uint32_t(dirs[d].size()) + 4;
            for (const Entry& e : dirs[d])
                if (e.value.size() > 4)
                    position += uint32_t((e.value.size() + 1) & ~size_t(1));
        }
        if (!dirs[EXIF].empty())
            dirs[FIRST].back().value = Encode32(offsets[EXIF]);

        Bytes block = bigEndian ? Bytes { 'M', 'M', 0, 42 } : Bytes { 'I', 'I', 42, 0 };
        Append(block, Encode32(8));
        for (int d = 0; d < 3; d++) {
            if (d != FIRST && dirs[d].empty())
                continue;
            uint32_t data = offsets[d] + 2 + 12 * uint32_t(dirs[d].size()) + 4;
            Append(block, Encode16(uint16_t(dirs[d].size())));
            Bytes area;
            for (const Entry& e : dirs[d]) {
                Append(block, Encode16(e.tag));
                Append(block, Encode16(e.format));
                Append(block, Encode32(e.count));
                if (e.value.size() > 4) {
                    Append(block, Encode32(data + uint32_t(area.size())));
                    Append(area, e.value);
                    if (area.size() & 1)
                        area.push_back(0);
                } else {
                    Bytes v = e.value;
                    v.resize(4, 0);
                    Append(block, v);
                }
            }
            const uint32_t next = (d == FIRST && !dirs[SECOND].empty()) ? offsets[SECOND] : 0;
            Append(block, Encode32(next));
            Append(block, area);
        }
        if (tailOffset)
            *tailOffset = uint32_t(block.size());
        Append(block, tail);

        Bytes payload = { 'E', 'x', 'i', 'f', 0, 0 };
        Append(payload, block);
        return payload;
    }

    Bytes Segment() const { return MakeSegment(0xE1, Payload()); }

    static Bytes MakeSegment(uint8_t marker, const Bytes& payload)
    {
        const size_t length = payload.size() + 2;
        Bytes out = { 0xFF, marker, uint8_t(length >> 8), uint8_t(length) };
        Append(out, payload);
        return out;
    }

    Bytes Encode16(uint16_t v) const
    {
        return bigEndian ? Bytes { uint8_t(v >> 8), uint8_t(v) }
                         : Bytes { uint8_t(v), uint8_t(v >> 8) };
    }
    Bytes Encode32(uint32_t v) const
    {
        Bytes out = { uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v) };
        if (!bigEndian)
            return Bytes(out.rbegin(), out.rend());
        return out;
    }

private:
    struct Entry {
        uint16_t tag;
        uint16_t format;
        uint32_t count;
        Bytes value;
    };

    static void Append(Bytes& out, const Bytes& more)
    {
        out.insert(out.end(), more.begin(), more.end());
    }

    bool bigEndian;
    std::vector<Entry> directories[3];
    Bytes tail;
};

// A marker stream for the Exif walk alone: SOI, the given segments, a frame header of the
// given size, and a start of scan (no scan data follows; the walk never reads it).
inline Bytes MarkerStream(const std::vector<Bytes>& segments, uint16_t width = 40,
    uint16_t height = 30, uint8_t components = 3)
{
    Bytes out = { 0xFF, 0xD8 };
    for (const Bytes& s : segments)
        out.insert(out.end(), s.begin(), s.end());
    Bytes frame = { 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
        components };
    for (uint8_t c = 0; c < components; c++)
        frame.insert(frame.end(), { uint8_t(c + 1), 0x11, 0 });
    const Bytes sof = ExifBuilder::MakeSegment(0xC0, frame);
    out.insert(out.end(), sof.begin(), sof.end());
    const Bytes sos = ExifBuilder::MakeSegment(0xDA, { 1, 1, 0, 0, 63, 0 });
    out.insert(out.end(), sos.begin(), sos.end());
    return out;
}

inline Bytes CommentSegment(const std::string& text)
{
    return ExifBuilder::MakeSegment(0xFE, Bytes(text.begin(), text.end()));
}

} // namespace bvtest
