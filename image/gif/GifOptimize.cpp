// The size-optimising GIF writer. It works from what a viewer would show of the file that
// Encode writes, frame by frame, and writes another file that shows the same: each frame
// after the first covers only the rectangle in which the screen changes; inside it, pixels
// that stay as they are may be transparent, pixel by pixel wherever that lets the LZW
// strings grow longer; each frame's colour table holds only the colours it draws (or the
// global table serves it); and each frame is kept on the screen for the next one to build
// on (disposal 1), unless the next one shows transparency where it drew (disposal 2).
#include "GifOptimize.h"

#include "CxImageGIF.h"
#include "GifAnimationWriter.h"
#include "GifBlocks.h"
#include "platform/Memory.h"
#include "platform/Threads.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace gifopt {

void Rect::Add(const Rect& other)
{
    if (other.Empty())
        return;
    if (Empty()) {
        *this = other;
        return;
    }
    left = std::min(left, other.left);
    top = std::min(top, other.top);
    right = std::max(right, other.right);
    bottom = std::max(bottom, other.bottom);
}

// ----------------------------------------------------------------------------------------

Screen::Screen(int32_t width, int32_t height)
    : width(width)
    , height(height)
    , screen(size_t(width) * size_t(height), 0)
{
}

namespace {

    // The offset as the writer stores it (two bytes).
    int32_t StoredOffset(int32_t value) { return (value & 0xFF) | (((value / 256) & 0xFF) << 8); }

} // namespace

void Screen::Show(const CxImage& frame, int32_t disposal)
{
    int32_t x0, y0;
    frame.GetOffset(&x0, &y0);
    x0 = StoredOffset(x0);
    y0 = StoredOffset(y0);
    const int32_t w = frame.GetWidth(), h = frame.GetHeight();
    const Rect area { x0, y0, std::min(x0 + w, width), std::min(y0 + h, height) };
    if (disposal == 3)
        saved = screen;

    // The writer pads a short palette with black; the transparent index is its low byte.
    std::array<Shown, 256> colours;
    colours.fill(OPAQUE);
    const RGBQUAD* palette = frame.GetPalette();
    for (uint32_t i = 0; i < std::min(frame.GetNumColors(), 256u); i++)
        colours[i] = OPAQUE | (uint32_t(palette[i].rgbRed) << 16)
            | (uint32_t(palette[i].rgbGreen) << 8) | palette[i].rgbBlue;
    const int32_t trans = frame.GetTransparentIndex();
    const int32_t transparent = trans == -1 ? -1 : (trans & 0xFF);

    for (int32_t y = area.top; y < area.bottom; y++) {
        Shown* row = screen.data() + size_t(y) * size_t(width);
        const int32_t storedRow = h - 1 - (y - y0);
        for (int32_t x = area.left; x < area.right; x++) {
            const int32_t index = frame.GetPixelIndexUnchecked(x - x0, storedRow);
            if (index != transparent)
                row[x] = colours[size_t(index)];
        }
    }
    shown = screen;

    if (disposal == 2 && !area.Empty()) {
        for (int32_t y = area.top; y < area.bottom; y++)
            std::fill_n(
                screen.begin() + std::ptrdiff_t(size_t(y) * size_t(width) + size_t(area.left)),
                area.Width(), Shown(0));
    } else if (disposal == 3) {
        screen.swap(saved);
    }
}

// ----------------------------------------------------------------------------------------

namespace {

    constexpr int32_t MAX_CODES = 4096;
    constexpr size_t BLOCK_BYTES = 255;

} // namespace

ChoiceLzw::ChoiceLzw()
    : strings(SLOTS, 0)
{
}

void ChoiceLzw::Restart()
{
    // A new stamp forgets every string at once; the table is wiped when stamps run out.
    if (++stamp == 0) {
        std::fill(strings.begin(), strings.end(), 0u);
        stamp = 1;
    }
}

uint32_t ChoiceLzw::Add(int32_t code, int32_t pixel, int32_t newCode)
{
    const uint32_t key = (uint32_t(code) << 8) | uint32_t(pixel);
    uint32_t slot = Home(key);
    while ((strings[slot] >> 32) == stamp)
        slot = (slot + 1) % SLOTS;
    strings[slot] = (uint64_t(stamp) << 32) | (uint64_t(key) << 12) | uint64_t(newCode);
    return slot;
}

