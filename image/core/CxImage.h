// CxImage: the one in-memory image of the library. Pixels live in a device-independent
// bitmap block (header, palette, bottom-up rows padded to 4 bytes) so the block can be
// handed unchanged to the drawing layer; beside it sit an optional alpha plane, an
// optional selection mask and the information record.
//
// The member functions are implemented by several targets:
//   image/core      construction, buffers, palette and pixel access, alpha, selection
//   image/process   sampling, resampling, bit-depth increase, orientation, Draw
//   image/formats   Load, Decode and the file-name constructor (the format dispatch)
#pragma once

#include "CxImageTypes.h"

#include <cstdint>
#include <cstdio>
#include <vector>

class CxImage;
class CxRowSink;
struct CxPictureHeader;
class CxStream;

namespace platform {
class Bitmap;
class DeviceContext;
class Palette;
}

using CxEscapeCallback = int32_t (*)(CxImage* image, uint32_t userValue);

struct CxImageRecord {
    uint32_t rowStride;
    uint8_t* pixels;
    CxImage* sharedFrom;
    CxImage* parent;
    uint32_t type;
    char lastError[256];
    int32_t progress;
    CxEscapeCallback escapeCallback;
    uint32_t escapeUserValue;
    int32_t transIndex;
    RGBQUAD transColor;
    uint8_t jpegQuality;
    uint8_t jpegReduction;
    int32_t frame;
    int32_t numFrames;
    uint32_t frameDelay;
    int32_t xDPI;
    int32_t yDPI;
    RECT selectionBox;
    uint8_t globalOpacity;
    bool paletteAlpha;
    bool enabled;
    int32_t xOffset;
    int32_t yOffset;
    uint32_t formatOptions[CMAX_IMAGE_FORMATS];
    RGBQUAD lastColor;
    uint8_t lastColorIndex;
    bool lastColorValid;
    int32_t numLayers;
    uint32_t flags;
    // Where a reader that can hands its rows instead of making the picture; null = none.
    CxRowSink* rowSink;
};

