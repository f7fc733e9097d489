// The GIF writer: one GIF89a file from a list of indexed frames, with LZW, plain-code or
// run-length pixel data.
#include "CxImageGIF.h"

#include "GifBlocks.h"
#include "GifRunLength.h"
#include "platform/Memory.h"
#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int32_t HASH_SLOTS = 5003;
constexpr int32_t HASH_SHIFT = 4;
constexpr int32_t MAX_CODES = 4096;
// LZW and plain-code data go out in sub-blocks of at most this many bytes.
constexpr int32_t LZW_BLOCK_BYTES = 254;

using gifblocks::PutWord;

} // namespace

const char* GifFrameProblem(const CxImage* frame)
{
    if (!frame->IsValid() || !frame->IsIndexed() || frame->GetBpp() > 8)
        return "GIF frame has no palette: only 1, 4 and 8-bit images can be written";
    if (frame->GetWidth() > 0xFFFF || frame->GetHeight() > 0xFFFF)
        return "GIF frame is larger than 65535 pixels";
    return nullptr;
}

CxImageGIF::CxImageGIF()
    : CxImage(CXIMAGE_FORMAT_GIF)
    , controlBlock {}
    , walkColumn(0)
    , walkRow(0)
    , pixelsLeft(0)
    , bitAccumulator(0)
    , bitsHeld(0)
    , interlaced(0)
    , interlaceRow(0)
    , interlaceStep(0)
    , interlaceHeight(0)
    , interlacePass(0)
    , readPos(0)
    , readLength(0)
    , readBuffer {}
    , readCodeBits(0)
    , readClearCode(0)
    , readEndCode(0)
    , readFirstCode(0)
    , readCodeLimit(0)
    , readNextCode(0)
    , readBytesLeft(0)
    , readBitsLeft(0)
    , readHeldByte(0)
    , readBlock {}
    , readBlockPos(readBlock)
    , decodeStack {}
    , suffixTable {}
    , prefixTable {}
    , stringLength {}
    , stringRoot {}
    , hashKeys {}
    , hashCodes {}
    , codeBits(0)
    , maxCode(0)
    , nextCode(0)
    , clearPending(0)
    , startBits(0)
    , outStream(nullptr)
    , clearCode(0)
    , endCode(0)
    , blockFill(0)
    , blockBuffer {}
    , comment {}
    , loops(0)
    , disposalMethod(0)
    , dryRun(false)
    , writeFailed(false)
    , threadCount(0)
{
}

void CxImageGIF::SetComment(const char* text)
{
    if (!text)
        return;
    const size_t length = strnlen(text, 255);
    std::memcpy(comment, text, length);
    comment[length] = '\0';
}

namespace {
// Below this many pixels in all frames, coding them on one thread costs less than starting
// others.
constexpr uint64_t PARALLEL_CODING_PIXELS = 1u << 20;
constexpr uint64_t WINDOW_PIXELS = 1u << 23;
} // namespace