void ChoiceLzw::Send(int32_t code)
{
    accumulator |= uint32_t(code) << bitsHeld;
    bitsHeld += codeBits;
    bitsSent += uint64_t(codeBits);
    while (bitsHeld >= 8) {
        block.push_back(uint8_t(accumulator));
        accumulator >>= 8;
        bitsHeld -= 8;
        if (block.size() == BLOCK_BYTES) {
            out->push_back(uint8_t(BLOCK_BYTES));
            out->insert(out->end(), block.begin(), block.end());
            block.clear();
        }
    }
    // The decoder adds a string for each code after the first, one code late; the width
    // grows when the next string would not fit.
    if (clearPending) {
        codeBits = startBits;
        maxCode = (1 << codeBits) - 1;
        clearPending = false;
    } else if (nextCode > maxCode) {
        ++codeBits;
        maxCode = codeBits == 12 ? MAX_CODES : (1 << codeBits) - 1;
    }
}

void ChoiceLzw::Flush()
{
    if (bitsHeld > 0)
        block.push_back(uint8_t(accumulator));
    accumulator = 0;
    bitsHeld = 0;
    if (!block.empty()) {
        out->push_back(uint8_t(block.size()));
        out->insert(out->end(), block.begin(), block.end());
        block.clear();
    }
    out->push_back(0);
}

ChoiceLzw::Match ChoiceLzw::LongestMatch(
    const std::vector<Choice>& pixels, size_t start, int32_t first)
{
    // Depth first over the strings the table holds, trying a flexible pixel's other value
    // too, until the budget of steps is spent: the first path tried is the greedy one.
    Match best { -1, 0, 0 };
    using Step = Match;
    // Each step taken from the stack adds at most one that the budget doesn't pay for.
    size_t top = 0;
    const auto push = [&](Match step) { steps[top++] = step; };
    const Choice& c = pixels[start];
    if (first >= 0) {
        push(Step { first, 1, uint8_t(first) });
    } else {
        if (c.flexible)
            push(Step { c.alt, 1, c.alt });
        push(Step { c.value, 1, c.value });
    }
    int32_t budget = SEARCH_BUDGET;
    const size_t n = pixels.size();
    while (top > 0) {
        Step step = steps[--top];
        // Follow the values; a flexible pixel's other value waits while the budget lasts.
        for (size_t i = start + step.length; i < n; i++) {
            const Choice& next = pixels[i];
            const int32_t value = Find(step.code, next.value);
            if (next.flexible) {
                const int32_t alt = Find(step.code, next.alt);
                if (alt >= 0 && (value < 0 || budget-- > 0))
                    push(Step { alt, step.length + 1, step.first });
            }
            if (value < 0)
                break;
            step.code = value;
            step.length++;
        }
        if (step.length > best.length)
            best = step;
    }
    return best;
}