class CxImage {
public:
    explicit CxImage(uint32_t imageType = CXIMAGE_FORMAT_UNKNOWN);
    CxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imageType = 0);
    CxImage(const CxImage& source, bool copyPixels = true, bool copySelection = true,
        bool copyAlpha = true);
    CxImage(const char* fileName, uint32_t imageType);
    virtual ~CxImage();

    CxImage& operator=(const CxImage&) = delete;

    // --- buffers ---------------------------------------------------------------------
    void* Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imageType = 0);
    bool Destroy();
    void Copy(const CxImage& source, bool copyPixels = true, bool copySelection = true,
        bool copyAlpha = true);
    void CopyInfo(const CxImage& source);
    bool Transfer(CxImage& source);
    void ShareBuffers(CxImage* source);
    void Clear(uint8_t value = 0);

    // --- attributes --------------------------------------------------------------------
    bool IsValid() const { return dib != nullptr; }
    int32_t GetWidth() const { return head.biWidth; }
    int32_t GetHeight() const { return head.biHeight; }
    uint16_t GetBpp() const { return head.biBitCount; }
    uint32_t GetNumColors() const { return head.biClrUsed; }
    bool IsIndexed() const { return head.biClrUsed != 0; }
    uint32_t GetRowStride() const { return info.rowStride; }
    uint32_t GetType() const { return info.type; }
    uint32_t GetSize() const;
    uint32_t GetPaletteSize() const { return head.biClrUsed * 4; }
    uint8_t* GetBits(uint32_t row = 0) const;
    void* GetDIB() const { return dib; }
    const BITMAPINFOHEADER& GetHeader() const { return head; }
    bool IsInside(int32_t x, int32_t y) const
    {
        return x >= 0 && y >= 0 && x < head.biWidth && y < head.biHeight;
    }
    const char* GetLastError() const { return info.lastError; }
    void SetLastError(const char* text);

    int32_t GetTransparentIndex() const { return info.transIndex; }
    void SetTransparentIndex(int32_t index) { info.transIndex = index; }
    RGBQUAD GetTransparentColor() const;
    void SetTransparentColor(RGBQUAD color);

    void SetXDPI(int32_t dpi);
    void SetYDPI(int32_t dpi);
    int32_t GetXDPI() const { return info.xDPI; }
    int32_t GetYDPI() const { return info.yDPI; }

    uint32_t GetFormatOption(uint32_t format) const;
    bool SetFormatOption(uint32_t option, uint32_t format);
    void SetFrameDelay(uint32_t delay) { info.frameDelay = delay; }
    uint32_t GetFrameDelay() const { return info.frameDelay; }
    uint8_t GetJpegReduction() const { return info.jpegReduction; }
    void SetJpegReduction(uint8_t reduction) { info.jpegReduction = reduction; }
    // What a reader found beside the pixels and left for the caller to apply: the embedded
    // colour profile (an ICC profile's bytes; empty = none) and the stored orientation
    // (the EXIF values 1..8; 0 = none given). Copied and transferred with the picture.
    // Readers record no profile larger than this (real ones are at most a few hundred KB).
    static constexpr size_t MAX_ICC_PROFILE_BYTES = size_t(4) << 20;
    const std::vector<uint8_t>& GetIccProfile() const { return iccProfile; }
    void SetIccProfile(std::vector<uint8_t> profile) { iccProfile = std::move(profile); }
    uint8_t GetOrientation() const { return orientation; }
    void SetOrientation(uint8_t value) { orientation = value <= 8 ? value : 0; }
    CxRowSink* GetRowSink() const { return info.rowSink; }
    void SetRowSink(CxRowSink* sink) { info.rowSink = sink; }
    int32_t GetFrame() const { return info.frame; }
    void SetFrame(int32_t frame) { info.frame = frame; }
    int32_t GetNumFrames() const { return info.numFrames; }
    void SetEscapeCallback(CxEscapeCallback callback, uint32_t userValue = 0);
    uint8_t GetGlobalOpacity() const { return info.globalOpacity; }
    void SetGlobalOpacity(uint8_t opacity) { info.globalOpacity = opacity; }
    bool IsEnabled() const { return info.enabled; }
    void Enable(bool enabled = true) { info.enabled = enabled; }
    void SetOffset(int32_t x, int32_t y)
    {
        info.xOffset = x;
        info.yOffset = y;
    }
    void GetOffset(int32_t* x, int32_t* y) const
    {
        *x = info.xOffset;
        *y = info.yOffset;
    }

    // --- loading (the format dispatch) -------------------------------------------------
    bool Load(const char* fileName, uint32_t imageType = 0);
    bool Decode(FILE* file, uint32_t imageType);
    bool Decode(CxStream* stream, uint32_t imageType);
    static uint32_t GetTypeFromExtension(const char* fileName);
    // Every extension that picks a reader, lower case, in the order they are compared.
    static std::vector<const char*> KnownExtensions();
    // The header of a file whose reader tells it without decoding the pixels (JPEG, PNG,
    // WebP, HEIF, AVIF and JPEG XL, chosen by the extension), as it would be read with this
    // image's settings (the JPEG scale and options); false for other formats and unreadable
    // headers.
    bool ReadHeader(const char* fileName, CxPictureHeader& header) const;

    // Expands 16- or 32-bit source pixels into this 24-bit image (the source may be this
    // image's own pixel buffer).
    void ExpandBitfields(const uint8_t* source, uint16_t redMask, uint16_t greenMask,
        uint16_t blueMask, uint8_t sourceBpp);

    // --- device bitmaps ---------------------------------------------------------------
    platform::Bitmap* MakeDeviceBitmap(platform::DeviceContext* dc = nullptr) const;
    bool CreateFromDeviceBitmap(
        const platform::Bitmap* bitmap, const platform::Palette* palette = nullptr);

    // --- palette -----------------------------------------------------------------------
    RGBQUAD* GetPalette() const;
    RGBQUAD GetPaletteColor(uint32_t index) const
    {
        index &= 0xFF;
        if (!dib || index >= head.biClrUsed)
            return RGBQUAD { 0, 0, 0, 0 };
        return PaletteEntries()[index];
    }
    void SetPaletteColor(
        uint32_t index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alphaValue = 0);
    void SetPalette(const RGBQUAD* palette, uint32_t count = 256);
    void SetPalette(const uint8_t* rgbTriples, uint32_t count);
    void SetPalette(uint32_t count, const uint8_t* red, const uint8_t* green = nullptr,
        const uint8_t* blue = nullptr);
    void MakeGreyPalette();
    bool IsGreyRamp() const;
    uint8_t FindNearestIndex(RGBQUAD color);
    bool PaletteHasAlpha() const;
    static RGBQUAD ColorRefToQuad(COLORREF color)
    {
        return RGBQUAD { GetBValue(color), GetGValue(color), GetRValue(color), 0 };
    }

    // --- pixels ------------------------------------------------------------------------
    uint8_t GetPixelIndex(int32_t x, int32_t y) const;
    uint8_t GetPixelIndexUnchecked(int32_t x, int32_t y) const
    {
        const uint8_t* p = info.pixels + size_t(y) * info.rowStride;
        switch (head.biBitCount) {
        case 8:
            return p[x];
        case 4: {
            const uint8_t byte = p[x >> 1];
            return (x & 1) ? (byte & 0x0F) : (byte >> 4);
        }
        case 1:
            return (p[x >> 3] >> (7 - (x & 7))) & 1;
        default:
            return 0;
        }
    }
    void SetPixelIndex(int32_t x, int32_t y, uint8_t index);
    RGBQUAD GetPixelColor(int32_t x, int32_t y, bool withAlpha = true) const;
    RGBQUAD GetPixelColorUnchecked(int32_t x, int32_t y) const
    {
        if (head.biClrUsed)
            return GetPaletteColor(GetPixelIndexUnchecked(x, y));
        const uint8_t* p = info.pixels + size_t(y) * info.rowStride + size_t(x) * 3;
        return RGBQUAD { p[0], p[1], p[2], alpha ? GetAlphaUnchecked(x, y) : uint8_t(0) };
    }
    void SetPixelColor(int32_t x, int32_t y, RGBQUAD color, bool setAlpha = false);
    void SetPixelColor(int32_t x, int32_t y, COLORREF color)
    {
        SetPixelColor(x, y, ColorRefToQuad(color), false);
    }
    uint8_t* GetPixelAddress24(int32_t x, int32_t y) const
    {
        if (head.biClrUsed)
            return nullptr;
        return info.pixels + size_t(y) * info.rowStride + size_t(x) * 3;
    }
    void SwapRedBlue(uint8_t* buffer, uint32_t length) const;

    // --- alpha plane -------------------------------------------------------------------
    bool HasAlpha() const { return alpha != nullptr; }
    bool CreateAlpha();
    void DeleteAlpha();
    bool CopyAlphaFrom(const CxImage& source);
    void SetAlpha(int32_t x, int32_t y, uint8_t value)
    {
        if (alpha && IsInside(x, y))
            alpha[size_t(y) * head.biWidth + x] = value;
    }
    uint8_t GetAlpha(int32_t x, int32_t y) const
    {
        return (alpha && IsInside(x, y)) ? alpha[size_t(y) * head.biWidth + x] : 0;
    }
    uint8_t* GetAlphaAddress(int32_t x, int32_t y) const
    {
        return (alpha && IsInside(x, y)) ? alpha + size_t(y) * head.biWidth + x : nullptr;
    }
    uint8_t GetAlphaUnchecked(int32_t x, int32_t y) const
    {
        return alpha[size_t(y) * head.biWidth + x];
    }
    uint8_t* GetAlphaPlane() const { return alpha; }
    bool FlipAlpha();
    bool MirrorAlpha();

    // --- selection ---------------------------------------------------------------------
    bool ClearSelection();
    bool IsSelected(int32_t x, int32_t y) const;
    bool CopySelectionFrom(const CxImage& source);
    uint8_t* GetSelectionMask() const { return selection; }

    // --- sampling (image/process) ------------------------------------------------------
    void ApplyOverflow(int32_t& x, int32_t& y, int mode) const;
    void ApplyOverflow(float& x, float& y, int mode) const;
    RGBQUAD SampleWithOverflow(int32_t x, int32_t y, int mode, const RGBQUAD* fallback = nullptr);
    RGBQUAD SampleInterpolated(
        float x, float y, int method, int mode, const RGBQUAD* fallback = nullptr);

    // --- whole-image operations (image/process) ----------------------------------------
    bool Resample(
        int32_t newWidth, int32_t newHeight, int mode = RM_NEAREST, CxImage* destination = nullptr);
    bool IncreaseBpp(uint32_t bits);
    bool Flip();
    bool Mirror();
    bool RotateLeft(CxImage* destination = nullptr);
    bool RotateRight(CxImage* destination = nullptr);
    bool Negative();

    // --- drawing (image/process) -------------------------------------------------------
    int32_t Draw(platform::DeviceContext* dc, int32_t x = 0, int32_t y = 0, int32_t cx = -1,
        int32_t cy = -1, const RECT* clip = nullptr, bool smooth = false);

protected:
    void Startup(uint32_t imageType);
    // A quarter turn of the stored picture, clockwise or not, into destination or itself.
    bool RotateQuarter(bool clockwise, CxImage* destination);
    RGBQUAD* PaletteEntries() const
    {
        return reinterpret_cast<RGBQUAD*>(static_cast<uint8_t*>(dib) + sizeof(BITMAPINFOHEADER));
    }
    bool AskEscape()
    {
        return info.escapeCallback && info.escapeCallback(this, info.escapeUserValue) != 0;
    }

    void* dib;
    BITMAPINFOHEADER head;
    CxImageRecord info;
    uint8_t* selection;
    uint8_t* alpha;
    CxImage** layers;
    std::vector<uint8_t> iccProfile;
    uint8_t orientation;
};

// Copies at most 255 characters of text into a 256-byte error buffer, NUL-terminated.
void CopyLastError(char (&destination)[256], const char* text);
