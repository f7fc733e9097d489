// What the readers of whole-file libraries share: taking the rest of a stream into memory
// within a limit, telling a row sink the header, and storing top-down RGB or RGBA rows into
// the bottom-up picture and its alpha plane.
#pragma once

#include "CxImage.h"

#include <cstdint>
#include <vector>

class CxStream;
struct CxPictureHeader;

// The bytes from the stream's position to its end; raises a CxReadError with tooLargeText
// when they are more than limit (or the stream can't tell its size) and with readText when
// fewer arrive than the stream announced.
std::vector<uint8_t> ReadRemainingBytes(
    CxStream& stream, uint64_t limit, const char* tooLargeText, const char* readText);

// The bytes of a picture of this size and depth as CxImage::Create would allocate them,
// with its alpha plane when asked.
uint64_t PictureAllocation(uint64_t width, uint64_t height, uint32_t bpp, bool withAlpha);

// Stores one row of a top-down picture (row 0 = the top) of red, green, blue and, with
// four channels, alpha samples into a 24-bit image made to the same size (with its alpha
// plane when the row has four channels).
void StoreTopDownRow(CxImage& image, uint32_t topRow, const uint8_t* samples, uint32_t channels);