bool ChoiceLzw::Encode(const std::vector<Choice>& pixels, int32_t minimumCodeSize,
    size_t clearWindow, std::vector<uint8_t>& destination, size_t limit)
{
    out = &destination;
    const size_t base = destination.size();
    out->push_back(uint8_t(minimumCodeSize));
    block.clear();
    accumulator = 0;
    bitsHeld = 0;
    bitsSent = 0;
    startBits = minimumCodeSize + 1;
    clearCode = 1 << minimumCodeSize;
    codeBits = startBits;
    maxCode = (1 << codeBits) - 1;
    nextCode = clearCode + 2;
    clearPending = false;
    Restart();
    Send(clearCode);

    // The bits per pixel of the last window before the table filled.
    double fullRate = 0;
    uint64_t windowBits = 0;
    size_t windowStart = 0;

    const size_t n = pixels.size();
    size_t i = 0;
    Match match = n ? LongestMatch(pixels, 0, -1) : Match { 0, 0, 0 };
    while (i < n) {
        Send(match.code);
        i += match.length;
        if (i >= n)
            break;
        // What is written so far only grows. The beginning left in out is as long.
        if (out->size() - base + block.size() >= limit) {
            out->insert(out->end(), block.begin(), block.end());
            return false;
        }
        bool clear = false;
        if (clearWindow > 0 && i - windowStart >= clearWindow) {
            const double rate = double(bitsSent - windowBits) / double(i - windowStart);
            windowBits = bitsSent;
            windowStart = i;
            if (nextCode < MAX_CODES)
                fullRate = rate;
            else
                clear = rate > fullRate;
        }
        if (nextCode >= MAX_CODES) {
            if (clearWindow == 0 || clear) {
                Restart();
                nextCode = clearCode + 2;
                clearPending = true;
                Send(clearCode);
            }
            match = LongestMatch(pixels, i, -1);
            continue;
        }
        // The new string (this one and the next pixel) may serve the next match at once,
        // so a flexible next pixel takes the value whose match then goes further.
        // The table then is the one the chosen value's match was found in, so that match
        // is the next one.
        const Choice& c = pixels[i];
        if (c.flexible) {
            uint32_t slot = Add(match.code, c.value, nextCode);
            const Match byValue = LongestMatch(pixels, i, c.value);
            strings[slot] = 0;
            slot = Add(match.code, c.alt, nextCode);
            const Match byAlt = LongestMatch(pixels, i, c.alt);
            strings[slot] = 0;
            const Match& chosen = byAlt.length > byValue.length ? byAlt : byValue;
            Add(match.code, chosen.first, nextCode);
            match = chosen;
        } else {
            Add(match.code, c.value, nextCode);
            match = LongestMatch(pixels, i, c.value);
        }
        ++nextCode;
    }
    if (n == 0)
        Send(0);
    Send(clearCode + 1);
    Flush();
    return out->size() - base < limit;
}

} // namespace gifopt

// ----------------------------------------------------------------------------------------

namespace {

using gifopt::Choice;
using gifopt::ChoiceLzw;
using gifopt::OPAQUE;
using gifopt::Rect;
using gifopt::Shown;

// A colour table of at most 256 colours, with the index of each colour.
class ColourTable {
public:
    ColourTable() { keys.fill(0); }
    int32_t Find(Shown colour) const
    {
        for (uint32_t slot = Slot(colour);; slot = (slot + 1) % SLOTS) {
            if (keys[slot] == colour)
                return values[slot];
            if (keys[slot] == 0)
                return -1;
        }
    }
    // The colour's index; -1 when it is new and the table is full.
    int32_t Add(Shown colour)
    {
        uint32_t slot = Slot(colour);
        for (; keys[slot] != 0; slot = (slot + 1) % SLOTS)
            if (keys[slot] == colour)
                return values[slot];
        if (colours.size() == 256)
            return -1;
        keys[slot] = colour;
        values[slot] = uint8_t(colours.size());
        colours.push_back(colour);
        return values[slot];
    }
    size_t Size() const { return colours.size(); }
    const std::vector<Shown>& Colours() const { return colours; }

private:
    static constexpr uint32_t SLOTS = 1024;
    static uint32_t Slot(Shown colour) { return (colour * 2654435761u) >> 22; }
    std::array<Shown, SLOTS> keys;
    std::array<uint8_t, SLOTS> values {};
    std::vector<Shown> colours;
};

// Bits of a colour table with room for count entries (a table has at least 2).
int32_t TableBits(size_t count)
{
    int32_t bits = 1;
    while ((size_t(1) << bits) < count)
        bits++;
    return bits;
}

// One frame as the smaller file stores it.
struct PlannedFrame {
    Rect rect;
    bool local = true;
    int32_t bits = 1; // of the local table
    std::vector<Shown> table;
    int32_t transIndex = -1;
    int32_t disposal = 1;
    uint32_t delay = 0;
    std::vector<uint8_t> data; // minimum code size, sub-blocks, terminator
};

// What a pixel of a frame's rectangle needs.
enum PixelNeed : uint8_t {
    NEED_CLEAR, // transparent on the screen before and after: only the transparent index
    NEED_SAME, // opaque and already showing its colour: its colour or transparent
    NEED_COLOUR, // a colour that the screen does not show yet
};

class FramePlanner {
public:
    explicit FramePlanner(int32_t width)
        : width(width)
    {
    }

