// The run-length pixel coder of the GIF writer. It sends an ordinary LZW code stream, but
// picks only codes whose meaning it can predict from the table a decoder grows: a run of
// equal pixels goes out as codes for runs of 1, 2, 3, ... pixels, and once those codes
// exist they serve later runs of the same pixel.
#pragma once

#include <cstdint>

class CxImageGIF;
class CxStream;

// Integer square root by Newton steps (rounded down).
uint32_t GifIntegerSqrt(uint32_t x);
// Codes needed to send a run of count pixels from a fresh table with budget codes free.
uint32_t GifRunCodeCount(uint32_t count, uint32_t budget);

class CxGifRunLengthCoder {
public:
    CxGifRunLengthCoder(CxImageGIF& gif, CxStream* stream, int32_t initBits);
    // Codes every pixel of the frame's walker, then the end code.
    void Run();

private:
    void ResetAfterClear();
    void SendRaw(int32_t code);
    void SendPlain(int32_t code);
    void SendClear();
    void AppendByte(uint8_t byte);
    void WriteBlock();
    void FlushRun();
    void EmitRunAfterClear(int32_t count);
    void EmitRunByCost(int32_t count);
    void EmitRunFromTable(int32_t count);
    void RestoreClearLimit();

    CxImageGIF& gif;
    CxStream* stream;
    int32_t runPixel;
    int32_t firstRunCode;
    int32_t runCount;
    int32_t tablePixel;
    int32_t longestTableRun;
    int32_t freshTable;
    int32_t codeWidth;
    int32_t codeWidthStart;
    int32_t codesSinceClear;
    int32_t nextWidthAt;
    int32_t nextWidthAtStart;
    int32_t forcedClearAt;
    int32_t forcedClearAtStart;
    int32_t codeBudget;
    int32_t clearCode;
    int32_t endCode;
    uint32_t bitBuffer;
    int32_t bitCount;
    uint8_t block[256];
    int32_t blockLength;
};