bool CxImageGIF::Encode(CxStream* stream, CxImage** frames, int count, bool localColorMap)
{
    if (!stream) {
        SetLastError("invalid file pointer");
        return false;
    }
    if (!frames || count <= 0 || !frames[0]) {
        SetLastError("multipage GIF, no images!");
        return false;
    }
    // A frame that cannot be written is refused before anything goes out, so no broken
    // file is left behind. (Missing frames are found in their turn.)
    for (int k = 0; k < count; k++) {
        if (!frames[k])
            continue;
        if (const char* problem = GifFrameProblem(frames[k])) {
            char text[256];
            std::snprintf(text, sizeof(text), "%s (frame %d)", problem, k + 1);
            SetLastError(text);
            return false;
        }
    }

    // Frames up to the first missing one go out. Each one's image block depends on that
    // frame alone, so a large animation codes a few blocks at a time on several threads,
    // into memory, and writes them in order.
    int present = 0;
    uint64_t pixels = 0;
    while (present < count && frames[present]) {
        pixels += uint64_t(frames[present]->GetWidth()) * frames[present]->GetHeight();
        present++;
    }
    const unsigned threads = pixels < PARALLEL_CODING_PIXELS
        ? 1
        : std::clamp(platform::ThreadsFor(threadCount), 1u, unsigned(std::max(present, 1)));
    // A window of frames of some eight million pixels in all is coded at once: the
    // threads meet seldom, and memory holds only that much of the file.
    const uint64_t framePixels = std::max<uint64_t>(pixels / uint64_t(std::max(present, 1)), 1);
    const int window = int(
        std::min<uint64_t>(std::max<uint64_t>(WINDOW_PIXELS / framePixels, uint64_t(threads) * 2),
            uint64_t(std::max(present, 1))));
    std::vector<std::unique_ptr<CxMemStream>> blocks(size_t(std::max(present, 1)));
    bool blocksFailed = false;
    std::atomic<bool> outOfMemory { false };
    // Codes the blocks of the frames from the first one not coded yet up to `to`.
    int coded = 0;
    const auto codeUpTo = [&](int to) {
        const int from = coded;
        if (to <= from)
            return;
        std::atomic<int> next { from };
        std::atomic<bool> failed { false };
        const auto code = [&] {
            try {
                // The working object only borrows each frame's buffers in turn.
                CxImageGIF coder;
                for (int k; (k = next++) < to;) {
                    blocks[size_t(k)] = std::make_unique<CxMemStream>();
                    coder.ShareBuffers(frames[k]);
                    coder.EncodeImageBlock(blocks[size_t(k)].get(), k > 0 && localColorMap);
                }
                if (coder.writeFailed)
                    failed = true;
            } catch (const std::bad_alloc&) {
                failed = true;
                outOfMemory = true;
            }
        };
        // Helpers as the system lets start; the calling thread codes too.
        platform::ThreadGroup helpers;
        helpers.StartUpTo(size_t(std::min<int>(int(threads) - 1, to - from - 1)), code);
        code();
        helpers.JoinAll();
        blocksFailed = blocksFailed || failed;
        coded = to;
    };
    const auto writeBlock = [&](int k) {
        if (k >= coded)
            codeUpTo(std::min(present, k + window));
        std::unique_ptr<CxMemStream> block = std::move(blocks[size_t(k)]);
        if (!block || stream->Write(block->Data(), 1, uint32_t(block->Length())) != block->Length())
            blocksFailed = true;
    };

    auto work = std::make_unique<CxImageGIF>();
    work->ShareBuffers(frames[0]);
    work->EncodeHeader(stream);
    if (loops != 1)
        work->EncodeLoopBlock(stream, loops);
    work->EncodeControlBlock(stream, disposalMethod);
    if (comment[0])
        work->EncodeComment(stream, comment);
    writeBlock(0);
    const auto goOn = [&](int done) { return !frameProgress || frameProgress(done, count); };
    if (!goOn(1)) {
        SetLastError("Cancelled");
        return false;
    }

    bool result = true;
    for (int k = 1; k < count; k++) {
        if (!frames[k]) {
            SetLastError("Bad image pointer");
            result = false;
            break;
        }
        work->ShareBuffers(frames[k]);
        work->EncodeControlBlock(stream, disposalMethod);
        writeBlock(k);
        if (!goOn(k + 1)) {
            SetLastError("Cancelled");
            return false;
        }
    }
    if (result)
        stream->PutC(';');

    // A file that could not be written completely is a failure, not a success.
    stream->Flush();
    if (outOfMemory) {
        platform::NoteAllocationFailure();
        SetLastError(platform::OUT_OF_MEMORY_TEXT);
        return false;
    }
    if (work->writeFailed || blocksFailed || stream->Error() != 0) {
        SetLastError("Write Error in GIF file");
        return false;
    }
    return result;
}

void CxImageGIF::EncodeHeader(CxStream* stream)
{
    const int32_t bpp = head.biBitCount;
    gifblocks::Header(
        stream, head.biWidth, head.biHeight, uint8_t((0x80 | ((bpp - 1) << 5) | (bpp - 1)) & 0xFF));
    WriteColorTable(stream);
}

