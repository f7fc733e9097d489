// JBIG reader. JBIG-KIT decodes the whole stream; plane 0 becomes a 1-bit image with
// white at index 0 and black at index 1.
#include "CxImageJBG.h"

#include "image/core/CxByteOrder.h"
#include "image/core/CxReadError.h"
#include "image/core/CxStream.h"
#include "platform/Memory.h"

extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t BUFFER_SIZE = 8192;
constexpr size_t HEADER_SIZE = 20; // the bi-level image header (BIH)

class DecoderState {
public:
    DecoderState() { jbg_dec_init(&state); }
    ~DecoderState() { jbg_dec_free(&state); }
    DecoderState(const DecoderState&) = delete;
    DecoderState& operator=(const DecoderState&) = delete;
    jbg_dec_state* Get() { return &state; }

private:
    jbg_dec_state state;
};

// JBIG-KIT ends the process when an allocation fails, so the header's declaration is
// checked here first: every plane, with the lower resolution layers beside it, must fit
// the memory limit.
void CheckDeclaredSize(const uint8_t* header, jbg_dec_state* state)
{
    const uint32_t planes = header[2];
    const uint32_t width = ReadBe32(header + 4);
    const uint32_t height = ReadBe32(header + 8);
    const uint64_t planeBytes = (uint64_t(width) + 7) / 8 * height;
    if (planeBytes * std::max<uint32_t>(planes, 1) * 2 > CXIMAGE_MAX_MEMORY)
        ThrowReadError("Sorry, not enough memory available!");
    jbg_dec_maxsize(state, width, height);
}

} // namespace

CxImageJBG::CxImageJBG() { Startup(CXIMAGE_FORMAT_JBG); }

bool CxImageJBG::Decode(CxStream* stream)
{
    if (!stream)
        return false;
    return RunReader(*this, "Sorry, not enough memory available!", [&] {
        DecoderState decoder;
        std::vector<uint8_t> buffer(BUFFER_SIZE);

        int result = JBG_EAGAIN;
        bool headerChecked = false;
        std::vector<uint8_t> header;
        while (result == JBG_EAGAIN) {
            const uint32_t got = stream->Read(buffer.data(), 1, BUFFER_SIZE);
            if (got == 0)
                break;
            if (!headerChecked) {
                header.insert(header.end(), buffer.begin(),
                    buffer.begin() + std::min<size_t>(got, HEADER_SIZE - header.size()));
                if (header.size() == HEADER_SIZE) {
                    CheckDeclaredSize(header.data(), decoder.Get());
                    headerChecked = true;
                }
            }
            size_t offset = 0;
            while (offset < got && result == JBG_EAGAIN) {
                size_t used = 0;
                result = jbg_dec_in(decoder.Get(), buffer.data() + offset, got - offset, &used);
                if (used == 0 && result == JBG_EAGAIN)
                    break; // nothing taken: feeding the same bytes again would not end
                offset += used;
            }
            // Bytes after the end of the picture are ignored.
        }

        if (stream->Error())
            ThrowReadError("Problem while reading input file");
        if (result == JBG_ENOMEM) {
            platform::NoteAllocationFailure();
            ThrowReadError("Sorry, not enough memory available!");
        }
        if (result != JBG_EOK && result != JBG_EOK_INTR)
            ThrowReadError("Problem with input file");
        if (jbg_dec_getplanes(decoder.Get()) > 1)
            ThrowReadError("cannot decode images with more than 1 plane");

        const unsigned long width = jbg_dec_getwidth(decoder.Get());
        const unsigned long height = jbg_dec_getheight(decoder.Get());
        const uint8_t* plane = jbg_dec_getimage(decoder.Get(), 0);
        if (!plane || width > 0x7FFFFFFF || height > 0x7FFFFFFF
            || !Create(uint32_t(width), uint32_t(height), 1, CXIMAGE_FORMAT_JBG))
            ThrowReadError("Can't allocate memory");
        SetPaletteColor(0, 255, 255, 255);
        SetPaletteColor(1, 0, 0, 0);

        const size_t lineBytes = (width + 7) / 8;
        const size_t copy = std::min<size_t>(lineBytes, info.rowStride);
        for (unsigned long y = 0; y < height; y++)
            std::memcpy(GetBits(uint32_t(height - 1 - y)), plane + y * lineBytes, copy);
    });
}
