// Builds the matrix/curve profile: the primaries give the RGB to XYZ matrix for the
// picture's white, which the Bradford transform adapts to the D50 white of the connection
// space. Reference: ICC.1:2022 (profile version 4.4), ITU-T H.273 (the code points).
#include "NclxProfile.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

using Matrix = double[3][3];

constexpr double D50[3] = { 0.9642, 1.0, 0.8249 };
constexpr Matrix BRADFORD
    = { { 0.8951, 0.2664, -0.1614 }, { -0.7502, 1.7135, 0.0367 }, { 0.0389, -0.0685, 1.0296 } };

void Multiply(const Matrix a, const Matrix b, Matrix out)
{
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            out[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
}

bool Invert(const Matrix m, Matrix out)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
        - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
        + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (std::fabs(det) < 1e-12)
        return false;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            out[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    return true;
}

void PutBe32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(value >> shift));
}

void PutFixed(std::vector<uint8_t>& bytes, double value)
{
    PutBe32(bytes, uint32_t(int32_t(std::lround(value * 65536.0))));
}

// A tag's type and its four reserved bytes, as the start of its data.
std::vector<uint8_t> TagData(const char* type)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(128);
    for (int i = 0; i < 4; i++)
        bytes.push_back(uint8_t(type[i]));
    PutBe32(bytes, 0);
    return bytes;
}

std::vector<uint8_t> Text(const char* text)
{
    std::vector<uint8_t> bytes = TagData("mluc");
    PutBe32(bytes, 1);
    PutBe32(bytes, 12);
    bytes.insert(bytes.end(), { 'e', 'n', 'U', 'S' });
    PutBe32(bytes, uint32_t(2 * std::strlen(text)));
    PutBe32(bytes, 28);
    for (const char* c = text; *c; c++)
        bytes.insert(bytes.end(), { 0, uint8_t(*c) });
    return bytes;
}

std::vector<uint8_t> Xyz(const double xyz[3])
{
    std::vector<uint8_t> bytes = TagData("XYZ ");
    for (int i = 0; i < 3; i++)
        PutFixed(bytes, xyz[i]);
    return bytes;
}

// The curve Y = (aX + b)^g for X >= d, Y = cX below.
struct Curve {
    double g, a, b, c, d;
};

bool CurveFor(uint16_t transfer, Curve& curve, bool& shownAsSrgb)
{
    shownAsSrgb = false;
    switch (transfer) {
    case 1: // BT.709
    case 2: // unspecified
    case 6: // BT.601
    case 13: // sRGB
    case 14: // BT.2020, 10 bits
    case 15: // BT.2020, 12 bits
        curve = { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 };
        shownAsSrgb = true;
        return true;
    case 4:
        curve = { 2.2, 1, 0, 0, 0 };
        return true;
    case 5:
        curve = { 2.8, 1, 0, 0, 0 };
        return true;
    case 8:
        curve = { 1, 1, 0, 0, 0 };
        return true;
    default:
        return false;
    }
}

bool IsSrgbPrimaries(const NclxChromaticities& p)
{
    const double expected[8] = { 0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290 };
    const double given[8] = { p.red[0], p.red[1], p.green[0], p.green[1], p.blue[0], p.blue[1],
        p.white[0], p.white[1] };
    for (int i = 0; i < 8; i++)
        if (std::fabs(given[i] - expected[i]) > 0.0005)
            return false;
    return true;
}

} // namespace

