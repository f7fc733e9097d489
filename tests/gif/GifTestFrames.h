// Frames and helpers shared by the GIF tests.
#pragma once

#include "image/core/CxImage.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace giftest {

// A frame with a random palette and pixels that mix noise with runs, so every coder meets
// table growth, clears and repeated strings.
inline std::unique_ptr<CxImage> MakeFrame(
    int width, int height, int bpp, uint32_t seed, uint32_t option = CXIMAGE_GIF_LZW)
{
    auto frame = std::make_unique<CxImage>(uint32_t(width), uint32_t(height), uint32_t(bpp));
    std::mt19937 random(seed);
    const int colors = 1 << bpp;
    for (int i = 0; i < colors; i++)
        frame->SetPaletteColor(
            uint32_t(i), uint8_t(random()), uint8_t(random()), uint8_t(random()));
    int run = 0;
    uint8_t value = 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            if (run == 0) {
                value = uint8_t(random() % uint32_t(colors));
                run = (random() % 4 == 0) ? int(random() % 300) + 1 : 1;
            }
            frame->SetPixelIndex(x, y, value);
            run--;
        }
    }
    frame->SetFormatOption(option, CXIMAGE_FORMAT_GIF);
    return frame;
}

// The index at (x, y) counted from the top.
inline uint8_t TopDownIndex(const CxImage& image, int x, int y)
{
    return image.GetPixelIndex(x, image.GetHeight() - 1 - y);
}

inline std::vector<uint8_t> EncodeFrames(std::vector<CxImage*> frames, bool localColorMap,
    int32_t loops = 0, int32_t disposal = 2, const char* comment = nullptr, bool* ok = nullptr)
{
    CxImageGIF gif;
    gif.SetLoops(loops);
    gif.SetDisposalMethod(disposal);
    gif.SetComment(comment);
    CxMemStream stream;
    const bool encoded = gif.Encode(&stream, frames.data(), int(frames.size()), localColorMap);
    if (ok)
        *ok = encoded;
    return stream.TakeBuffer();
}

// Decodes one frame with our reader.
inline std::unique_ptr<CxImageGIF> DecodeOurs(
    const std::vector<uint8_t>& bytes, int frame = 0, bool* ok = nullptr)
{
    auto gif = std::make_unique<CxImageGIF>();
    gif->SetFrame(frame);
    CxMemStream stream(bytes.data(), bytes.size());
    const bool decoded = gif->Decode(&stream);
    if (ok)
        *ok = decoded;
    return gif;
}

} // namespace giftest
