#include "QualityDither.h"

#include "PhotoList.h"
#include "image/core/CxImage.h"
#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <thread>

namespace {

// The entry nearest to each colour by RGB distance (the error diffusion works in RGB and
// evens out what the eye would see differently), exactly, ties to the lowest index; and
// the entries in Oklab for judging how far a pixel may stray. The colour cube is cut
// into cells 16 levels wide; the first lookup in a cell lists the entries that can be
// nearest to any of its colours (no farther from the cell than the nearest farthest
// corner of any entry), by their distance to it, so that a lookup stops as soon as the
// next entry can't come closer than the best found.
class ColourLookup {
public:
    explicit ColourLookup(const std::vector<RGBQUAD>& palette)
        : cellStart(CELLS, 0)
        , cellCount(CELLS, 0)
    {
        for (const RGBQUAD& c : palette) {
            entries.push_back({ c.rgbRed, c.rgbGreen, c.rgbBlue, uint32_t(entries.size()), 0 });
            labs.push_back(ToOkLab(c.rgbRed, c.rgbGreen, c.rgbBlue));
        }
    }
    int32_t Index(int32_t r, int32_t g, int32_t b)
    {
        const uint32_t cell
            = uint32_t((r >> SHIFT) << (2 * BITS) | (g >> SHIFT) << BITS | (b >> SHIFT));
        if (cellStart[cell] == 0)
            BuildCell(cell);
        const Candidate* list = &candidates[cellStart[cell] - 1];
        int32_t best = INT32_MAX;
        uint32_t bestIndex = 0;
        for (uint32_t k = 0; k < cellCount[cell]; k++) {
            const Candidate& e = list[k];
            if (e.cellDistance > best)
                break;
            const int32_t dr = r - e.red, dg = g - e.green, db = b - e.blue;
            const int32_t d = dr * dr + dg * dg + db * db;
            if (d < best || (d == best && e.index < bestIndex)) {
                best = d;
                bestIndex = e.index;
            }
        }
        return int32_t(bestIndex);
    }
    const OkLab& Entry(uint32_t index) const { return labs[index]; }

private:
    struct Candidate {
        int32_t red, green, blue;
        uint32_t index;
        int32_t cellDistance;
    };
    static constexpr int BITS = 4;
    static constexpr int SHIFT = 8 - BITS;
    static constexpr uint32_t CELLS = 1u << (3 * BITS);
    void BuildCell(uint32_t cell)
    {
        const int32_t low[3] = { int32_t(cell >> (2 * BITS)) << SHIFT,
            int32_t((cell >> BITS) & ((1u << BITS) - 1)) << SHIFT,
            int32_t(cell & ((1u << BITS) - 1)) << SHIFT };
        const int32_t high = (1 << SHIFT) - 1;
        int32_t limit = INT32_MAX;
        std::vector<Candidate> list = entries;
        for (Candidate& e : list) {
            const int32_t v[3] = { e.red, e.green, e.blue };
            int32_t nearest = 0, farthest = 0;
            for (int c = 0; c < 3; c++) {
                const int32_t below = low[c] - v[c], above = v[c] - (low[c] + high);
                const int32_t inside = std::max({ below, above, 0 });
                const int32_t across
                    = std::max(std::abs(v[c] - low[c]), std::abs(v[c] - low[c] - high));
                nearest += inside * inside;
                farthest += across * across;
            }
            e.cellDistance = nearest;
            limit = std::min(limit, farthest);
        }
        list.erase(std::remove_if(list.begin(), list.end(),
                       [&](const Candidate& e) { return e.cellDistance > limit; }),
            list.end());
        std::sort(list.begin(), list.end(), [](const Candidate& x, const Candidate& y) {
            return x.cellDistance != y.cellDistance ? x.cellDistance < y.cellDistance
                                                    : x.index < y.index;
        });
        cellStart[cell] = uint32_t(candidates.size()) + 1;
        cellCount[cell] = uint32_t(list.size());
        candidates.insert(candidates.end(), list.begin(), list.end());
    }
    std::vector<Candidate> entries;
    std::vector<OkLab> labs;
    std::vector<uint32_t> cellStart; // offset into candidates + 1; 0 = not built yet
    std::vector<uint32_t> cellCount;
    std::vector<Candidate> candidates;
};

// The string table that the GIF writer builds from 8-bit indices, followed pixel by
// pixel, so that a pixel can take a colour that continues the current string.
class LzwModel {
public:
    LzwModel()
        : firstChild(MAX_CODES, -1)
        , sibling(MAX_CODES, -1)
        , symbol(MAX_CODES, 0)
        , hashKeys(HASH_SLOTS, -1)
        , hashCodes(HASH_SLOTS, 0)
    {
    }
    // The code of the current string followed by index, or -1.
    int32_t Child(int32_t index) const
    {
        const int32_t key = index << 12 | current;
        for (uint32_t slot = Slot(key);; slot = (slot + 1) & (HASH_SLOTS - 1)) {
            if (hashKeys[slot] == key)
                return hashCodes[slot];
            if (hashKeys[slot] < 0)
                return -1;
        }
    }
    bool Started() const { return current >= 0; }
    int32_t Current() const { return current; }
    // The strings that continue the current one: (index, code) through visit.
    template <typename Visit> void Continuations(Visit visit) const
    {
        for (int32_t c = firstChild[size_t(current)]; c >= 0; c = sibling[size_t(c)])
            visit(symbol[size_t(c)], c);
    }
    void Continue(int32_t code) { current = code; }
    // The current string ends; the next one begins with index.
    void Begin(int32_t index)
    {
        if (current >= 0) {
            if (next < MAX_CODES) {
                symbol[size_t(next)] = uint8_t(index);
                sibling[size_t(next)] = firstChild[size_t(current)];
                firstChild[size_t(current)] = next;
                const int32_t key = index << 12 | current;
                uint32_t slot = Slot(key);
                while (hashKeys[slot] >= 0)
                    slot = (slot + 1) & (HASH_SLOTS - 1);
                hashKeys[slot] = key;
                hashCodes[slot] = int16_t(next);
                next++;
            } else {
                std::fill(firstChild.begin(), firstChild.end(), -1);
                std::fill(hashKeys.begin(), hashKeys.end(), -1);
                next = FIRST_CODE;
            }
        }
        current = index;
    }

private:
    static constexpr int32_t MAX_CODES = 4096;
    static constexpr int32_t FIRST_CODE = 258; // after the clear and end codes
    // (string, index) -> code, open addressing, at most half full.
    static constexpr uint32_t HASH_SLOTS = 8192;
    static uint32_t Slot(int32_t key) { return (uint32_t(key) * 2654435761u) >> 19; }
    std::vector<int32_t> firstChild, sibling;
    std::vector<uint8_t> symbol;
    std::vector<int32_t> hashKeys;
    std::vector<int16_t> hashCodes;
    int32_t next = FIRST_CODE;
    int32_t current = -1;
};

// How much of the error a pixel passes on: all of it on smooth areas, less where the
// picture is busy and the diffusion's noise would blur detail.
float DitherShare(const QualityParams& params, float activity)
{
    const float a = activity * params.busy;
    return params.dither / (1.0f + a * a);
}

struct Colour {
    float r, g, b;
    Colour operator+(const Colour& o) const { return { r + o.r, g + o.g, b + o.b }; }
    Colour operator-(const Colour& o) const { return { r - o.r, g - o.g, b - o.b }; }
    Colour operator*(float k) const { return { r * k, g * k, b * k }; }
};

constexpr float ERROR_LIMIT = 48.0f;
constexpr int DITHER_ROUNDS = 4;
constexpr int32_t MAX_CONTINUATIONS = 16;

Colour Limit(Colour c)
{
    return { std::clamp(c.r, -ERROR_LIMIT, ERROR_LIMIT), std::clamp(c.g, -ERROR_LIMIT, ERROR_LIMIT),
        std::clamp(c.b, -ERROR_LIMIT, ERROR_LIMIT) };
}

// The index a pixel takes under lossy coding: the one chosen when it continues the
// current string, else the continuation nearest to the colour wanted when that is no
// more than slack (Oklab) farther than the chosen entry; the model follows the choice.
int32_t ContinueString(LzwModel& lzw, ColourLookup& lookup, int32_t chosen, float slack, int32_t r,
    int32_t g, int32_t b)
{
    if (!lzw.Started()) {
        lzw.Begin(chosen);
        return chosen;
    }
    if (const int32_t code = lzw.Child(chosen); code >= 0) {
        lzw.Continue(code);
        return chosen;
    }
    int32_t bestIndex = -1, bestCode = -1;
    if (slack > 0) {
        const OkLab want = ToOkLab(uint8_t(r), uint8_t(g), uint8_t(b));
        const float reach = std::sqrt(Distance2(want, lookup.Entry(uint32_t(chosen)))) + slack;
        float best = reach * reach;
        int32_t looked = 0;
        lzw.Continuations([&](int32_t index, int32_t code) {
            // The most recent strings are looked at first, and only so many.
            if (++looked > MAX_CONTINUATIONS)
                return;
            const float d = Distance2(want, lookup.Entry(uint32_t(index)));
            if (d <= best) {
                best = d;
                bestIndex = index;
                bestCode = code;
            }
        });
    }
    if (bestIndex < 0) {
        lzw.Begin(chosen);
        return chosen;
    }
    lzw.Continue(bestCode);
    return bestIndex;
}

} // namespace

