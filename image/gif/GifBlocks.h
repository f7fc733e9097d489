// The blocks of a GIF file around the pixel data, written the same way by the plain and
// the size-optimising writers; each caller says what goes into their fields.
#pragma once

#include "image/core/CxStream.h"

#include <cstdint>

namespace gifblocks {

// A 16-bit field, low byte first.
inline void PutWord(CxStream* stream, int32_t value)
{
    stream->PutC(value & 0xFF);
    stream->PutC((value / 256) & 0xFF);
}

// "GIF89a" and the logical screen descriptor (background index and aspect ratio 0);
// the global colour table, when the flags announce one, follows from the caller.
inline void Header(CxStream* stream, int32_t width, int32_t height, uint8_t flags)
{
    stream->Write("GIF89a", 1, 6);
    PutWord(stream, width);
    PutWord(stream, height);
    stream->PutC(flags);
    stream->PutC(0); // background colour index
    stream->PutC(0); // pixel aspect ratio
}

// The graphic control extension of the next frame.
inline void GraphicControl(CxStream* stream, uint8_t flags, uint16_t delay, uint8_t transIndex)
{
    const uint8_t bytes[8]
        = { 0x21, 0xF9, 0x04, flags, uint8_t(delay & 0xFF), uint8_t(delay >> 8), transIndex, 0x00 };
    stream->Write(bytes, 1, sizeof(bytes));
}

// The image descriptor; a local colour table, when the flags announce one, follows from
// the caller.
inline void ImageDescriptor(
    CxStream* stream, int32_t left, int32_t top, int32_t width, int32_t height, uint8_t flags)
{
    stream->PutC(0x2C);
    PutWord(stream, left);
    PutWord(stream, top);
    PutWord(stream, width);
    PutWord(stream, height);
    stream->PutC(flags);
}

} // namespace gifblocks
