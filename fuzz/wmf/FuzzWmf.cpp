// Fuzzes the metafile reader. Decode plays in a child process, whose faults the parent
// only sees as a failed picture, so the enhanced-metafile player also runs here in
// process where the sanitizers and coverage see it. BRIMVALE_FUZZ_WMF_LIBWMF=1 plays
// 16-bit metafiles through libwmf in process too, to judge that library directly.
#include "image/core/CxStream.h"
#include "image/formats/wmf/CxImageWMF.h"
#include "image/formats/wmf/EmfPlayer.h"
#include "image/formats/wmf/MetafileLayout.h"
#include "image/formats/wmf/WmfPlayer.h"

#include <cairo.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fontconfig/fontconfig.h>
#include <vector>

namespace {

constexpr int32_t SIDE = 48;

bool PlayLibwmfInProcess()
{
    static const bool enabled = [] {
        const char* value = std::getenv("BRIMVALE_FUZZ_WMF_LIBWMF");
        return value && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

// Text records load cairo's font faces and fontconfig's configuration once per process;
// both stay cached until exit, where the leak checker would report them (fontconfig keeps
// encoded pointers it can't follow). Release them before it looks.
void ReleaseFontCaches()
{
    cairo_debug_reset_static_data();
    FcFini();
}

} // namespace

// Each decode forks a child to play the picture, and a fork copies the page tables of all
// the memory the process holds: a small quarantine of freed blocks keeps that cheap.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // fontconfig's configuration is loaded here once, so that the children the decodes
    // fork find it loaded instead of each reading it anew.
    static const bool fonts = FcInit() == FcTrue && std::atexit(ReleaseFontCaches) == 0;
    (void)fonts;
    {
        CxMemStream stream(data, size);
        CxImageWMF reader;
        reader.Decode(&stream, SIDE, SIDE); // a small raster keeps each run quick
    }

    std::vector<uint32_t> pixels(size_t(SIDE) * SIDE, 0x00FFFFFF);
    metafile::EnhancedHeader header;
    if (metafile::CheckEnhancedMetafile(data, size, &header))
        metafile::PlayEnhancedMetafile(data, header, pixels.data(), SIDE, SIDE);

    if (PlayLibwmfInProcess() && size > 22 + 18) {
        metafile::WindowsMetafileLayout layout;
        if (metafile::CheckWindowsMetafile(data + 22, size - 22, &layout)) {
            const metafile::WindowsPlayback playback { 1000, 1000, 1000, layout.mapMode, 0, 0 };
            metafile::PlayWindowsMetafile(data, size, playback, pixels.data(), SIDE, SIDE);
        }
    }
    return 0;
}
