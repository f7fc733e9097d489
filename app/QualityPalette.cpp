#include "QualityPalette.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>

QualityParams QualityParamsFor(uint32_t quality)
{
    const float q = float(std::clamp<uint32_t>(quality, 1, 100));
    QualityParams params;
    if (q >= 90) {
        // From light diffusion that spares busy areas to strong diffusion everywhere,
        // which keeps every area's average colour.
        const float t = (q - 90) / 10;
        params.dither = 0.25f + 0.55f * t;
        params.busy = (1.0f - t) / 24.0f;
        params.lossy = 0.0005f + 0.0005f * t;
    } else if (q >= 70) {
        // A touch more diffusion as the coding grows lossier, which it evens out.
        params.dither = 0.3f - 0.0025f * (q - 70);
        params.busy = 1.0f / 24.0f;
        params.lossy = 0.0005f + 0.00025f * (90 - q);
    } else {
        params.dither = 0.3f - 0.00375f * (70 - q);
        params.busy = 1.0f / 24.0f;
        params.lossy = 0.0055f + 0.0004f * (70 - q);
    }
    // Every colour the format allows from 50 up; below, fewer with every step.
    params.colours
        = q >= 50 ? 256u : uint32_t(std::lround(16 + 240 * std::pow((q - 1) / 49, 1.5f)));
    return params;
}

namespace {

struct Linear {
    std::array<float, 256> fromByte;
    Linear()
    {
        for (int i = 0; i < 256; i++) {
            const double v = i / 255.0;
            fromByte[size_t(i)]
                = float(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
    }
};
const Linear& LinearTable()
{
    static const Linear table;
    return table;
}

uint8_t ToByte(float linear)
{
    linear = std::clamp(linear, 0.0f, 1.0f);
    const float v
        = linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
    return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255));
}

} // namespace

namespace {

// The cube root of v in 0..1 (to about 1e-7): a first guess from the float's bits, then
// two Newton steps; several times faster than the library's.
float CubeRoot(float v)
{
    if (v <= 0)
        return 0;
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof(bits));
    bits = bits / 3 + 709921077u;
    float x;
    std::memcpy(&x, &bits, sizeof(x));
    x = (2 * x + v / (x * x)) * (1.0f / 3);
    x = (2 * x + v / (x * x)) * (1.0f / 3);
    return (2 * x + v / (x * x)) * (1.0f / 3);
}

} // namespace

OkLab ToOkLab(uint8_t red, uint8_t green, uint8_t blue)
{
    const auto& lin = LinearTable().fromByte;
    const float r = lin[red], g = lin[green], b = lin[blue];
    const float l = CubeRoot(0.4122214708f * r + 0.5363325363f * g + 0.0514459929f * b);
    const float m = CubeRoot(0.2119034982f * r + 0.6806995451f * g + 0.1073969566f * b);
    const float s = CubeRoot(0.0883024619f * r + 0.2817188376f * g + 0.6299787005f * b);
    return { 0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s,
        1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s,
        0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s };
}

void FromOkLab(const OkLab& lab, uint8_t& red, uint8_t& green, uint8_t& blue)
{
    const float l = lab.l + 0.3963377774f * lab.a + 0.2158037573f * lab.b;
    const float m = lab.l - 0.1055613458f * lab.a - 0.0638541728f * lab.b;
    const float s = lab.l - 0.0894841775f * lab.a - 1.2914855480f * lab.b;
    const float l3 = l * l * l, m3 = m * m * m, s3 = s * s * s;
    red = ToByte(4.0767416621f * l3 - 3.3077115913f * m3 + 0.2309699292f * s3);
    green = ToByte(-1.2684380046f * l3 + 2.6097574011f * m3 - 0.3413193965f * s3);
    blue = ToByte(-0.0041960863f * l3 - 0.7034186147f * m3 + 1.7076147010f * s3);
}