std::vector<uint8_t> ProfileForNclx(const NclxChromaticities& p, uint16_t transfer)
{
    Curve curve {};
    bool shownAsSrgb = false;
    if (!CurveFor(transfer, curve, shownAsSrgb) || (shownAsSrgb && IsSrgbPrimaries(p)))
        return {};
    const double* xy[4] = { p.red, p.green, p.blue, p.white };
    for (const double* point : xy)
        if (!(point[1] > 1e-6 && point[0] >= 0 && point[0] + point[1] <= 1.0001))
            return {};

    // The primaries' XYZ (with Y = 1) as columns, scaled so that their sum is the white.
    Matrix primaries;
    for (int column = 0; column < 3; column++) {
        primaries[0][column] = xy[column][0] / xy[column][1];
        primaries[1][column] = 1;
        primaries[2][column] = (1 - xy[column][0] - xy[column][1]) / xy[column][1];
    }
    const double white[3]
        = { p.white[0] / p.white[1], 1, (1 - p.white[0] - p.white[1]) / p.white[1] };
    Matrix inverse;
    if (!Invert(primaries, inverse))
        return {};
    Matrix toXyz;
    for (int column = 0; column < 3; column++) {
        const double scale = inverse[column][0] * white[0] + inverse[column][1] * white[1]
            + inverse[column][2] * white[2];
        for (int row = 0; row < 3; row++)
            toXyz[row][column] = primaries[row][column] * scale;
    }
    // Bradford: to cone responses, scale from the picture's white to D50, and back.
    Matrix gain = {};
    for (int i = 0; i < 3; i++) {
        const double source
            = BRADFORD[i][0] * white[0] + BRADFORD[i][1] * white[1] + BRADFORD[i][2] * white[2];
        const double target
            = BRADFORD[i][0] * D50[0] + BRADFORD[i][1] * D50[1] + BRADFORD[i][2] * D50[2];
        gain[i][i] = target / source;
    }
    Matrix backward, scaled, adaptation, adapted;
    if (!Invert(BRADFORD, backward))
        return {};
    Multiply(gain, BRADFORD, scaled);
    Multiply(backward, scaled, adaptation);
    Multiply(adaptation, toXyz, adapted);

    std::vector<std::pair<const char*, std::vector<uint8_t>>> tags;
    tags.emplace_back("desc", Text("Brimvale nclx RGB"));
    tags.emplace_back("cprt", Text("No copyright, use freely"));
    tags.emplace_back("wtpt", Xyz(D50));
    std::vector<uint8_t> chad = TagData("sf32");
    for (int row = 0; row < 3; row++)
        for (int column = 0; column < 3; column++)
            PutFixed(chad, adaptation[row][column]);
    tags.emplace_back("chad", chad);
    const char* columns[3] = { "rXYZ", "gXYZ", "bXYZ" };
    for (int column = 0; column < 3; column++) {
        const double xyz[3] = { adapted[0][column], adapted[1][column], adapted[2][column] };
        tags.emplace_back(columns[column], Xyz(xyz));
    }
    std::vector<uint8_t> para = TagData("para");
    PutBe32(para, 3u << 16); // function type 3, then two reserved bytes
    for (const double value : { curve.g, curve.a, curve.b, curve.c, curve.d })
        PutFixed(para, value);
    for (const char* name : { "rTRC", "gTRC", "bTRC" })
        tags.emplace_back(name, para);

    std::vector<uint8_t> profile(128, 0);
    PutBe32(profile, uint32_t(tags.size()));
    size_t offset = profile.size() + 12 * tags.size();
    std::vector<uint8_t> data;
    for (const auto& [name, bytes] : tags) {
        for (int i = 0; i < 4; i++)
            profile.push_back(uint8_t(name[i]));
        PutBe32(profile, uint32_t(offset + data.size()));
        PutBe32(profile, uint32_t(bytes.size()));
        data.insert(data.end(), bytes.begin(), bytes.end());
        data.resize((data.size() + 3) / 4 * 4, 0);
    }
    profile.insert(profile.end(), data.begin(), data.end());

    std::vector<uint8_t> header;
    PutBe32(header, uint32_t(profile.size()));
    PutBe32(header, 0);
    PutBe32(header, 0x04400000); // version 4.4
    header.insert(header.end(), { 'm', 'n', 't', 'r', 'R', 'G', 'B', ' ', 'X', 'Y', 'Z', ' ' });
    header.resize(36, 0);
    header.insert(header.end(), { 'a', 'c', 's', 'p' });
    header.resize(64, 0);
    PutBe32(header, 0); // perceptual intent
    for (const double value : D50)
        PutFixed(header, value);
    std::memcpy(profile.data(), header.data(), header.size());
    return profile;
}
