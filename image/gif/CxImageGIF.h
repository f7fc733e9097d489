// The GIF codec: an animated GIF89a writer (LZW, plain codes or run lengths) and a reader
// that composes the requested frame over the ones before it on the logical screen.
// Format reference: https://www.w3.org/Graphics/GIF/spec-gif89a.txt
#pragma once

#include "image/core/CxImage.h"
#include "image/core/CxStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CxGifRunLengthCoder;
struct GifCodedFrame;

// The graphic control block as it is stored in the file (after the 0x04 size byte).
#pragma pack(push, 1)
struct CxGifControlBlock {
    uint8_t flags;
    uint16_t delay;
    uint8_t transIndex;
};
#pragma pack(pop)
static_assert(sizeof(CxGifControlBlock) == 4);

// Values of the GIF format option (GetFormatOption(CXIMAGE_FORMAT_GIF)) of a frame.
enum : uint32_t {
    CXIMAGE_GIF_LZW = 0,
    CXIMAGE_GIF_PLAIN_CODES = 1,
    CXIMAGE_GIF_RUN_LENGTH = 2,
};

// Why a frame cannot be written (it has no palette, or a side above 65535), or null.
const char* GifFrameProblem(const CxImage* frame);

class CxImageGIF : public CxImage {
public:
    CxImageGIF();

    // Reads the frame info.frame of a GIF87a/GIF89a file, composed on the logical screen.
    bool Decode(CxStream* stream);
    // Writes count indexed frames as one GIF89a file; frames 2.. carry their own colour
    // table when localColorMap is set.
    bool Encode(CxStream* stream, CxImage** frames, int count, bool localColorMap);
    // Writes a file that a viewer shows exactly as the one Encode(..., true) writes, as
    // small as it can: each later frame only where the screen changes, unchanged pixels
    // transparent where that codes shorter, colour tables cut to the colours drawn, and
    // each frame's disposal chosen to suit the next. Falls back to Encode when a frame's
    // colours can't be put in one table.
    bool EncodeOptimized(CxStream* stream, CxImage** frames, int count);

    void SetComment(const char* text);
    const char* GetComment() const { return comment; }
    void SetLoops(int32_t n) { loops = n; }
    int32_t GetLoops() const { return loops; }
    void SetDisposalMethod(int32_t n) { disposalMethod = n; }
    // Threads that code a large animation's frames at once; 0 = one per processor core.
    void SetThreads(unsigned n) { threadCount = n; }
    int32_t GetDisposalMethod() const { return disposalMethod; }
    const CxGifControlBlock& GetControlBlock() const { return controlBlock; }
    // Told as the writers get on, after each frame (frames done, frames in all); an
    // answer of false stops the writing, which then fails with the error "Cancelled".
    void SetFrameProgress(std::function<bool(int done, int count)> progress)
    {
        frameProgress = std::move(progress);
    }

private:
    friend class CxGifRunLengthCoder;
    friend bool CodeGifFrame(CxImage& frame, GifCodedFrame& coded, std::string* why);
    struct ColorTable;
    struct DecodeState;
    struct LzwLine;

    // --- writer ------------------------------------------------------------------------
    void EncodeHeader(CxStream* stream);
    void EncodeLoopBlock(CxStream* stream, int32_t repeatLoops);
    void EncodeControlBlock(CxStream* stream, int32_t frameDisposal);
    void EncodeComment(CxStream* stream, const char* text);
    void EncodeImageBlock(CxStream* stream, bool localColorTable);
    void WriteColorTable(CxStream* stream);
    void StartWalker();
    int32_t NextPixel()
    {
        if (pixelsLeft == 0)
            return -1;
        --pixelsLeft;
        const int32_t pixel = GetPixelIndexUnchecked(walkColumn, walkRow);
        if (++walkColumn == head.biWidth) {
            walkColumn = 0;
            --walkRow;
        }
        return pixel;
    }
    void CompressLzw(int32_t initBits, CxStream* stream);
    void CompressPlain(int32_t initBits, CxStream* stream);
    void StartCodes(int32_t initBits, CxStream* stream);
    void SendCode(int32_t code);
    void AppendByte(uint8_t byte);
    void WriteBlock();

