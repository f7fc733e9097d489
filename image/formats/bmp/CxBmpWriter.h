// Writes an image as an uncompressed bottom-up BMP file (1, 4, 8 or 24 bits, with its
// palette), for temporary files and the command-line tool.
#pragma once

#include "image/core/CxImage.h"

class CxStream;

// Writes the file header, a 40-byte info header, the palette and the stored rows.
// False for an empty image, a null stream or a short write.
bool SaveBmp(const CxImage& image, CxStream* stream);