void MeasureActivity(QualityPicture& picture)
{
    const int32_t w = picture.width, h = picture.height;
    const size_t n = size_t(w) * size_t(h);
    std::vector<float> luma(n), gradient(n);
    for (size_t i = 0; i < n; i++) {
        const uint8_t* p = &picture.rgb[3 * i];
        luma[i] = 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
    }
    for (int32_t y = 0; y < h; y++) {
        const float* up = &luma[size_t(std::max(y - 1, 0)) * size_t(w)];
        const float* row = &luma[size_t(y) * size_t(w)];
        const float* down = &luma[size_t(std::min(y + 1, h - 1)) * size_t(w)];
        for (int32_t x = 0; x < w; x++) {
            const float dx = row[std::min(x + 1, w - 1)] - row[std::max(x - 1, 0)];
            gradient[size_t(y) * size_t(w) + size_t(x)]
                = std::fabs(dx) + std::fabs(down[x] - up[x]);
        }
    }
    // The mean over the 3 x 3 neighbourhood: rows first, then columns.
    std::vector<float> across(n);
    for (int32_t y = 0; y < h; y++) {
        const float* g = &gradient[size_t(y) * size_t(w)];
        float* a = &across[size_t(y) * size_t(w)];
        for (int32_t x = 0; x < w; x++)
            a[x] = g[std::max(x - 1, 0)] + g[x] + g[std::min(x + 1, w - 1)];
    }
    picture.activity.assign(n, 0.0f);
    for (int32_t y = 0; y < h; y++) {
        const float* up = &across[size_t(std::max(y - 1, 0)) * size_t(w)];
        const float* row = &across[size_t(y) * size_t(w)];
        const float* down = &across[size_t(std::min(y + 1, h - 1)) * size_t(w)];
        float* out = &picture.activity[size_t(y) * size_t(w)];
        for (int32_t x = 0; x < w; x++)
            out[x] = (up[x] + row[x] + down[x]) * (1.0f / 18.0f);
    }
}

OkLabSearch::OkLabSearch(std::vector<OkLab> entries)
    : order(entries.size())
    , centres(std::move(entries))
{
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
        [&](uint32_t x, uint32_t y) { return centres[x].l < centres[y].l; });
    for (uint32_t i : order)
        lightness.push_back(centres[i].l);
}

uint32_t OkLabSearch::Nearest(const OkLab& c) const
{
    const size_t start
        = size_t(std::lower_bound(lightness.begin(), lightness.end(), c.l) - lightness.begin());
    float best = 1e30f;
    uint32_t bestIndex = 0;
    const auto consider = [&](size_t k) {
        const float d = Distance2(centres[order[k]], c);
        if (d < best || (d == best && order[k] < bestIndex)) {
            best = d;
            bestIndex = order[k];
        }
    };
    size_t up = start, down = start;
    bool upOpen = true, downOpen = true;
    while (upOpen || downOpen) {
        if (upOpen) {
            const float dl = up < order.size() ? lightness[up] - c.l : 0;
            if (up >= order.size() || dl * dl >= best)
                upOpen = false;
            else
                consider(up++);
        }
        if (downOpen) {
            const float dl = down > 0 ? c.l - lightness[down - 1] : 0;
            if (down == 0 || dl * dl >= best)
                downOpen = false;
            else
                consider(--down);
        }
    }
    return bestIndex;
}