    // --- reader ------------------------------------------------------------------------
    void DecodeFrames(CxStream* stream, DecodeState& state);
    void ScanBlocks(CxStream* stream, DecodeState& state, ColorTable& table, bool counting);
    bool ReadExtension(CxStream* stream);
    bool ReadImage(CxStream* stream, DecodeState& state, ColorTable& table, bool counting);
    void PrepareCanvas(DecodeState& state, CxImage& canvas, uint32_t bpp);
    void CreateFrame(int32_t width, int32_t height, uint32_t bpp, const ColorTable* table);
    void StartLines(int32_t height, bool interlacedRows);
    void PaintOnTileScreen(DecodeState& state, int32_t left, int32_t top);
    void PlaceOnCanvas(
        DecodeState& state, std::unique_ptr<CxImage> canvas, int32_t left, int32_t top);
    void SkipPastData(CxStream* stream, int32_t dataStart, int32_t badCodes);
    int32_t NextByte(CxStream* stream);
    int32_t NextCode(CxStream* stream);
    int32_t FetchCodeByte(CxStream* stream);
    int32_t ReadCodeBlock(CxStream* stream);
    int32_t DecodeLzw(CxStream* stream, int32_t lineWidth, int32_t& badCodes);
    void ResetCodes(int32_t size);
    void AddTableEntry(int32_t code, int32_t first, int32_t& oldCode, int32_t& firstByte);
    int32_t StringLength(int32_t code) const
    {
        return code < readFirstCode ? 1 : stringLength[code];
    }
    int32_t PutKnownString(LzwLine& line, int32_t code, int32_t& oldCode, int32_t& firstByte);
    int32_t PutUnwoundString(
        LzwLine& line, int32_t code, int32_t& oldCode, int32_t& firstByte, int32_t& badCodes);
    int32_t PutByte(LzwLine& line, uint8_t byte);
    int32_t FlushLine(LzwLine& line);
    int32_t PopStack(uint8_t* sp, LzwLine& line);
    int32_t OutputLine(uint8_t* line, int32_t length);
    void Overlay(CxImage& canvas, int32_t left, int32_t top) const;
    void PaintTile(CxImage& screen, int32_t left, int32_t top) const;

    CxGifControlBlock controlBlock;

    // pixel walker (writer) and line position (reader)
    int32_t walkColumn;
    int32_t walkRow;
    int32_t pixelsLeft;
    uint32_t bitAccumulator;
    int32_t bitsHeld;

    // decoder
    int32_t interlaced;
    int32_t interlaceRow;
    int32_t interlaceStep;
    int32_t interlaceHeight;
    int32_t interlacePass;
    int32_t readPos;
    int32_t readLength;
    uint8_t readBuffer[16384];
    int16_t readCodeBits;
    int16_t readClearCode;
    int16_t readEndCode;
    int16_t readFirstCode;
    int16_t readCodeLimit;
    int16_t readNextCode;
    int16_t readBytesLeft;
    int16_t readBitsLeft;
    uint8_t readHeldByte;
    uint8_t readBlock[257];
    uint8_t* readBlockPos;
    uint8_t decodeStack[4096];
    uint8_t suffixTable[4096];
    uint16_t prefixTable[4096];
    // Length and first code of each code's string, so that counting frames can follow a
    // sound code stream without unwinding its strings.
    uint16_t stringLength[4096];
    uint16_t stringRoot[4096];

    // encoder
    int32_t hashKeys[5003];
    uint16_t hashCodes[5003];
    int32_t codeBits;
    int16_t maxCode;
    int16_t nextCode;
    int32_t clearPending;
    int32_t startBits;
    CxStream* outStream;
    int32_t clearCode;
    int32_t endCode;
    int32_t blockFill;
    uint8_t blockBuffer[256];
    char comment[256];
    int32_t loops;
    int32_t disposalMethod;

    // While counting frames the decoded lines are only checked, not stored.
    bool dryRun;
    // Set when a write to the output failed.
    bool writeFailed;
    std::function<bool(int, int)> frameProgress;
    unsigned threadCount;
};