    // Plans the frame that turns the screen `before` into `target` within rect, with a
    // table of its own or with the global one, whichever makes the frame shorter (global
    // null: this is the first frame, whose table becomes the global one). False when its
    // colours don't fit in one table.
    bool Plan(const Rect& rect, const std::vector<Shown>& before, const std::vector<Shown>& target,
        const PlannedFrame* global, PlannedFrame& frame)
    {
        needs.clear();
        colours.clear();
        ColourTable drawn, all;
        bool clears = false, allFit = true;
        for (int32_t y = rect.top; y < rect.bottom; y++) {
            const size_t row = size_t(y) * size_t(width);
            for (int32_t x = rect.left; x < rect.right; x++) {
                const Shown want = target[row + size_t(x)];
                PixelNeed need = NEED_COLOUR;
                if (want == 0) {
                    need = NEED_CLEAR;
                    clears = true;
                } else if (want == before[row + size_t(x)]) {
                    need = NEED_SAME;
                } else if (drawn.Add(want) < 0) {
                    return false;
                }
                if (want != 0 && allFit && all.Add(want) < 0)
                    allFit = false;
                needs.push_back(need);
                colours.push_back(want);
            }
        }

        tried.clear();
        best = PlannedFrame();
        // The colours drawn with the transparent index after them; all colours shown, with
        // or without it; the global table with its first spare entry transparent, or not.
        if (drawn.Size() < 256)
            Try(drawn, true, true);
        if (allFit && all.Size() > drawn.Size() && all.Size() < 256)
            Try(all, true, true);
        if (allFit && !clears)
            Try(all, false, true);
        if (global) {
            Try(globalTable, true, false);
            if (!clears)
                Try(globalTable, false, false);
        }
        if (best.data.empty())
            return false;
        frame = std::move(best);
        frame.rect = rect;
        return true;
    }

    // The first frame's table serves as the global one.
    void SetGlobal(const PlannedFrame& first)
    {
        globalTable = ColourTable();
        for (Shown c : first.table)
            globalTable.Add(c);
        globalBits = first.bits;
    }

private:
    static size_t Cost(const PlannedFrame& f)
    {
        return f.data.size() + (f.local ? (size_t(3) << f.bits) : 0);
    }

    // Codes the pixels with one table (transparent: its first spare entry is the
    // transparent index), and keeps the result when it is the shortest so far.
    void Try(const ColourTable& table, bool transparent, bool local)
    {
        const size_t count = table.Size();
        PlannedFrame frame;
        frame.local = local;
        frame.bits = local ? TableBits(count + (transparent ? 1 : 0)) : globalBits;
        if (transparent && count >= (size_t(1) << frame.bits))
            return;
        const int32_t trans = transparent ? int32_t(count) : -1;
        if (!MakeChoices(table, trans))
            return;
        frame.table = local ? table.Colours() : std::vector<Shown>();
        frame.transIndex = usesTrans ? trans : -1;

        // The code stream's length depends only on which pixels are equal and on the code
        // size, so a table that gives the same pattern as one tried before costs the same.
        const int32_t codeSize = std::max(frame.bits, 2);
        Pattern pattern { codeSize, Relabelled(), 0 };
        for (const Pattern& p : tried) {
            if (p.codeSize == pattern.codeSize && p.choices == pattern.choices) {
                frame.data.resize(p.dataSize);
                if (best.data.empty() || Cost(frame) < Cost(best)) {
                    // Every way of clearing, as when the pattern was measured: against the
                    // shorter best of now the coding would stop after the first, and
                    // could come out longer than that best.
                    frame.data.clear();
                    Encode(codeSize, frame.data, true);
                    if (best.data.empty() || Cost(frame) < Cost(best))
                        best = std::move(frame);
                }
                return;
            }
        }
        Encode(codeSize, frame.data);
        pattern.dataSize = frame.data.size();
        tried.push_back(std::move(pattern));
        if (best.data.empty() || Cost(frame) < Cost(best))
            best = std::move(frame);
    }

