// The GIF reader: one frame of a GIF87a/GIF89a file, composed over the frames before it on
// the logical screen the way a viewer shows it at that moment.
#include "CxImageGIF.h"
#include "image/core/CxByteOrder.h"
#include "image/core/CxReadError.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int32_t READ_AHEAD = 16383;
constexpr int32_t TABLE_CODES = 4096;

// LZW decoder results.
constexpr int32_t LZW_BAD_CODE_SIZE = -20;

uint32_t BppForTable(int32_t size)
{
    if (size <= 2)
        return 1;
    if (size <= 16)
        return 4;
    return 8;
}

// The same limit CxImage::Create applies, checked without allocating.
bool FitsMemory(int32_t width, int32_t height, uint32_t bpp)
{
    const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
    const uint64_t colors = bpp <= 8 ? (1u << bpp) : 0;
    return sizeof(BITMAPINFOHEADER) + colors * 4 + stride * uint64_t(height) <= CXIMAGE_MAX_MEMORY;
}

// The colours of `bytes` bytes of a row, each standing for perByte pixels.
template <size_t perByte>
void PaintBytes(uint8_t* to, const uint8_t* from, size_t bytes, const uint8_t* byteColours)
{
    for (size_t i = 0; i < bytes; i++, to += perByte * 3)
        std::memcpy(to, byteColours + size_t(from[i]) * perByte * 3, perByte * 3);
}

// A row of a frame laid onto a canvas row from column `left`, except where the frame
// holds the transparent index.
using OverlayRowFunction = void (*)(uint8_t* to, const uint8_t* from, int32_t left, int32_t count,
    uint32_t bpp, int32_t transparent);

template <uint32_t bpp> uint8_t IndexAt(const uint8_t* row, uint32_t x)
{
    if constexpr (bpp == 8)
        return row[x];
    else if constexpr (bpp == 4)
        return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    else
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

template <uint32_t bpp> void SetIndexAt(uint8_t* row, uint32_t x, uint8_t index)
{
    if constexpr (bpp == 8) {
        row[x] = index;
    } else if constexpr (bpp == 4) {
        uint8_t& byte = row[x >> 1];
        byte = (x & 1) ? uint8_t((byte & 0xF0) | (index & 0x0F))
                       : uint8_t((byte & 0x0F) | ((index & 0x0F) << 4));
    } else {
        uint8_t& byte = row[x >> 3];
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        byte = (index & 1) ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
    }
}

template <uint32_t fromBpp, uint32_t toBpp>
void OverlayRow(
    uint8_t* to, const uint8_t* from, int32_t left, int32_t count, uint32_t, int32_t transparent)
{
    for (int32_t i = 0; i < count; i++) {
        const uint8_t index = IndexAt<fromBpp>(from, uint32_t(i));
        if (index != transparent)
            SetIndexAt<toBpp>(to, uint32_t(left + i), index);
    }
}

OverlayRowFunction PickOverlayRow(uint32_t fromBpp, uint32_t toBpp)
{
    const auto pick = [toBpp](auto from) -> OverlayRowFunction {
        constexpr uint32_t f = decltype(from)::value;
        if (toBpp == 8)
            return OverlayRow<f, 8>;
        if (toBpp == 4)
            return OverlayRow<f, 4>;
        return OverlayRow<f, 1>;
    };
    if (fromBpp == 8)
        return pick(std::integral_constant<uint32_t, 8>());
    if (fromBpp == 4)
        return pick(std::integral_constant<uint32_t, 4>());
    return pick(std::integral_constant<uint32_t, 1>());
}

// Same depth, no transparent index, starting on a byte boundary: the row's bytes as they
// are, the last one's bits past the frame kept.
void CopyRow(uint8_t* to, const uint8_t* from, int32_t left, int32_t count, uint32_t bpp, int32_t)
{
    uint8_t* start = to + uint64_t(left) * bpp / 8;
    const uint64_t rowBits = uint64_t(count) * bpp;
    const size_t whole = size_t(rowBits / 8);
    std::memcpy(start, from, whole);
    if (const uint32_t rest = uint32_t(rowBits % 8)) {
        const uint8_t mask = uint8_t(0xFF << (8 - rest));
        start[whole] = uint8_t((start[whole] & ~mask) | (from[whole] & mask));
    }
}

// 1-bit on 1-bit from a byte boundary with index 0 or 1 transparent: each byte's pixels
// that are not transparent replace the canvas's.
void OverlayOneBitRow(
    uint8_t* to, const uint8_t* from, int32_t left, int32_t count, uint32_t, int32_t transparent)
{
    uint8_t* start = to + left / 8;
    const size_t bytes = (size_t(count) + 7) / 8;
    for (size_t i = 0; i < bytes; i++) {
        uint8_t shown = transparent == 0 ? from[i] : uint8_t(~from[i]);
        if (i + 1 == bytes && count % 8)
            shown &= uint8_t(0xFF << (8 - count % 8));
        start[i] = uint8_t((start[i] & ~shown) | (from[i] & shown));
    }
}

} // namespace