namespace {

// The colours of the picture gathered into cells of 4 levels a side, each with its
// pixels' weighted mean in Oklab and the exact colour that filled most of it.
struct Bin {
    OkLab lab;
    float weight;
    uint32_t exactColour;
    uint32_t exactCount;
};

std::vector<Bin> GatherBins(const QualityPicture& picture)
{
    struct Sum {
        double weight = 0, red = 0, green = 0, blue = 0;
        uint32_t exactColour = 0, exactCount = 0;
    };
    // The cells a picture fills are few: each gets its sums when first met.
    std::vector<int32_t> cellSum(size_t(1) << 18, -1);
    std::vector<Sum> sums;
    const size_t n = size_t(picture.width) * size_t(picture.height);
    for (size_t i = 0; i < n; i++) {
        const uint8_t* p = &picture.rgb[3 * i];
        const uint32_t colour = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        int32_t& cell = cellSum[size_t((p[0] >> 2) << 12 | (p[1] >> 2) << 6 | (p[2] >> 2))];
        if (cell < 0) {
            cell = int32_t(sums.size());
            sums.emplace_back();
        }
        Sum& s = sums[size_t(cell)];
        // Errors show least where the picture is busy.
        const double weight = 1.0 / (1.0 + picture.activity[i] * (1.0 / 6.0));
        s.weight += weight;
        s.red += weight * p[0];
        s.green += weight * p[1];
        s.blue += weight * p[2];
        // The majority colour of the cell, by a running vote.
        if (s.exactCount == 0 || s.exactColour == colour) {
            s.exactColour = colour;
            s.exactCount++;
        } else {
            s.exactCount--;
        }
    }
    std::vector<Bin> bins;
    for (const Sum& s : sums) {
        if (s.weight <= 0)
            continue;
        const auto mean = [&](double v) { return uint8_t(std::lround(v / s.weight)); };
        bins.push_back({ ToOkLab(mean(s.red), mean(s.green), mean(s.blue)), float(s.weight),
            s.exactColour, s.exactCount });
    }
    return bins;
}

struct Moments {
    double w = 0, l = 0, a = 0, b = 0, ll = 0, aa = 0, bb = 0;
    void Add(const Bin& bin)
    {
        w += bin.weight;
        l += bin.weight * bin.lab.l;
        a += bin.weight * bin.lab.a;
        b += bin.weight * bin.lab.b;
        ll += bin.weight * bin.lab.l * bin.lab.l;
        aa += bin.weight * bin.lab.a * bin.lab.a;
        bb += bin.weight * bin.lab.b * bin.lab.b;
    }
    double Error() const { return w <= 0 ? 0 : (ll + aa + bb) - (l * l + a * a + b * b) / w; }
    OkLab Mean() const { return { float(l / w), float(a / w), float(b / w) }; }
};

struct Box {
    uint32_t begin, end;
    Moments moments;
};

// Splits box (whose bins are order[begin, end)) along its widest axis where the two
// halves' summed error is least; the second half is returned, the first stays in box.
Box SplitBox(Box& box, std::vector<uint32_t>& order, const std::vector<Bin>& bins)
{
    const Moments& m = box.moments;
    const double spread[3]
        = { m.ll - m.l * m.l / m.w, m.aa - m.a * m.a / m.w, m.bb - m.b * m.b / m.w };
    const int axis = int(std::max_element(spread, spread + 3) - spread);
    const auto key = [&](uint32_t i) {
        const OkLab& c = bins[i].lab;
        return axis == 0 ? c.l : (axis == 1 ? c.a : c.b);
    };
    std::sort(order.begin() + box.begin, order.begin() + box.end,
        [&](uint32_t x, uint32_t y) { return key(x) < key(y); });
    Moments left;
    double best = -1;
    uint32_t cut = box.begin + 1;
    for (uint32_t k = box.begin; k + 1 < box.end; k++) {
        left.Add(bins[order[k]]);
        Moments right = m;
        right.w -= left.w;
        right.l -= left.l;
        right.a -= left.a;
        right.b -= left.b;
        right.ll -= left.ll;
        right.aa -= left.aa;
        right.bb -= left.bb;
        const double error = left.Error() + right.Error();
        if (best < 0 || error < best) {
            best = error;
            cut = k + 1;
        }
    }
    Box second { cut, box.end, {} };
    box.end = cut;
    box.moments = {};
    for (uint32_t k = box.begin; k < box.end; k++)
        box.moments.Add(bins[order[k]]);
    for (uint32_t k = second.begin; k < second.end; k++)
        second.moments.Add(bins[order[k]]);
    return second;
}

std::vector<OkLab> SplitIntoBoxes(const std::vector<Bin>& bins, uint32_t colours)
{
    std::vector<uint32_t> order(bins.size());
    std::iota(order.begin(), order.end(), 0u);
    std::vector<Box> boxes { Box { 0, uint32_t(bins.size()), {} } };
    for (const Bin& bin : bins)
        boxes[0].moments.Add(bin);
    while (boxes.size() < colours) {
        size_t worst = boxes.size();
        double worstError = 0;
        for (size_t i = 0; i < boxes.size(); i++) {
            const double error = boxes[i].moments.Error();
            if (boxes[i].end - boxes[i].begin > 1 && error > worstError) {
                worst = i;
                worstError = error;
            }
        }
        if (worst == boxes.size())
            break;
        Box second = SplitBox(boxes[worst], order, bins);
        boxes.push_back(second);
    }
    std::vector<OkLab> centres;
    for (const Box& box : boxes)
        centres.push_back(box.moments.Mean());
    return centres;
}

void RefineByKMeans(std::vector<OkLab>& centres, const std::vector<Bin>& bins, int rounds)
{
    for (int round = 0; round < rounds; round++) {
        std::vector<Moments> sums(centres.size());
        {
            const OkLabSearch search(centres);
            for (const Bin& bin : bins)
                sums[search.Nearest(bin.lab)].Add(bin);
        }
        for (size_t i = 0; i < centres.size(); i++)
            if (sums[i].w > 0)
                centres[i] = sums[i].Mean();
    }
}

} // namespace