    // The coder's input for one table: a pixel that may stay as it is offers its colour
    // and the transparent index, the one it likely codes better with first: its colour
    // where it carries on a run of that colour, else the transparent index.
    bool MakeChoices(const ColourTable& table, int32_t trans)
    {
        choices.resize(needs.size());
        usesTrans = false;
        int32_t previous = -1;
        for (size_t i = 0; i < needs.size(); i++) {
            Choice& c = choices[i];
            c.flexible = false;
            const int32_t index = needs[i] == NEED_CLEAR ? -1 : table.Find(colours[i]);
            if (needs[i] == NEED_CLEAR || (needs[i] == NEED_SAME && index < 0)) {
                if (trans < 0)
                    return false;
                c.value = uint8_t(trans);
                usesTrans = true;
            } else if (needs[i] == NEED_COLOUR || trans < 0) {
                if (index < 0)
                    return false;
                c.value = uint8_t(index);
            } else {
                const bool run = previous == index;
                c = Choice { uint8_t(run ? index : trans), uint8_t(run ? trans : index), true };
                usesTrans = true;
            }
            previous = c.value;
        }
        return true;
    }

    // The choices with their values renumbered in order of first appearance.
    std::vector<Choice> Relabelled() const
    {
        std::array<int16_t, 256> names;
        names.fill(-1);
        int16_t used = 0;
        const auto name = [&](uint8_t v) {
            if (names[v] < 0)
                names[v] = used++;
            return uint8_t(names[v]);
        };
        std::vector<Choice> result(choices.size());
        for (size_t i = 0; i < choices.size(); i++) {
            const Choice& c = choices[i];
            result[i] = Choice { name(c.value), c.flexible ? name(c.alt) : uint8_t(0), c.flexible };
        }
        return result;
    }

    // The shortest of some ways of clearing the string table; only the first when that
    // comes out far longer than the frame's best so far, unless every way is asked for.
    // A coding that can't be kept stops as soon as that is sure: then data may hold only
    // its beginning, whose length is still more than the best's.
    void Encode(int32_t codeSize, std::vector<uint8_t>& data, bool everyWay = false)
    {
        std::vector<uint8_t> other;
        // Far longer than the best so far: the other ways are not tried.
        const bool bounded = !everyWay && !best.data.empty();
        const size_t tooLong = bounded ? Cost(best) + Cost(best) / 16 + 1 : SIZE_MAX;
        if (!lzw.Encode(choices, codeSize, 0, data, tooLong))
            return;
        for (size_t window : { 1024, 4096, 16384 }) {
            other.clear();
            if (lzw.Encode(choices, codeSize, window, other, data.size()))
                data.swap(other);
        }
    }

    struct Pattern {
        int32_t codeSize;
        std::vector<Choice> choices;
        size_t dataSize;
    };

    int32_t width;
    std::vector<PixelNeed> needs;
    std::vector<Shown> colours;
    std::vector<Choice> choices;
    bool usesTrans = false;
    std::vector<Pattern> tried;
    PlannedFrame best;
    ColourTable globalTable;
    int32_t globalBits = 1;
    ChoiceLzw lzw;
};

// The rectangle of the pixels in which a and b differ.
Rect Differences(const std::vector<Shown>& a, const std::vector<Shown>& b, int32_t width,
    int32_t height, bool onlyNewlyClear)
{
    Rect r;
    for (int32_t y = 0; y < height; y++) {
        const size_t row = size_t(y) * size_t(width);
        int32_t first = -1, lastX = -1;
        for (int32_t x = 0; x < width; x++) {
            const Shown p = a[row + size_t(x)], q = b[row + size_t(x)];
            if (onlyNewlyClear ? (p != 0 && q == 0) : p != q) {
                if (first < 0)
                    first = x;
                lastX = x;
            }
        }
        if (first >= 0)
            r.Add(Rect { first, y, lastX + 1, y + 1 });
    }
    return r;
}

void WriteTable(CxStream* stream, const std::vector<Shown>& colours, int32_t bits)
{
    std::vector<uint8_t> table(size_t(3) << bits, 0);
    for (size_t i = 0; i < colours.size(); i++) {
        table[3 * i] = uint8_t(colours[i] >> 16);
        table[3 * i + 1] = uint8_t(colours[i] >> 8);
        table[3 * i + 2] = uint8_t(colours[i]);
    }
    stream->Write(table.data(), 1, uint32_t(table.size()));
}

} // namespace