struct CxImageGIF::ColorTable {
    int32_t size = 0;
    uint8_t entries[256 * 3] = {};
};

struct CxImageGIF::DecodeState {
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    uint8_t backgroundIndex = 0;
    bool globalTable = false;
    ColorTable table;
    int32_t tileScore = 0;
    int32_t imageCounter = 0;
    int32_t previousDisposal = 0;
    int32_t firstTransIndex = -1;
    int32_t counted = 0;
    bool scanning = true;
    bool requestedComposed = false;
    std::unique_ptr<CxImage> tile;
};

bool CxImageGIF::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    return RunReader(*this, "GIF: out of memory", [&] {
        DecodeState state;
        DecodeFrames(stream, state);
    });
}

void CxImageGIF::DecodeFrames(CxStream* stream, DecodeState& state)
{
    uint8_t screen[13];
    if (stream->Read(screen, 1, 13) != 13 || std::memcmp(screen, "GIF8", 4) != 0)
        ThrowReadError("Not a GIF");
    state.screenWidth = ReadLe16(screen + 6);
    state.screenHeight = ReadLe16(screen + 8);
    const uint8_t screenFlags = screen[10];
    state.backgroundIndex = screen[11];

    if (AskEscape()) {
        // A size-only query.
        head.biWidth = state.screenWidth;
        head.biHeight = state.screenHeight;
        return;
    }

    state.table.size = 2 << (screenFlags & 7);
    if (screenFlags & 0x80) {
        state.globalTable = true;
        const uint32_t bytes = uint32_t(state.table.size) * 3;
        if (stream->Read(state.table.entries, 1, bytes) != bytes)
            ThrowReadError("GIF file truncated in its colour table");
    } else {
        state.tileScore = 1;
    }

    // Counting reads every extension of the file; what the real scan sees before the
    // requested frame must not depend on blocks that come after it.
    const CxGifControlBlock savedControl = controlBlock;
    const int32_t savedTransIndex = info.transIndex;
    const uint32_t savedDelay = info.frameDelay;
    const int32_t savedDisposal = disposalMethod;

    const int32_t start = stream->Tell();
    {
        DecodeState counting;
        counting.screenWidth = state.screenWidth;
        counting.screenHeight = state.screenHeight;
        counting.globalTable = state.globalTable;
        counting.table = state.table;
        ScanBlocks(stream, counting, counting.table, true);
        info.numFrames = counting.counted;
    }
    stream->Seek(start, SEEK_SET);

    if (info.frame < 0 || info.frame >= info.numFrames)
        ThrowReadError("GIF frame not found");
    if (info.numFrames == 1)
        state.tileScore = 0;

    controlBlock = savedControl;
    info.transIndex = savedTransIndex;
    info.frameDelay = savedDelay;
    disposalMethod = savedDisposal;

    ScanBlocks(stream, state, state.table, false);

    if (state.tile) {
        if (controlBlock.flags & 1) {
            state.tile->SetTransparentColor(GetPaletteColor(uint8_t(info.transIndex)));
            state.tile->SetTransparentIndex(0);
        }
        const CxImageRecord record = info;
        Transfer(*state.tile);
        const uint32_t stride = info.rowStride;
        uint8_t* const pixels = info.pixels;
        const RGBQUAD transColor = info.transColor;
        const int32_t transIndex = info.transIndex;
        info = record;
        info.rowStride = stride;
        info.pixels = pixels;
        info.transColor = transColor;
        info.transIndex = transIndex;
        info.sharedFrom = nullptr;
        return;
    }
    // The scan ended (a bad extension, the end of the data) before the frame was reached.
    if (!state.requestedComposed)
        ThrowReadError("GIF frame not found");
}