namespace {

// The picture's own colours when they are no more than `colours`; else empty.
std::vector<RGBQUAD> FewColours(const QualityPicture& picture, uint32_t colours)
{
    // An open table twice the size of the colours it may hold.
    constexpr uint32_t EMPTY = 0xFFFFFFFF;
    std::vector<uint32_t> table(1024, EMPTY);
    std::vector<RGBQUAD> found;
    const size_t n = size_t(picture.width) * size_t(picture.height);
    uint32_t last = EMPTY;
    for (size_t i = 0; i < n; i++) {
        const uint8_t* p = &picture.rgb[3 * i];
        const uint32_t colour = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        if (colour == last)
            continue;
        last = colour;
        uint32_t slot = (colour * 2654435761u) >> 22;
        while (table[slot] != EMPTY && table[slot] != colour)
            slot = (slot + 1) & 1023;
        if (table[slot] == colour)
            continue;
        if (found.size() == colours)
            return {};
        table[slot] = colour;
        found.push_back(RGBQUAD { p[2], p[1], p[0], 0 });
    }
    return found;
}

} // namespace

std::vector<RGBQUAD> ChooseQualityPalette(const QualityPicture& picture, uint32_t colours)
{
    colours = std::clamp(colours, 1u, 256u);
    // A picture of few colours keeps them all, exactly.
    if (std::vector<RGBQUAD> own = FewColours(picture, colours); !own.empty()) {
        for (RGBQUAD& entry : own)
            entry.rgbReserved = 1;
        return own;
    }
    const std::vector<Bin> bins = GatherBins(picture);
    if (bins.empty())
        return { RGBQUAD {} };
    std::vector<OkLab> centres = SplitIntoBoxes(bins, colours);
    RefineByKMeans(centres, bins, 2);

    std::vector<RGBQUAD> palette(centres.size());
    for (size_t i = 0; i < centres.size(); i++)
        FromOkLab(centres[i], palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);

    // A colour that fills a large flat area (a background) is kept exactly, so that the
    // area stays flat and the same from frame to frame.
    const uint64_t pixels = uint64_t(picture.width) * uint64_t(picture.height);
    std::vector<uint32_t> snapped(centres.size(), 0);
    const OkLabSearch search(centres);
    for (const Bin& bin : bins) {
        if (uint64_t(bin.exactCount) * 100 < pixels)
            continue;
        const uint8_t r = uint8_t(bin.exactColour >> 16), g = uint8_t(bin.exactColour >> 8),
                      b = uint8_t(bin.exactColour);
        const uint32_t i = search.Nearest(ToOkLab(r, g, b));
        if (bin.exactCount <= snapped[i])
            continue;
        snapped[i] = bin.exactCount;
        palette[i] = RGBQUAD { b, g, r, 1 };
    }
    return palette;
}
