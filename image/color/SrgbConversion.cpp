#include "SrgbConversion.h"

#include "image/core/CxImage.h"

#include <algorithm>
#include <cstdlib>
#include <lcms2.h>

namespace {

// A colour that the conversion moves by no more than this in any channel counts as kept:
// a profile that keeps every colour of the test grid so describes sRGB (or a copy of it
// written with other rounding), and its pictures keep their pixels exactly.
constexpr int SRGB_TOLERANCE = 1;
// The test grid: every channel at 0, 17, 34, ..., 255.
constexpr int GRID_STEP = 17;

// Grey pictures are handed over as blue-green-red rows; one grey value per pixel is read
// from the first channel of each, the other two passed over.
constexpr cmsUInt32Number GREY_IN_BGR_8
    = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | EXTRA_SH(2) | BYTES_SH(1);

void KeepLibraryError(cmsContext context, cmsUInt32Number, const char* text)
{
    auto* kept = static_cast<std::string*>(cmsGetContextUserData(context));
    if (kept && kept->empty() && text)
        *kept = text;
}

std::string ColourSpaceName(uint32_t code)
{
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xFF);
        if (c >= ' ' && c <= '~' && c != ' ')
            name += c;
    }
    return name;
}

} // namespace

// The library's context (it keeps the last error text of this conversion's calls) and
// the profiles a transform is made from.
struct SrgbConversion::Lcms {
    std::string error;
    cmsContext context = nullptr;
    cmsHPROFILE source = nullptr;
    cmsHPROFILE srgb = nullptr;
    bool grey = false;
    uint8_t greyCurve[256] = {};

    ~Lcms()
    {
        if (source)
            cmsCloseProfile(source);
        if (srgb)
            cmsCloseProfile(srgb);
        if (context)
            cmsDeleteContext(context);
    }
};

SrgbConversion::SrgbConversion(const std::vector<uint8_t>& profile, bool greyPicture)
{
    if (profile.empty())
        return;
    const auto refuse = [&](const std::string& why) {
        refusal = why.empty() ? "unreadable" : why;
        if (transform)
            cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
        transform = nullptr;
        lcms.reset();
    };
    if (profile.size() > CxImage::MAX_ICC_PROFILE_BYTES) {
        refuse("too large");
        return;
    }
    lcms = std::make_unique<Lcms>();
    lcms->context = cmsCreateContext(nullptr, &lcms->error);
    if (!lcms->context) {
        refuse("no colour conversion available");
        return;
    }
    cmsSetLogErrorHandlerTHR(lcms->context, KeepLibraryError);
    lcms->source
        = cmsOpenProfileFromMemTHR(lcms->context, profile.data(), cmsUInt32Number(profile.size()));
    if (!lcms->source) {
        refuse(lcms->error);
        return;
    }
    // Any value the header holds, not only the signatures the library names.
    const uint32_t space = uint32_t(cmsGetColorSpace(lcms->source));
    if (space != cmsSigRgbData && space != cmsSigGrayData) {
        refuse("made for " + ColourSpaceName(space) + " pictures");
        return;
    }
    lcms->grey = space == cmsSigGrayData;
    if (lcms->grey && !greyPicture) {
        refuse("a grey profile on a colour picture");
        return;
    }
    lcms->srgb = cmsCreate_sRGBProfileTHR(lcms->context);
    // Relative colorimetric: every colour sRGB can show lands exactly on it (the others
    // are clipped to its gamut), the same for every kind of profile; black point
    // compensation keeps the source's black black instead of clipping or lifting the
    // shadows.
    transform = cmsCreateTransformTHR(lcms->context, lcms->source,
        lcms->grey ? GREY_IN_BGR_8 : TYPE_BGR_8, lcms->srgb, TYPE_BGR_8,
        INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
    if (!transform) {
        refuse(lcms->error);
        return;
    }

    // The test grid through the conversion: a profile that keeps it is sRGB.
    std::vector<uint8_t> grid;
    if (lcms->grey) {
        for (int v = 0; v < 256; v++)
            grid.insert(grid.end(), 3, uint8_t(v));
    } else {
        for (int r = 0; r <= 255; r += GRID_STEP)
            for (int g = 0; g <= 255; g += GRID_STEP)
                for (int b = 0; b <= 255; b += GRID_STEP)
                    grid.insert(grid.end(), { uint8_t(b), uint8_t(g), uint8_t(r) });
    }
    std::vector<uint8_t> converted(grid.size());
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), grid.data(), converted.data(),
        cmsUInt32Number(grid.size() / 3));
    bool kept = true;
    for (size_t i = 0; i < grid.size() && kept; i++)
        kept = std::abs(int(grid[i]) - int(converted[i])) <= SRGB_TOLERANCE;
    if (kept) {
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
        transform = nullptr;
        lcms.reset();
        return;
    }
    // A grey profile is one curve, applied to each channel.
    if (lcms->grey) {
        for (int v = 0; v < 256; v++)
            lcms->greyCurve[v] = converted[3 * size_t(v) + 1];
    }
}

SrgbConversion::~SrgbConversion()
{
    if (transform)
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
}

void SrgbConversion::ConvertRow(uint8_t* pixels, uint32_t width) const
{
    if (!transform)
        return;
    if (lcms->grey) {
        for (size_t i = 0; i < size_t(width) * 3; i++)
            pixels[i] = lcms->greyCurve[pixels[i]];
        return;
    }
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), pixels, pixels, width);
}

bool SrgbConversion::ConvertPicture(CxImage& picture) const
{
    if (!picture.IsValid() || picture.GetBpp() != 24)
        return false;
    for (int32_t y = 0; y < picture.GetHeight(); y++)
        ConvertRow(picture.GetBits(y), uint32_t(picture.GetWidth()));
    return true;
}

bool HasGreyPalette(const CxImage& picture)
{
    if (!picture.IsValid() || picture.GetBpp() > 8 || picture.GetNumColors() == 0)
        return false;
    for (uint32_t i = 0; i < picture.GetNumColors(); i++) {
        const RGBQUAD c = picture.GetPaletteColor(i);
        if (c.rgbRed != c.rgbGreen || c.rgbGreen != c.rgbBlue)
            return false;
    }
    return true;
}

std::string IccProfileDescription(const std::vector<uint8_t>& profile)
{
    if (profile.empty() || profile.size() > CxImage::MAX_ICC_PROFILE_BYTES)
        return "";
    std::string error;
    cmsContext context = cmsCreateContext(nullptr, &error);
    if (!context)
        return "";
    cmsSetLogErrorHandlerTHR(context, KeepLibraryError);
    std::string description;
    if (cmsHPROFILE source
        = cmsOpenProfileFromMemTHR(context, profile.data(), cmsUInt32Number(profile.size()))) {
        char text[256] = {};
        if (cmsGetProfileInfoASCII(source, cmsInfoDescription, "en", "US", text, sizeof text) > 0)
            description = text;
        cmsCloseProfile(source);
    }
    cmsDeleteContext(context);
    return description;
}
