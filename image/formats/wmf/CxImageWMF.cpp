// Metafile reader. A placeable metafile is a 16-bit Windows metafile behind a 22-byte
// header that gives its bounds and units per inch; anything else is tried as an
// enhanced metafile. The picture is played into a screen-compatible bitmap filled with
// the window colour, then read back. Playback runs in a child process (libwmf for
// 16-bit metafiles, the cairo player for enhanced ones), so a picture that crashes or
// hangs its player fails alone.
#include "CxImageWMF.h"

#include "EmfPlayer.h"
#include "IsolatedRun.h"
#include "MetafileLayout.h"
#include "WmfPlayer.h"
#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"
#include "platform/DeviceBitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr uint32_t PLACEABLE_KEY = 0x9AC6CDD7;
constexpr size_t PLACEABLE_BYTES = 22;
constexpr uint16_t MAX_UNITS_PER_INCH = 2540;
constexpr int64_t SIZE_LIMIT = 4000;
constexpr int32_t EXTENT_LIMIT = 6554;
constexpr size_t METAFILE_LARGEST_RECORD = 12; // in the 18-byte metafile header
constexpr int32_t MM_TEXT = 1;
constexpr int32_t MM_ANISOTROPIC = 8;
// The window background colour of the desktop this program paints on.
constexpr COLORREF WINDOW_COLOR = RGB(255, 255, 255);

// A picture ready to play: what the platform would hold behind a metafile handle.
struct Picture {
    enum class Kind { None, Windows, Enhanced } kind = Kind::None;
    std::vector<uint8_t> bytes; // placeable header and metafile, or the enhanced metafile
    metafile::WindowsPlayback windows {};
    metafile::EnhancedHeader enhanced {};
    // How the 16-bit metafile was converted: mapping mode and extents.
    int32_t mappingMode = MM_ANISOTROPIC;
    int32_t extentX = 0;
    int32_t extentY = 0;
};

bool ReadExactly(CxStream* stream, void* buffer, size_t bytes)
{
    return bytes <= 0xFFFFFFFFu && stream->Read(buffer, 1, uint32_t(bytes)) == bytes;
}

// Accepts the 16-bit metafile as a picture in the given description. Nothing here
// depends on the mapping mode, so the text-mode retry of the caller decides alike.
bool ConvertWindowsMetafile(const std::vector<uint8_t>& metafileBytes, const Picture& picture,
    metafile::WindowsMetafileLayout& layout)
{
    if (picture.mappingMode != MM_ANISOTROPIC && picture.mappingMode != MM_TEXT)
        return false;
    return metafile::CheckWindowsMetafile(metafileBytes.data(), metafileBytes.size(), &layout);
}

