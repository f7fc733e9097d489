// The conversion of a picture that carries an embedded ICC colour profile into sRGB, the
// colour space a GIF is shown in. Pictures without a profile, or with one that describes
// sRGB, keep their pixels exactly; a profile that can't be used is passed over with the
// reason, never an error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CxImage;

class SrgbConversion {
public:
    // profile: the ICC profile's bytes (empty: none); greyPicture: whether the picture's
    // pixels are grey (a grey profile is used only for those).
    SrgbConversion(const std::vector<uint8_t>& profile, bool greyPicture);
    ~SrgbConversion();
    SrgbConversion(const SrgbConversion&) = delete;
    SrgbConversion& operator=(const SrgbConversion&) = delete;

    // Whether the pixels change: not without a profile, with an sRGB one or a refused one.
    bool Converts() const { return transform != nullptr; }
    // Why a profile given was passed over; "" when it was used, was sRGB or was absent.
    const std::string& Refusal() const { return refusal; }

    // Converts width blue-green-red pixels in place. Only when Converts().
    void ConvertRow(uint8_t* pixels, uint32_t width) const;
    // Converts a 24-bit picture in place (its alpha plane, if any, is kept); false when it
    // is not 24 bits. Only when Converts().
    bool ConvertPicture(CxImage& picture) const;

private:
    struct Lcms;
    std::unique_ptr<Lcms> lcms;
    void* transform = nullptr;
    std::string refusal;
};

// Whether a picture of 8 bits or fewer has a grey palette (each entry's red, green and
// blue equal): the pictures a grey profile belongs to.
bool HasGreyPalette(const CxImage& picture);

// The profile's description tag in English (or its first), "" when it has none or can't
// be read.
std::string IccProfileDescription(const std::vector<uint8_t>& profile);