namespace {

void WritePlanned(CxStream* stream, const PlannedFrame& frame, bool firstFrame, int32_t loops,
    const std::string& comment)
{
    if (firstFrame) {
        // A global table, 8-bit colour resolution.
        gifblocks::Header(stream, frame.rect.Width(), frame.rect.Height(),
            uint8_t(0x80 | 0x70 | (frame.bits - 1)));
        WriteTable(stream, frame.table, frame.bits);
        if (loops != 1)
            PutGifLoopBlock(stream, loops);
    }
    gifblocks::GraphicControl(stream,
        uint8_t((frame.disposal << 2) | (frame.transIndex >= 0 ? 1 : 0)),
        uint16_t(frame.delay & 0xFFFF), uint8_t(frame.transIndex >= 0 ? frame.transIndex : 0));
    if (firstFrame && !comment.empty())
        PutGifComment(stream, comment.c_str());
    const bool local = !firstFrame && frame.local;
    gifblocks::ImageDescriptor(stream, frame.rect.left, frame.rect.top, frame.rect.Width(),
        frame.rect.Height(), uint8_t(local ? 0x80 | (frame.bits - 1) : 0x00));
    if (local)
        WriteTable(stream, frame.table, frame.bits);
    stream->Write(frame.data.data(), 1, uint32_t(frame.data.size()));
}

} // namespace

// What the optimising writer keeps between frames: the screen as the plain file shows it
// after the frame before the one being planned, after that one and after the newest; the
// first frame's screen (a viewer that doesn't clear shows it next after the last); and
// what stays of the written frame before the one being planned.
// One frame to plan: the screen before it and the one it has to show, within rect.
struct PlanJob {
    Rect rect;
    std::vector<Shown> before, target;
    int32_t disposal = 1;
    uint32_t delay = 0;
    bool done = false;
    bool planned = false;
    bool shortOfMemory = false; // then the writing fails: not the plain file instead
    PlannedFrame frame;
};

// Screens' buffers kept for the next frames.
constexpr size_t SPARE_SCREENS = 4;

struct GifOptimizedWriter::State {
    State(int32_t width, int32_t height)
        : source(width, height)
        , planner(width)
    {
        // Giving a buffer back allocates nothing, on whatever thread.
        spare.reserve(SPARE_SCREENS);
    }
    ~State()
    {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        changed.notify_all();
        workers.JoinAll();
    }

    // Plans the jobs other threads leave, with a planner of its own that knows the
    // global table.
    void Work()
    {
        std::unique_ptr<FramePlanner> own;
        try {
            own = std::make_unique<FramePlanner>(source.Width());
            own->SetGlobal(global);
        } catch (const std::bad_alloc&) {
            own.reset();
        }
        const bool ownMade = own != nullptr;
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return closing || !waiting.empty(); });
            if (closing)
                return;
            PlanJob* job = waiting.front();
            waiting.pop_front();
            lock.unlock();
            bool planned = false;
            const platform::AllocationWatch watch;
            bool shortOfMemory = !ownMade;
            try {
                planned
                    = own && own->Plan(job->rect, job->before, job->target, &global, job->frame);
            } catch (const std::bad_alloc&) {
                shortOfMemory = true;
            }
            shortOfMemory = shortOfMemory || watch.RanShort();
            lock.lock();
            Give(job->before);
            Give(job->target);
            job->planned = planned && !shortOfMemory;
            job->shortOfMemory = shortOfMemory;
            job->done = true;
            changed.notify_all();
        }
    }

    // A screen's buffer, one given back before or a new one; under the lock.
    std::vector<Shown> Take()
    {
        if (spare.empty())
            return std::vector<Shown>();
        std::vector<Shown> buffer = std::move(spare.back());
        spare.pop_back();
        return buffer;
    }
    // Keeps a screen's buffer for the next frame (fresh pages cost the kernel a clearing
    // each); under the lock.
    void Give(std::vector<Shown>& buffer)
    {
        if (buffer.capacity() > 0 && spare.size() < SPARE_SCREENS)
            spare.push_back(std::move(buffer));
        std::vector<Shown>().swap(buffer);
    }
    // current, with the lock.
    std::vector<Shown> CopyOf(const std::vector<Shown>& screen)
    {
        std::vector<Shown> copy;
        {
            std::lock_guard lock(mutex);
            copy = Take();
        }
        copy.assign(screen.begin(), screen.end());
        return copy;
    }

    gifopt::Screen source;
    std::vector<Shown> current, first, before;
    std::vector<std::vector<Shown>> spare;
    FramePlanner planner;
    uint32_t delay = 0; // of the frame still to be planned
    PlannedFrame global; // the first frame's plan, whose table is the global one

    // Frames after the first are planned on several threads and written in order.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<PlanJob>> unwritten; // in frame order
    std::deque<PlanJob*> waiting; // not begun
    platform::ThreadGroup workers;
    bool closing = false;
};