// The placeable attempt; false means "not placeable" and leaves the stream anywhere.
bool ReadPlaceable(CxStream* stream, int32_t start, int32_t dpiX, int32_t dpiY, Picture& picture,
    int64_t& width, int64_t& height)
{
    uint8_t head[PLACEABLE_BYTES];
    if (!ReadExactly(stream, head, sizeof head))
        return false;
    uint16_t checksum = 0;
    for (size_t i = 0; i < 10; i++)
        checksum ^= ReadLe16(head + 2 * i);
    const uint16_t unitsPerInch = ReadLe16(head + 14);
    if (ReadLe32(head) != PLACEABLE_KEY || checksum != ReadLe16(head + 20) || unitsPerInch == 0
        || unitsPerInch > MAX_UNITS_PER_INCH)
        return false;
    const int32_t left = metafile::ReadS16(head + 6);
    const int32_t top = metafile::ReadS16(head + 8);
    const int32_t right = metafile::ReadS16(head + 10);
    const int32_t bottom = metafile::ReadS16(head + 12);

    uint8_t metaHeader[metafile::WMF_HEADER_BYTES];
    if (!ReadExactly(stream, metaHeader, sizeof metaHeader))
        return false;
    const uint16_t type = ReadLe16(metaHeader);
    if (type != 1 && type != 2)
        return false;
    // The length may count the placeable header too (some writers do), so it is held
    // against the whole stream, and what is read is what follows the header, up to it.
    const uint64_t length = uint64_t(ReadLe32(metaHeader + 6)) * 2;
    const int64_t total = int64_t(stream->Size()) - int64_t(start);
    const int64_t available = total - int64_t(PLACEABLE_BYTES);
    if (available < int64_t(metafile::WMF_HEADER_BYTES) || length > uint64_t(total))
        return false;
    const size_t readLength = size_t(std::min<uint64_t>(length, uint64_t(available)));

    std::vector<uint8_t> metafileBytes;
    try {
        metafileBytes.resize(readLength);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!stream->Seek(int32_t(start + int32_t(PLACEABLE_BYTES)), SEEK_SET)
        || !ReadExactly(stream, metafileBytes.data(), metafileBytes.size()))
        return false;

    // The picture description: anisotropic, the size at screen resolution, scaled up by
    // tens while both sides stay small. Sides that are not positive are left alone, as
    // scaling them could never end.
    int32_t extentX = (right - left) * dpiX / unitsPerInch;
    int32_t extentY = (bottom - top) * dpiY / unitsPerInch;
    while (extentX > 0 && extentY > 0 && extentX < EXTENT_LIMIT && extentY < EXTENT_LIMIT) {
        extentX *= 10;
        extentY *= 10;
    }
    picture.mappingMode = MM_ANISOTROPIC;
    picture.extentX = extentX;
    picture.extentY = extentY;
    metafile::WindowsMetafileLayout layout;
    if (!ConvertWindowsMetafile(metafileBytes, picture, layout)) {
        picture.mappingMode = MM_TEXT;
        if (!ConvertWindowsMetafile(metafileBytes, picture, layout))
            return false;
    }

    // The player allocates the header's largest-record size up front; the header may
    // claim gigabytes, so it is told the size of the largest record really there.
    const uint32_t largest = layout.largestRecordWords;
    for (size_t i = 0; i < 4; i++)
        metafileBytes[METAFILE_LARGEST_RECORD + i] = uint8_t(largest >> (8 * i));

    picture.kind = Picture::Kind::Windows;
    picture.bytes.assign(head, head + PLACEABLE_BYTES);
    picture.bytes.insert(picture.bytes.end(), metafileBytes.begin(), metafileBytes.end());
    picture.windows.unitsPerInch = unitsPerInch;
    const bool ownWindow
        = layout.hasWindowExtent && layout.windowExtentX != 0 && layout.windowExtentY != 0;
    picture.windows.logicalWidth = ownWindow ? std::abs(layout.windowExtentX) : right - left;
    picture.windows.logicalHeight = ownWindow ? std::abs(layout.windowExtentY) : bottom - top;
    picture.windows.mapMode = layout.mapMode;
    picture.windows.viewportWidth = layout.hasViewportExtent ? layout.viewportExtentX : 0;
    picture.windows.viewportHeight = layout.hasViewportExtent ? layout.viewportExtentY : 0;
    width = int64_t(right - left) * dpiX / unitsPerInch;
    height = int64_t(bottom - top) * dpiY / unitsPerInch;
    return true;
}

// The enhanced attempt over everything from the start position on.
bool ReadEnhanced(
    CxStream* stream, int32_t start, Picture& picture, int64_t& width, int64_t& height)
{
    if (!stream->Seek(start, SEEK_SET))
        return false;
    const int64_t available = int64_t(stream->Size()) - int64_t(start);
    if (available < int64_t(metafile::EMF_HEADER_MIN_BYTES)
        || uint64_t(available) > CXIMAGE_MAX_MEMORY)
        return false;
    // A look at the header first: files of other formats, probed in turn, are not read
    // whole for nothing.
    uint8_t head[metafile::EMF_HEADER_MIN_BYTES];
    if (!ReadExactly(stream, head, sizeof head) || ReadLe32(head) != metafile::EMR_HEADER
        || ReadLe32(head + 40) != metafile::ENHMETA_SIGNATURE || !stream->Seek(start, SEEK_SET))
        return false;
    try {
        picture.bytes.resize(size_t(available));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!ReadExactly(stream, picture.bytes.data(), picture.bytes.size()))
        return false;
    if (!metafile::CheckEnhancedMetafile(
            picture.bytes.data(), picture.bytes.size(), &picture.enhanced))
        return false;
    picture.kind = Picture::Kind::Enhanced;
    const RECT& bounds = picture.enhanced.bounds;
    width = int64_t(bounds.right) - int64_t(bounds.left);
    height = int64_t(bounds.bottom) - int64_t(bounds.top);
    return true;
}

