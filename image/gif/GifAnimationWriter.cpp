// The frame-at-a-time GIF writer.
#include "GifAnimationWriter.h"

#include "CxImageGIF.h"
#include "platform/Memory.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The image descriptor: separator, left, top, width, height, then the packed byte.
constexpr size_t DESCRIPTOR_BYTES = 10;

size_t TableBytes(uint8_t bpp) { return size_t(3) << bpp; }

} // namespace

void PutGifLoopBlock(CxStream* stream, int32_t loops)
{
    const uint16_t repeat = uint16_t(std::max(loops - 1, 0));
    const uint8_t block[19] = { 0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.',
        '0', 0x03, 0x01, uint8_t(repeat & 0xFF), uint8_t(repeat >> 8), 0x00 };
    stream->Write(block, 1, sizeof(block));
}

void PutGifComment(CxStream* stream, const char* text)
{
    const size_t length = strnlen(text, 255);
    const uint8_t start[3] = { 0x21, 0xFE, uint8_t(length) };
    stream->Write(start, 1, sizeof(start));
    stream->Write(text, 1, uint32_t(length));
    stream->PutC(0x00);
}

bool CodeGifFrame(CxImage& frame, GifCodedFrame& coded, std::string* why)
{
    const auto fail = [why](const char* reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (const char* problem = GifFrameProblem(&frame))
        return fail(problem);
    try {
        // The coder is large (its tables), so it lives on the heap; it only borrows the
        // frame's buffers.
        auto coder = std::make_unique<CxImageGIF>();
        coder->ShareBuffers(&frame);
        CxMemStream block;
        coder->EncodeImageBlock(&block, true);
        if (coder->writeFailed || block.Error() != 0) {
            platform::NoteAllocationFailure();
            return fail(platform::OUT_OF_MEMORY_TEXT);
        }
        coded.width = uint16_t(frame.GetWidth());
        coded.height = uint16_t(frame.GetHeight());
        coded.bpp = uint8_t(frame.GetBpp());
        coded.transIndex = frame.GetTransparentIndex();
        coded.block = block.TakeBuffer();
        coded.block.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        return fail(platform::OUT_OF_MEMORY_TEXT);
    }
    return true;
}

std::unique_ptr<CxImage> DecodeGifFrame(const GifCodedFrame& coded)
{
    try {
        // A file of this frame alone: a screen of its size without a table of its own.
        std::vector<uint8_t> file = { 'G', 'I', 'F', '8', '9', 'a', uint8_t(coded.width & 0xFF),
            uint8_t(coded.width >> 8), uint8_t(coded.height & 0xFF), uint8_t(coded.height >> 8), 0,
            0, 0 };
        if (coded.transIndex != -1) {
            const uint8_t control[8]
                = { 0x21, 0xF9, 0x04, 0x01, 0, 0, uint8_t(coded.transIndex & 0xFF), 0x00 };
            file.insert(file.end(), control, control + sizeof(control));
        }
        file.insert(file.end(), coded.block.begin(), coded.block.end());
        file.push_back(';');
        CxMemStream stream(file.data(), file.size());
        auto gif = std::make_unique<CxImageGIF>();
        if (!gif->Decode(&stream) || !gif->IsValid())
            return nullptr;
        auto frame = std::make_unique<CxImage>();
        frame->Transfer(*gif);
        return frame;
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        return nullptr;
    }
}

GifAnimationWriter::GifAnimationWriter(
    CxStream* stream, const char* comment, int32_t loops, int32_t disposal)
    : stream(stream)
    , comment(comment ? std::string(comment, strnlen(comment, 255)) : std::string())
    , loops(loops)
    , disposal(disposal)
{
}

void GifAnimationWriter::Put(const void* bytes, size_t size)
{
    if (!failed && size > 0 && stream->Write(bytes, 1, uint32_t(size)) != size)
        failed = true;
}

bool GifAnimationWriter::Add(const GifCodedFrame& frame, uint32_t frameDelay)
{
    if (!stream || failed)
        return false;
    const size_t table = TableBytes(frame.bpp);
    if (frame.bpp < 1 || frame.bpp > 8 || frame.block.size() < DESCRIPTOR_BYTES + table + 2) {
        failed = true;
        return false;
    }
    const uint8_t* block = frame.block.data();
    const uint8_t* colours = block + DESCRIPTOR_BYTES;
    if (frames == 0) {
        // The logical screen is the first frame's size, its table the global one.
        const uint8_t bits = uint8_t(frame.bpp - 1);
        const uint8_t header[13] = { 'G', 'I', 'F', '8', '9', 'a', uint8_t(frame.width & 0xFF),
            uint8_t(frame.width >> 8), uint8_t(frame.height & 0xFF), uint8_t(frame.height >> 8),
            uint8_t(0x80 | (bits << 5) | bits), 0, 0 };
        Put(header, sizeof(header));
        Put(colours, table);
        if (loops != 1)
            PutGifLoopBlock(stream, loops);
    }
    const uint16_t delay = uint16_t(frameDelay & 0xFFFF);
    const uint8_t control[8]
        = { 0x21, 0xF9, 0x04, uint8_t(((disposal << 2) & 0x1F) | (frame.transIndex != -1 ? 1 : 0)),
              uint8_t(delay & 0xFF), uint8_t(delay >> 8), uint8_t(frame.transIndex & 0xFF), 0x00 };
    Put(control, sizeof(control));
    if (frames == 0) {
        if (!comment.empty())
            PutGifComment(stream, comment.c_str());
        // The first frame uses the global table: its descriptor says so and its own goes.
        uint8_t descriptor[DESCRIPTOR_BYTES];
        std::memcpy(descriptor, block, DESCRIPTOR_BYTES - 1);
        descriptor[DESCRIPTOR_BYTES - 1] = 0x00;
        Put(descriptor, sizeof(descriptor));
        Put(colours + table, frame.block.size() - DESCRIPTOR_BYTES - table);
    } else {
        Put(block, frame.block.size());
    }
    frames++;
    if (stream->Error() != 0)
        failed = true;
    return !failed;
}

bool GifAnimationWriter::End()
{
    if (!stream || frames == 0 || failed)
        return false;
    const uint8_t trailer = ';';
    Put(&trailer, 1);
    stream->Flush();
    if (stream->Error() != 0)
        failed = true;
    return !failed;
}
