// The image buffer: construction, the DIB block and its ownership.
#include "CxImage.h"

#include "platform/DeviceBitmap.h"
#include "platform/Memory.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

int32_t NeverEscape(CxImage*, uint32_t) { return 0; }

uint32_t NormalizeBpp(uint32_t bpp)
{
    if (bpp <= 1)
        return 1;
    if (bpp <= 4)
        return 4;
    if (bpp <= 8)
        return 8;
    return 24;
}

uint32_t PaletteEntriesFor(uint32_t bpp)
{
    switch (bpp) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

// Shifts right by a positive count and left by a negative one; counts outside 0..31
// give 0, so masks of any width stay defined.
uint32_t ShiftRight(uint32_t value, int count)
{
    if (count >= 32 || count <= -32)
        return 0;
    return count >= 0 ? value >> count : value << -count;
}

// Files carry their resolution, so any dpi may arrive; beyond 54,546,084 dpi the pixels
// per metre no longer fit and are held at the largest value.
int32_t PelsPerMeter(int32_t dpi)
{
    const double perMeter = std::floor(dpi * 39.37007874015748 + 0.5);
    return perMeter >= double(INT32_MAX) ? INT32_MAX : int32_t(perMeter);
}

int CountBits(uint32_t value) { return __builtin_popcount(value & 0xFFFF); }

} // namespace

void CopyLastError(char (&destination)[256], const char* text)
{
    if (!text)
        text = "";
    if (text == destination)
        return;
    const size_t length = strnlen(text, 255);
    std::memmove(destination, text, length);
    destination[length] = '\0';
}

void CxImage::Startup(uint32_t imageType)
{
    dib = nullptr;
    std::memset(&head, 0, sizeof(head));
    std::memset(&info, 0, sizeof(info));
    selection = nullptr;
    alpha = nullptr;
    layers = nullptr;
    iccProfile.clear();
    orientation = 0;

    info.type = imageType;
    info.transIndex = -1;
    info.jpegQuality = 90;
    info.globalOpacity = 255;
    info.enabled = true;
    SetXDPI(96);
    SetYDPI(96);
    info.escapeCallback = NeverEscape;
}

CxImage::CxImage(uint32_t imageType) { Startup(imageType); }

CxImage::CxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imageType)
{
    Startup(imageType);
    Create(width, height, bpp, imageType);
}

CxImage::CxImage(const CxImage& source, bool copyPixels, bool copySelection, bool copyAlpha)
{
    Startup(source.GetType());
    Copy(source, copyPixels, copySelection, copyAlpha);
}

CxImage::~CxImage() { Destroy(); }

void CxImage::SetLastError(const char* text) { CopyLastError(info.lastError, text); }