std::vector<uint8_t> MapToQualityPalette(const QualityPicture& picture,
    const std::vector<RGBQUAD>& palette, const QualityParams& params,
    std::vector<WantedSum>* wanted)
{
    if (wanted)
        wanted->assign(palette.size(), WantedSum {});
    const int32_t w = picture.width, h = picture.height;
    std::vector<uint8_t> indices(size_t(w) * size_t(h));
    if (palette.empty() || indices.empty())
        return indices;
    ColourLookup lookup(palette);
    std::vector<Colour> colours;
    for (const RGBQUAD& c : palette)
        colours.push_back({ float(c.rgbRed), float(c.rgbGreen), float(c.rgbBlue) });
    const bool lossy = params.lossy > 0;
    LzwModel lzw;

    // What each pixel of this row is owed by the row above, and what this row passes to
    // the next, with a spare column at each end.
    std::vector<Colour> owedHere(size_t(w) + 2, Colour {}), owedNext(owedHere.size(), Colour {});
    for (int32_t y = 0; y < h; y++) {
        const int32_t step = (!lossy && y % 2 == 1) ? -1 : 1;
        int32_t x = step > 0 ? 0 : w - 1;
        std::fill(owedNext.begin(), owedNext.end(), Colour {});
        for (int32_t k = 0; k < w; k++, x += step) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const uint8_t* p = &picture.rgb[3 * i];
            const Colour colour { float(p[0]), float(p[1]), float(p[2]) };
            // Where the picture is flat, a colour the palette holds exactly is taken as it
            // is (never nudged for the coder either) and ends the error's travel: flat
            // areas stay flat, and the same in every frame.
            bool exact = false;
            int32_t own = -1;
            if (picture.activity[i] < 1.0f) {
                own = lookup.Index(p[0], p[1], p[2]);
                const RGBQUAD& ownEntry = palette[size_t(own)];
                exact = ownEntry.rgbRed == p[0] && ownEntry.rgbGreen == p[1]
                    && ownEntry.rgbBlue == p[2];
            }
            Colour want = colour;
            if (!exact)
                want = want + owedHere[size_t(x + 1)];
            want = { std::clamp(want.r, 0.0f, 255.0f), std::clamp(want.g, 0.0f, 255.0f),
                std::clamp(want.b, 0.0f, 255.0f) };
            const int32_t wr = int32_t(want.r + 0.5f), wg = int32_t(want.g + 0.5f),
                          wb = int32_t(want.b + 0.5f);
            int32_t chosen = exact ? own : lookup.Index(wr, wg, wb);
            if (lossy) {
                const float slack
                    = params.lossy * std::min(1.0f + picture.activity[i] * (1.0f / 12.0f), 3.0f);
                chosen = ContinueString(lzw, lookup, chosen, exact ? 0 : slack, wr, wg, wb);
            }
            indices[i] = uint8_t(chosen);
            if (wanted) {
                WantedSum& sum = (*wanted)[size_t(chosen)];
                sum.r += want.r;
                sum.g += want.g;
                sum.b += want.b;
                sum.count++;
            }
            if (exact && chosen == own)
                continue;
            const float share = DitherShare(params, picture.activity[i]);
            if (share <= 0)
                continue;
            const Colour error = Limit(want - colours[size_t(chosen)]) * share;
            owedHere[size_t(x + step + 1)] = owedHere[size_t(x + step + 1)] + error * (7.0f / 16);
            owedNext[size_t(x - step + 1)] = owedNext[size_t(x - step + 1)] + error * (3.0f / 16);
            owedNext[size_t(x + 1)] = owedNext[size_t(x + 1)] + error * (5.0f / 16);
            owedNext[size_t(x + step + 1)] = owedNext[size_t(x + step + 1)] + error * (1.0f / 16);
        }
        owedHere.swap(owedNext);
    }
    return indices;
}