void CxImageGIF::ScanBlocks(CxStream* stream, DecodeState& state, ColorTable& table, bool counting)
{
    bool afterZero = true;
    state.scanning = true;
    while (state.scanning) {
        const int32_t byte = stream->GetC();
        if (byte < 0)
            break;
        if (AskEscape())
            ThrowReadError("GIF decoding cancelled");
        if (!afterZero && byte != 0)
            continue;
        switch (byte) {
        case 0x21:
            state.scanning = ReadExtension(stream);
            break;
        case 0x2C:
            if (!ReadImage(stream, state, table, counting))
                state.scanning = false;
            break;
        case 0x3B:
            state.scanning = false;
            break;
        default:
            afterZero = byte == 0;
            break;
        }
    }
}

bool CxImageGIF::ReadExtension(CxStream* stream)
{
    const int32_t label = stream->GetC();
    if (label < 0)
        return false;

    if (label == 0xF9) {
        const int32_t size = stream->GetC();
        uint8_t bytes[4];
        if (size < 0 || stream->Read(bytes, 1, 4) != uint32_t(size))
            return false;
        controlBlock.flags = bytes[0];
        controlBlock.delay = uint16_t(ReadLe16(bytes + 1));
        controlBlock.transIndex = bytes[3];
        if (controlBlock.flags & 1)
            info.transIndex = controlBlock.transIndex;
        info.frameDelay = controlBlock.delay;
        disposalMethod = (controlBlock.flags >> 2) & 7;
    } else if (label == 0xFE) {
        const int32_t size = stream->GetC();
        char text[256];
        if (size < 0 || stream->Read(text, uint32_t(size), 1) != 1)
            return false;
        std::memcpy(comment, text, size_t(size));
        comment[size] = '\0';
    } else if (label == 0xFF) {
        uint8_t identifier[11];
        if (stream->GetC() != 11 || stream->Read(identifier, 1, 11) != 11)
            return false;
        const int32_t size = stream->GetC();
        if (size < 0)
            return false;
        // An empty first sub-block is already the terminator.
        if (size == 0)
            return true;
        uint8_t data[256];
        if (stream->Read(data, 1, uint32_t(size)) != uint32_t(size))
            return false;
        if (size > 2)
            loops = data[1] + 256 * data[2];
    }

    for (;;) {
        const int32_t size = stream->GetC();
        if (size <= 0)
            break;
        stream->Seek(size, SEEK_CUR);
    }
    return true;
}

bool CxImageGIF::ReadImage(CxStream* stream, DecodeState& state, ColorTable& table, bool counting)
{
    uint8_t descriptor[9];
    if (stream->Read(descriptor, 1, 9) != 9)
        return false;
    const int32_t left = ReadLe16(descriptor);
    const int32_t top = ReadLe16(descriptor + 2);
    const int32_t width = ReadLe16(descriptor + 4);
    const int32_t height = ReadLe16(descriptor + 6);
    const uint8_t flags = descriptor[8];

    // An image outside the screen (or without pixels) is passed over; the scan goes on
    // after its descriptor.
    if (width == 0 || height == 0 || left + width > state.screenWidth
        || top + height > state.screenHeight)
        return true;

    if (!counting && state.imageCounter == 0 && width != state.screenWidth
        && height != state.screenHeight)
        state.tileScore++;
    const bool tiled = !counting && state.tileScore >= 2;

    if (flags & 0x80) {
        table.size = 2 << (flags & 7);
        const uint32_t bytes = uint32_t(table.size) * 3;
        if (stream->Read(table.entries, 1, bytes) != bytes)
            return false;
    }
    const uint32_t bpp = BppForTable(table.size);
    if (!FitsMemory(width, height, bpp))
        ThrowReadError("CXIMAGE_MAX_MEMORY exceeded");

    std::unique_ptr<CxImage> canvas;
    if (!counting && !tiled) {
        canvas = std::make_unique<CxImage>();
        PrepareCanvas(state, *canvas, bpp);
    }

    dryRun = counting;
    if (!counting)
        CreateFrame(width, height, bpp, (flags & 0x80) || state.globalTable ? &table : nullptr);
    StartLines(height, (flags & 0x40) != 0);
    const int32_t dataStart = stream->Tell();
    int32_t badCodes = 0;
    DecodeLzw(stream, width, badCodes);
    dryRun = false;

    if (AskEscape())
        ThrowReadError("GIF decoding cancelled");
    if (tiled)
        PaintOnTileScreen(state, left, top);
    else if (canvas)
        PlaceOnCanvas(state, std::move(canvas), left, top);
    state.previousDisposal = (controlBlock.flags >> 2) & 7;
    SkipPastData(stream, dataStart, badCodes);

    if (counting) {
        state.counted++;
        return true;
    }
    if (state.imageCounter == info.frame) {
        state.requestedComposed = true;
        return false;
    }
    state.imageCounter++;
    return true;
}