void* CxImage::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imageType)
{
    if (!Destroy())
        return nullptr;

    if (width == 0 || height == 0) {
        SetLastError("CxImage::Create : width and height must be greater than zero");
        return nullptr;
    }

    bpp = NormalizeBpp(bpp);
    const uint32_t colors = PaletteEntriesFor(bpp);

    // All sizes in 64 bits: a 0x7FFFFFFF x 0x7FFFFFFF request, or a stride beyond 32 bits,
    // is refused here before anything is allocated.
    const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
    const uint64_t imageBytes = stride * height;
    const uint64_t total = sizeof(BITMAPINFOHEADER) + uint64_t(colors) * 4 + imageBytes;
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || total > CXIMAGE_MAX_MEMORY) {
        SetLastError("CXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }

    head.biClrUsed = colors;
    info.type = imageType;
    info.rowStride = uint32_t(stride);
    head.biBitCount = uint16_t(bpp);
    head.biWidth = int32_t(width);
    head.biHeight = int32_t(height);
    head.biSize = sizeof(BITMAPINFOHEADER);
    head.biPlanes = 1;
    head.biCompression = 0;
    head.biSizeImage = uint32_t(imageBytes);
    head.biClrImportant = 0;

    dib = platform::AllocateBuffer(size_t(total));
    if (!dib) {
        SetLastError("CxImage::Create can't allocate memory");
        return nullptr;
    }

    if (colors)
        std::memset(PaletteEntries(), 0, colors * 4);
    // The palette is new: a colour remembered from the old one must not answer for it.
    info.lastColorValid = false;
    std::memcpy(dib, &head, sizeof(head));
    info.pixels = GetBits(0);
    return dib;
}

bool CxImage::Destroy()
{
    if (info.sharedFrom)
        return false;
    if (layers) {
        for (int32_t i = 0; i < info.numLayers; i++)
            delete layers[i];
        delete[] layers;
        layers = nullptr;
        info.numLayers = 0;
    }
    std::free(selection);
    selection = nullptr;
    std::free(alpha);
    alpha = nullptr;
    std::free(dib);
    dib = nullptr;
    info.pixels = nullptr;
    return true;
}

void CxImage::Copy(const CxImage& source, bool copyPixels, bool copySelection, bool copyAlpha)
{
    // A borrowing image cannot replace the buffers it shows (Create would refuse); it is
    // left exactly as it was rather than with another image's record over them.
    if (&source == this || info.sharedFrom)
        return;
    // The record is copied whole, except the link that says whose buffers this image
    // borrows: that is this image's own.
    CxImage* const ownLender = info.sharedFrom;
    info = source.info;
    info.sharedFrom = ownLender;
    info.pixels = nullptr;
    iccProfile = source.iccProfile;
    orientation = source.orientation;

    if (!Create(source.GetWidth(), source.GetHeight(), source.GetBpp(), source.GetType()))
        return;

    if (copyPixels && dib && source.dib) {
        std::memcpy(dib, source.dib, GetSize());
        std::memcpy(&head, dib, sizeof(head));
        info.pixels = GetBits(0);
    } else {
        SetPalette(source.GetPalette(), 256);
    }

    const size_t planeBytes = size_t(GetWidth()) * size_t(GetHeight());
    if (copySelection && source.selection) {
        std::free(selection);
        selection = static_cast<uint8_t*>(platform::AllocateBuffer(planeBytes));
        if (selection)
            std::memcpy(selection, source.selection, planeBytes);
    }
    if (copyAlpha && source.alpha) {
        std::free(alpha);
        alpha = static_cast<uint8_t*>(platform::AllocateBuffer(planeBytes));
        if (alpha)
            std::memcpy(alpha, source.alpha, planeBytes);
    }
}

void CxImage::CopyInfo(const CxImage& source)
{
    if (dib || &source == this)
        return;
    CxImage* const ownLender = info.sharedFrom;
    info = source.info;
    info.sharedFrom = ownLender;
    info.pixels = nullptr;
    iccProfile = source.iccProfile;
    orientation = source.orientation;
}

bool CxImage::Transfer(CxImage& source)
{
    if (&source == this)
        return true;
    if (!Destroy())
        return false;

    head = source.head;
    info = source.info;
    dib = source.dib;
    selection = source.selection;
    alpha = source.alpha;
    layers = source.layers;
    iccProfile = std::move(source.iccProfile);
    orientation = source.orientation;
    source.iccProfile.clear();
    source.orientation = 0;

    std::memset(&source.head, 0, sizeof(source.head));
    std::memset(&source.info, 0, sizeof(source.info));
    source.dib = nullptr;
    source.selection = nullptr;
    source.alpha = nullptr;
    source.layers = nullptr;
    return true;
}

void CxImage::ShareBuffers(CxImage* source)
{
    if (!source || source == this)
        return;
    // Our own buffers would be lost behind the borrowed ones.
    Destroy();
    head = source->head;
    info = source->info;
    dib = source->dib;
    selection = source->selection;
    alpha = source->alpha;
    layers = source->layers;
    iccProfile = source->iccProfile;
    orientation = source->orientation;
    info.sharedFrom = source;
}

void CxImage::Clear(uint8_t value)
{
    if (!dib)
        return;
    if (head.biBitCount == 1 && value)
        value = 255;
    else if (head.biBitCount == 4)
        value = uint8_t((value & 15) * 17);
    std::memset(info.pixels, value, head.biSizeImage);
}

uint32_t CxImage::GetSize() const { return head.biSize + GetPaletteSize() + head.biSizeImage; }

uint8_t* CxImage::GetBits(uint32_t row) const
{
    if (!dib)
        return nullptr;
    const auto* block = static_cast<uint8_t*>(dib);
    uint32_t headerSize;
    std::memcpy(&headerSize, block, sizeof(headerSize));
    uint8_t* rowZero = const_cast<uint8_t*>(block) + headerSize + GetPaletteSize();
    if (row == 0)
        return rowZero;
    if (row >= uint32_t(head.biHeight))
        return nullptr;
    return rowZero + size_t(row) * info.rowStride;
}

RGBQUAD CxImage::GetTransparentColor() const
{
    if (head.biBitCount < 24 && info.transIndex != -1)
        return GetPaletteColor(uint32_t(info.transIndex));
    return info.transColor;
}

void CxImage::SetTransparentColor(RGBQUAD color)
{
    color.rgbReserved = 0;
    info.transColor = color;
}

void CxImage::SetXDPI(int32_t dpi)
{
    if (dpi <= 0)
        dpi = 96;
    info.xDPI = dpi;
    head.biXPelsPerMeter = PelsPerMeter(dpi);
}

void CxImage::SetYDPI(int32_t dpi)
{
    if (dpi <= 0)
        dpi = 96;
    info.yDPI = dpi;
    head.biYPelsPerMeter = PelsPerMeter(dpi);
}

uint32_t CxImage::GetFormatOption(uint32_t format) const
{
    if (format >= CMAX_IMAGE_FORMATS)
        return 0;
    if (format == 0)
        format = info.type;
    return format < CMAX_IMAGE_FORMATS ? info.formatOptions[format] : 0;
}

bool CxImage::SetFormatOption(uint32_t option, uint32_t format)
{
    if (format >= CMAX_IMAGE_FORMATS)
        return false;
    if (format == 0)
        format = info.type;
    if (format >= CMAX_IMAGE_FORMATS)
        return false;
    info.formatOptions[format] = option;
    return true;
}

void CxImage::SetEscapeCallback(CxEscapeCallback callback, uint32_t userValue)
{
    info.escapeCallback = callback ? callback : NeverEscape;
    info.escapeUserValue = userValue;
}

void CxImage::ExpandBitfields(const uint8_t* source, uint16_t redMask, uint16_t greenMask,
    uint16_t blueMask, uint8_t sourceBpp)
{
    if (!dib || !source || head.biBitCount != 24)
        return;
    const int32_t width = head.biWidth;
    const int32_t height = head.biHeight;

    if (sourceBpp == 16) {
        const int redBits = CountBits(redMask);
        const int greenBits = CountBits(greenMask);
        const int blueBits = CountBits(blueMask);
        const size_t sourceStride = size_t((width + 1) / 2) * 4;
        for (int32_t y = height - 1; y >= 0; y--) {
            const uint8_t* from = source + size_t(y) * sourceStride;
            uint8_t* to = info.pixels + size_t(y) * info.rowStride;
            for (int32_t x = width - 1; x >= 0; x--) {
                const uint32_t w = uint32_t(from[2 * x]) | (uint32_t(from[2 * x + 1]) << 8);
                const uint8_t blue = uint8_t(ShiftRight(w & blueMask, redBits - 8));
                const uint8_t green = uint8_t(ShiftRight(w & greenMask, redBits + greenBits - 8));
                const uint8_t red
                    = uint8_t(ShiftRight(w & redMask, redBits + greenBits + blueBits - 8));
                to[3 * x] = blue;
                to[3 * x + 1] = green;
                to[3 * x + 2] = red;
            }
        }
    } else if (sourceBpp == 32) {
        const size_t sourceStride = size_t(width) * 4;
        for (int32_t y = height - 1; y >= 0; y--) {
            const uint8_t* from = source + size_t(y) * sourceStride;
            uint8_t* to = info.pixels + size_t(y) * info.rowStride;
            for (int32_t x = width - 1; x >= 0; x--) {
                const uint8_t blue = from[4 * x];
                const uint8_t green = from[4 * x + 1];
                const uint8_t red = from[4 * x + 2];
                to[3 * x] = blue;
                to[3 * x + 1] = green;
                to[3 * x + 2] = red;
            }
        }
    }
}

platform::Bitmap* CxImage::MakeDeviceBitmap(platform::DeviceContext* dc) const
{
    if (!dib)
        return nullptr;
    const auto* block = static_cast<const BITMAPINFO*>(dib);
    if (dc)
        return platform::CreateDIBitmap(dc, &block->bmiHeader, info.pixels, block).release();

    platform::DeviceContext memory = platform::DeviceContext::CreateCompatible(nullptr);
    uint8_t* bits = nullptr;
    std::unique_ptr<platform::Bitmap> section = platform::CreateDIBSection(&memory, block, &bits);
    if (section && bits)
        std::memcpy(bits, info.pixels, head.biSizeImage);
    return section.release();
}

bool CxImage::CreateFromDeviceBitmap(
    const platform::Bitmap* bitmap, const platform::Palette* palette)
{
    if (!Destroy())
        return false;
    if (!bitmap)
        return false;
    const platform::BitmapInfo object = bitmap->GetObject();
    if (!Create(
            uint32_t(object.bmWidth), uint32_t(object.bmHeight), uint32_t(object.bmBitsPixel), 0))
        return false;

    platform::DeviceContext screen = platform::DeviceContext::Screen();
    if (palette)
        screen.SelectPalette(palette);
    auto* block = static_cast<BITMAPINFO*>(dib);
    const int lines
        = platform::GetDIBits(&screen, bitmap, 0, uint32_t(head.biHeight), info.pixels, block);
    if (lines == 0) {
        SetLastError("GetDIBits failed");
        return false;
    }
    info.lastColorValid = false;
    return true;
}