namespace {

// Each 2 x 2 block averaged into one pixel (a last odd row or column is dropped).
QualityPicture HalfSize(const QualityPicture& picture)
{
    if (picture.width < 2 || picture.height < 2)
        return picture;
    QualityPicture half;
    half.width = picture.width / 2;
    half.height = picture.height / 2;
    half.rgb.resize(size_t(half.width) * size_t(half.height) * 3);
    const size_t stride = size_t(picture.width) * 3;
    for (int32_t y = 0; y < half.height; y++)
        for (int32_t x = 0; x < half.width; x++) {
            const uint8_t* p = &picture.rgb[size_t(2 * y) * stride + size_t(2 * x) * 3];
            uint8_t* q = &half.rgb[(size_t(y) * size_t(half.width) + size_t(x)) * 3];
            for (size_t c = 0; c < 3; c++)
                q[c] = uint8_t((p[c] + p[c + 3] + p[stride + c] + p[stride + c + 3] + 2) / 4);
        }
    MeasureActivity(half);
    return half;
}

} // namespace

void RefineForDithering(
    const QualityPicture& picture, std::vector<RGBQUAD>& palette, const QualityParams& params)
{
    // The rounds leave the coder's strings out (they move the entries little, and cost
    // most) and work on the picture at half its size, which has the same colours.
    QualityParams plain = params;
    plain.lossy = 0;
    const QualityPicture half = HalfSize(picture);
    std::vector<WantedSum> wanted;
    // Light diffusion moves the entries little: half the rounds.
    const int rounds
        = params.dither <= 0 ? 0 : (params.dither >= 0.5f ? DITHER_ROUNDS : DITHER_ROUNDS / 2);
    for (int round = 0; round < rounds; round++) {
        MapToQualityPalette(half, palette, plain, &wanted);
        for (size_t k = 0; k < palette.size(); k++) {
            const WantedSum& sum = wanted[k];
            if (sum.count == 0 || palette[k].rgbReserved)
                continue;
            // Half way, and a few levels at most, at a time: an entry that stands for
            // few pixels doesn't run off.
            const auto toward = [&](uint8_t& entry, double v) {
                const double move = std::clamp((v / double(sum.count) - entry) * 0.5, -6.0, 6.0);
                entry = uint8_t(std::clamp<long>(std::lround(entry + move), 0, 255));
            };
            toward(palette[k].rgbRed, sum.r);
            toward(palette[k].rgbGreen, sum.g);
            toward(palette[k].rgbBlue, sum.b);
        }
    }
    for (RGBQUAD& entry : palette)
        entry.rgbReserved = 0;
}

