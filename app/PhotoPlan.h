// How a photo will be read for its frame, told from its header before any pixel is
// decoded: the JPEG scale that fast decoding takes, the size it is reduced to, the memory
// its reading holds and the work it costs, so that a batch can begin the costliest photos
// first and read them side by side only as far as memory allows.
#pragma once

#include "ProjectSettings.h"

#include <cstdint>
#include <string>

struct PhotoPlan {
    // The JPEG scale denominator to read at (0 = full size) and whether a progressive
    // file is read only as far as its DC scans: what fast decoding chooses.
    uint8_t jpegReduction = 0;
    bool dcScansOnly = false;
    // The size the photo is reduced to, upright (as the frame shows it); 0 when the
    // header could not be read ahead.
    int32_t reducedWidth = 0;
    int32_t reducedHeight = 0;
    // Whether its rows go straight into the reduction, never making the whole picture.
    bool streamed = false;
    // The bytes reading and composing it holds at its peak, and its work (in units that
    // compare photos of one batch, not in time).
    uint64_t memoryBytes = 0;
    uint64_t cost = 0;
};

// Rounds by formatting with "%.0lf" and reading the text back with "%d".
int RoundToInt(double value);

// The size a photo of w x h is reduced to for a photo size s: the longer side becomes s,
// the other keeps the proportion (at least 1 pixel); a photo within s x s keeps its size.
void ReducedSize(uint32_t w, uint32_t h, uint32_t s, int32_t& newWidth, int32_t& newHeight);

// Whether a picture of width x height whose reader offers its rows has them go straight
// into the reduction to reducedWidth x reducedHeight: where that gives the very bytes of
// reducing the whole picture, a picture reduced on both sides; one decoded at a reduced
// JPEG scale (scaled) only needs to cover the size fixed beforehand.
bool RowsStreamed(bool rowsOffered, int32_t width, int32_t height, int32_t reducedWidth,
    int32_t reducedHeight, bool scaled);

// The plan of one photo with the given settings. A photo whose header can't be read ahead
// (a format whose reader doesn't tell it, or a broken file) is judged by its file size.
PhotoPlan PlanPhoto(const std::string& photoPath, const ProjectSettings& settings);

// The smallest JPEG DCT scale M/8 (M = 1, 2, 3 or 4; as a denominator 8, 4, 3 or 2) at
// which a width x height picture still covers twice newWidth x newHeight on both sides;
// 0 when only a larger scale would, and the picture is read at full size.
uint8_t FastJpegReduction(uint32_t width, uint32_t height, int32_t newWidth, int32_t newHeight);
