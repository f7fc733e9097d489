// The run-length pixel coder of the GIF writer.
#include "GifRunLength.h"

#include "CxImageGIF.h"

namespace {

// This coder fills its data sub-blocks to 255 bytes.
constexpr int32_t RLE_BLOCK_BYTES = 255;

} // namespace

uint32_t GifIntegerSqrt(uint32_t x)
{
    if (x < 2)
        return x;
    uint32_t r = 1;
    for (uint32_t v = x; v != 0; v >>= 2)
        r <<= 1;
    for (;;) {
        const uint32_t v = (x / r + r) / 2;
        if (v == r || v == r + 1)
            return r;
        r = v;
    }
}

uint32_t GifRunCodeCount(uint32_t count, uint32_t budget)
{
    const uint32_t perTable = budget * (budget + 1) / 2;
    uint32_t cost = 0;
    while (count >= perTable) {
        cost += budget;
        count -= perTable;
    }
    if (count > 0) {
        uint32_t n = GifIntegerSqrt(count);
        while (n * (n + 1) >= 2 * count)
            n--;
        while (n * (n + 1) < 2 * count)
            n++;
        cost += n;
    }
    return cost;
}

CxGifRunLengthCoder::CxGifRunLengthCoder(CxImageGIF& gif, CxStream* stream, int32_t initBits)
    : gif(gif)
    , stream(stream)
    , runPixel(-1)
    , runCount(0)
    , tablePixel(-1)
    , longestTableRun(0)
    , freshTable(1)
    , codeWidth(initBits)
    , codeWidthStart(initBits)
    , codesSinceClear(0)
    , bitBuffer(0)
    , bitCount(0)
    , block {}
    , blockLength(0)
{
    clearCode = 1 << (codeWidthStart - 1);
    endCode = clearCode + 1;
    firstRunCode = clearCode + 2;
    nextWidthAtStart = clearCode - 1;
    forcedClearAtStart = codeWidthStart > 3 ? clearCode - 2 : 9;
    codeBudget = 4093 - clearCode;
    nextWidthAt = nextWidthAtStart;
    forcedClearAt = forcedClearAtStart;
}

void CxGifRunLengthCoder::Run()
{
    ResetAfterClear();
    SendRaw(clearCode);
    for (;;) {
        const int32_t pixel = gif.NextPixel();
        if (runCount > 0 && pixel != runPixel)
            FlushRun();
        if (pixel == -1)
            break;
        if (pixel == runPixel) {
            runCount++;
        } else {
            runPixel = pixel;
            runCount = 1;
        }
    }
    SendRaw(endCode);
    if (bitCount > 0)
        AppendByte(uint8_t(bitBuffer & 0xFF));
    if (blockLength > 0)
        WriteBlock();
}

void CxGifRunLengthCoder::ResetAfterClear()
{
    codeWidth = codeWidthStart;
    nextWidthAt = nextWidthAtStart;
    forcedClearAt = forcedClearAtStart;
    codesSinceClear = 0;
    longestTableRun = 0;
    freshTable = 1;
}

void CxGifRunLengthCoder::SendRaw(int32_t code)
{
    bitBuffer |= uint32_t(code) << bitCount;
    bitCount += codeWidth;
    while (bitCount >= 8) {
        AppendByte(uint8_t(bitBuffer & 0xFF));
        bitBuffer >>= 8;
        bitCount -= 8;
    }
}

void CxGifRunLengthCoder::SendClear()
{
    SendRaw(clearCode);
    ResetAfterClear();
}

// A code that the decoder also turns into a table entry: the width grows with the table,
// and a clear is forced before the table outgrows what this coder tracks.
void CxGifRunLengthCoder::SendPlain(int32_t code)
{
    freshTable = 0;
    SendRaw(code);
    codesSinceClear++;
    if (codesSinceClear >= nextWidthAt) {
        codeWidth++;
        nextWidthAt += 1 << (codeWidth - 1);
    }
    if (codesSinceClear >= forcedClearAt)
        SendClear();
}

void CxGifRunLengthCoder::AppendByte(uint8_t byte)
{
    block[blockLength++] = byte;
    if (blockLength >= RLE_BLOCK_BYTES)
        WriteBlock();
}

void CxGifRunLengthCoder::WriteBlock()
{
    stream->PutC(blockLength);
    stream->Write(block, 1, uint32_t(blockLength));
    blockLength = 0;
}

void CxGifRunLengthCoder::FlushRun()
{
    const int32_t count = runCount;
    runCount = 0;
    if (count == 1)
        SendPlain(runPixel);
    else if (freshTable)
        EmitRunAfterClear(count);
    else if (longestTableRun >= 2 && tablePixel == runPixel)
        EmitRunFromTable(count);
    else
        EmitRunByCost(count);
}

// Right after a clear the decoder's next entries are runs of 1, 2, 3, ... of this pixel.
void CxGifRunLengthCoder::EmitRunAfterClear(int32_t count)
{
    forcedClearAt = codeBudget;
    tablePixel = runPixel;
    int32_t n = 1;
    while (count > 0) {
        if (n == 1) {
            longestTableRun = 1;
            SendPlain(runPixel);
            count--;
        } else if (count >= n) {
            longestTableRun = n;
            SendPlain(firstRunCode + n - 2);
            count -= n;
        } else if (count == 1) {
            longestTableRun++;
            SendPlain(runPixel);
            count = 0;
        } else {
            longestTableRun++;
            SendPlain(firstRunCode + count - 2);
            count = 0;
        }
        n = codesSinceClear == 0 ? 1 : n + 1;
    }
    RestoreClearLimit();
}

void CxGifRunLengthCoder::RestoreClearLimit()
{
    forcedClearAt = forcedClearAtStart;
    if (codesSinceClear >= forcedClearAt)
        SendClear();
}

void CxGifRunLengthCoder::EmitRunByCost(int32_t count)
{
    const uint32_t cost = 1 + GifRunCodeCount(uint32_t(count), uint32_t(codeBudget));
    if (cost < uint32_t(count)) {
        SendClear();
        EmitRunAfterClear(count);
    } else {
        for (int32_t i = 0; i < count; i++)
            SendPlain(runPixel);
    }
}

void CxGifRunLengthCoder::EmitRunFromTable(int32_t count)
{
    int32_t reps = count / longestTableRun;
    int32_t left = count % longestTableRun;
    uint32_t extra = left > 0 ? 1 : 0;
    if (codesSinceClear + reps + int32_t(extra) > codeBudget) {
        reps = codeBudget - codesSinceClear;
        left = count - reps * longestTableRun;
        extra = 1 + GifRunCodeCount(uint32_t(left), uint32_t(codeBudget));
    }
    if (1 + GifRunCodeCount(uint32_t(count), uint32_t(codeBudget)) < uint32_t(reps) + extra) {
        SendClear();
        EmitRunAfterClear(count);
        return;
    }
    forcedClearAt = codeBudget;
    for (int32_t i = 0; i < reps; i++)
        SendPlain(firstRunCode + longestTableRun - 2);
    if (left > 0) {
        if (freshTable)
            EmitRunAfterClear(left);
        else if (left == 1)
            SendPlain(runPixel);
        else
            SendPlain(firstRunCode + left - 2);
    }
    RestoreClearLimit();
}