// Plays the picture over the bitmap's current pixels in a child process.
bool PlayIsolated(const Picture& picture, platform::Bitmap& bitmap)
{
    const int32_t width = bitmap.Width();
    const int32_t height = bitmap.Height();
    metafile::SharedRaster raster(width, height);
    if (!raster.IsValid())
        return false;
    for (int32_t y = 0; y < height; y++)
        std::memcpy(raster.Row(y), bitmap.DeviceRow(y), size_t(width) * 4);

    const bool played = metafile::RunIsolated(raster, [&picture](metafile::SharedRaster& target) {
        if (picture.kind == Picture::Kind::Enhanced)
            return metafile::PlayEnhancedMetafile(picture.bytes.data(), picture.enhanced,
                target.Pixels(), target.Width(), target.Height());
        return metafile::PlayWindowsMetafile(picture.bytes.data(), picture.bytes.size(),
            picture.windows, target.Pixels(), target.Width(), target.Height());
    });
    if (!played)
        return false;
    for (int32_t y = 0; y < height; y++)
        std::memcpy(bitmap.DeviceRow(y), raster.Row(y), size_t(width) * 4);
    return true;
}

} // namespace

bool CxImageWMF::Decode(CxStream* stream, int32_t maxWidth, int32_t maxHeight)
{
    if (!stream)
        return false;
    return RunReader(*this, "CxImage::Create can't allocate memory", [&] {
        platform::DeviceContext screen = platform::DeviceContext::Screen();
        const int32_t dpiX = screen.DotsPerInch();
        const int32_t dpiY = screen.DotsPerInch();

        const int32_t start = stream->Tell();
        auto picture = std::make_unique<Picture>();
        int64_t width = 0;
        int64_t height = 0;
        if (!ReadPlaceable(stream, start, dpiX, dpiY, *picture, width, height)) {
            picture = std::make_unique<Picture>();
            if (!ReadEnhanced(stream, start, *picture, width, height))
                ThrowReadError("corrupted WMF");
        }
        if (AskEscape())
            ThrowReadError("Cancelled");
        // Bounds that run backwards are as empty as bounds of no size.
        if (width <= 0 || height <= 0)
            ThrowReadError("empty WMF");
        if (maxWidth)
            width = maxWidth;
        if (maxHeight)
            height = maxHeight;
        if (width > SIZE_LIMIT) {
            height = height * SIZE_LIMIT / width;
            width = SIZE_LIMIT;
        }
        if (height > SIZE_LIMIT) {
            width = width * SIZE_LIMIT / height;
            height = SIZE_LIMIT;
        }
        if (width <= 0 || height <= 0)
            throw CxReadError::WithoutText();

        std::unique_ptr<platform::Bitmap> bitmap;
        try {
            bitmap = platform::CreateCompatibleBitmap(&screen, int32_t(width), int32_t(height));
        } catch (const std::bad_alloc&) {
            bitmap = nullptr;
        }
        if (!bitmap)
            throw CxReadError::WithoutText();
        platform::DeviceContext memory = platform::DeviceContext::CreateCompatible(&screen);
        const int32_t bpp = memory.BitsPerPixel();
        platform::Bitmap* previousBitmap = memory.SelectBitmap(bitmap.get());
        memory.FillRect(RECT { 0, 0, int32_t(width), int32_t(height) }, WINDOW_COLOR);

        std::unique_ptr<platform::Palette> palette;
        const platform::Palette* previousPalette = nullptr;
        if (picture->kind == Picture::Kind::Enhanced && picture->enhanced.paletteEntries) {
            try {
                palette = std::make_unique<platform::Palette>(
                    metafile::EnhancedPalette(picture->bytes.data(), picture->enhanced));
            } catch (const std::bad_alloc&) {
                memory.SelectBitmap(previousBitmap);
                ThrowReadError("Cancelled");
            }
            previousPalette = memory.SelectPalette(palette.get());
        }

        const bool played = PlayIsolated(*picture, *bitmap);
        memory.SelectBitmap(previousBitmap);
        picture.reset();
        if (palette) {
            memory.SelectPalette(previousPalette);
            palette.reset();
        }
        // A picture its player could not get through is as bad as one that never parsed.
        if (!played)
            ThrowReadError("corrupted WMF");

        if (AskEscape())
            ThrowReadError("Cancelled");
        if (!Create(uint32_t(width), uint32_t(height), uint32_t(bpp), CXIMAGE_FORMAT_WMF))
            return false;
        const int32_t lines = platform::GetDIBits(&memory, bitmap.get(), 0, uint32_t(height),
            GetBits(), reinterpret_cast<BITMAPINFO*>(dib));
        return lines != 0;
    });
}
