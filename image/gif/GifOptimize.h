// The pieces of the size-optimising GIF writer that can be tried on their own: the screen
// a viewer shows, and an LZW coder that may pick either of two values for some pixels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CxImage;
class CxStream;

// The size-optimising writer fed a frame at a time (indexed; the first one's size is the
// screen's): it holds
// a few screens, not the frames, and writes each frame once the next one is known. The
// file is the one CxImageGIF::EncodeOptimized writes from the same frames, unless some
// frame's colours can't be put in one table: then Unplannable() tells that the plain file
// is to be written instead (what went out so far is of no use).
class GifOptimizedWriter {
public:
    // loops: the loop block's count as CxImageGIF::SetLoops takes it; comment: after the
    // first control block (null or empty: none); threads: frames planned at once (0: one
    // per core), the file the same whatever the number.
    GifOptimizedWriter(CxStream* stream, const char* comment, int32_t loops, int32_t disposalMethod,
        unsigned threads = 0);
    ~GifOptimizedWriter();
    GifOptimizedWriter(const GifOptimizedWriter&) = delete;
    GifOptimizedWriter& operator=(const GifOptimizedWriter&) = delete;

    // The frame's delay is the one it holds now. False when it can't be planned or a write
    // failed.
    bool Add(const CxImage& frame);
    // Writes the last frame and the trailer.
    bool End();
    bool Unplannable() const { return unplannable; }
    size_t Written() const { return written; }

private:
    struct State;
    bool PlanAndWrite(std::vector<uint32_t> next);
    // Writes the planned frames at the head of the queue; all: every frame, waiting for
    // them; else only while more than a window's worth are waiting.
    bool WriteDone(bool all);

    CxStream* stream;
    std::string comment;
    int32_t loops;
    int32_t disposal;
    std::unique_ptr<State> state;
    unsigned threads;
    size_t added = 0;
    size_t prepared = 0;
    size_t written = 0;
    bool failed = false;
    bool unplannable = false;
};

namespace gifopt {

// A pixel on the screen: 0 = transparent, otherwise OPAQUE | 0xRRGGBB.
using Shown = uint32_t;
constexpr Shown OPAQUE = 0xFF000000u;

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0; // right and bottom exclusive
    bool Empty() const { return right <= left || bottom <= top; }
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    void Add(const Rect& other);
};

// The logical screen as a viewer shows a file: it starts transparent, each frame is drawn
// over what the one before left (its transparent index lets that show through), and then
// is disposed of: 2 clears its rectangle, 3 puts back what was there before it, any other
// value keeps it.
class Screen {
public:
    Screen(int32_t width, int32_t height);
    // Draws the frame, remembers what the screen then shows (Pixels()), and disposes of it.
    void Show(const CxImage& frame, int32_t disposal);
    const std::vector<Shown>& Pixels() const { return shown; }
    int32_t Width() const { return width; }
    int32_t Height() const { return height; }

private:
    int32_t width, height;
    std::vector<Shown> screen, shown, saved;
};

// One pixel for the coder: value, or (when flexible) alt instead if that codes shorter.
struct Choice {
    uint8_t value;
    uint8_t alt;
    bool flexible;
    bool operator==(const Choice&) const = default;
};

// GIF LZW with choices: each code stands for the longest string in the table that the
// next pixels can be, a flexible pixel being either of its values. Appends the
// minimum code size byte, the data sub-blocks and the terminator to out.
class ChoiceLzw {
public:
    ChoiceLzw();
    // Steps of the search for the longest string at one place that try another value.
    static constexpr int32_t SEARCH_BUDGET = 256;
    // clearWindow: 0 clears the string table as soon as it is full; otherwise it is kept
    // until a window of that many pixels codes looser than the last window before it
    // filled. False, with out holding a beginning at least limit bytes long, when the
    // coding would come to limit bytes or more (it stops there).
    bool Encode(const std::vector<Choice>& pixels, int32_t minimumCodeSize, size_t clearWindow,
        std::vector<uint8_t>& out, size_t limit = SIZE_MAX);

private:
    // The strings in a small open-addressed table (it stays in the cache): each slot holds
    // the stamp of the table's generation, the string it extends and the pixel, and the
    // string's code.
    static constexpr uint32_t SLOTS = 8192;
    static uint32_t Home(uint32_t key) { return (key * 0x9E3779B1u) >> 19; }
    int32_t Find(int32_t code, int32_t pixel) const
    {
        const uint32_t key = (uint32_t(code) << 8) | uint32_t(pixel);
        const uint64_t tag = (uint64_t(stamp) << 32) | (uint64_t(key) << 12);
        for (uint32_t slot = Home(key);; slot = (slot + 1) % SLOTS) {
            const uint64_t e = strings[slot];
            if ((e >> 32) != stamp)
                return -1;
            if ((e & ~uint64_t(0xFFF)) == tag)
                return int32_t(e & 0xFFF);
        }
    }
    // Adds a string; returns its slot, which may be emptied again while it is the last.
    uint32_t Add(int32_t code, int32_t pixel, int32_t newCode);
    struct Match {
        int32_t code;
        size_t length;
        uint8_t first; // the value taken for the first pixel
    };
    // first >= 0: the first pixel takes that value.
    Match LongestMatch(const std::vector<Choice>& pixels, size_t start, int32_t first);
    void Restart();
    void Send(int32_t code);
    void Flush();

    std::vector<uint64_t> strings;
    std::array<Match, SEARCH_BUDGET + 4> steps;
    uint32_t stamp = 0;
    std::vector<uint8_t>* out = nullptr;
    std::vector<uint8_t> block;
    uint32_t accumulator = 0;
    int32_t bitsHeld = 0;
    int32_t startBits = 0, codeBits = 0, maxCode = 0, nextCode = 0, clearCode = 0;
    bool clearPending = false;
    uint64_t bitsSent = 0;
};

} // namespace gifopt