// The frame's own picture: index 0 where the data never reaches, and the colour table in
// force (filled up with white to 256 entries when the frame has a transparent index).
void CxImageGIF::CreateFrame(int32_t width, int32_t height, uint32_t bpp, const ColorTable* table)
{
    if (!Create(uint32_t(width), uint32_t(height), bpp, CXIMAGE_FORMAT_GIF))
        ThrowReadError(info.lastError);
    Clear(0);
    if (!table)
        return;
    if (info.transIndex != -1 && table->size < 256) {
        uint8_t filled[256 * 3];
        std::memcpy(filled, table->entries, size_t(table->size) * 3);
        std::memset(filled + table->size * 3, 255, size_t(256 - table->size) * 3);
        SetPalette(filled, 256);
    } else {
        SetPalette(table->entries, uint32_t(table->size));
    }
}

// The decoded lines go from the top row down, or pass by pass when interlaced.
void CxImageGIF::StartLines(int32_t height, bool interlacedRows)
{
    walkRow = height - 1;
    interlaced = interlacedRows ? 1 : 0;
    interlaceHeight = height;
    interlaceStep = 8;
    interlaceRow = 0;
    interlacePass = 0;
    readPos = READ_AHEAD + 1;
    readLength = 0;
}

void CxImageGIF::PaintOnTileScreen(DecodeState& state, int32_t left, int32_t top)
{
    if (!state.tile) {
        state.tile = std::make_unique<CxImage>();
        state.tile->CopyInfo(*this);
        if (!state.tile->Create(
                uint32_t(state.screenWidth), uint32_t(state.screenHeight), 24, CXIMAGE_FORMAT_GIF))
            ThrowReadError(state.tile->GetLastError());
        // What no tile covers stays black.
        state.tile->Clear(0);
        info.frame = info.numFrames - 1;
    }
    PaintTile(*state.tile, left, top);
}

// The frame laid over the canvas becomes the picture so far.
void CxImageGIF::PlaceOnCanvas(
    DecodeState& state, std::unique_ptr<CxImage> canvas, int32_t left, int32_t top)
{
    Overlay(*canvas, left, top);
    canvas->SetTransparentIndex(state.firstTransIndex);
    canvas->SetPalette(GetPalette(), std::min<uint32_t>(256, GetNumColors()));
    Transfer(*canvas);
}

// Leaves the stream after the frame's data. After bad codes the data can't be trusted to
// end where its blocks say: the next image descriptor is looked for instead, a ',' after a
// zero byte (or right at the start).
void CxImageGIF::SkipPastData(CxStream* stream, int32_t dataStart, int32_t badCodes)
{
    if (badCodes == 0) {
        // Give back the unused read-ahead, and skip the byte after the data (normally the
        // block terminator).
        stream->Seek(readPos - readLength + 1, SEEK_CUR);
        return;
    }
    stream->Seek(dataStart, SEEK_SET);
    int32_t previous = 0;
    for (;;) {
        const int32_t byte = stream->GetC();
        if (byte < 0)
            break;
        if (byte == 0x2C && previous == 0) {
            stream->Seek(-1, SEEK_CUR);
            break;
        }
        previous = byte;
    }
}

