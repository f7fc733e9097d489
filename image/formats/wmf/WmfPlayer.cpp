#include "WmfPlayer.h"

#include <cstdlib>
#include <cstring>
#include <fontconfig/fontconfig.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <memory>
#include <string>
#include <vector>

namespace metafile {

namespace {

    // libwmf draws text with the standard PostScript faces; each is matched to a font file
    // that fontconfig knows, since the library cannot start without at least one.
    struct FaceRequest {
        const char* postScriptName;
        const char* family;
        int weight;
        int slant;
    };

    constexpr FaceRequest STANDARD_FACES[] = {
        { "Times-Roman", "serif", FC_WEIGHT_REGULAR, FC_SLANT_ROMAN },
        { "Times-Italic", "serif", FC_WEIGHT_REGULAR, FC_SLANT_ITALIC },
        { "Times-Bold", "serif", FC_WEIGHT_BOLD, FC_SLANT_ROMAN },
        { "Times-BoldItalic", "serif", FC_WEIGHT_BOLD, FC_SLANT_ITALIC },
        { "Helvetica", "sans-serif", FC_WEIGHT_REGULAR, FC_SLANT_ROMAN },
        { "Helvetica-Oblique", "sans-serif", FC_WEIGHT_REGULAR, FC_SLANT_OBLIQUE },
        { "Helvetica-Bold", "sans-serif", FC_WEIGHT_BOLD, FC_SLANT_ROMAN },
        { "Helvetica-BoldOblique", "sans-serif", FC_WEIGHT_BOLD, FC_SLANT_OBLIQUE },
        { "Courier", "monospace", FC_WEIGHT_REGULAR, FC_SLANT_ROMAN },
        { "Courier-Oblique", "monospace", FC_WEIGHT_REGULAR, FC_SLANT_OBLIQUE },
        { "Courier-Bold", "monospace", FC_WEIGHT_BOLD, FC_SLANT_ROMAN },
        { "Courier-BoldOblique", "monospace", FC_WEIGHT_BOLD, FC_SLANT_OBLIQUE },
        { "Symbol", "sans-serif", FC_WEIGHT_REGULAR, FC_SLANT_ROMAN },
    };

    std::string FindFontFile(const FaceRequest& face)
    {
        std::string path;
        FcPattern* pattern = FcPatternCreate();
        if (!pattern)
            return path;
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.family));
        FcPatternAddInteger(pattern, FC_WEIGHT, face.weight);
        FcPatternAddInteger(pattern, FC_SLANT, face.slant);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(nullptr, pattern, &result);
        if (match) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
                path = reinterpret_cast<const char*>(file);
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        return path;
    }

    constexpr int32_t MM_ISOTROPIC = 7;
    constexpr int32_t MM_ANISOTROPIC = 8;
    constexpr double DEFAULT_VIEWPORT = 1024;

    struct ApiCloser {
        void operator()(wmfAPI* api) const { wmf_api_destroy(api); }
    };

} // namespace

bool PlayWindowsMetafile(const uint8_t* file, size_t size, const WindowsPlayback& playback,
    uint32_t* pixels, int32_t width, int32_t height)
{
    if (!file || !pixels || width <= 0 || height <= 0 || playback.unitsPerInch == 0
        || size > size_t(0x7FFFFFFF))
        return false;

    std::vector<std::string> fontFiles;
    std::vector<wmfMapping> faces;
    for (const FaceRequest& face : STANDARD_FACES) {
        fontFiles.push_back(FindFontFile(face));
    }
    for (size_t i = 0; i < fontFiles.size(); i++) {
        if (!fontFiles[i].empty()) {
            faces.push_back(wmfMapping { const_cast<char*>(STANDARD_FACES[i].postScriptName),
                fontFiles[i].data(), FT_ENCODING_NONE });
        }
    }
    if (faces.empty())
        return false;
    faces.push_back(wmfMapping { nullptr, nullptr, FT_ENCODING_NONE });

    wmfAPI_Options options;
    std::memset(&options, 0, sizeof options);
    options.function = wmf_gd_function;
    options.font.ps = faces.data();
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_FONTMAP | WMF_OPT_IGNORE_NONFATAL
        | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* created = nullptr;
    if (wmf_api_create(&created, flags, &options) != wmf_E_None || !created) {
        if (created)
            wmf_api_destroy(created);
        return false;
    }
    std::unique_ptr<wmfAPI, ApiCloser> api(created);

    // libwmf reads from memory it may not own; it gets a copy.
    std::vector<unsigned char> bytes(file, file + size);
    if (wmf_mem_open(api.get(), bytes.data(), long(bytes.size())) != wmf_E_None)
        return false;
    wmfD_Rect contents {};
    if (wmf_scan(api.get(), 0, &contents) != wmf_E_None)
        return false;

    // Where the window lies in the library's device space: in the scaled mapping modes
    // it fills the viewport (1024 x 1024 unless the metafile sets one); otherwise the
    // space is in points from the window origin.
    double deviceWidth = 0, deviceHeight = 0;
    if (playback.mapMode == MM_ISOTROPIC || playback.mapMode == MM_ANISOTROPIC) {
        deviceWidth = playback.viewportWidth ? std::abs(playback.viewportWidth) : DEFAULT_VIEWPORT;
        deviceHeight
            = playback.viewportHeight ? std::abs(playback.viewportHeight) : DEFAULT_VIEWPORT;
    } else {
        deviceWidth = playback.logicalWidth * 72.0 / playback.unitsPerInch;
        deviceHeight = playback.logicalHeight * 72.0 / playback.unitsPerInch;
    }
    wmf_gd_t* device = WMF_GD_GetData(api.get());
    device->type = wmf_gd_image;
    device->width = unsigned(width);
    device->height = unsigned(height);
    device->bbox.TL.x = 0;
    device->bbox.TL.y = 0;
    device->bbox.BR.x = float(deviceWidth);
    device->bbox.BR.y = float(deviceHeight);
    wmfD_Rect window = device->bbox;
    if (wmf_play(api.get(), 0, &window) != wmf_E_None || !device->gd_image)
        return false;

    const int* played = wmf_gd_image_pixels(device->gd_image);
    if (!played)
        return false;
    // Truecolour gd pixels are 0xAARRGGBB with a 7-bit transparency in the top byte; the
    // library paints its own white background, so every pixel is taken as it is.
    const size_t count = size_t(width) * size_t(height);
    for (size_t i = 0; i < count; i++)
        pixels[i] = uint32_t(played[i]) & 0x00FFFFFFu;
    return true;
}

} // namespace metafile
