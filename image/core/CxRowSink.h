// A reader's rows handed over as they are decoded, for a caller that only needs them
// once (to reduce the picture, say) and so never needs the whole picture in memory.
#pragma once

#include <cstdint>
#include <vector>

// What a reader tells once it has read the header, before any pixel.
struct CxPictureHeader {
    // The picture the reader would make.
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bpp = 0;
    // The bytes the reader itself holds while it decodes, beside the picture or its rows
    // (a progressive JPEG keeps every coefficient of the picture until its last scan).
    uint64_t workingBytes = 0;
    // The rows can be handed over as 24-bit blue-green-red pixels that are exactly the
    // picture raised to 24 bits, with no transparency or alpha to go with them.
    bool rowsOffered = false;
    // What the picture carries beside its pixels, as the reader records it on the image:
    // the stored orientation (1..8; 0 = none given) and the embedded colour profile.
    // A reader that records them only after its rows leaves them out here (the caller
    // then finds them on the image once the decode is done).
    uint8_t orientation = 0;
    std::vector<uint8_t> iccProfile;
};

class CxRowSink {
public:
    enum class Take {
        Picture, // the reader makes its picture as usual
        Rows, // every row goes to Row instead, and the reader makes no picture
        HeaderOnly, // the reader stops: the decode succeeds with the size alone
    };

    virtual ~CxRowSink() = default;
    // Told once per attempt to read the picture (a reader probing a file of unknown
    // format may start again). Rows may be taken only when they are offered.
    virtual Take Header(const CxPictureHeader& header) = 0;
    // One stored row (0 = the bottom line) of width blue-green-red pixels. A decode that
    // succeeds hands over every row exactly once, in any order.
    virtual void Row(uint32_t storedRow, const uint8_t* pixels) = 0;
};