// Makes the canvas the frame is composed on: for the first image a fresh screen cleared
// to the transparent index, later the picture so far (cleared when the frame before asked
// for disposal 2).
void CxImageGIF::PrepareCanvas(DecodeState& state, CxImage& canvas, uint32_t bpp)
{
    canvas.CopyInfo(*this);
    if (state.imageCounter == 0 || !IsValid()) {
        if (!canvas.Create(
                uint32_t(state.screenWidth), uint32_t(state.screenHeight), bpp, CXIMAGE_FORMAT_GIF))
            ThrowReadError(canvas.GetLastError());
        state.firstTransIndex = info.transIndex;
        canvas.Clear(controlBlock.transIndex);
        return;
    }

    if (GetBpp() < bpp) {
        // A frame with more colours than the picture so far: widen the canvas first so
        // that no index is cut short.
        if (!canvas.Create(uint32_t(GetWidth()), uint32_t(GetHeight()), bpp, CXIMAGE_FORMAT_GIF))
            ThrowReadError(canvas.GetLastError());
        canvas.SetPalette(GetPalette(), GetNumColors());
        for (int32_t y = 0; y < GetHeight(); y++) {
            for (int32_t x = 0; x < GetWidth(); x++)
                canvas.SetPixelIndex(x, y, GetPixelIndexUnchecked(x, y));
        }
    } else {
        canvas.Copy(*this);
        if (!canvas.IsValid())
            ThrowReadError(canvas.GetLastError());
    }
    // Disposal 2 clears to the first transparent index; a file without one gets its
    // background colour instead of an arbitrary index.
    if (state.previousDisposal == 2)
        canvas.Clear(
            uint8_t(state.firstTransIndex != -1 ? state.firstTransIndex : state.backgroundIndex));
}

// Frame pixels go onto the canvas except where they hold the frame's transparent index.
// Rows are walked through their bytes: a frame may declare hundreds of millions of pixels
// for a few bytes of data, and a call per pixel would keep the reader busy for minutes.
void CxImageGIF::Overlay(CxImage& canvas, int32_t left, int32_t top) const
{
    if (!canvas.IsIndexed())
        return;
    const int32_t canvasHeight = canvas.GetHeight();
    const int32_t firstRow = std::max(0, canvasHeight - top - head.biHeight);
    const int32_t lastRow = canvasHeight - top - 1;
    const int32_t endColumn = std::min(canvas.GetWidth(), left + head.biWidth);
    if (left >= endColumn)
        return;
    const int32_t count = endColumn - left;
    const int32_t transparent = info.transIndex;
    const uint32_t fromBpp = head.biBitCount;
    const uint32_t toBpp = canvas.GetBpp();
    // Without an index the frame can hold as transparent, same-depth rows are copied whole;
    // 1-bit rows on a byte boundary are laid on whole bytes at a time.
    const bool opaque = transparent < 0 || transparent >= (1 << fromBpp);
    const bool aligned = fromBpp == toBpp && (uint64_t(left) * toBpp) % 8 == 0;
    const OverlayRowFunction overlayRow = aligned && opaque ? CopyRow
        : aligned && toBpp == 1                             ? OverlayOneBitRow
                                                            : PickOverlayRow(fromBpp, toBpp);
    for (int32_t y = firstRow; y <= lastRow; y++) {
        const int32_t frameRow = y - firstRow;
        if (frameRow >= head.biHeight)
            break;
        const uint8_t* from = info.pixels + size_t(frameRow) * info.rowStride;
        uint8_t* to = canvas.GetBits() + size_t(y) * canvas.GetRowStride();
        overlayRow(to, from, left, count, toBpp, transparent);
    }
}