void CxImageGIF::EncodeLoopBlock(CxStream* stream, int32_t repeatLoops)
{
    stream->PutC(0x21);
    stream->PutC(0xFF);
    stream->PutC(0x0B);
    stream->Write("NETSCAPE2.0", 11, 1);
    stream->PutC(0x03);
    stream->PutC(0x01);
    PutWord(stream, std::max(repeatLoops - 1, 0));
    stream->PutC(0x00);
}

void CxImageGIF::EncodeControlBlock(CxStream* stream, int32_t frameDisposal)
{
    controlBlock.flags = uint8_t(((frameDisposal << 2) & 0x1F) | (info.transIndex != -1 ? 1 : 0));
    controlBlock.delay = uint16_t(info.frameDelay & 0xFFFF);
    controlBlock.transIndex = uint8_t(info.transIndex & 0xFF);
    gifblocks::GraphicControl(
        stream, controlBlock.flags, controlBlock.delay, controlBlock.transIndex);
}

void CxImageGIF::EncodeComment(CxStream* stream, const char* text)
{
    const size_t length = strnlen(text, 255);
    stream->PutC(0x21);
    stream->PutC(0xFE);
    stream->PutC(int(length));
    stream->Write(text, 1, uint32_t(length));
    stream->PutC(0x00);
}

// Writes the colour table of the current frame: always 2^bpp entries (the size the flags
// announce), so a palette shorter than that is padded with black.
void CxImageGIF::WriteColorTable(CxStream* stream)
{
    const uint32_t entries = 1u << head.biBitCount;
    const uint32_t present = std::min(entries, head.biClrUsed);
    const RGBQUAD* palette = GetPalette();
    uint8_t table[256 * 3] = {};
    for (uint32_t i = 0; i < present; i++) {
        table[3 * i] = palette[i].rgbRed;
        table[3 * i + 1] = palette[i].rgbGreen;
        table[3 * i + 2] = palette[i].rgbBlue;
    }
    stream->Write(table, 1, entries * 3);
}

void CxImageGIF::EncodeImageBlock(CxStream* stream, bool localColorTable)
{
    const int32_t bpp = head.biBitCount;
    gifblocks::ImageDescriptor(stream, info.xOffset, info.yOffset, head.biWidth, head.biHeight,
        uint8_t(localColorTable ? 0x80 | (bpp - 1) : 0x00));
    if (localColorTable)
        WriteColorTable(stream);

    const int32_t minimumCodeSize = bpp <= 1 ? 2 : bpp;
    stream->PutC(minimumCodeSize);

    StartWalker();
    switch (GetFormatOption(CXIMAGE_FORMAT_GIF)) {
    case CXIMAGE_GIF_PLAIN_CODES:
        CompressPlain(minimumCodeSize + 1, stream);
        break;
    case CXIMAGE_GIF_RUN_LENGTH: {
        CxGifRunLengthCoder coder(*this, stream, minimumCodeSize + 1);
        coder.Run();
        break;
    }
    default:
        CompressLzw(minimumCodeSize + 1, stream);
        break;
    }
    stream->PutC(0x00);
}

void CxImageGIF::StartWalker()
{
    walkColumn = 0;
    walkRow = head.biHeight - 1;
    pixelsLeft = head.biWidth * head.biHeight;
}

void CxImageGIF::StartCodes(int32_t initBits, CxStream* stream)
{
    outStream = stream;
    startBits = initBits;
    codeBits = startBits;
    maxCode = int16_t((1 << codeBits) - 1);
    clearCode = 1 << (startBits - 1);
    endCode = clearCode + 1;
    nextCode = int16_t(clearCode + 2);
    clearPending = 0;
    bitAccumulator = 0;
    bitsHeld = 0;
    blockFill = 0;
}