GifOptimizedWriter::GifOptimizedWriter(
    CxStream* stream, const char* comment, int32_t loops, int32_t disposalMethod, unsigned threads)
    : stream(stream)
    , comment(comment ? std::string(comment, strnlen(comment, 255)) : std::string())
    , loops(loops)
    , disposal(disposalMethod & 7)
    , threads(platform::ThreadsFor(threads))
{
}

GifOptimizedWriter::~GifOptimizedWriter() = default;

bool GifOptimizedWriter::Add(const CxImage& frame)
{
    if (failed || unplannable)
        return false;
    if (!state) {
        const int32_t width = frame.GetWidth(), height = frame.GetHeight();
        // Held at a time: five screens, and the planner's needs, colours and choices of a
        // frame with the relabelled choices of each table it tries (five at most). The
        // coded frames come on top; memory that runs short for them fails the writing.
        const uint64_t pixels = uint64_t(width) * uint64_t(height);
        const uint64_t perPixel
            = sizeof(Shown) * 5 + sizeof(PixelNeed) + sizeof(Shown) + sizeof(Choice) * 6;
        if (GifFrameProblem(&frame) || pixels * perPixel > CXIMAGE_MAX_MEMORY) {
            unplannable = true;
            return false;
        }
        state = std::make_unique<State>(width, height);
        state->source.Show(frame, disposal);
        state->current = state->source.Pixels();
        state->first = state->current;
        state->before.assign(state->current.size(), 0);
        state->delay = frame.GetFrameDelay();
        added = 1;
        return true;
    }
    if (GifFrameProblem(&frame)) {
        unplannable = true;
        return false;
    }
    state->source.Show(frame, disposal);
    std::vector<Shown> next = state->CopyOf(state->source.Pixels());
    if (!PlanAndWrite(std::move(next)))
        return false;
    state->delay = frame.GetFrameDelay();
    added++;
    return true;
}

bool GifOptimizedWriter::End()
{
    if (failed || unplannable || !state)
        return false;
    // A viewer that doesn't clear before the next loop shows the first frame next.
    if (!PlanAndWrite(added > 1 ? state->first : std::vector<Shown>()) || !WriteDone(true))
        return false;
    stream->PutC(';');
    stream->Flush();
    failed = stream->Error() != 0;
    return !failed;
}