// The frame's colours onto the 24-bit screen, row by row: like a frame on a canvas, a
// tile may declare millions of pixels for a few bytes of data. A byte of a 1- or 4-bit
// row holds 8 or 2 pixels, whose colours are looked up for the whole byte at once.
void CxImageGIF::PaintTile(CxImage& screen, int32_t left, int32_t top) const
{
    const uint32_t bpp = head.biBitCount;
    const uint32_t perByte = bpp >= 8 ? 1 : 8 / bpp;
    const uint32_t mask = (1u << std::min<uint32_t>(bpp, 8)) - 1;
    // The colours of every byte value: perByte pixels of 3 bytes each.
    std::vector<uint8_t> byteColours(256 * perByte * 3);
    for (uint32_t value = 0; value < 256; value++) {
        uint8_t* colours = byteColours.data() + value * perByte * 3;
        for (uint32_t k = 0; k < perByte; k++) {
            const RGBQUAD c = GetPaletteColor((value >> (8 - bpp * (k + 1))) & mask);
            colours[3 * k] = c.rgbBlue;
            colours[3 * k + 1] = c.rgbGreen;
            colours[3 * k + 2] = c.rgbRed;
        }
    }
    const int32_t screenHeight = screen.GetHeight();
    const int32_t width = std::max(0, std::min(head.biWidth, screen.GetWidth() - left));
    const size_t wholeBytes = size_t(width) / perByte;
    const size_t restPixels = size_t(width) % perByte;
    for (int32_t y = 0; y < head.biHeight; y++) {
        const int32_t target = screenHeight - 1 - (top + y);
        if (target < 0 || target >= screenHeight)
            continue;
        const uint8_t* from = info.pixels + size_t(head.biHeight - 1 - y) * info.rowStride;
        uint8_t* to = screen.GetBits() + size_t(target) * screen.GetRowStride() + size_t(left) * 3;
        switch (perByte) {
        case 8:
            PaintBytes<8>(to, from, wholeBytes, byteColours.data());
            break;
        case 2:
            PaintBytes<2>(to, from, wholeBytes, byteColours.data());
            break;
        default:
            PaintBytes<1>(to, from, wholeBytes, byteColours.data());
            break;
        }
        to += wholeBytes * perByte * 3;
        if (restPixels)
            std::memcpy(
                to, byteColours.data() + size_t(from[wholeBytes]) * perByte * 3, restPixels * 3);
    }
}

inline int32_t CxImageGIF::NextByte(CxStream* stream)
{
    if (readPos >= READ_AHEAD) {
        readLength = int32_t(stream->Read(readBuffer, 1, READ_AHEAD));
        if (readLength < READ_AHEAD)
            readBuffer[readLength] = 0xFF;
        readPos = 0;
    }
    if (readPos >= readLength)
        return -1;
    return readBuffer[readPos++];
}

// Reads the next data sub-block into readBlock and takes its first byte. A negative
// answer is the end of the data.
int32_t CxImageGIF::ReadCodeBlock(CxStream* stream)
{
    const int32_t size = NextByte(stream);
    if (size < 0)
        return size;
    readBytesLeft = int16_t(size);
    if (readPos + size <= readLength) {
        std::memcpy(readBlock, readBuffer + readPos, size_t(size));
        readPos += size;
    } else {
        for (int32_t i = 0; i < size; i++) {
            const int32_t byte = NextByte(stream);
            if (byte < 0)
                return byte;
            readBlock[i] = uint8_t(byte);
        }
    }
    readBlockPos = readBlock;
    // A zero-size block leaves the count negative, which ends the data for the caller.
    readHeldByte = *readBlockPos;
    if (size > 0)
        readBlockPos++;
    readBytesLeft--;
    return 0;
}

// Takes the next byte of the current data sub-block, reading the next sub-block when the
// current one is used up.
[[gnu::always_inline]] inline int32_t CxImageGIF::FetchCodeByte(CxStream* stream)
{
    if (readBytesLeft <= 0)
        return ReadCodeBlock(stream);
    readHeldByte = *readBlockPos++;
    readBytesLeft--;
    return 0;
}

[[gnu::always_inline]] inline int32_t CxImageGIF::NextCode(CxStream* stream)
{
    if (readBitsLeft == 0) {
        const int32_t result = FetchCodeByte(stream);
        if (result < 0)
            return result;
        readBitsLeft = 8;
    }
    // A zero-size sub-block ends the data.
    if (readBytesLeft < 0)
        return readEndCode;
    uint32_t value = uint32_t(readHeldByte) >> (8 - readBitsLeft);
    while (readCodeBits > readBitsLeft) {
        const int32_t result = FetchCodeByte(stream);
        if (result < 0)
            return result;
        if (readBytesLeft < 0)
            return readEndCode;
        value |= uint32_t(readHeldByte) << readBitsLeft;
        readBitsLeft = int16_t(readBitsLeft + 8);
    }
    readBitsLeft = int16_t(readBitsLeft - readCodeBits);
    return int32_t(value & ((1u << readCodeBits) - 1));
}

// The line the strings are written into; it goes out through OutputLine whenever full.
struct CxImageGIF::LzwLine {
    uint8_t* start;
    uint8_t* end;
    uint8_t* out;
    int32_t Width() const { return int32_t(end - start); }
};