void CxImageGIF::SendCode(int32_t code)
{
    bitAccumulator &= (1u << bitsHeld) - 1;
    if (bitsHeld > 0)
        bitAccumulator |= uint32_t(code) << bitsHeld;
    else
        bitAccumulator = uint32_t(code);
    bitsHeld += codeBits;
    while (bitsHeld >= 8) {
        AppendByte(uint8_t(bitAccumulator & 0xFF));
        bitAccumulator >>= 8;
        bitsHeld -= 8;
    }

    if (nextCode > maxCode || clearPending) [[unlikely]] {
        if (clearPending) {
            codeBits = startBits;
            maxCode = int16_t((1 << codeBits) - 1);
            clearPending = 0;
        } else {
            ++codeBits;
            maxCode = int16_t(codeBits == 12 ? MAX_CODES : (1 << codeBits) - 1);
        }
    }

    if (code == endCode) [[unlikely]] {
        [this]() __attribute__((noinline))
        {
            while (bitsHeld > 0) {
                AppendByte(uint8_t(bitAccumulator & 0xFF));
                bitAccumulator >>= 8;
                bitsHeld -= 8;
            }
            if (blockFill > 0)
                WriteBlock();
            outStream->Flush();
            if (outStream->Error() != 0)
                writeFailed = true;
        }
        ();
    }
}

void CxImageGIF::CompressLzw(int32_t initBits, CxStream* stream)
{
    StartCodes(initBits, stream);
    std::fill(hashKeys, hashKeys + HASH_SLOTS, -1);
    const auto compress = [this](auto nextPixel) {
        int32_t* const keys = hashKeys;
        uint16_t* const codes = hashCodes;
        int32_t ent = nextPixel();
        SendCode(clearCode);
        int32_t pixel;
        while ((pixel = nextPixel()) != -1) {
            const int32_t key = (pixel << 12) + ent;
            int32_t i = (pixel << HASH_SHIFT) ^ ent;
            if (keys[i] == key) {
                ent = codes[i];
                continue;
            }
            if (keys[i] >= 0) {
                // Double hashing; a slot holding key 0 ends the probe like an empty one.
                const int32_t step = i == 0 ? 1 : HASH_SLOTS - i;
                bool found = false;
                do {
                    i -= step;
                    if (i < 0)
                        i += HASH_SLOTS;
                    if (keys[i] == key) {
                        found = true;
                        break;
                    }
                } while (keys[i] > 0);
                if (found) {
                    ent = codes[i];
                    continue;
                }
            }
            SendCode(ent);
            if (nextCode < MAX_CODES) {
                codes[i] = uint16_t(nextCode++);
                keys[i] = key;
            } else {
                std::fill(keys, keys + HASH_SLOTS, -1);
                nextCode = int16_t(clearCode + 2);
                clearPending = 1;
                SendCode(clearCode);
            }
            ent = pixel;
        }
        SendCode(ent);
        SendCode(endCode);
    };
    if (head.biBitCount != 8 || pixelsLeft <= 0) {
        compress([this] { return NextPixel(); });
        return;
    }
    // Rows of 8 bits are read straight, top row first, as the walker would.
    const int32_t width = head.biWidth;
    int32_t row = head.biHeight - 1;
    const uint8_t* p = info.pixels + size_t(row) * info.rowStride;
    const uint8_t* end = p + width;
    compress([&]() -> int32_t {
        if (p == end) {
            if (row == 0)
                return -1;
            --row;
            p = info.pixels + size_t(row) * info.rowStride;
            end = p + width;
        }
        return *p++;
    });
}

// Every pixel becomes a code of its own; the code width still follows the table that a
// decoder builds, so the result is an ordinary LZW stream.
void CxImageGIF::CompressPlain(int32_t initBits, CxStream* stream)
{
    StartCodes(initBits, stream);
    int32_t ent = NextPixel();
    SendCode(clearCode);
    // The loop runs once per pixel, the last one included.
    while (ent != -1) {
        const int32_t pixel = NextPixel();
        SendCode(ent);
        if (nextCode < MAX_CODES) {
            ++nextCode;
        } else {
            nextCode = int16_t(clearCode + 2);
            clearPending = 1;
            SendCode(clearCode);
        }
        ent = pixel;
    }
    SendCode(endCode);
}

void CxImageGIF::AppendByte(uint8_t byte)
{
    blockBuffer[blockFill++] = byte;
    if (blockFill >= LZW_BLOCK_BYTES)
        WriteBlock();
}

void CxImageGIF::WriteBlock()
{
    outStream->PutC(blockFill);
    outStream->Write(blockBuffer, 1, uint32_t(blockFill));
    blockFill = 0;
}
