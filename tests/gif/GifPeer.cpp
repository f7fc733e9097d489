#include "GifPeer.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>

namespace gifpeer {

namespace {

    struct Source {
        const uint8_t* data;
        size_t size;
        size_t position;
    };

    int ReadSource(GifFileType* gif, GifByteType* buffer, int length)
    {
        auto* source = static_cast<Source*>(gif->UserData);
        const size_t available = source->size - source->position;
        const size_t n = std::min(available, size_t(std::max(length, 0)));
        std::memcpy(buffer, source->data + source->position, n);
        source->position += n;
        return int(n);
    }

    int WriteSink(GifFileType* gif, const GifByteType* buffer, int length)
    {
        auto* sink = static_cast<std::vector<uint8_t>*>(gif->UserData);
        sink->insert(sink->end(), buffer, buffer + length);
        return length;
    }

    std::vector<uint8_t> MapColors(const ColorMapObject* map)
    {
        std::vector<uint8_t> colors;
        if (!map)
            return colors;
        for (int i = 0; i < map->ColorCount; i++) {
            colors.push_back(map->Colors[i].Red);
            colors.push_back(map->Colors[i].Green);
            colors.push_back(map->Colors[i].Blue);
        }
        return colors;
    }

    ColorMapObject* MakeMap(int bpp, const std::vector<uint8_t>& colors)
    {
        const int count = 1 << bpp;
        std::vector<GifColorType> entries(size_t(count), GifColorType { 0, 0, 0 });
        for (int i = 0; i < count && size_t(3 * i + 2) < colors.size(); i++)
            entries[size_t(i)]
                = GifColorType { colors[3 * i], colors[3 * i + 1], colors[3 * i + 2] };
        return GifMakeMapObject(count, entries.data());
    }

} // namespace

PeerFile ReadWithGiflib(const uint8_t* data, size_t size)
{
    PeerFile file;
    Source source { data, size, 0 };
    int error = 0;
    GifFileType* gif = DGifOpen(&source, ReadSource, &error);
    if (!gif) {
        file.error = error;
        return file;
    }
    file.ok = DGifSlurp(gif) == GIF_OK;
    file.error = gif->Error;
    file.width = gif->SWidth;
    file.height = gif->SHeight;
    file.globalColors = MapColors(gif->SColorMap);
    for (int i = 0; i < gif->ImageCount; i++) {
        const SavedImage& saved = gif->SavedImages[i];
        PeerFrame frame;
        frame.left = saved.ImageDesc.Left;
        frame.top = saved.ImageDesc.Top;
        frame.width = saved.ImageDesc.Width;
        frame.height = saved.ImageDesc.Height;
        frame.interlaced = saved.ImageDesc.Interlace;
        frame.localMap = saved.ImageDesc.ColorMap != nullptr;
        frame.colors
            = MapColors(saved.ImageDesc.ColorMap ? saved.ImageDesc.ColorMap : gif->SColorMap);
        if (saved.RasterBits) {
            const size_t pixels = size_t(frame.width) * size_t(frame.height);
            frame.indices.assign(saved.RasterBits, saved.RasterBits + pixels);
        }
        GraphicsControlBlock control;
        if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) {
            frame.delay = control.DelayTime;
            frame.transIndex = control.TransparentColor;
            frame.disposal = control.DisposalMode;
        }
        for (int e = 0; e < saved.ExtensionBlockCount; e++) {
            const ExtensionBlock& block = saved.ExtensionBlocks[e];
            if (block.Function == COMMENT_EXT_FUNC_CODE && file.comment.empty())
                file.comment.assign(
                    reinterpret_cast<const char*>(block.Bytes), size_t(block.ByteCount));
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11
                && std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0
                && e + 1 < saved.ExtensionBlockCount) {
                const ExtensionBlock& sub = saved.ExtensionBlocks[e + 1];
                if (sub.ByteCount >= 3)
                    file.loopCount = sub.Bytes[1] | (sub.Bytes[2] << 8);
            }
        }
        file.frames.push_back(std::move(frame));
    }
    int closeError = 0;
    DGifCloseFile(gif, &closeError);
    return file;
}

std::vector<std::vector<uint32_t>> ComposeLikeBrowsers(const PeerFile& file)
{
    std::vector<std::vector<uint32_t>> shown;
    std::vector<uint32_t> screen(size_t(file.width) * size_t(file.height), 0), saved;
    for (const PeerFrame& frame : file.frames) {
        if (frame.disposal == 3)
            saved = screen;
        const auto each = [&](auto paint) {
            for (int y = 0; y < frame.height; y++)
                for (int x = 0; x < frame.width; x++)
                    if (frame.left + x < file.width && frame.top + y < file.height)
                        paint(size_t(frame.top + y) * size_t(file.width) + size_t(frame.left + x),
                            frame.indices[size_t(y) * size_t(frame.width) + size_t(x)]);
        };
        each([&](size_t at, uint8_t index) {
            if (index == frame.transIndex)
                return;
            const size_t c = size_t(index) * 3;
            screen[at] = c + 2 < frame.colors.size()
                ? 0xFF000000u | (uint32_t(frame.colors[c]) << 16)
                    | (uint32_t(frame.colors[c + 1]) << 8) | frame.colors[c + 2]
                : 0xFF000000u;
        });
        shown.push_back(screen);
        if (frame.disposal == 2)
            each([&](size_t at, uint8_t) { screen[at] = 0; });
        else if (frame.disposal == 3)
            screen = saved;
    }
    return shown;
}

std::vector<uint8_t> WriteWithGiflib(int width, int height, int globalBpp,
    const std::vector<uint8_t>& globalColors, const std::vector<WriteFrame>& frames, bool gif89)
{
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, WriteSink, &error);
    if (!gif)
        return bytes;
    EGifSetGifVersion(gif, gif89);
    ColorMapObject* global = globalBpp > 0 ? MakeMap(globalBpp, globalColors) : nullptr;
    EGifPutScreenDesc(gif, width, height, 8, 0, global);
    for (const WriteFrame& frame : frames) {
        if (frame.delay >= 0) {
            GraphicsControlBlock control {};
            control.DisposalMode = frame.disposal;
            control.DelayTime = frame.delay;
            control.TransparentColor = frame.transIndex;
            GifByteType extension[4];
            EGifGCBToExtension(&control, extension);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
        }
        ColorMapObject* local = frame.bpp > 0 ? MakeMap(frame.bpp, frame.colors) : nullptr;
        EGifPutImageDesc(
            gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, local);
        std::vector<uint8_t> row(size_t(frame.width));
        if (frame.interlaced) {
            static const int starts[] = { 0, 4, 2, 1 };
            static const int steps[] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4; pass++) {
                for (int y = starts[pass]; y < frame.height; y += steps[pass]) {
                    std::memcpy(
                        row.data(), frame.indices.data() + size_t(y) * frame.width, row.size());
                    EGifPutLine(gif, row.data(), frame.width);
                }
            }
        } else {
            for (int y = 0; y < frame.height; y++) {
                std::memcpy(row.data(), frame.indices.data() + size_t(y) * frame.width, row.size());
                EGifPutLine(gif, row.data(), frame.width);
            }
        }
        if (local)
            GifFreeMapObject(local);
    }
    int closeError = 0;
    EGifCloseFile(gif, &closeError);
    if (global)
        GifFreeMapObject(global);
    return bytes;
}

} // namespace gifpeer