int32_t CxImageGIF::FlushLine(LzwLine& line)
{
    line.out = line.start;
    return OutputLine(line.start, line.Width());
}

int32_t CxImageGIF::PutByte(LzwLine& line, uint8_t byte)
{
    *line.out++ = byte;
    return line.out == line.end ? FlushLine(line) : 0;
}

// Moves the unwound string from the stack into the line, writing out each full line.
int32_t CxImageGIF::PopStack(uint8_t* sp, LzwLine& line)
{
    while (sp > decodeStack) {
        ptrdiff_t take = std::min(sp - decodeStack, line.end - line.out);
        for (; take > 0; take--)
            *line.out++ = *--sp;
        if (line.out == line.end) {
            const int32_t result = FlushLine(line);
            if (result < 0)
                return result;
        }
    }
    return 0;
}

// The code table as a clear code leaves it: the literal codes and the two control codes.
void CxImageGIF::ResetCodes(int32_t size)
{
    readCodeBits = int16_t(size + 1);
    readCodeLimit = int16_t(1 << (size + 1));
    readNextCode = readFirstCode;
}

// The string of the previous code plus `first` becomes the next entry while the table has
// room; the codes grow a bit wider whenever the table reaches their limit.
void CxImageGIF::AddTableEntry(int32_t code, int32_t first, int32_t& oldCode, int32_t& firstByte)
{
    if (readNextCode < readCodeLimit) {
        firstByte = first;
        suffixTable[readNextCode] = uint8_t(first);
        prefixTable[readNextCode] = uint16_t(oldCode);
        stringLength[readNextCode] = uint16_t(StringLength(oldCode) + 1);
        stringRoot[readNextCode]
            = uint16_t(oldCode < readFirstCode ? oldCode : stringRoot[oldCode]);
        readNextCode++;
        oldCode = code;
    }
    if (readNextCode >= readCodeLimit && readCodeBits < 12) {
        readCodeLimit = int16_t(readCodeLimit << 1);
        readCodeBits++;
    }
}

int32_t CxImageGIF::DecodeLzw(CxStream* stream, int32_t lineWidth, int32_t& badCodes)
{
    const int32_t size = NextByte(stream);
    if (size < 0)
        return size;
    if (size < 2 || size > 9)
        return LZW_BAD_CODE_SIZE;

    readClearCode = int16_t(1 << size);
    readEndCode = int16_t(readClearCode + 1);
    readFirstCode = int16_t(readClearCode + 2);
    ResetCodes(size);
    readBytesLeft = 0;
    readBitsLeft = 0;
    std::memset(decodeStack, 0, sizeof(decodeStack));
    std::memset(suffixTable, 0, sizeof(suffixTable));
    std::memset(prefixTable, 0, sizeof(prefixTable));

    std::vector<uint8_t> buffer(size_t(lineWidth) + 1);
    LzwLine line { buffer.data(), buffer.data() + lineWidth, buffer.data() };
    badCodes = 0;
    int32_t oldCode = 0;
    int32_t firstByte = 0;
    int32_t code;
    while ((code = NextCode(stream)) != readEndCode && code >= 0) {
        int32_t result;
        if (code == readClearCode) {
            ResetCodes(size);
            while ((code = NextCode(stream)) == readClearCode) { }
            if (code == readEndCode || code < 0)
                break;
            if (code >= readNextCode)
                code = 0;
            oldCode = firstByte = code;
            result = PutByte(line, uint8_t(code));
        } else if (badCodes == 0 && code <= readNextCode) {
            result = PutKnownString(line, code, oldCode, firstByte);
        } else {
            result = PutUnwoundString(line, code, oldCode, firstByte, badCodes);
        }
        if (result < 0)
            return result;
    }
    // A partly filled line (the end code came early, or the data ended) still counts.
    if (line.out != line.start)
        OutputLine(line.start, int32_t(line.out - line.start));
    return 0;
}