bool GifOptimizedWriter::PlanAndWrite(std::vector<Shown> next)
{
    State& s = *state;
    const int32_t width = s.source.Width(), height = s.source.Height();
    const bool firstFrame = prepared == 0;
    // Where the next frame shows transparency over what this one shows, this one has to
    // cover those pixels and be cleared away.
    const Rect clearing = next.empty() ? Rect() : Differences(s.current, next, width, height, true);
    Rect rect = firstFrame ? Rect { 0, 0, width, height }
                           : Differences(s.before, s.current, width, height, false);
    rect.Add(clearing);
    if (rect.Empty())
        rect = Rect { 0, 0, 1, 1 }; // nothing changes, but a frame has a pixel
    auto job = std::make_unique<PlanJob>();
    job->rect = rect;
    job->disposal = clearing.Empty() ? 1 : 2;
    job->delay = s.delay;
    // What this frame leaves on the screen is what the next one is drawn over.
    std::vector<Shown> after = s.CopyOf(s.current);
    if (job->disposal == 2)
        for (int32_t y = rect.top; y < rect.bottom; y++)
            std::fill_n(
                after.begin() + std::ptrdiff_t(size_t(y) * size_t(width) + size_t(rect.left)),
                rect.Width(), Shown(0));
    job->before = std::move(s.before);
    job->target = std::move(s.current);
    s.before = std::move(after);
    s.current = std::move(next);
    prepared++;

    if (firstFrame || threads <= 1) {
        // The first frame's table serves the others, so it is planned before them.
        job->planned = s.planner.Plan(
            job->rect, job->before, job->target, firstFrame ? nullptr : &s.global, job->frame);
        if (firstFrame && job->planned) {
            s.planner.SetGlobal(job->frame);
            s.global.table = job->frame.table;
            s.global.bits = job->frame.bits;
        }
        job->done = true;
        {
            std::lock_guard lock(s.mutex);
            s.unwritten.push_back(std::move(job));
        }
        return WriteDone(false);
    }
    if (s.workers.Size() == 0) {
        // A thread the system refuses leaves the work to those it gave.
        s.workers.StartUpTo(threads, [&s] { s.Work(); });
        if (s.workers.Size() == 0)
            threads = 1;
    }
    {
        std::lock_guard lock(s.mutex);
        if (threads > 1)
            s.waiting.push_back(job.get());
        s.unwritten.push_back(std::move(job));
    }
    if (threads <= 1) {
        PlanJob& last = *s.unwritten.back();
        last.planned = s.planner.Plan(last.rect, last.before, last.target, &s.global, last.frame);
        last.done = true;
        return WriteDone(false);
    }
    s.changed.notify_all();
    return WriteDone(false);
}

bool GifOptimizedWriter::WriteDone(bool all)
{
    State& s = *state;
    // A few frames are planned ahead of the one written next.
    const size_t window = size_t(threads) * 2;
    std::unique_lock lock(s.mutex);
    while (!s.unwritten.empty()) {
        PlanJob& job = *s.unwritten.front();
        if (!job.done) {
            if (!all && s.unwritten.size() <= window)
                return true;
            s.changed.wait(lock, [&] { return job.done; });
        }
        std::unique_ptr<PlanJob> ready = std::move(s.unwritten.front());
        s.unwritten.pop_front();
        s.Give(ready->before);
        s.Give(ready->target);
        lock.unlock();
        if (ready->shortOfMemory) {
            // Told on this thread, which the making watches.
            platform::NoteAllocationFailure();
            failed = true;
            return false;
        }
        if (!ready->planned) {
            unplannable = true;
            return false;
        }
        ready->frame.disposal = ready->disposal;
        ready->frame.delay = ready->delay;
        WritePlanned(stream, ready->frame, written == 0, loops, comment);
        written++;
        if (stream->Error() != 0) {
            failed = true;
            return false;
        }
        lock.lock();
    }
    return true;
}

bool CxImageGIF::EncodeOptimized(CxStream* stream, CxImage** frames, int count)
{
    if (!stream || !frames || count <= 0)
        return Encode(stream, frames, count, true);
    for (int k = 0; k < count; k++)
        if (!frames[k] || GifFrameProblem(frames[k]))
            return Encode(stream, frames, count, true);

    // The whole file is planned before any of it goes out: a frame that can't be planned
    // means the plain file after all.
    CxMemStream file;
    GifOptimizedWriter writer(&file, comment, loops, disposalMethod, threadCount);
    const auto goOn = [&](int done) { return !frameProgress || frameProgress(done, count); };
    bool planned = true;
    for (int k = 0; k < count && planned; k++) {
        planned = writer.Add(*frames[k]);
        if (planned && k > 0 && !goOn(k)) {
            SetLastError("Cancelled");
            return false;
        }
    }
    planned = planned && writer.End();
    if (writer.Unplannable())
        return Encode(stream, frames, count, true);
    if (planned && !goOn(count)) {
        SetLastError("Cancelled");
        return false;
    }
    if (planned)
        stream->Write(file.Data(), 1, uint32_t(file.Length()));
    stream->Flush();
    if (!planned || stream->Error() != 0) {
        SetLastError("Write Error in GIF file");
        return false;
    }
    return true;
}