std::unique_ptr<CxImage> MakeQualityFrame(
    const CxImage& canvas, const CxImage& frame, uint32_t quality)
{
    if (!canvas.IsValid() || !frame.IsValid() || canvas.GetBpp() != 24 || frame.GetBpp() != 8
        || canvas.GetWidth() != frame.GetWidth() || canvas.GetHeight() != frame.GetHeight())
        return nullptr;
    QualityPicture picture;
    picture.width = int32_t(canvas.GetWidth());
    picture.height = int32_t(canvas.GetHeight());
    picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
    for (int32_t y = 0; y < picture.height; y++) {
        const uint8_t* source = canvas.GetBits(uint32_t(picture.height - 1 - y));
        uint8_t* target = &picture.rgb[size_t(y) * size_t(picture.width) * 3];
        for (int32_t x = 0; x < picture.width; x++) {
            target[3 * x] = source[3 * x + 2];
            target[3 * x + 1] = source[3 * x + 1];
            target[3 * x + 2] = source[3 * x];
        }
    }
    MeasureActivity(picture);
    const QualityParams params = QualityParamsFor(quality);
    std::vector<RGBQUAD> palette = ChooseQualityPalette(picture, params.colours);
    RefineForDithering(picture, palette, params);
    const std::vector<uint8_t> indices = MapToQualityPalette(picture, palette, params);

    auto result = std::make_unique<CxImage>(frame);
    if (!result->IsValid())
        return nullptr;
    std::vector<RGBQUAD> full(256, RGBQUAD {});
    std::copy(palette.begin(), palette.end(), full.begin());
    result->SetPalette(full.data(), 256);
    for (int32_t y = 0; y < picture.height; y++)
        std::copy_n(&indices[size_t(y) * size_t(picture.width)], picture.width,
            result->GetBits(uint32_t(picture.height - 1 - y)));
    return result;
}

bool MakeQualityFrames(const PhotoList& list, uint32_t quality, unsigned threads,
    std::vector<CxImage*>& frames, std::vector<std::unique_ptr<CxImage>>& made)
{
    const size_t n = std::min(list.Count(), frames.size());
    std::vector<std::unique_ptr<CxImage>> remade(n);
    std::atomic<size_t> next { 0 };
    std::atomic<bool> shortOfMemory { false };
    const auto work = [&] {
        for (size_t k; !shortOfMemory && (k = next++) < n;) {
            const PhotoEntry* entry = list.Entry(k);
            try {
                if (entry && entry->canvas && frames[k])
                    remade[k] = MakeQualityFrame(*entry->canvas, *frames[k], quality);
            } catch (const std::bad_alloc&) {
                shortOfMemory = true;
            }
        }
    };
    // Helpers as the system lets start; the calling thread works too.
    platform::ThreadGroup helpers;
    helpers.StartUpTo(std::min<size_t>(platform::ThreadsFor(threads), n ? n : 1) - 1, work);
    work();
    helpers.JoinAll();
    if (shortOfMemory)
        return false;
    for (size_t k = 0; k < n; k++) {
        if (remade[k]) {
            frames[k] = remade[k].get();
            made.push_back(std::move(remade[k]));
        }
    }
    return true;
}
