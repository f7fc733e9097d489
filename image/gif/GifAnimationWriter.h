// An animated GIF written a frame at a time: each frame is coded on its own (on any
// thread, in any order) into a compact block, and the writer puts the blocks into the
// file in frame order. The file is the very one CxImageGIF::Encode(..., true) writes from
// the same frames, so a long animation needs only the frames on their way to the file.
#pragma once

#include "image/core/CxImage.h"
#include "image/core/CxStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One frame coded ahead of its turn: its image block with its own colour table, and what
// its control block and the file's header take from it.
struct GifCodedFrame {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t bpp = 0; // of its colour table: 1, 4 or 8
    int32_t transIndex = -1;
    std::vector<uint8_t> block; // image descriptor, colour table, LZW data, terminator

    size_t Bytes() const { return sizeof(*this) + block.capacity(); }
};

// The loop block (loops as CxImageGIF::SetLoops takes it) and a comment block (text cut
// to 255 bytes).
void PutGifLoopBlock(CxStream* stream, int32_t loops);
void PutGifComment(CxStream* stream, const char* text);

// Codes one indexed frame; false, with the reason in
// why, when it can't be written (no palette, a side above 65535) or memory runs short.
bool CodeGifFrame(CxImage& frame, GifCodedFrame& coded, std::string* why = nullptr);

// The indexed frame back from its coded block (its colour table, its pixels and its
// transparent index as they were coded); null when the block doesn't decode.
std::unique_ptr<CxImage> DecodeGifFrame(const GifCodedFrame& coded);

class GifAnimationWriter {
public:
    // loops: the loop block's count as CxImageGIF::SetLoops takes it; disposal: every
    // frame's disposal method; comment: after the first control block (empty: none).
    GifAnimationWriter(CxStream* stream, const char* comment, int32_t loops, int32_t disposal);

    // The next frame, shown for delay (1/100 s): the first one also writes the header, its
    // colour table becoming the global one (the frame then keeps none of its own). False
    // once a write failed.
    bool Add(const GifCodedFrame& frame, uint32_t delay);
    // Writes the trailer; false when no frame was added or some write failed.
    bool End();
    size_t Frames() const { return frames; }

private:
    void Put(const void* bytes, size_t size);

    CxStream* stream;
    std::string comment;
    int32_t loops;
    int32_t disposal;
    size_t frames = 0;
    bool failed = false;
};