// A sound stream (no code beyond the next free one, so every chain points backwards):
// string lengths come from the tables, and a string that fits the line is written in
// place, last byte first.
int32_t CxImageGIF::PutKnownString(
    LzwLine& line, int32_t code, int32_t& oldCode, int32_t& firstByte)
{
    int32_t length;
    int32_t root;
    if (code < readNextCode) {
        length = StringLength(code);
        root = code < readFirstCode ? code : stringRoot[code];
    } else {
        // The next free code: the old code's string plus its own first byte.
        length = StringLength(oldCode) + 1;
        root = firstByte;
    }
    AddTableEntry(code, root, oldCode, firstByte);

    if (dryRun) {
        // Counting only needs to know when lines are complete.
        int32_t fill = int32_t(line.out - line.start) + length;
        while (fill >= line.Width()) {
            const int32_t result = OutputLine(line.start, line.Width());
            if (result < 0)
                return result;
            fill -= line.Width();
        }
        line.out = line.start + fill;
        return 0;
    }
    // The code's entry exists now (a code equal to the next free one included).
    if (line.end - line.out >= length) {
        uint8_t* p = line.out + length - 1;
        int32_t current = code;
        while (current >= readFirstCode) {
            *p-- = suffixTable[current];
            current = prefixTable[current];
        }
        *p = uint8_t(current);
        line.out += length;
        return line.out == line.end ? FlushLine(line) : 0;
    }
    uint8_t* const stackEnd = decodeStack + TABLE_CODES;
    uint8_t* sp = decodeStack;
    int32_t current = code;
    while (current >= readFirstCode && sp < stackEnd - 1) {
        *sp++ = suffixTable[current];
        current = prefixTable[current];
    }
    *sp++ = uint8_t(current);
    return PopStack(sp, line);
}

// From the first code beyond the table on, each string is unwound through the stack,
// which also bounds the walk of chains that hostile data makes loop.
int32_t CxImageGIF::PutUnwoundString(
    LzwLine& line, int32_t code, int32_t& oldCode, int32_t& firstByte, int32_t& badCodes)
{
    uint8_t* const stackEnd = decodeStack + TABLE_CODES;
    uint8_t* sp = decodeStack;
    int32_t current = code;
    if (current >= readNextCode) {
        // Not yet in the table: the string of the old code plus its own first byte.
        if (current > readNextCode)
            badCodes++;
        *sp++ = uint8_t(firstByte);
        current = oldCode;
    }
    while (current >= readFirstCode) {
        if (sp == stackEnd - 1) {
            badCodes++;
            break;
        }
        *sp++ = suffixTable[current];
        current = prefixTable[current];
    }
    *sp++ = uint8_t(current);
    AddTableEntry(code, current, oldCode, firstByte);
    return PopStack(sp, line);
}

int32_t CxImageGIF::OutputLine(uint8_t* line, int32_t length)
{
    int32_t targetRow;
    if (interlaced) {
        // All four passes done: there is no row left for more data.
        if (interlacePass >= 4)
            return -1;
        targetRow = interlaceHeight - interlaceRow - 1;
        interlaceRow += interlaceStep;
        if (interlaceRow >= interlaceHeight) {
            // A pass that has no row in a short image is passed over, so the next line
            // lands in the first pass that has one.
            do {
                if (interlacePass > 0)
                    interlaceStep /= 2;
                interlacePass++;
                interlaceRow = interlaceStep / 2;
            } while (interlaceRow >= interlaceHeight && interlacePass < 4);
        }
    } else {
        if (walkRow < 0)
            return -1;
        targetRow = walkRow--;
    }
    if (dryRun || targetRow < 0 || targetRow >= head.biHeight)
        return 0;

    uint32_t bytes = uint32_t(length);
    if (head.biBitCount == 4) {
        for (int32_t x = 0; x < length; x += 2) {
            const uint8_t high = uint8_t((line[x] & 0x0F) << 4);
            const uint8_t low = x + 1 < length ? uint8_t(line[x + 1] & 0x0F) : 0;
            line[x / 2] = high | low;
        }
        bytes = uint32_t(length + 1) / 2;
    } else if (head.biBitCount == 1) {
        for (int32_t x = 0; x < length; x += 8) {
            uint8_t packed = 0;
            for (int32_t bit = 0; bit < 8 && x + bit < length; bit++)
                packed |= uint8_t((line[x + bit] & 1) << (7 - bit));
            line[x / 8] = packed;
        }
        bytes = uint32_t(length + 7) / 8;
    }
    std::memcpy(
        GetBits(0) + size_t(targetRow) * info.rowStride, line, std::min(bytes, info.rowStride));
    return 0;
}
